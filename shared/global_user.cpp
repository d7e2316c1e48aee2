#include "global_user.h"

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pwd.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "fileio.h"
#include "paths.h"
#include "textutil.h"
#include "vtnstatus.h"

namespace {

const char kUserFile[] = "/etc/vtnuser.dat";
const char kSysPrefix[] = "sys\\";
constexpr size_t kSysPrefixLen = 4;
constexpr size_t kMaxLine = 2047;  // longer lines are parsed up to here, the rest is skipped

// Changes are read-modify-write sequences over the file; one at a time in this process.
std::mutex g_userFileMutex;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The users file stays open between reads, so a login's lookup costs no open and no close. Each
// read takes the whole file from its start, from the file that is at the path now.
std::mutex g_readerMutex;
KeptFile g_reader;

// The whole users file in *text; false when it cannot be read.
bool ReadUsersText(std::string* text)
{
    text->clear();
    std::lock_guard<std::mutex> guard(g_readerMutex);
    struct stat st;
    int fd = KeepOpen(&g_reader, VtnPath(kUserFile), O_RDONLY, 0, &st);
    if (fd < 0)
        return false;
    char chunk[16 * 1024];
    for (;;) {
        ssize_t n = pread(fd, chunk, sizeof chunk, static_cast<off_t>(text->size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        text->append(chunk, static_cast<size_t>(n));
        // A regular file reads short only at its end: no further read to find it.
        if (static_cast<size_t>(n) < sizeof chunk)
            return true;
    }
}

// One line of the file: [begin, end), end just after its newline (or the end of the text).
struct LineSpan {
    size_t begin;
    size_t end;
};

// Calls visit(span) for every line in order until it returns true; the span it stopped on.
template <typename Visit>
bool FindLine(const std::string& text, Visit visit, LineSpan* hit)
{
    size_t begin = 0;
    while (begin < text.size()) {
        size_t nl = text.find('\n', begin);
        size_t end = nl == std::string::npos ? text.size() : nl + 1;
        LineSpan span{begin, end};
        if (visit(span)) {
            if (hit != nullptr)
                *hit = span;
            return true;
        }
        begin = end;
    }
    return false;
}

// Parses a line as the file reader sees it: at most kMaxLine characters.
bool ParseFileLine(const char* line, size_t len, _VTN_USER_INFO* user)
{
    char buf[kMaxLine + 1];
    CopyField(buf, sizeof buf, line, len);
    bool comment = false;
    return GetUserInfo(buf, user, &comment);
}

bool ParseSpan(const std::string& text, LineSpan span, _VTN_USER_INFO* user)
{
    return ParseFileLine(text.data() + span.begin, span.end - span.begin, user);
}

bool Matches(const _VTN_USER_INFO& user, const char* name, bool system)
{
    return (user.flags & VTN_USER_VALID) != 0 && strcmp(user.name, name) == 0 &&
           ((user.flags & VTN_USER_SYSTEM) != 0) == system;
}

// First valid line for name in text.
bool FindUserIn(const std::string& text, const char* name, bool system, _VTN_USER_INFO* found, LineSpan* where)
{
    _VTN_USER_INFO user;
    bool hit = FindLine(
        text, [&](LineSpan span) { return ParseSpan(text, span, &user) && Matches(user, name, system); }, where);
    if (hit && found != nullptr)
        *found = user;
    return hit;
}

// First valid line for name; false when none or when the file cannot be read.
bool FindUser(const char* name, bool system, _VTN_USER_INFO* found)
{
    std::string text;
    return name != nullptr && ReadUsersText(&text) && FindUserIn(text, name, system, found, nullptr);
}

// Replaces the users file with text in one rename: a crash at any instant leaves either the old
// file or the new one, and a failed write leaves the old one.
bool WriteUsersText(const std::string& text)
{
    return ReplaceFile(VtnPathForWrite(kUserFile), text, 0600);
}

// A line added after a text whose last line lacks its newline starts on a line of its own.
void AppendLine(std::string* text, const std::string& line)
{
    if (!text->empty() && text->back() != '\n')
        text->push_back('\n');
    text->append(line);
}

bool HasLineBreakOrColon(const char* text)
{
    return strpbrk(text, ":\n\r") != nullptr;
}

// True when the record, written by addnewuser, parses back to the same user.
bool CanWriteUser(const _VTN_USER_INFO& user)
{
    char name[64];
    char password[64];
    CopyField(name, sizeof name, user.name, sizeof user.name);
    CopyField(password, sizeof password, user.password, sizeof user.password);
    if (name[0] == '\0' || HasLineBreakOrColon(name) || HasLineBreakOrColon(password))
        return false;
    // A name that starts (after blanks) with '#' would make the line a comment.
    const char* p = name;
    while (IsBlank(*p))
        ++p;
    if (*p == '#' && (user.flags & VTN_USER_SYSTEM) == 0)
        return false;
    // The "sys\" prefix must fit in front of a system account's name.
    if ((user.flags & VTN_USER_SYSTEM) != 0 && strlen(name) + kSysPrefixLen > 63)
        return false;
    return true;
}

// Hex field as "%x" reads it; 0 when the field is not a number.
uint32_t ReadHexField(const char* begin, const char* end)
{
    std::string field(begin, end);
    if (!IsValidNumber(field.data()))
        return 0;
    return static_cast<uint32_t>(strtoul(field.c_str(), nullptr, 16));
}

// Sets, in text, the first character of the flags field of the line at span. Only a change
// that takes effect is made (a hand-written flags field may start otherwise).
bool SetFlagChar(std::string* text, LineSpan span, bool valid, bool system)
{
    std::string line = text->substr(span.begin, span.end - span.begin);
    size_t pos = std::string::npos;
    for (int i = 0; i < 4; ++i) {
        pos = line.find(':', pos == std::string::npos ? 0 : pos + 1);
        if (pos == std::string::npos)
            return false;
    }
    if (pos + 1 >= line.size())
        return false;
    line[pos + 1] = valid ? (system ? '3' : '1') : '0';
    _VTN_USER_INFO check;
    if (!ParseFileLine(line.data(), line.size(), &check) || ((check.flags & VTN_USER_VALID) != 0) != valid)
        return false;
    (*text)[span.begin + pos + 1] = line[pos + 1];
    return true;
}

// The user's line formatted as addnewuser writes it (the record gets the "sys\" prefix of a
// system account); false when the record would not read back.
bool FormatUserLine(_VTN_USER_INFO* user, std::string* line)
{
    user->name[63] = '\0';
    user->password[63] = '\0';
    user->description[127] = '\0';
    if (!CanWriteUser(*user))
        return false;
    if (user->flags & VTN_USER_SYSTEM)
        convertsysuser(user->name);
    for (char& c : user->description)
        if (c == '\n')
            c = '\0';
    char buf[64 + 64 + 3 * 9 + 128 + 4];
    FormatText(buf, sizeof buf, "%s:%s:%x:%x:%x:%s\n", user->name, user->password, user->rights, user->rights2,
               (user->flags & (VTN_USER_VALID | VTN_USER_SYSTEM)) | VTN_USER_VALID, user->description);
    *line = buf;
    return true;
}

// Appends line to text, the users file as read (readable: the read succeeded), and writes the
// file whole (made when missing).
bool AppendAndWrite(std::string* text, bool readable, const std::string& line)
{
    if (!readable && access(VtnPath(kUserFile).c_str(), F_OK) == 0)
        return false;  // there but unreadable: never replace it with less
    AppendLine(text, line);
    return WriteUsersText(*text);
}

// Appends line to the users file (made when missing).
bool AppendToUsers(const std::string& line)
{
    std::string text;
    const bool readable = ReadUsersText(&text);
    return AppendAndWrite(&text, readable, line);
}

}  // namespace

bool IsValidNumber(char* field)
{
    if (field == nullptr)
        return false;
    for (int i = 0; i < 8 && field[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(field[i]);
        bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum)
            return false;
    }
    return true;
}

void convertsysuser(char* name)
{
    if (name == nullptr)
        return;
    char plain[64];
    CopyField(plain, sizeof plain, name, 64);
    FormatText(name, 64, "%s%s", kSysPrefix, plain);
}

void reversesysuser(char* name)
{
    if (name == nullptr || strncasecmp(name, kSysPrefix, kSysPrefixLen) != 0)
        return;
    memmove(name, name + kSysPrefixLen, 60);
    memset(name + 60, 0, 4);
}

bool GetUserInfo(char* line, _VTN_USER_INFO* user, bool* comment)
{
    if (comment != nullptr)
        *comment = false;
    if (user == nullptr)
        return false;
    memset(user, 0, sizeof *user);
    if (line == nullptr)
        return false;

    const char* p = line;
    while (IsBlank(*p))
        ++p;
    if (*p == '#') {
        if (comment != nullptr)
            *comment = true;
        return false;
    }

    // The five colons that end name, password, rights, second rights and flags.
    const char* colon[5];
    const char* from = line;
    for (int i = 0; i < 5; ++i) {
        colon[i] = strchr(from, ':');
        if (colon[i] == nullptr) {
            memset(user, 0, sizeof *user);
            return false;
        }
        from = colon[i] + 1;
    }

    CopyField(user->name, sizeof user->name, line, static_cast<size_t>(colon[0] - line));
    CopyField(user->password, sizeof user->password, colon[0] + 1,
              static_cast<size_t>(colon[1] - colon[0] - 1));
    user->rights = ReadHexField(colon[1] + 1, colon[2]);
    user->rights2 = ReadHexField(colon[2] + 1, colon[3]);
    user->flags = ReadHexField(colon[3] + 1, colon[4]);
    if (user->flags & VTN_USER_SYSTEM)
        reversesysuser(user->name);
    CopyText(user->description, sizeof user->description, colon[4] + 1);
    return true;
}

uint32_t EnumUser(_VTN_USER_INFO* user, int n)
{
    if (user == nullptr)
        return VTN_FAILURE;
    std::string text;
    if (!ReadUsersText(&text))
        return VTN_FAILURE;
    if (n < 0)
        return VTN_NO_MORE_ENTRIES;
    _VTN_USER_INFO parsed;
    int index = 0;
    bool hit = FindLine(
        text,
        [&](LineSpan span) {
            return ParseSpan(text, span, &parsed) && (parsed.flags & VTN_USER_VALID) != 0 && index++ == n;
        },
        nullptr);
    if (!hit)
        return VTN_NO_MORE_ENTRIES;
    *user = parsed;
    return VTN_SUCCESS;
}

bool isvaliduser(char* name, _VTN_USER_INFO* found, bool system)
{
    return FindUser(name, system, found);
}

bool isvaliduserpass(char* name, char* password, bool system)
{
    if (password == nullptr)
        return false;
    _VTN_USER_INFO user;
    if (!FindUser(name, system, &user))
        return false;
    return strncmp(user.password, password, sizeof user.password) == 0;
}

bool isvalidsysuser(char* name)
{
    if (name == nullptr || name[0] == '\0')
        return false;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    for (;;) {
        struct passwd pw;
        struct passwd* result = nullptr;
        int rc = getpwnam_r(name, &pw, buf.data(), buf.size(), &result);
        if (rc == ERANGE && buf.size() < (1u << 20)) {
            buf.resize(buf.size() * 2);
            continue;
        }
        return rc == 0 && result != nullptr;
    }
}

bool markuser(char* name, bool valid, bool system)
{
    if (name == nullptr)
        return false;
    std::lock_guard<std::mutex> lock(g_userFileMutex);
    std::string text;
    LineSpan where{};
    return ReadUsersText(&text) && FindUserIn(text, name, system, nullptr, &where) &&
           SetFlagChar(&text, where, valid, system) && WriteUsersText(text);
}

bool adduline(char* text)
{
    if (text == nullptr)
        return false;
    std::lock_guard<std::mutex> lock(g_userFileMutex);
    return AppendToUsers(text);
}

bool addnewuser(_VTN_USER_INFO* user)
{
    std::lock_guard<std::mutex> lock(g_userFileMutex);
    std::string line;
    return user != nullptr && FormatUserLine(user, &line) && AppendToUsers(line);
}

uint32_t SetUser(_VTN_USER_INFO* user, uint8_t action)
{
    if (user == nullptr)
        return VTN_FAILURE;
    std::lock_guard<std::mutex> lock(g_userFileMutex);
    const bool system = (user->flags & VTN_USER_SYSTEM) != 0;
    char name[64];
    CopyField(name, sizeof name, user->name, sizeof user->name);

    // Every change reads the file once and replaces it whole, so that a crash or a failed
    // write at any instant leaves each user as it was or as changed.
    std::string text;
    bool readable = ReadUsersText(&text);
    _VTN_USER_INFO found;
    LineSpan where{};
    bool exists = readable && FindUserIn(text, name, system, &found, &where);
    switch (action) {
    case VTN_USER_ADD: {
        if (system && !isvalidsysuser(name))
            return VTN_NOT_FOUND;
        if (exists)
            return VTN_EXISTS;
        std::string line;
        if (!FormatUserLine(user, &line))
            return VTN_FAILURE;
        return AppendAndWrite(&text, readable, line) ? VTN_SUCCESS : VTN_FAILURE;
    }

    case VTN_USER_SET_PASSWORD:
    case VTN_USER_SET_RIGHTS: {
        if (!exists)
            return VTN_NOT_FOUND;
        if (action == VTN_USER_SET_PASSWORD) {
            memcpy(found.password, user->password, sizeof found.password);
        } else {
            found.rights = user->rights;
            found.rights2 = user->rights2;
        }
        // The old line marked invalid and the new one appended, in one replacement of the file.
        std::string line;
        if (!FormatUserLine(&found, &line) || !SetFlagChar(&text, where, false, system))
            return VTN_FAILURE;
        AppendLine(&text, line);
        return WriteUsersText(text) ? VTN_SUCCESS : VTN_FAILURE;
    }

    case VTN_USER_DELETE:
        if (!exists)
            return VTN_FAILURE;
        return SetFlagChar(&text, where, false, system) && WriteUsersText(text) ? VTN_SUCCESS : VTN_FAILURE;

    default:
        return VTN_FAILURE;
    }
}
