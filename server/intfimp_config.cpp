// The port file "/etc/vtn.ini", the start-up cleaning of the users file and the server-local
// user and event functions.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "commonsvr.h"
#include "encript.h"
#include "fileio.h"
#include "intfimp.h"

namespace {

constexpr const char* kIniFile = "/etc/vtn.ini";
constexpr const char* kUsersFile = "/etc/vtnuser.dat";
constexpr size_t kMaxUserLine = 2047;

bool IsCommentLine(const std::string& line)
{
    size_t pos = line.find_first_not_of(" \t");
    return pos != std::string::npos && line[pos] == '#';
}

// The line parses as a user whose valid flag is set.
bool IsValidUserLine(const std::string& line)
{
    // As the users-file reader: a longer line is parsed up to kMaxUserLine characters.
    std::string copy = line.substr(0, kMaxUserLine);
    while (!copy.empty() && (copy.back() == '\n' || copy.back() == '\r'))
        copy.pop_back();
    _VTN_USER_INFO user{};
    bool comment = false;
    return GetUserInfo(copy.data(), &user, &comment) && !comment && (user.flags & VTN_USER_VALID);
}

std::string DefaultUserLine()
{
    uint8_t stored[64] = {};
    CopyText(reinterpret_cast<char*>(stored), sizeof(stored), VTN_DEFAULT_PASSWORD);
    vtn_encrypt_and_map(stored);
    char line[512];
    FormatText(line, sizeof(line), "%s:%s:%x:%x:%c:%s\n", VTN_DEFAULT_USER, reinterpret_cast<char*>(stored),
               VTN_RIGHTS_ALL, VTN_RIGHTS_ALL, '1', VTN_DEFAULT_USER_DESCRIPTION);
    return line;
}

bool AppendToFile(const std::string& path, const std::string& text)
{
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (fd < 0)
        return false;
    bool ok = WriteExact(fd, text.data(), text.size());
    return close(fd) == 0 && ok;
}

}  // namespace

int VtnGetDataFromInitFile(_CS_ALTERABLE_SERVER_PARAM* out)
{
    if (out == nullptr)
        return -1;
    memset(out, 0, sizeof(*out));
    FILE* file = fopen(VtnPath(kIniFile).c_str(), "r");
    if (file == nullptr)
        return -1;
    char line[100];
    while (fgets(line, sizeof(line), file) != nullptr) {
        char word[100];
        long value = 0;
        if (sscanf(line, "%99s %ld", word, &value) != 2)
            continue;
        // A number that is no port leaves the key unread, so the default applies.
        if (value < 1 || value > 65535)
            continue;
        if (strncasecmp(word, "serverport", 10) == 0) {
            out->serverPort = static_cast<uint16_t>(value);
            out->flags |= VTN_PARAM_SERVER_PORT;
        } else if (strncasecmp(word, "eventport", 9) == 0) {
            out->eventPort = static_cast<uint16_t>(value);
            out->flags |= VTN_PARAM_EVENT_PORT;
        }
    }
    fclose(file);
    return 0;
}

int VtnGetCurrentServerParams(_CS_ALTERABLE_SERVER_PARAM* out)
{
    if (out == nullptr)
        return -1;
    VtnGetDataFromInitFile(out);   // no file: all zero, so both ports below
    if (!(out->flags & VTN_PARAM_SERVER_PORT))
        out->serverPort = gSvrGlobal.serverPort;
    if (!(out->flags & VTN_PARAM_EVENT_PORT))
        out->eventPort = gSvrGlobal.eventPort;
    return 0;
}

int UpdateServerParams(_CS_ALTERABLE_SERVER_PARAM* given)
{
    if (given == nullptr)
        return -1;
    bool setServer = (given->flags & VTN_PARAM_SERVER_PORT) != 0;
    bool setEvent = (given->flags & VTN_PARAM_EVENT_PORT) != 0;
    if ((setServer && given->serverPort == 0) || (setEvent && given->eventPort == 0))
        return -1;
    _CS_ALTERABLE_SERVER_PARAM current{};
    VtnGetCurrentServerParams(&current);
    uint16_t serverPort = setServer ? given->serverPort : current.serverPort;
    uint16_t eventPort = setEvent ? given->eventPort : current.eventPort;
    if (serverPort == 0 || eventPort == 0 || serverPort == eventPort)
        return -1;
    char text[64];
    FormatText(text, sizeof(text), "serverport\t%d\neventport\t%d\n", serverPort, eventPort);
    return ReplaceFile(VtnPathForWrite(kIniFile), text, 0644) ? 0 : -1;
}

void RemoveStaleServerFiles()
{
    for (const char* file : {kUsersFile, kIniFile})
        RemoveStaleReplacements(VtnPath(file));
}

void Init_User_File()
{
    std::string usersPath = VtnPathForWrite(kUsersFile);
    std::string workPath = usersPath + "_1";
    int work = open(workPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (work < 0)
        return;

    std::string kept;
    int validUsers = 0;
    FILE* users = fopen(usersPath.c_str(), "r");
    if (users != nullptr) {
        char* line = nullptr;
        size_t cap = 0;
        ssize_t len;
        while ((len = getline(&line, &cap, users)) > 0) {
            std::string text(line, static_cast<size_t>(len));
            bool valid = !IsCommentLine(text) && IsValidUserLine(text);
            if (!valid && !IsCommentLine(text))
                continue;   // deleted, replaced or malformed
            if (valid)
                ++validUsers;
            if (text.back() != '\n')
                text += '\n';
            kept += text;
        }
        free(line);
        fclose(users);
    }
    if (validUsers == 0)
        kept += DefaultUserLine();

    // The work file replaces the users file in one rename, so a crash never loses the users.
    bool ok = fchmod(work, 0600) == 0 && WriteExact(work, kept.data(), kept.size()) && fsync(work) == 0;
    ok = close(work) == 0 && ok;
    if (ok && rename(workPath.c_str(), usersPath.c_str()) == 0)
        return;
    // Not rewritten: the users file stays as it was (a work file that was written whole stays too),
    // and still gets a user when it has none.
    if (!ok)
        unlink(workPath.c_str());
    if (validUsers == 0)
        AppendToFile(usersPath, DefaultUserLine());
}

uint32_t cs_vtn_reboot_server(int)
{
    return static_cast<uint32_t>(RebootSystem());
}
