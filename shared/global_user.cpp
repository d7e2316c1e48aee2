#include "global_user.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pwd.h>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

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

// Reads one whole line (any length) into *line; false at the end of the file.
bool ReadLine(FILE* f, std::string* line)
{
    line->clear();
    int c;
    while ((c = fgetc(f)) != EOF) {
        line->push_back(static_cast<char>(c));
        if (c == '\n')
            break;
    }
    return !line->empty();
}

// Parses a line as the file reader sees it: at most kMaxLine characters.
bool ParseFileLine(const std::string& line, _VTN_USER_INFO* user)
{
    char buf[kMaxLine + 1];
    CopyField(buf, sizeof buf, line.data(), line.size());
    bool comment = false;
    return GetUserInfo(buf, user, &comment);
}

bool Matches(const _VTN_USER_INFO& user, const char* name, bool system)
{
    return (user.flags & VTN_USER_VALID) != 0 && strcmp(user.name, name) == 0 &&
           ((user.flags & VTN_USER_SYSTEM) != 0) == system;
}

// First valid line for name; false when none or when the file cannot be read.
bool FindUser(const char* name, bool system, _VTN_USER_INFO* found)
{
    if (name == nullptr)
        return false;
    FILE* f = fopen(VtnPath(kUserFile).c_str(), "r");
    if (f == nullptr)
        return false;
    std::string line;
    _VTN_USER_INFO user;
    bool hit = false;
    while (!hit && ReadLine(f, &line)) {
        if (ParseFileLine(line, &user) && Matches(user, name, system))
            hit = true;
    }
    fclose(f);
    if (hit && found != nullptr)
        *found = user;
    return hit;
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

// Writes line back at start with the flags field's first character set for valid. Only a
// change that takes effect is written (a hand-written flags field may start otherwise).
bool RewriteFlag(FILE* f, long start, std::string line, bool valid, bool system)
{
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
    if (!ParseFileLine(line, &check) || ((check.flags & VTN_USER_VALID) != 0) != valid)
        return false;
    if (start < 0 || fseek(f, start, SEEK_SET) != 0)
        return false;
    return fwrite(line.data(), 1, line.size(), f) == line.size() && fflush(f) == 0;
}

// Rewrites, in place, the first character of the flags field of the first valid line for
// name; *lineStart gets the line's offset. A system account keeps its flag when marked valid.
bool MarkUser(const char* name, bool valid, bool system, long* lineStart)
{
    if (name == nullptr)
        return false;
    FILE* f = fopen(VtnPath(kUserFile).c_str(), "r+");
    if (f == nullptr)
        return false;
    std::string line;
    _VTN_USER_INFO user;
    bool done = false;
    long start = ftell(f);
    while (ReadLine(f, &line)) {
        if (ParseFileLine(line, &user) && Matches(user, name, system)) {
            done = RewriteFlag(f, start, line, valid, system);
            if (done && lineStart != nullptr)
                *lineStart = start;
            break;
        }
        start = ftell(f);
    }
    if (fclose(f) != 0)
        done = false;
    return done;
}

// Marks the line at start valid again (undo of MarkUser).
bool RestoreLine(long start, bool system)
{
    FILE* f = fopen(VtnPath(kUserFile).c_str(), "r+");
    if (f == nullptr)
        return false;
    std::string line;
    bool done = fseek(f, start, SEEK_SET) == 0 && ReadLine(f, &line) && RewriteFlag(f, start, line, true, system);
    if (fclose(f) != 0)
        done = false;
    return done;
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
    FILE* f = fopen(VtnPath(kUserFile).c_str(), "r");
    if (f == nullptr)
        return VTN_FAILURE;
    std::string line;
    _VTN_USER_INFO parsed;
    int index = 0;
    uint32_t result = VTN_NO_MORE_ENTRIES;
    while (n >= 0 && ReadLine(f, &line)) {
        if (!ParseFileLine(line, &parsed) || (parsed.flags & VTN_USER_VALID) == 0)
            continue;
        if (index++ == n) {
            *user = parsed;
            result = VTN_SUCCESS;
            break;
        }
    }
    fclose(f);
    return result;
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
    return MarkUser(name, valid, system, nullptr);
}

bool adduline(char* text)
{
    if (text == nullptr)
        return false;
    FILE* f = fopen(VtnPathForWrite(kUserFile).c_str(), "a");
    if (f == nullptr)
        return false;
    size_t len = strlen(text);
    bool ok = fwrite(text, 1, len, f) == len;
    if (fclose(f) != 0)
        ok = false;
    return ok;
}

bool addnewuser(_VTN_USER_INFO* user)
{
    if (user == nullptr)
        return false;
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
    char line[64 + 64 + 3 * 9 + 128 + 4];
    FormatText(line, sizeof line, "%s:%s:%x:%x:%x:%s\n", user->name, user->password, user->rights,
               user->rights2, (user->flags & (VTN_USER_VALID | VTN_USER_SYSTEM)) | VTN_USER_VALID,
               user->description);
    return adduline(line);
}

uint32_t SetUser(_VTN_USER_INFO* user, uint8_t action)
{
    if (user == nullptr)
        return VTN_FAILURE;
    std::lock_guard<std::mutex> lock(g_userFileMutex);
    const bool system = (user->flags & VTN_USER_SYSTEM) != 0;
    char name[64];
    CopyField(name, sizeof name, user->name, sizeof user->name);

    _VTN_USER_INFO found;
    switch (action) {
    case VTN_USER_ADD:
        if (system && !isvalidsysuser(name))
            return VTN_NOT_FOUND;
        if (isvaliduser(name, nullptr, system))
            return VTN_EXISTS;
        return addnewuser(user) ? VTN_SUCCESS : VTN_FAILURE;

    case VTN_USER_SET_PASSWORD:
    case VTN_USER_SET_RIGHTS: {
        if (!isvaliduser(name, &found, system))
            return VTN_NOT_FOUND;
        if (action == VTN_USER_SET_PASSWORD) {
            memcpy(found.password, user->password, sizeof found.password);
        } else {
            found.rights = user->rights;
            found.rights2 = user->rights2;
        }
        // Refuse before marking, so that a refused change does not lose the user.
        found.password[63] = '\0';
        if (!CanWriteUser(found))
            return VTN_FAILURE;
        long oldLine = -1;
        if (!MarkUser(name, false, system, &oldLine))
            return VTN_FAILURE;
        if (!addnewuser(&found)) {
            // Bring the old line back rather than lose the user; the failure is reported anyway.
            (void)RestoreLine(oldLine, system);
            return VTN_FAILURE;
        }
        return VTN_SUCCESS;
    }

    case VTN_USER_DELETE:
        if (!isvaliduser(name, nullptr, system))
            return VTN_FAILURE;
        return markuser(name, false, system) ? VTN_SUCCESS : VTN_FAILURE;

    default:
        return VTN_FAILURE;
    }
}
