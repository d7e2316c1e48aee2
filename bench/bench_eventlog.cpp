// Event log figures: appending lines, enumerating them by index, and the mail monitor's
// walk (enumerate and mark each line).
#include <chrono>
#include <cstdio>

#include "global_log.h"
#include "testutil.h"
#include "textutil.h"
#include "vtnstatus.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main()
{
    constexpr int kLines = 10000;
    TempRoot root;

    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kLines; ++i) {
        char text[96];
        FormatText(text, sizeof text, "Disk %d on channel %d of controller 1 has been plugged in.", i % 8, i % 4);
        SaveStrEvent('I', text);
    }
    double append = Seconds(start);

    start = std::chrono::steady_clock::now();
    int read = 0;
    _VTN_LOG_EVENT event;
    for (int i = 0; i < kLines; ++i)
        read += EnumEvent(&event, i) == VTN_SUCCESS;
    bool endSeen = EnumEvent(&event, kLines) == VTN_NO_MORE_ENTRIES;
    double enumerate = Seconds(start);

    start = std::chrono::steady_clock::now();
    int marked = 0;
    for (int i = 0; EnumEvent(&event, i) == VTN_SUCCESS; ++i)
        marked += UpdateEvent(i, '1') == 0;
    double walk = Seconds(start);

    printf("append %d lines:              %8.3f s (%.1f us a line)\n", kLines, append, append * 1e6 / kLines);
    printf("enumerate %d lines by index:  %8.3f s (%.1f us a line)%s\n", read, enumerate, enumerate * 1e6 / kLines,
           endSeen ? "" : "  [no end of log after the last line]");
    printf("enumerate and mark %d lines:  %8.3f s (%.1f us a line)\n", marked, walk, walk * 1e6 / kLines);
    return read == kLines && marked == kLines && endSeen ? 0 : 1;
}
