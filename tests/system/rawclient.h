// A raw socket client of vtnsvr for system tests, and the server under test: the simulated
// controller set up with vtnsim, "/etc/vtn.ini" with free ports, `vtnsvr -NODAEMON` started under
// the test's VTN_ROOT and stopped with SIGTERM. Loopback only. Header-only.
#pragma once
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "commu.h"
#include "encript.h"
#include "paths.h"
#include "svrrec.h"
#include "testutil.h"
#include "textutil.h"

namespace raw {

// Every wait of this client is bounded so that a broken server fails a test instead of hanging it.
constexpr int kWaitMs = 20000;

inline int ConnectTo(int port)
{
    int sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        close(sock);
        return -1;
    }
    return sock;
}

// Moves all len bytes with step(p, n), a send or a receive of what is left; false on an error
// or a close.
template <typename Step>
inline bool MoveAll(char* p, size_t len, Step step)
{
    while (len > 0) {
        ssize_t n = step(p, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

inline bool SendAll(int sock, const void* data, size_t len)
{
    return MoveAll(static_cast<char*>(const_cast<void*>(data)), len,
                   [sock](char* p, size_t n) { return send(sock, p, n, MSG_NOSIGNAL); });
}

// Receives all len bytes with plain blocking calls (no poll): each wait is bounded only by the
// socket's receive time-out. For peers whose system calls are counted.
inline bool RecvBlocking(int sock, void* buf, size_t len)
{
    return MoveAll(static_cast<char*>(buf), len, [sock](char* p, size_t n) { return recv(sock, p, n, 0); });
}

// Receives up to len bytes, waiting at most waitMs in all; returns the count (short on close,
// error or time-out).
inline size_t RecvAll(int sock, void* buf, size_t len, int waitMs = kWaitMs)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    size_t got = 0;
    while (got < len) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        if (left <= 0)
            break;
        pollfd p{sock, POLLIN, 0};
        int r = poll(&p, 1, left);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        ssize_t n = recv(sock, static_cast<char*>(buf) + got, len - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    return got;
}

// True when the peer closes the connection within waitMs (data before the close is dropped).
inline bool ClosedByPeer(int sock, int waitMs = kWaitMs)
{
    char scratch[4096];
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        if (left <= 0)
            return false;
        pollfd p{sock, POLLIN, 0};
        int r = poll(&p, 1, left);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        ssize_t n = recv(sock, scratch, sizeof(scratch), 0);
        if (n == 0 || (n < 0 && errno != EINTR))
            return true;
    }
}

// True when nothing arrives and the connection stays open for waitMs.
inline bool StaysOpenAndSilent(int sock, int waitMs)
{
    pollfd p{sock, POLLIN, 0};
    return poll(&p, 1, waitMs) == 0;
}

inline _Packet_Head Head(uint32_t length, uint8_t type, uint32_t group, uint32_t code)
{
    _Packet_Head head;
    FillPacketHead(&head, length, type, group, code);
    return head;
}

// The 156-byte login for a greeting's key: the password's first 16 bytes DES-encrypted.
inline _VTN_LOGIN_REQUEST MakeLogin(const char* key, const std::string& name, const std::string& password,
                                    uint32_t kind = 0)
{
    _VTN_LOGIN_REQUEST login{};
    login.head = Head(sizeof(login), VTN_PACKET_REQUEST, 0, 0);
    CopyText(login.name, name.c_str());
    CopyText(login.password, password.c_str());
    uint8_t desKey[8];
    memcpy(desKey, key, sizeof(desKey));
    vtn_encrypt(desKey, reinterpret_cast<uint8_t*>(login.password), 2);
    login.kind = kind;
    return login;
}

// Result of one login exchange.
struct LoginResult {
    bool greeted = false;        // the 40-byte greeting came
    bool answered = false;       // a 28-byte status came
    uint32_t status = 0;         // its status word
    _VTN_LOGIN_GREETING greeting{};
    _VTN_LOGIN_NOTICE notice{};  // filled after an accepted login
};

// The login after a greeting that was already read.
inline LoginResult LoginAfterGreeting(int sock, const _VTN_LOGIN_GREETING& greeting, const std::string& name,
                                      const std::string& password, uint32_t kind = 0)
{
    LoginResult r;
    r.greeted = true;
    r.greeting = greeting;
    _VTN_LOGIN_REQUEST login = MakeLogin(r.greeting.key, name, password, kind);
    if (!SendAll(sock, &login, sizeof(login)))
        return r;
    _Packet_Error answer{};
    r.answered = RecvAll(sock, &answer, sizeof(answer)) == sizeof(answer);
    r.status = answer.status;
    if (r.answered && r.status == 0)
        RecvAll(sock, &r.notice, sizeof(r.notice));
    return r;
}

inline LoginResult Login(int sock, const std::string& name, const std::string& password, uint32_t kind = 0)
{
    _VTN_LOGIN_GREETING greeting{};
    if (RecvAll(sock, &greeting, sizeof(greeting)) != sizeof(greeting))
        return {};
    return LoginAfterGreeting(sock, greeting, name, password, kind);
}

// A connection that got its greeting. The slot of a client that just left frees a moment later,
// and until then a newcomer is closed at once: so this tries again for a while.
inline int ConnectGreeted(int port, _VTN_LOGIN_GREETING* greeting)
{
    for (int i = 0; i < 100; ++i) {
        int sock = ConnectTo(port);
        if (sock >= 0 && RecvAll(sock, greeting, sizeof(*greeting)) == sizeof(*greeting))
            return sock;
        if (sock >= 0)
            close(sock);
        usleep(50 * 1000);
    }
    return -1;
}

// A reply packet: the whole bytes, empty when none came.
struct Reply {
    std::vector<uint8_t> bytes;
    bool ok() const { return bytes.size() >= sizeof(_Packet_Head); }
    const _Packet_Head& head() const { return *reinterpret_cast<const _Packet_Head*>(bytes.data()); }
    bool isStatus() const { return ok() && head().type == VTN_PACKET_STATUS && bytes.size() >= sizeof(_Packet_Error); }
    // The status word of a status reply, 0 for a data reply, VTN_CONN_CLOSED when nothing came.
    uint32_t status() const
    {
        if (!ok())
            return VTN_CONN_CLOSED;
        if (!isStatus())
            return 0;
        uint32_t s;
        memcpy(&s, bytes.data() + 24, sizeof(s));
        return s;
    }
    template <typename T>
    T At(size_t off) const
    {
        T v{};
        ReadField(bytes.data(), bytes.size(), off, &v);
        return v;
    }
};

inline Reply ReadReply(int sock, int waitMs = kWaitMs)
{
    Reply r;
    _Packet_Head head{};
    if (RecvAll(sock, &head, sizeof(head), waitMs) != sizeof(head) || head.length < sizeof(head) ||
        head.length > (1u << 20))
        return r;
    r.bytes.resize(head.length);
    memcpy(r.bytes.data(), &head, sizeof(head));
    size_t rest = head.length - sizeof(head);
    if (RecvAll(sock, r.bytes.data() + sizeof(head), rest, waitMs) != rest)
        r.bytes.clear();
    return r;
}

// Sends a request of type 1 with the body after the head, and reads the reply.
inline Reply Request(int sock, uint32_t group, uint32_t code, const void* body = nullptr, size_t bodyLen = 0)
{
    std::vector<uint8_t> packet(sizeof(_Packet_Head) + bodyLen);
    _Packet_Head head = Head(static_cast<uint32_t>(packet.size()), VTN_PACKET_REQUEST, group, code);
    memcpy(packet.data(), &head, sizeof(head));
    if (bodyLen > 0)
        memcpy(packet.data() + sizeof(head), body, bodyLen);
    if (!SendAll(sock, packet.data(), packet.size()))
        return {};
    return ReadReply(sock);
}

// A request whose body is a record of `size` zero bytes (the record the group and code expect).
inline Reply RequestSized(int sock, uint32_t group, uint32_t code, size_t size)
{
    std::vector<uint8_t> body(size);
    return Request(sock, group, code, body.data(), body.size());
}

// Driver call: control code, input, output size. The reply's output starts at offset 36.
inline Reply DriverCall(int sock, uint32_t control, const void* in, uint32_t inSize, uint32_t outSize)
{
    std::vector<uint8_t> body(16 + inSize);
    uint32_t frame[4] = {control, inSize, outSize, 0};
    memcpy(body.data(), frame, sizeof(frame));
    if (inSize > 0)
        memcpy(body.data() + 16, in, inSize);
    return Request(sock, VTN_GROUP_DRIVER, 0, body.data(), body.size());
}

// Opens the event channel: connects to the event port and sends the 28-byte bind.
inline int BindEvents(int eventPort, uint16_t portField, uint16_t slot = 0)
{
    int sock = ConnectTo(eventPort);
    if (sock < 0)
        return -1;
    _VTN_EVENT_BIND bind{};
    bind.head = Head(sizeof(bind), VTN_PACKET_REQUEST, 0, 0);
    bind.eventPort = portField;
    bind.slot = slot;
    SendAll(sock, &bind, sizeof(bind));
    return sock;
}

// A connected socket that closes itself.
class Socket {
public:
    explicit Socket(int fd = -1) : fd_(fd) {}
    ~Socket() { Close(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Socket& operator=(Socket&& other) noexcept
    {
        if (this != &other) {
            Close();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Hands the descriptor to the caller, who closes it.
    int Release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Close()
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// Writes a file at a system path under the current VTN_ROOT, making its folders.
inline bool WriteSystemFile(const char* systemPath, const std::string& text)
{
    return WriteFileText(VtnPathForWrite(systemPath), text);
}

// One event-log line: "mark\tseverity\ttime\ttext".
struct LogLine {
    char severity;
    std::string text;
};

// The lines of an event log as (severity, text) pairs; damaged lines are left out.
inline std::vector<LogLine> LogLines(const std::string& log)
{
    std::vector<LogLine> lines;
    size_t pos = 0;
    while (pos < log.size()) {
        size_t end = log.find('\n', pos);
        std::string line = log.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? log.size() : end + 1;
        size_t t1 = line.find('\t');
        size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
        size_t t3 = t2 == std::string::npos ? t2 : line.find('\t', t2 + 1);
        if (t3 != std::string::npos && t2 == t1 + 2)
            lines.push_back({line[t1 + 1], line.substr(t3 + 1)});
    }
    return lines;
}

// A users-file line: name, plain password (stored in its 32-character form), rights, flags.
inline std::string UserLine(const std::string& name, const std::string& password, uint32_t rights,
                            uint32_t flags = VTN_USER_VALID, const std::string& description = "test user")
{
    uint8_t stored[64] = {};
    CopyText(reinterpret_cast<char*>(stored), sizeof(stored), password.c_str());
    vtn_encrypt_and_map(stored);
    char line[512];
    FormatText(line, sizeof(line), "%s:%s:%x:%x:%x:%s\n", name.c_str(), reinterpret_cast<char*>(stored), rights,
               rights, flags, description.c_str());
    return line;
}

// The server under test: the simulated controller set up with vtnsim, "/etc/vtn.ini" with two
// free ports, `vtnsvr -NODAEMON` under its own VTN_ROOT, stopped with SIGTERM. The programs come
// from binDir (the build folder).
class TestServer {
public:
    // The caller's TempRoot must live longer than this object.
    explicit TestServer(const TempRoot& root, std::string binDir = VTN_BINARY_DIR)
        : TestServer(root.Dir(), std::move(binDir))
    {
    }
    // root: the VTN_ROOT of this server (a TempRoot's folder or a folder inside it).
    explicit TestServer(std::string root, std::string binDir = VTN_BINARY_DIR)
        : root_(std::move(root)), bin_(std::move(binDir))
    {
    }
    ~TestServer()
    {
        if (proc_.Running()) {
            proc_.Signal(SIGTERM);
            if (proc_.Wait(kWaitMs) == -1)
                proc_.Signal(SIGKILL);
        }
    }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    static std::string ServerProgram() { return VTN_BINARY_DIR "/server/vtnsvr"; }
    static std::string SimProgram() { return VTN_BINARY_DIR "/platform/vtnsim"; }

    // vtnsim with its arguments, under this server's VTN_ROOT; its exit code.
    int Sim(const std::vector<std::string>& args, std::string* output = nullptr) const
    {
        std::vector<std::string> argv{bin_ + "/platform/vtnsim"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, output, {"VTN_ROOT=" + root_});
    }

    // Sets up the simulated controller (an empty preset keeps its state) and "/etc/vtn.ini"
    // with two free ports.
    bool Prepare(const std::string& preset = "sata4")
    {
        if (!preset.empty() && Sim({"init", "--preset", preset}) != 0)
            return false;
        return PickPorts();
    }

    // Two free ports into "/etc/vtn.ini".
    bool PickPorts()
    {
        port = FreeTcpPort();
        eventPort = FreeTcpPort();
        while (eventPort == port)
            eventPort = FreeTcpPort();
        mkdir((root_ + "/etc").c_str(), 0755);
        return port > 0 && eventPort > 0 &&
               WriteFileText(root_ + "/etc/vtn.ini",
                             "serverport\t" + std::to_string(port) + "\neventport\t" + std::to_string(eventPort) + "\n");
    }

    // Starts `vtnsvr -NODAEMON` (extra env entries "NAME=value") and waits for the request port. A
    // server that ends before it listens lost a port to another test meanwhile: it is started again
    // on new ports (the ports of "/etc/vtn.ini" are kept when the test chose them itself).
    bool Start(const std::vector<std::string>& env = {}, const std::vector<std::string>& args = {"-NODAEMON"})
    {
        std::vector<std::string> argv{bin_ + "/server/vtnsvr"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> fullEnv{"VTN_ROOT=" + root_};
        fullEnv.insert(fullEnv.end(), env.begin(), env.end());
        const std::string ini = ReadFileText(root_ + "/etc/vtn.ini");
        const bool ours = ini == "serverport\t" + std::to_string(port) + "\neventport\t" + std::to_string(eventPort) + "\n";
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (attempt > 0 && (!ours || !PickPorts()))
                return false;
            if (!proc_.Start(argv, fullEnv, root_ + "/server.out", root_ + "/server.err"))
                return false;
            // Its own listening socket: another test's server may hold the port meanwhile.
            if (WaitForListener(proc_.Pid(), port, kWaitMs, [this] { return proc_.Running(); }))
                return true;
            if (proc_.Running())
                return false;  // alive but not listening: no new ports would help
        }
        return false;
    }

    // SIGTERM, then the exit status (-1 when it did not end normally in time).
    int Stop()
    {
        proc_.Signal(SIGTERM);
        int status = ExitStatus(kWaitMs);
        if (status != 0)
            fprintf(stderr, "vtnsvr ended with %d; its standard error:\n%s\n", status, Stderr().c_str());
        return status;
    }
    // Ends the server at once, as a crash would.
    void Kill()
    {
        if (proc_.Running()) {
            proc_.Signal(SIGKILL);
            proc_.Wait(kWaitMs);
        }
    }
    // Waits for the process to end; its exit status, or -1.
    int ExitStatus(int waitMs)
    {
        int st = proc_.Wait(waitMs);
        return st != -1 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    bool Running() { return proc_.Running(); }
    pid_t Pid() const { return proc_.Pid(); }
    const std::string& Root() const { return root_; }

    std::string Log() const { return ReadFileText(root_ + "/var/log/vtn.log"); }
    std::string Stderr() const { return ReadFileText(root_ + "/server.err"); }

    // A new connection logged in as name/password (waiting for the slot to be free).
    LoginResult Connect(Socket* sock, const std::string& name = "RAID", const std::string& password = "wqx",
                        uint32_t kind = 0)
    {
        _VTN_LOGIN_GREETING greeting{};
        *sock = Socket(ConnectGreeted(port, &greeting));
        if (!sock->valid())
            return {};
        return LoginAfterGreeting(sock->fd(), greeting, name, password, kind);
    }

    int port = -1;
    int eventPort = -1;

private:
    std::string root_;
    std::string bin_;
    ChildProcess proc_;
};

}  // namespace raw
