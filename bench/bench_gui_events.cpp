// vtnraid and the driver's events: the latency from an event made on the controller (what
// `vtnsim event` does) to its row in the Event View, and the GUI's resident memory after start
// and after an hour of events, beside a minimal GTK 3 window in the same run.
//
// The latency runs on the GUI's own 2000 ms timer against the server's 2-second poll, so it lies
// between 0 and about 4 s; events are made at staggered moments so the figure covers both
// phases. Each event's message box is answered at once (an administrator at the screen adds
// his own reaction time). The hour is an hour of the GUI's life at one event per 2-second tick:
// 1800 events, each with its box, its line in the local log copy, its Event View row and a
// refresh of both trees; they are made in bursts so the hour takes a few minutes. The raw baseline
// of the latency is a bare socket client's wait for the event's pushed packet, in the same run.
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

// The moment of the i-th event within the two 2-second cycles, ms after the previous one.
double Stagger(int i)
{
    return 250.0 + (i * 730) % 2000;
}

// The raw baseline: from the event made on the controller to its packet on the event channel of
// a bare socket client logged in without the GUI; ms each, empty on failure. The session ends
// before the GUI logs in.
std::vector<double> RawEventLatency(Session& s, int events)
{
    std::vector<double> ms;
    raw::Socket client;
    const raw::LoginResult r = s.Server().Connect(&client, kUser, kPassword);
    if (!r.answered || r.status != 0)
        return {};
    const int port = s.Server().EventPort();
    raw::Socket channel(raw::BindEvents(port, static_cast<uint16_t>(port)));
    if (channel.fd() < 0 || !raw::StaysOpenAndSilent(channel.fd(), 300))
        return {};
    for (int i = 0; i < events; ++i) {
        g_usleep(static_cast<gulong>(Stagger(i) * 1000));
        const double t0 = NowMs();
        _VTN_EVENT_PACKET packet{};
        if (!MakeEvent() || raw::RecvAll(channel.fd(), &packet, sizeof packet, 20000) != sizeof packet)
            return {};
        ms.push_back(NowMs() - t0);
    }
    shutdown(client.fd(), SHUT_WR);
    raw::ClosedByPeer(client.fd(), 5000);
    return ms;
}

int EventRows(CMainWindow* win)
{
    return ColumnListRows(win->pLogList);
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("NO_AT_BRIDGE", "1", 1);
    if (PinToOneCpu() < 0) {
        fprintf(stderr, "bench_gui_events cannot run on one CPU\n");
        return 1;
    }
    // The first GTK process of a fresh cache folder builds the font caches: the second is the figure.
    MinimalWindowRss();
    const long minimal = MinimalWindowRss();
    if (!StartGtk(&argc, &argv, "bench_gui_events"))
        return 1;
    const int events = static_cast<int>(IntOption(argc, argv, "--events", 20));
    const int hour = static_cast<int>(IntOption(argc, argv, "--hour-events", 1800));
    printf("vtnraid and driver events, on CPU %d; load average %s\n", PinToOneCpu(), LoadAverage().c_str());

    Session s(BinDir(argc, argv));
    if (!s.Start("demo"))
        return 1;
    const Figures raw = Summary(RawEventLatency(s, events));
    if (raw.max <= 0) {
        fprintf(stderr, "the raw client got no event\n");
        return 1;
    }
    Administrator admin(kUser, kPassword);
    CMainWindow* win = s.Open();
    Pump(500);
    const long started = StatusValue("VmRSS");
    if (!s.LogInAgain()) {
        fprintf(stderr, "the login failed\n");
        return 1;
    }
    Pump(500);
    const long loggedIn = StatusValue("VmRSS");

    // Latency, one event at a time, each made at another moment of the two 2-second cycles.
    std::vector<double> latency;
    for (int i = 0; i < events; ++i) {
        Pump(Stagger(i));
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
    printf("event to the pushed packet of a raw client: %.0f ms median, %.0f p90, %.0f min, %.0f max, %.0f mean; "
           "the row takes %.2fx (median) and %.2fx (mean) that\n",
           raw.median, raw.p90, raw.min, raw.max, raw.mean, l.median / raw.median, l.mean / raw.mean);

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
    printf("as a ratio to the minimal window: %.2fx after start, %.2fx logged in, %.2fx after the hour\n",
           static_cast<double>(started) / minimal, static_cast<double>(loggedIn) / minimal,
           static_cast<double>(afterHour) / minimal);
    s.LogOut();
    return 0;
}
