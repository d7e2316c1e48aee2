// Whole reads and writes on descriptors (retrying short transfers and EINTR), and the
// temp-file-and-rename replacement of a file.
#pragma once
#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

// Reads up to len bytes at off; fewer only at the end of the file. -1 on an error.
ssize_t ReadUpTo(int fd, void* buf, size_t len, off_t off);
// True when all len bytes at off were read.
bool ReadExact(int fd, void* buf, size_t len, off_t off);
// Writes all len bytes at off.
bool WriteExactAt(int fd, const void* buf, size_t len, off_t off);
// Writes all len bytes at the file position (or the end, for O_APPEND).
bool WriteExact(int fd, const void* buf, size_t len);
// Writes data to a new temporary file beside path (".NAME.vtn-new.XXXXXX", with mode; synced to
// disk when durable), then renames it over path.
bool ReplaceFile(const std::string& path, const std::string& data, mode_t mode, bool durable = true);
// Removes the temporary files that a ReplaceFile of path left behind when the process died before
// its rename: files of exactly that form only, whatever else the folder holds. Only for files that
// this process alone replaces.
void RemoveStaleReplacements(const std::string& path);

// Test seam: called with the name of each step of ReplaceFile ("create", "write", "sync",
// "rename", "done") before it runs, so a test can end the process at that instant.
using VtnFileStepHook = void (*)(const char* step);
void VtnSetFileStepHook(VtnFileStepHook hook);

// A descriptor kept open for the file at a path, for one that must always use the file that is at
// the path now (replaced, moved away or removed meanwhile) without opening it each time. The check
// looks the name up in the file's folder, kept open too.
struct KeptFile {
    int fd = -1;
    int dir = -1;
    std::string path;
    std::string name;
    dev_t dev = 0;
    ino_t ino = 0;
};
// The kept descriptor when the file at path is still the one it was opened on, else path opened
// anew with flags and mode; the file's state in *st. -1 when it cannot be opened.
int KeepOpen(KeptFile* kept, const std::string& path, int flags, mode_t mode, struct stat* st);
void CloseKept(KeptFile* kept);
