// Login and logout cycles through vtnraid's own routines (Connect with its login form, the login
// steps: event log, capabilities, trees, health probe; then Disconnect with its question), and
// what the process holds as they repeat: open descriptors, threads and resident memory, read
// after the first cycles and at the end. A login the server refuses because the previous
// session is still ending is tried again at once from the login form, as the administrator
// would; those tries are counted. The raw baseline is a bare socket client's login and logout on
// the same server in the same run.
//
// Usage: tests/gui/xrun bench_gui_logins [--cycles N] [BUILD_DIR]
//   --cycles   login and logout cycles (default 1000)
//   BUILD_DIR  where server/vtnsvr and platform/vtnsim are (default: this program's build folder)
#include "guibench.h"

namespace {

using namespace guibench;

struct Reading {
    int cycle;
    int descriptors;
    long threads;
    long rss;
};

Reading Read(int cycle)
{
    return {cycle, OpenDescriptors(), StatusValue("Threads"), StatusValue("VmRSS")};
}

}  // namespace

int main(int argc, char** argv)
{
    if (!StartGtk(&argc, &argv, "bench_gui_logins"))
        return 1;
    const int cycles = static_cast<int>(IntOption(argc, argv, "--cycles", 1000));
    printf("Login and logout through the GUI's routines, %d cycles on the demo preset, on CPU %d; load average %s\n",
           cycles, PinToOneCpu(), LoadAverage().c_str());
    Session s(BinDir(argc, argv));
    if (!s.Start("demo"))
        return 1;
    // The raw baseline: a bare socket client's login and logout, before the GUI holds the session.
    const double raw = s.RawLoginCycleMs(std::min(cycles, 200));
    if (raw < 0) {
        fprintf(stderr, "the raw login failed\n");
        return 1;
    }
    Administrator admin(kUser, kPassword);
    s.Open();
    Pump(300);

    std::vector<Reading> readings;
    std::vector<double> ms;
    const int warm = std::min(cycles, 50);
    for (int c = 1; c <= cycles; ++c) {
        const double t0 = NowMs();
        if (!s.LogIn()) {
            fprintf(stderr, "cycle %d: the login failed (last box \"%s\")\n", c, admin.lastBox.c_str());
            return 1;
        }
        if (!s.LogOut()) {
            fprintf(stderr, "cycle %d: the logout failed\n", c);
            return 1;
        }
        ms.push_back(NowMs() - t0);
        // What the main loop has left to do (drawing) between two cycles.
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        if (c == warm || c == cycles || c % 250 == 0)
            readings.push_back(Read(c));
    }
    const Figures t = Summary(ms);
    printf("cycle: %.1f ms median, %.1f p90, %.1f max; %ld logins tried for %d cycles\n", t.median, t.p90, t.max,
           admin.logins, cycles);
    printf("raw login and logout without the GUI: %.2f ms median; a GUI cycle costs %.1fx that\n", raw,
           t.median / raw);
    printf("%8s %12s %8s %10s\n", "cycle", "descriptors", "threads", "RSS kB");
    for (const Reading& r : readings)
        printf("%8d %12d %8ld %10ld\n", r.cycle, r.descriptors, r.threads, r.rss);
    const Reading& first = readings.front();
    const Reading& last = readings.back();
    printf("growth from cycle %d to %d: %+d descriptors, %+ld threads, %+ld kB\n", first.cycle, last.cycle,
           last.descriptors - first.descriptors, last.threads - first.threads, last.rss - first.rss);
    return 0;
}
