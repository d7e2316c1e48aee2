// vtnraid and the driver's events: the latency from an event made on the controller (what
// `vtnsim event` does) to its row in the Event View, and the GUI's resident memory after start
// and after an hour of events, beside a minimal GTK 3 window in the same run.
//
// The latency runs on the GUI's own 2000 ms timer against the server's 2-second poll, so it lies
// between 0 and about 4 s; events are made at staggered moments so the figure covers both
// phases. Each event's message box is answered at once (an administrator at the screen adds
// his own reaction time). The hour is an hour of the GUI's life at one event per 2-second tick:
// 1800 events, each with its box, its line in the local log copy, its Event View row and a
// refresh of both trees; they are made in bursts so the hour takes a few minutes.
//
// Usage: tests/gui/xrun bench_gui_events [--events N] [--hour-events N] [BUILD_DIR]
//   --events       events timed one by one (default 20)
//   --hour-events  events of the hour (default 1800)
//   BUILD_DIR      where server/vtnsvr and platform/vtnsim are (default: this program's build folder)
#include <sys/wait.h>
#include <unistd.h>

#include "drivergui_list.h"
#include "guibench.h"
#include "simctl.h"

namespace {

using namespace guibench;

constexpr uint8_t kVerifyCompleted = 12;  // "Array '%s' verifying completed."
constexpr uint32_t kMirror = 11;          // the demo's RAID 1

// The resident memory of a minimal GTK 3 window of the main window's size, in a child process
// that starts nothing else; kB, or -1.
long MinimalWindowRss()
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        long rss = -1;
        if (gtk_init_check(nullptr, nullptr)) {
            GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
            gtk_window_set_default_size(GTK_WINDOW(w), 600, 475);
            gtk_widget_show_all(w);
            PumpUntil([w] { return gtk_widget_get_mapped(w); }, 10000);
            Pump(500);
            rss = StatusValue("VmRSS");
        }
        if (write(fds[1], &rss, sizeof rss) != sizeof rss)
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    long rss = -1;
    if (child < 0 || read(fds[0], &rss, sizeof rss) != sizeof rss)
        rss = -1;
    close(fds[0]);
    if (child > 0)
        waitpid(child, nullptr, 0);
    return rss;
}

bool MakeEvent()
{
    std::string message;
    return VtnSimEvent(kVerifyCompleted, kMirror, 0, "", &message);
}

int EventRows(CMainWindow* win)
{
    return ColumnListRows(win->pLogList);
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("NO_AT_BRIDGE", "1", 1);
    const long minimal = MinimalWindowRss();
    if (!StartGtk(&argc, &argv, "bench_gui_events"))
        return 1;
    const int events = static_cast<int>(IntOption(argc, argv, "--events", 20));
    const int hour = static_cast<int>(IntOption(argc, argv, "--hour-events", 1800));
    printf("vtnraid and driver events; load average %s\n", LoadAverage().c_str());

    Session s(BinDir(argc, argv));
    if (!s.Start("demo"))
        return 1;
    Administrator admin(kUser, kPassword);
    CMainWindow* win = s.Open();
    Pump(500);
    const long started = StatusValue("VmRSS");
    if (!s.LogIn()) {
        fprintf(stderr, "the login failed\n");
        return 1;
    }
    Pump(500);
    const long loggedIn = StatusValue("VmRSS");

    // Latency, one event at a time, each made at another moment of the two 2-second cycles.
    std::vector<double> latency;
    for (int i = 0; i < events; ++i) {
        Pump(250.0 + (i * 730) % 2000);
        const int rows = EventRows(win);
        const double t0 = NowMs();
        if (!MakeEvent()) {
            fprintf(stderr, "vtnsim could not make the event\n");
            return 1;
        }
        if (!PumpUntil([&] { return EventRows(win) > rows; }, 20000)) {
            fprintf(stderr, "no Event View row within 20 s\n");
            return 1;
        }
        latency.push_back(NowMs() - t0);
    }
    const Figures l = Summary(latency);
    printf("event to Event View row (%d events): %.0f ms median, %.0f p90, %.0f min, %.0f max, %.0f mean\n", events,
           l.median, l.p90, l.min, l.max, l.mean);

    // The hour, in bursts the controller's queue holds.
    const int before = EventRows(win);
    const double t0 = NowMs();
    for (int made = 0; made < hour;) {
        const int burst = std::min(200, hour - made);
        for (int i = 0; i < burst; ++i)
            if (!MakeEvent()) {
                fprintf(stderr, "vtnsim could not make the event\n");
                return 1;
            }
        made += burst;
        if (!PumpUntil([&] { return EventRows(win) >= before + made; }, 120000)) {
            fprintf(stderr, "the events of the hour did not all arrive (%d of %d)\n", EventRows(win) - before, made);
            return 1;
        }
    }
    Pump(500);
    const long afterHour = StatusValue("VmRSS");
    printf("an hour of events (%d events, %d boxes answered, %d Event View rows) took %.0f s\n", hour,
           static_cast<int>(admin.boxes), EventRows(win), (NowMs() - t0) / 1000.0);
    printf("resident memory: minimal GTK 3 window %ld kB; vtnraid after start %ld kB, logged in %ld kB, after the "
           "hour %ld kB (%+ld kB, %.2f kB per event)\n",
           minimal, started, loggedIn, afterHour, afterHour - loggedIn,
           static_cast<double>(afterHour - loggedIn) / std::max(1, hour));
    s.LogOut();
    return 0;
}
