#include "fileio.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

ssize_t ReadUpTo(int fd, void* buf, size_t len, off_t off)
{
    size_t done = 0;
    while (done < len) {
        ssize_t r = pread(fd, static_cast<char*>(buf) + done, len - done, off + static_cast<off_t>(done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        done += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

bool ReadExact(int fd, void* buf, size_t len, off_t off)
{
    return ReadUpTo(fd, buf, len, off) == static_cast<ssize_t>(len);
}

bool WriteExactAt(int fd, const void* buf, size_t len, off_t off)
{
    size_t done = 0;
    while (done < len) {
        ssize_t w = pwrite(fd, static_cast<const char*>(buf) + done, len - done, off + static_cast<off_t>(done));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        done += static_cast<size_t>(w);
    }
    return true;
}

bool WriteExact(int fd, const void* buf, size_t len)
{
    size_t done = 0;
    while (done < len) {
        ssize_t w = write(fd, static_cast<const char*>(buf) + done, len - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        done += static_cast<size_t>(w);
    }
    return true;
}

bool ReplaceFile(const std::string& path, const std::string& data, mode_t mode, bool durable)
{
    std::string tmp = path + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, mode) == 0 && WriteExact(fd, data.data(), data.size()) && (!durable || fsync(fd) == 0);
    ok = close(fd) == 0 && ok;
    if (ok && rename(tmp.c_str(), path.c_str()) == 0)
        return true;
    unlink(tmp.c_str());
    return false;
}
