// Whole reads and writes on descriptors (retrying short transfers and EINTR), and the
// temp-file-and-rename replacement of a file.
#pragma once
#include <cstddef>
#include <string>
#include <sys/types.h>

// Reads up to len bytes at off; fewer only at the end of the file. -1 on an error.
ssize_t ReadUpTo(int fd, void* buf, size_t len, off_t off);
// True when all len bytes at off were read.
bool ReadExact(int fd, void* buf, size_t len, off_t off);
// Writes all len bytes at off.
bool WriteExactAt(int fd, const void* buf, size_t len, off_t off);
// Writes all len bytes at the file position (or the end, for O_APPEND).
bool WriteExact(int fd, const void* buf, size_t len);
// Writes data to a new temporary file beside path (with mode; synced to disk when durable),
// then renames it over path.
bool ReplaceFile(const std::string& path, const std::string& data, mode_t mode, bool durable = true);
// Removes the temporary files ("NAME.XXXXXX") that a ReplaceFile of path left behind when the
// process died before its rename. Only for files that this process alone replaces.
void RemoveStaleReplacements(const std::string& path);

// Test seam: called with the name of each step of ReplaceFile ("create", "write", "sync",
// "rename", "done") before it runs, so a test can end the process at that instant.
using VtnFileStepHook = void (*)(const char* step);
void VtnSetFileStepHook(VtnFileStepHook hook);
