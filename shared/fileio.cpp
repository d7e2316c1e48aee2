#include "fileio.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
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

namespace {

std::atomic<VtnFileStepHook> gStepHook{nullptr};

void Step(const char* name)
{
    if (VtnFileStepHook hook = gStepHook.load(std::memory_order_relaxed))
        hook(name);
}

// A replacement's temporary is ".NAME.vtn-new.XXXXXX" beside NAME: hidden, and with a marker no
// administrator or tool gives a file, so that the clean-up can tell it from theirs.
constexpr char kTempMarker[] = ".vtn-new.";
constexpr size_t kTempSuffix = 6;  // mkstemp's XXXXXX

// The folder of path ("." for a bare name, "/" for a file in the root) and its last name.
void SplitPath(const std::string& path, std::string* dir, std::string* name)
{
    const size_t slash = path.rfind('/');
    *dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// The temporary's name up to its random part, for a file of the last name base. A long name is cut
// so that the temporary's name stays within NAME_MAX.
std::string TempPrefix(const std::string& base)
{
    const size_t room = NAME_MAX - 1 - (sizeof kTempMarker - 1) - kTempSuffix;
    return "." + base.substr(0, room) + kTempMarker;
}

}  // namespace

void VtnSetFileStepHook(VtnFileStepHook hook)
{
    gStepHook.store(hook);
}

bool ReplaceFile(const std::string& path, const std::string& data, mode_t mode, bool durable)
{
    const size_t slash = path.rfind('/');
    const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    std::string tmp = path.substr(0, nameAt) + TempPrefix(path.substr(nameAt)) + "XXXXXX";
    Step("create");
    int fd = mkstemp(tmp.data());
    if (fd < 0)
        return false;
    Step("write");
    bool ok = fchmod(fd, mode) == 0 && WriteExact(fd, data.data(), data.size());
    if (ok && durable) {
        Step("sync");
        ok = fsync(fd) == 0;
    }
    ok = close(fd) == 0 && ok;
    if (ok) {
        Step("rename");
        if (rename(tmp.c_str(), path.c_str()) == 0) {
            Step("done");
            return true;
        }
    }
    unlink(tmp.c_str());
    return false;
}

void RemoveStaleReplacements(const std::string& path)
{
    std::string dir, base;
    SplitPath(path, &dir, &base);
    const std::string prefix = TempPrefix(base);
    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
        return;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() != prefix.size() + kTempSuffix || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const bool random = std::all_of(name.end() - kTempSuffix, name.end(),
                                        [](char c) { return isalnum(static_cast<unsigned char>(c)) != 0; });
        // Ours is a regular file of this user's, never a link followed elsewhere.
        struct stat st;
        if (random && fstatat(dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == geteuid())
            unlinkat(dirfd(d), name.c_str(), 0);  // a failure leaves one stale file; nothing else depends on it
    }
    closedir(d);
}

void CloseKept(KeptFile* kept)
{
    for (int* fd : {&kept->fd, &kept->dir}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    kept->path.clear();
    kept->name.clear();
}

int KeepOpen(KeptFile* kept, const std::string& path, int flags, mode_t mode, struct stat* st)
{
    if (kept->fd >= 0 && kept->path == path && fstatat(kept->dir, kept->name.c_str(), st, 0) == 0 &&
        st->st_dev == kept->dev && st->st_ino == kept->ino)
        return kept->fd;
    CloseKept(kept);
    std::string dir, name;
    SplitPath(path, &dir, &name);
    int dirFd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return -1;
    int fd = openat(dirFd, name.c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0 || fstat(fd, st) != 0) {
        if (fd >= 0)
            close(fd);
        close(dirFd);
        return -1;
    }
    kept->fd = fd;
    kept->dir = dirFd;
    kept->path = path;
    kept->name = name;
    kept->dev = st->st_dev;
    kept->ino = st->st_ino;
    return fd;
}
