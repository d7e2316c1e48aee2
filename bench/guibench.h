// What the GUI benchmarks share: the real vtnsvr on the simulated controller under a temporary
// VTN_ROOT, the main window of vtnraid built as main builds it and logged in through its own
// Connect routine, an administrator who answers every modal window at once, and readings of the
// process (resident memory, descriptors, threads), and the raw baselines the figures are divided
// by. Every process of a run is on one CPU. The programs need an X display: run them through
// tests/gui/xrun, which starts a private Xvfb. Header-only.
#pragma once
#include <dirent.h>
#include <gtk/gtk.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "benchcpu.h"
#include "client.h"
#include "drivergui.h"
#include "signfunc.h"
#include "svrfixture.h"
#include "testutil.h"
#include "vtntree.h"

namespace guibench {

inline double NowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// A number from /proc/self/status ("VmRSS" in kB, "Threads").
inline long StatusValue(const char* key)
{
    FILE* f = fopen("/proc/self/status", "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long value = -1;
    const size_t n = strlen(key);
    while (fgets(line, sizeof line, f))
        if (strncmp(line, key, n) == 0 && line[n] == ':') {
            value = strtol(line + n + 1, nullptr, 10);
            break;
        }
    fclose(f);
    return value;
}

inline int OpenDescriptors()
{
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr)
        return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.')
            ++n;
    closedir(d);
    return n - 1;  // the directory being read
}

// Runs the main loop until cond holds or ms pass; cond's last answer.
inline bool PumpUntil(const std::function<bool()>& cond, double ms)
{
    const double end = NowMs() + ms;
    while (!cond()) {
        if (NowMs() >= end)
            return cond();
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(500);
    }
    return true;
}

inline void Pump(double ms)
{
    PumpUntil([] { return false; }, ms);
}

struct Figures {
    double median = 0, p90 = 0, min = 0, max = 0, mean = 0;
};

inline Figures Summary(std::vector<double> v)
{
    Figures f;
    if (v.empty())
        return f;
    std::sort(v.begin(), v.end());
    f.min = v.front();
    f.max = v.back();
    f.median = v[v.size() / 2];
    f.p90 = v[std::min(v.size() - 1, v.size() * 9 / 10)];
    for (double x : v)
        f.mean += x;
    f.mean /= static_cast<double>(v.size());
    return f;
}

// The administrator: answers the window that holds the input (the top modal window) at once:
// the login form with the bench's user, every message box with OK. Counts what it answered.
class Administrator {
public:
    Administrator(std::string user, std::string password) : user_(std::move(user)), password_(std::move(password))
    {
        source_ = g_timeout_add(2, Answer, this);
    }
    ~Administrator() { g_source_remove(source_); }
    Administrator(const Administrator&) = delete;
    Administrator& operator=(const Administrator&) = delete;

    long boxes = 0, logins = 0;
    std::string lastBox;

private:
    static gboolean Answer(gpointer p)
    {
        auto* self = static_cast<Administrator*>(p);
        GtkWidget* grab = gtk_grab_get_current();
        GtkWidget* top = grab ? gtk_widget_get_toplevel(grab) : nullptr;
        if (top == nullptr || !GTK_IS_WINDOW(top) || !gtk_widget_get_mapped(top))
            return G_SOURCE_CONTINUE;
        auto* rec = static_cast<_DIALOG_DATA*>(g_object_get_data(G_OBJECT(top), "DATA"));
        if (rec == nullptr || rec->done)
            return G_SOURCE_CONTINUE;
        const char* title = gtk_window_get_title(GTK_WINDOW(top));
        const std::string t = title ? title : "";
        if (t == "Login Form") {
            gtk_entry_set_text(GTK_ENTRY(NewSys.pUserEntry), self->user_.c_str());
            gtk_entry_set_text(GTK_ENTRY(NewSys.pPasswordEntry), self->password_.c_str());
            ++self->logins;
        } else {
            ++self->boxes;
            self->lastBox = t;
        }
        yes_mselect(top);
        return G_SOURCE_CONTINUE;
    }

    std::string user_, password_;
    unsigned int source_ = 0;
};

constexpr const char* kUser = "bench";
constexpr const char* kPassword = "bench-pw";

// The server on a preset with the bench's user, and the main window with the server in its list.
class Session {
public:
    explicit Session(const std::string& binDir) : server_(root_, binDir) {}
    ~Session() { Close(); }

    // Starts the server; false with a message on failure.
    bool Start(const std::string& preset)
    {
        if (cs_vtn_client_init() != 0) {
            fprintf(stderr, "the client library did not start\n");
            return false;
        }
        if (!server_.Prepare(preset) ||
            !WriteFileText(root_.Path("/etc/vtnuser.dat"), raw::UserLine(kUser, kPassword, VTN_RIGHTS_ALL)) ||
            !server_.raw::TestServer::Start() || !WaitForPort(server_.EventPort(), 20000)) {
            fprintf(stderr, "the server did not start (programs from %s)\n", VTN_BINARY_DIR);
            return false;
        }
        mkdir(root_.Path("/usr").c_str(), 0755);
        mkdir(root_.Path("/usr/bin").c_str(), 0755);
        return WriteFileText(root_.Path("/usr/bin/vtnsys.log"), "127.0.0.1\tbench\t" + std::to_string(server_.Port()) +
                                                                   "\n");
    }

    // The main window as main builds it.
    CMainWindow* Open()
    {
        handle = -1;
        window_ = new CMainWindow;
        pMainWin = window_;
        window_->Create();
        PumpUntil([this] { return gtk_widget_get_mapped(window_->pWindow); }, 10000);
        return window_;
    }

    // Connect on the server's row, the login form answered; true once logged in.
    bool LogIn()
    {
        if (GetMainWindow() == nullptr || GetMainWindow()->bLoggedIn)
            return false;
        LogSystem();
        return GetMainWindow() && GetMainWindow()->bLoggedIn && handle >= 0;
    }

    // A login tried again while the server still ends the session before it.
    bool LogInAgain()
    {
        for (int i = 0; i < 100; ++i) {
            if (LogIn())
                return true;
            Pump(50);
        }
        return false;
    }

    bool LogOut() { return LogoutSystem(); }

    // The raw baseline of a login: connect, greeting, login and the end of the session by a bare
    // socket client without the GUI; ms per cycle (median of n), -1 when one fails.
    double RawLoginCycleMs(int n)
    {
        std::vector<double> ms;
        for (int i = 0; i < n; ++i) {
            const double t0 = NowMs();
            raw::Socket sock;
            const raw::LoginResult r = server_.Connect(&sock, kUser, kPassword);
            if (!r.answered || r.status != 0)
                return -1;
            shutdown(sock.fd(), SHUT_WR);
            if (!raw::ClosedByPeer(sock.fd(), 5000))
                return -1;
            ms.push_back(NowMs() - t0);
        }
        return Summary(ms).median;
    }

    void Close()
    {
        if (window_) {
            if (GetMainWindow() == window_ && window_->pWindow)
                gtk_widget_destroy(window_->pWindow);
            delete window_;
            window_ = nullptr;
            Pump(20);
        }
        server_.Stop();
    }

    ServerProcess& Server() { return server_; }
    const TempRoot& Root() const { return root_; }

private:
    TempRoot root_;
    ServerProcess server_;
    CMainWindow* window_ = nullptr;
};

// This process and every thread and process it makes from now on on one CPU (the last one it may
// use); the CPU, or -1.
inline int PinToOneCpu()
{
    static int cpu = -2;
    if (cpu == -2) {
        const int c = benchcpu::LastAllowedCpu();
        cpu = benchcpu::PinProcess(getpid(), c) ? c : -1;
    }
    return cpu;
}

// The raw baseline of a request: one round trip of the client library's cheapest driver call on
// the logged-in connection, ms (median of n), -1 when one fails.
inline double RequestRoundTripMs(int n = 500)
{
    std::vector<double> ms;
    for (int i = 0; i < n; ++i) {
        const double t0 = NowMs();
        if (cs_vtn_get_controller_count(handle) < 0)
            return -1;
        ms.push_back(NowMs() - t0);
    }
    return Summary(ms).median;
}

// GTK on the display, without the accessibility bus, the process on one CPU; false with a message
// when there is no display or no CPU.
inline bool StartGtk(int* argc, char*** argv, const char* program)
{
    setenv("NO_AT_BRIDGE", "1", 1);
    if (PinToOneCpu() < 0) {
        fprintf(stderr, "%s cannot run on one CPU\n", program);
        return false;
    }
    if (gtk_init_check(argc, argv))
        return true;
    fprintf(stderr, "%s needs an X display (run it through tests/gui/xrun)\n", program);
    return false;
}

// The build folder that holds server/vtnsvr: the one argument, else this program's own.
inline std::string BinDir(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--", 2) == 0)
            ++i;  // an option and its value
        else
            return argv[i];
    }
    return VTN_BINARY_DIR;
}

inline long IntOption(int argc, char** argv, const char* name, long fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (strcmp(argv[i], name) == 0)
            return strtol(argv[i + 1], nullptr, 10);
    return fallback;
}

// The machine's load, printed with every figure.
inline std::string LoadAverage()
{
    std::string text = ReadFileText("/proc/loadavg");
    size_t cut = 0;
    for (int fields = 0; fields < 3 && cut != std::string::npos; ++fields)
        cut = text.find(' ', cut + (fields ? 1 : 0));
    return cut == std::string::npos ? text : text.substr(0, cut);
}

}  // namespace guibench
