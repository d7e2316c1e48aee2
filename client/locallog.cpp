#include "locallog.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "damui.h"
#include "fileio.h"
#include "paths.h"

namespace {

// A failure was told and no write has succeeded since.
bool gFailureTold = false;
// The file holds another content than the copy's.
bool gStale = false;

void Failed()
{
    if (gFailureTold)
        return;
    gFailureTold = true;
    MessageBox("The local copy of the event log\n(/usr/bin/log_loacl.txt) could not be written.", "Error", false);
}

bool Succeeded()
{
    gFailureTold = false;
    return true;
}

void PutField(std::string* out, const char* text)
{
    for (const char* p = text ? text : ""; *p; ++p)
        out->push_back(*p == '\n' || *p == '\r' ? ' ' : *p);
}

}  // namespace

void FormatLogLine(std::string* out, char severity, const char* time, const char* text)
{
    out->push_back(severity == '\n' || severity == '\r' ? ' ' : severity);
    out->push_back('\t');
    PutField(out, time);
    out->push_back('\t');
    PutField(out, text);
    out->push_back('\n');
}

bool AppendLocalLog(char severity, const char* time, const char* text)
{
    if (gStale) {
        Failed();
        return false;
    }
    std::string line;
    FormatLogLine(&line, severity, time, text);
    const int fd = open(VtnPathForWrite(kLocalLogFile).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        Failed();
        return false;
    }
    struct stat before;
    bool ok = fstat(fd, &before) == 0;
    if (ok && !WriteExact(fd, line.data(), line.size())) {
        // Part of the line may have gone (a full disk, a size limit): take it back, so the next
        // line starts on a line of its own.
        [[maybe_unused]] const int cut = ftruncate(fd, before.st_size);  // nothing more to try if it fails
        ok = false;
    }
    ok = close(fd) == 0 && ok;
    if (!ok) {
        Failed();
        return false;
    }
    return Succeeded();
}

bool ReplaceLocalLog(const std::string& data)
{
    const std::string path = VtnPathForWrite(kLocalLogFile);
    if (ReplaceFile(path, data, 0644, false)) {
        gStale = false;
        return Succeeded();
    }
    // The old lines must not pass for the new ones: remove them, or at least empty the file.
    if (unlink(path.c_str()) == 0 || errno == ENOENT) {
        gStale = false;
    } else {
        const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        gStale = fd < 0;
        if (fd >= 0)
            close(fd);
    }
    Failed();
    return false;
}

bool LocalLogCurrent()
{
    return !gStale;
}

void ResetLocalLogState()
{
    gFailureTold = false;
    gStale = false;
}
