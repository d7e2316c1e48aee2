// Round trips through vtnsvr beside a raw TCP ping-pong of the same sizes on loopback.
//
// Every process runs on one CPU (this one, the raw peer, vtnsvr with its threads, and vtnsim),
// so that no figure depends on where the scheduler puts a thread. The raw peer is a process of
// its own. Blocks of server rounds and raw rounds alternate; each figure prints its p50 and p99,
// their ratio to the raw baseline of the same sizes from the same run (the median over the block
// pairs, so that a block slowed by other work weighs no more than one), and the CPU time per
// request of the server, of the raw peer and of this client.
//
// Figures: a cheap request (0x404), a driver call (0xFF05), a log append as the client sends it
// (0x303), each against the raw round trip of its sizes; the login exchange (connect to the
// notice) against a bare connection (connect until the listener has accepted and closed it), and
// against a raw exchange of the login's sizes (the least a login can cost).
//
// Other work on that CPU enters the figures; on a busy machine --realtime runs every process at
// the lowest real-time priority (root only). That changes the order in which woken threads run,
// so its ratios are not those of the ordinary scheduling the server meets in use.
//
// Usage: bench_roundtrip [--rounds N] [--blocks N] [--cpu N] [--realtime] [--trace] [BUILD_DIR]
//   --rounds    rounds of each figure per block (default 500; logins twice as many)
//   --blocks    blocks of each figure (default 20)
//   --cpu       the CPU every process runs on (default: the last one this process may use)
//   --realtime  the lowest real-time priority for every process
//   --trace     instead of timing, count vtnsvr's system calls per request with strace -c -f
//   BUILD_DIR   where server/vtnsvr and platform/vtnsim are (default: this program's build folder)
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "benchcpu.h"
#include "commu.h"
#include "encript.h"
#include "global_log.h"
#include "rawclient.h"
#include "svrrec.h"
#include "testutil.h"

namespace {

using namespace benchcpu;
using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// ---- the CPU time of a process ----

// CPU time a process has used so far, every thread (ended ones too), in nanoseconds.
int64_t CpuNs(pid_t pid)
{
    clockid_t id;
    timespec ts{};
    if (clock_getcpuclockid(pid, &id) != 0 || clock_gettime(id, &ts) != 0)
        return 0;
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t OwnCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// ---- plain blocking transfers, the same for the server and the raw peer ----

bool SendFull(int s, const void* data, size_t len) { return raw::SendAll(s, data, len); }
bool RecvFull(int s, void* data, size_t len) { return raw::RecvBlocking(s, data, len); }

int Listener(int* port)
{
    int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (l < 0 || bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 16) != 0 ||
        getsockname(l, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (l >= 0)
            close(l);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return l;
}

// A connection whose waits end after 20 s, so a stuck server fails the run instead of hanging it.
int Connect(int port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    timeval wait{raw::kWaitMs / 1000, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    return s;
}

void NoDelay(int s)
{
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// ---- the raw peer: a process of its own ----

// Echo connection: two 32-bit sizes first, then an answer of the second size to every request of
// the first, until closed.
void Echo(int c)
{
    uint32_t sizes[2];
    if (RecvFull(c, sizes, sizeof sizes) && sizes[0] > 0 && sizes[0] <= (1u << 20) && sizes[1] <= (1u << 20)) {
        std::vector<char> in(sizes[0]), out(sizes[1], 'r');
        while (RecvFull(c, in.data(), in.size()) && SendFull(c, out.data(), out.size())) {
        }
    }
    close(c);
}

// The sizes of the login exchange: the greeting, the login, the status and the notice.
constexpr size_t kGreeting = sizeof(_VTN_LOGIN_GREETING);
constexpr size_t kLogin = sizeof(_VTN_LOGIN_REQUEST);
constexpr size_t kAnswer = sizeof(_Packet_Error) + sizeof(_VTN_LOGIN_NOTICE);

// A raw exchange of the login's sizes, one connection at a time: greeting out, login in, status
// and notice out, then the client's close.
void ServeLoginShape(int listener)
{
    for (;;) {
        const int c = accept(listener, nullptr, nullptr);
        if (c < 0)
            continue;
        NoDelay(c);
        char buf[kLogin] = {};
        char end;
        if (SendFull(c, buf, kGreeting) && RecvFull(c, buf, kLogin) && SendFull(c, buf, kAnswer))
            (void)!recv(c, &end, 1, 0);
        close(c);
    }
}

[[noreturn]] void RunPeer(int echoListener, int bareListener, int loginListener, pid_t parent)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(0);
    std::thread([echoListener] {
        for (;;) {
            const int c = accept(echoListener, nullptr, nullptr);
            if (c < 0)
                continue;
            NoDelay(c);
            std::thread(Echo, c).detach();
        }
    }).detach();
    std::thread(ServeLoginShape, loginListener).detach();
    // A bare connection is accepted and closed at once.
    for (;;) {
        const int c = accept(bareListener, nullptr, nullptr);
        if (c >= 0)
            close(c);
    }
}

struct Peer {
    pid_t pid = -1;
    int echoPort = -1;
    int barePort = -1;
    int loginPort = -1;
};

Peer StartPeer()
{
    Peer p;
    const int echo = Listener(&p.echoPort);
    const int bare = Listener(&p.barePort);
    const int login = Listener(&p.loginPort);
    if (echo < 0 || bare < 0 || login < 0)
        return {};
    const pid_t parent = getpid();
    p.pid = fork();
    if (p.pid == 0)
        RunPeer(echo, bare, login, parent);
    close(echo);
    close(bare);
    close(login);
    return p;
}

int EchoConnection(const Peer& peer, uint32_t reqSize, uint32_t replySize)
{
    const int s = Connect(peer.echoPort);
    const uint32_t sizes[2] = {reqSize, replySize};
    if (s >= 0 && !SendFull(s, sizes, sizeof sizes)) {
        close(s);
        return -1;
    }
    if (s >= 0)
        NoDelay(s);
    return s;
}

// ---- figures ----

double Percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

// One side of a figure: its times, and the CPU used by the process that answered and by this one.
struct Side {
    std::vector<double> us;
    std::vector<size_t> blockEnds;   // where each block's times end in us
    int64_t answerCpu = 0;
    int64_t clientCpu = 0;
    int failures = 0;
};

// One exchange: its time in microseconds, or a negative number when it failed.
using Timed = std::function<double()>;

double TimeOf(bool ok, Clock::time_point since) { return ok ? Micros(Clock::now() - since) : -1.0; }

struct Figure {
    std::string name;
    size_t reqSize = 0;
    size_t replySize = 0;
    int perBlock = 0;
    Timed server;
    Timed raw;
    Side s, r;
};

// Runs one block of a side, the answering process being `pid`.
void RunBlock(const Timed& once, int n, pid_t pid, Side* side)
{
    const int64_t cpu0 = CpuNs(pid), own0 = OwnCpuNs();
    for (int i = 0; i < n; ++i) {
        const double us = once();
        if (us >= 0)
            side->us.push_back(us);
        else
            ++side->failures;
    }
    side->answerCpu += CpuNs(pid) - cpu0;
    side->clientCpu += OwnCpuNs() - own0;
    side->blockEnds.push_back(side->us.size());
}

std::vector<double> Block(const Side& side, size_t i)
{
    const size_t begin = i == 0 ? 0 : side.blockEnds[i - 1];
    return std::vector<double>(side.us.begin() + static_cast<long>(begin),
                               side.us.begin() + static_cast<long>(side.blockEnds[i]));
}

// The median over the block pairs of the server's percentile over the raw one: a block that
// other work on the machine slowed weighs no more than one.
double BlockRatio(const Side& server, const Side& raw, double q)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < server.blockEnds.size() && i < raw.blockEnds.size(); ++i) {
        const double r = Percentile(Block(raw, i), q);
        if (r > 0)
            ratios.push_back(Percentile(Block(server, i), q) / r);
    }
    return Percentile(ratios, 0.5);
}

// One block of server rounds and one of raw rounds, the order changing with each block.
void RunBlockPair(Figure* f, int block, pid_t server, pid_t peer)
{
    if (block % 2 == 0)
        RunBlock(f->server, f->perBlock, server, &f->s);
    RunBlock(f->raw, f->perBlock, peer, &f->r);
    if (block % 2 != 0)
        RunBlock(f->server, f->perBlock, server, &f->s);
}

double PerRequest(int64_t ns, const Side& side)
{
    return side.us.empty() ? 0.0 : static_cast<double>(ns) / 1000.0 / static_cast<double>(side.us.size());
}

void Print(const Figure& f)
{
    const double s50 = Percentile(f.s.us, 0.50), s99 = Percentile(f.s.us, 0.99);
    const double r50 = Percentile(f.r.us, 0.50), r99 = Percentile(f.r.us, 0.99);
    printf("%-20s %4zu/%3zu B  server p50 %7.1f p99 %7.1f us  raw p50 %7.1f p99 %7.1f us  "
           "ratio p50 %5.2f p99 %5.2f  cpu/req server %6.1f peer %5.1f client %5.1f/%5.1f us  n %zu/%zu",
           f.name.c_str(), f.reqSize, f.replySize, s50, s99, r50, r99, BlockRatio(f.s, f.r, 0.50),
           BlockRatio(f.s, f.r, 0.99), PerRequest(f.s.answerCpu, f.s), PerRequest(f.r.answerCpu, f.r),
           PerRequest(f.s.clientCpu, f.s), PerRequest(f.r.clientCpu, f.r), f.s.us.size(), f.r.us.size());
    if (f.s.failures + f.r.failures > 0)
        printf("  failed %d/%d", f.s.failures, f.r.failures);
    printf("\n");
}

// ---- requests to the server ----

std::vector<char> Packet(size_t size, uint32_t group, uint32_t code)
{
    std::vector<char> p(size, 0);
    FillPacketHead(reinterpret_cast<_Packet_Head*>(p.data()), static_cast<uint32_t>(size), VTN_PACKET_REQUEST, group,
                   code);
    return p;
}

std::vector<char> DriverPacket(uint32_t control, const void* in, uint32_t inSize, uint32_t outSize)
{
    std::vector<char> p = Packet(sizeof(_VTN_DRIVER_CALL) + inSize, VTN_GROUP_DRIVER, 0);
    auto* call = reinterpret_cast<_VTN_DRIVER_CALL*>(p.data());
    call->code = control;
    call->inSize = inSize;
    call->outSize = outSize;
    memcpy(p.data() + sizeof(_VTN_DRIVER_CALL), in, inSize);
    return p;
}

// A round trip whose reply is `reply.size()` bytes long and says so in its head.
bool Exchange(int s, const std::vector<char>& req, std::vector<char>& reply)
{
    if (!SendFull(s, req.data(), req.size()) || !RecvFull(s, reply.data(), reply.size()))
        return false;
    uint32_t length = 0;
    memcpy(&length, reply.data(), sizeof length);
    return length == reply.size();
}

// A login as far as the notice; the connection, or -1 (*refused: the slot was not free yet).
int Login(int port, bool* refused)
{
    *refused = false;
    const int s = Connect(port);
    if (s < 0)
        return -1;
    _VTN_LOGIN_GREETING greeting{};
    if (!RecvFull(s, &greeting, sizeof greeting)) {
        *refused = true;
        close(s);
        return -1;
    }
    const _VTN_LOGIN_REQUEST login = raw::MakeLogin(greeting.key, "RAID", "wqx");
    _Packet_Error status{};
    _VTN_LOGIN_NOTICE notice{};
    if (!SendFull(s, &login, sizeof login) || !RecvFull(s, &status, sizeof status) || status.status != 0 ||
        !RecvFull(s, &notice, sizeof notice)) {
        close(s);
        return -1;
    }
    return s;
}

// A login that waits for the slot of the previous session to be free.
int LoginWaiting(int port)
{
    for (int i = 0; i < 200; ++i) {
        bool refused = false;
        const int s = Login(port, &refused);
        if (s >= 0 || !refused)
            return s;
        usleep(5000);
    }
    return -1;
}

// ---- system calls per request, counted by strace ----

struct Trace {
    ChildProcess proc;
    std::string file;
};

bool Traced(pid_t pid)
{
    for (pid_t tid : Tasks(pid)) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/status");
        std::string line;
        bool traced = false;
        while (std::getline(status, line))
            if (line.rfind("TracerPid:", 0) == 0)
                traced = atoi(line.c_str() + 10) != 0;
        if (!traced)
            return false;
    }
    return true;
}

bool StartTrace(Trace* t, pid_t pid, const std::string& file)
{
    t->file = file;
    if (!t->proc.Start({"/usr/bin/strace", "-f", "-c", "-q", "-o", file, "-p", std::to_string(pid)}))
        return false;
    for (int i = 0; i < 2000; ++i) {
        if (Traced(pid))
            return true;
        usleep(1000);
    }
    return false;
}

// Stops the trace and prints its counts per request.
void EndTrace(Trace* t, const std::string& what, int requests)
{
    t->proc.Signal(SIGINT);
    t->proc.Wait(raw::kWaitMs);
    std::ifstream in(t->file);
    std::string line, calls;
    double total = 0;
    int dashes = 0;
    while (std::getline(in, line)) {
        if (line.rfind("------", 0) == 0) {
            ++dashes;
            continue;
        }
        if (dashes != 1)
            continue;
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string x; words >> x;)
            w.push_back(x);
        if (w.size() < 5)
            continue;
        const double n = atof(w[3].c_str()) / requests;
        total += n;
        char item[64];
        snprintf(item, sizeof item, " %s %.2f", w.back().c_str(), n);
        calls += item;
    }
    printf("%-20s vtnsvr system calls per request %5.2f:%s\n", what.c_str(), total, calls.c_str());
}

// Counts the server's system calls over n exchanges of a figure, after a few untraced ones.
void TraceFigure(Figure* f, pid_t server, const std::string& file, int n)
{
    for (int i = 0; i < 10; ++i)
        f->server();
    Trace t;
    if (!StartTrace(&t, server, file)) {
        fprintf(stderr, "strace did not attach\n");
        return;
    }
    for (int i = 0; i < n; ++i)
        f->server();
    EndTrace(&t, f->name, n);
}

struct Options {
    int rounds = 500;
    int blocks = 20;
    int cpu = -1;
    bool trace = false;
    bool realTime = false;
    std::string bin = VTN_BINARY_DIR;
};

bool ParseOptions(int argc, char** argv, Options* o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto number = [&](int* out) {
            if (i + 1 >= argc)
                return false;
            *out = atoi(argv[++i]);
            return true;
        };
        if (a == "--rounds") {
            if (!number(&o->rounds) || o->rounds <= 0)
                return false;
        } else if (a == "--blocks") {
            if (!number(&o->blocks) || o->blocks <= 0)
                return false;
        } else if (a == "--cpu") {
            if (!number(&o->cpu) || o->cpu < 0)
                return false;
        } else if (a == "--trace") {
            o->trace = true;
        } else if (a == "--realtime") {
            o->realTime = true;
        } else if (!a.empty() && a[0] != '-') {
            o->bin = a;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (!ParseOptions(argc, argv, &opt)) {
        fprintf(stderr, "usage: bench_roundtrip [--rounds N] [--blocks N] [--cpu N] [--realtime] [--trace] [BUILD_DIR]\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const int cpu = opt.cpu >= 0 ? opt.cpu : LastAllowedCpu();
    // Before any child or thread exists: everything made from here on inherits the CPU.
    if (!PinTask(0, cpu)) {
        fprintf(stderr, "cannot run on CPU %d: %s\n", cpu, strerror(errno));
        return 1;
    }
    const sched_param lowest{1};
    if (opt.realTime && sched_setscheduler(0, SCHED_FIFO, &lowest) != 0) {
        fprintf(stderr, "no real-time priority: %s\n", strerror(errno));
        return 1;
    }
    const Peer peer = StartPeer();
    if (peer.pid <= 0) {
        fprintf(stderr, "the raw peer did not start\n");
        return 1;
    }

    int rc = 1;
    {
        TempRoot root;
        raw::TestServer server(root, opt.bin);
        if (!server.Prepare("sata4") || !server.Start()) {
            fprintf(stderr, "vtnsvr did not start: %s\n", server.Stderr().c_str());
            kill(peer.pid, SIGKILL);
            waitpid(peer.pid, nullptr, 0);
            return 1;
        }
        PinProcess(server.Pid(), cpu);   // inherited already; made sure of
        const pid_t svr = server.Pid();

        int session = LoginWaiting(server.port);
        if (session < 0) {
            fprintf(stderr, "login failed\n");
            kill(peer.pid, SIGKILL);
            waitpid(peer.pid, nullptr, 0);
            return 1;
        }
        NoDelay(session);

        // The devices, for a driver call on the first disk.
        uint32_t ids[9] = {};
        {
            const uint32_t max = 8;
            std::vector<char> reply(sizeof(_VTN_DRIVER_REPLY) + sizeof ids);
            if (!Exchange(session, DriverPacket(0xFF04, &max, 4, sizeof ids), reply)) {
                fprintf(stderr, "device list failed\n");
                return 1;
            }
            memcpy(ids, reply.data() + sizeof(_VTN_DRIVER_REPLY), sizeof ids);
        }

        const std::vector<char> user = Packet(sizeof(_VTN_REQ_USER), VTN_GROUP_USER, VTN_CODE_CURRENT_USER);
        const std::vector<char> info = DriverPacket(0xFF05, &ids[1], 4, 174);
        // The client sends a save-log-event request in the size of an enumeration request.
        std::vector<char> append = Packet(sizeof(_VTN_REQ_ENUM_EVENT), VTN_GROUP_EVENT, VTN_CODE_SAVE_EVENT);
        {
            auto* ev = reinterpret_cast<_VTN_LOG_EVENT*>(append.data() + sizeof(_Packet_Head));
            ev->severity = 'I';
            CopyText(ev->text, "Array Data was created by the benchmark.");
        }

        std::vector<char> userReply(user.size()), infoReply(sizeof(_VTN_DRIVER_REPLY) + 174),
            appendReply(sizeof(_Packet_Error));
        std::vector<Figure> figures;
        auto roundTrip = [&](const char* name, const std::vector<char>& req, std::vector<char>& reply) {
            Figure f;
            f.name = name;
            f.reqSize = req.size();
            f.replySize = reply.size();
            f.perBlock = opt.rounds;
            f.server = [&session, &req, &reply] {
                const auto t0 = Clock::now();
                return TimeOf(Exchange(session, req, reply), t0);
            };
            const int echo =
                EchoConnection(peer, static_cast<uint32_t>(req.size()), static_cast<uint32_t>(reply.size()));
            f.raw = [echo, &req, out = std::vector<char>(reply.size())]() mutable {
                const auto t0 = Clock::now();
                return TimeOf(SendFull(echo, req.data(), req.size()) && RecvFull(echo, out.data(), out.size()), t0);
            };
            figures.push_back(std::move(f));
        };
        roundTrip("request 0x404", user, userReply);
        roundTrip("driver call 0xFF05", info, infoReply);
        roundTrip("log append 0x303", append, appendReply);

        // Logins: each ends its session by closing its side and waiting for the server's close,
        // which comes once the slot is free again (untimed). Against a bare connection, timed until
        // the listener's close, and against a raw exchange of the login's sizes.
        Figure login;
        login.name = "login / connect";
        login.reqSize = kLogin;
        login.replySize = kGreeting + kAnswer;
        login.perBlock = 2 * opt.rounds;   // the tail of a login varies more
        login.server = [&server] {
            bool refused = true;
            for (int i = 0; refused && i < 100; ++i) {
                const auto t0 = Clock::now();
                const int s = Login(server.port, &refused);
                if (s >= 0) {
                    const double us = TimeOf(true, t0);
                    shutdown(s, SHUT_WR);
                    char c;
                    const bool ended = recv(s, &c, 1, 0) == 0;
                    close(s);
                    return ended ? us : -1.0;
                }
                if (refused)
                    usleep(1000);   // a slot still in use: not expected after a wait for its close
            }
            return -1.0;
        };
        login.raw = [&peer] {
            const auto t0 = Clock::now();
            const int s = Connect(peer.barePort);
            char c;
            const bool closed = s >= 0 && recv(s, &c, 1, 0) == 0;
            const double us = TimeOf(closed, t0);
            if (s >= 0)
                close(s);
            return us;
        };
        Figure loginShape = login;
        loginShape.name = "login / raw exchange";
        loginShape.raw = [&peer] {
            const auto t0 = Clock::now();
            const int s = Connect(peer.loginPort);
            char buf[kLogin] = {};
            bool ok = s >= 0 && RecvFull(s, buf, kGreeting) && SendFull(s, buf, kLogin) &&
                      RecvFull(s, buf, sizeof(_Packet_Error)) && RecvFull(s, buf, sizeof(_VTN_LOGIN_NOTICE));
            const double us = TimeOf(ok, t0);
            char c;
            if (s >= 0 && ok)
                ok = shutdown(s, SHUT_WR) == 0 && recv(s, &c, 1, 0) == 0;
            if (s >= 0)
                close(s);
            return ok ? us : -1.0;
        };

        if (opt.trace) {
            const int n = std::min(opt.rounds, 1000);
            for (Figure& f : figures)
                TraceFigure(&f, svr, root.Path("/strace.out"), n);
            close(session);
            session = -1;
            TraceFigure(&login, svr, root.Path("/strace.out"), std::max(1, n / 10));
            rc = 0;
        } else {
            for (Figure& f : figures) {
                Side warmUp;
                RunBlock(f.server, f.perBlock / 5 + 1, svr, &warmUp);
                RunBlock(f.raw, f.perBlock / 5 + 1, peer.pid, &warmUp);
            }
            for (int b = 0; b < opt.blocks; ++b)
                for (Figure& f : figures)
                    RunBlockPair(&f, b, svr, peer.pid);
            // The logins need the session's slot.
            close(session);
            session = -1;
            for (int b = 0; b < opt.blocks; ++b) {
                RunBlockPair(&login, b, svr, peer.pid);
                RunBlockPair(&loginShape, b, svr, peer.pid);
            }
            printf("CPU %d for every process, %s priority; %d blocks; p50, p99 of all rounds; ratio: server / raw of "
                   "the same sizes, the median over the blocks\n",
                   cpu, opt.realTime ? "real-time" : "ordinary", opt.blocks);
            figures.push_back(std::move(login));
            figures.push_back(std::move(loginShape));
            rc = 0;
            for (const Figure& f : figures) {
                Print(f);
                rc = f.s.us.empty() || f.r.us.empty() ? 1 : rc;
            }
        }
        if (session >= 0)
            close(session);
        server.Stop();
    }
    kill(peer.pid, SIGKILL);
    waitpid(peer.pid, nullptr, 0);
    return rc;
}
