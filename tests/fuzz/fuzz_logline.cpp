// Arbitrary bytes as the event log: every complete line must come back by its index, with
// a terminated text, and the index after the last one must end the log.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "global_log.h"
#include "paths.h"
#include "vtnstatus.h"

namespace {

std::string gRoot;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    remove(path);
    return 0;
}

void RemoveRoot()
{
    if (!gRoot.empty())
        nftw(gRoot.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void MakeRoot()
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vtnfuzz.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        abort();
    gRoot = pattern;
    setenv("VTN_ROOT", gRoot.c_str(), 1);
    atexit(RemoveRoot);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (gRoot.empty())
        MakeRoot();
    Clear_EventLog();
    std::string path = VtnPathForWrite("/var/log/vtn.log");
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        abort();
    for (size_t done = 0; done < size;) {
        ssize_t w = write(fd, data + done, size - done);
        if (w <= 0)
            abort();
        done += static_cast<size_t>(w);
    }
    close(fd);

    size_t lines = 0;
    for (size_t i = 0; i < size; ++i)
        lines += data[i] == '\n';
    _VTN_LOG_EVENT event;
    for (size_t n = 0; n < lines; ++n) {
        if (EnumEvent(&event, static_cast<int>(n)) != VTN_SUCCESS)
            abort();
        if (memchr(event.text, '\0', sizeof event.text) == nullptr)
            abort();
    }
    if (EnumEvent(&event, static_cast<int>(lines)) != VTN_NO_MORE_ENTRIES)
        abort();
    if (lines > 0 && UpdateEvent(static_cast<int>(lines - 1), '1') != 0)
        abort();
    return 0;
}
