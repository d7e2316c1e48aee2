// The server process: its ports, a second instance, no driver channel, the stop signals with the
// arrays they abort, and daemon mode.
// VTN_THREADED_TEST: the stop with a client logged in also runs under ThreadSanitizer.
#include <gtest/gtest.h>

#include <chrono>

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>

#include "drvrec.h"
#include "rawclient.h"

namespace {

using raw::Socket;
using raw::TestServer;

constexpr int kDefaultServerPort = 7402;
constexpr int kDefaultEventPort = 7403;

// True when nothing listens on the port (on any address), so that a row may use it.
bool PortFree(int port)
{
    int sock = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    bool free = bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(sock);
    return free;
}

struct PortCase {
    const char* what;
    const char* ini;       // %S: a free port for requests, %E: one for events; nullptr: no file
    bool requestFromFile;  // else 7402
    bool eventFromFile;    // else 7403
};

std::string Fill(std::string text, int serverPort, int eventPort)
{
    for (auto [mark, value] : {std::pair{"%S", serverPort}, std::pair{"%E", eventPort}})
        for (size_t pos; (pos = text.find(mark)) != std::string::npos;)
            text.replace(pos, 2, std::to_string(value));
    return text;
}

TEST(ServerProcess, PortsFromTheConfigurationFileAndTheDefaults)
{
    const PortCase cases[] = {
        {"both keys", "serverport\t%S\neventport\t%E\n", true, true},
        {"keys in any case, blanks, other lines", "# ports\nSERVERPORT   %S\nother 5\n  EventPort\t%E\n", true, true},
        {"only the request port, mixed case", "ServerPort %S\n", true, false},
        {"only the event port", "eventport %E\n", false, true},
        {"no file", nullptr, false, false},
        {"numbers that are no ports", "serverport 0\neventport 70000\n", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempRoot root;
        TestServer server(root);
        ASSERT_TRUE(server.Prepare());
        int serverPort = c.requestFromFile ? server.port : kDefaultServerPort;
        int eventPort = c.eventFromFile ? server.eventPort : kDefaultEventPort;
        if ((!c.requestFromFile && !PortFree(serverPort)) || (!c.eventFromFile && !PortFree(eventPort))) {
            std::cout << "row skipped, a default port is in use: " << c.what << "\n";
            continue;
        }
        if (c.ini) {
            ASSERT_TRUE(raw::WriteSystemFile("/etc/vtn.ini", Fill(c.ini, server.port, server.eventPort)));
        } else {
            ASSERT_EQ(unlink(root.Path("/etc/vtn.ini").c_str()), 0);
        }
        server.port = serverPort;
        ASSERT_TRUE(server.Start()) << server.Stderr();
        Socket sock;
        raw::LoginResult login = server.Connect(&sock);
        ASSERT_EQ(login.status, 0u);
        EXPECT_EQ(login.notice.eventPort, eventPort);
        EXPECT_TRUE(WaitForPort(eventPort, raw::kWaitMs));
        EXPECT_EQ(server.Stop(), 0);
    }
}

TEST(ServerProcess, SecondInstanceCannotBindAndEndsWith255)
{
    TempRoot root;
    TestServer first(root);
    ASSERT_TRUE(first.Prepare());
    ASSERT_TRUE(first.Start());

    std::string output;
    EXPECT_EQ(RunProgram({TestServer::ServerProgram(), "-NODAEMON"}, &output), 255);
    EXPECT_NE(output.find("bind()"), std::string::npos) << output;

    Socket sock;
    EXPECT_EQ(first.Connect(&sock).status, 0u) << "the first instance still serves";
    EXPECT_EQ(first.Stop(), 0);
}

struct ChannelCase {
    const char* what;
    std::vector<std::vector<std::string>> sim;   // vtnsim commands run first
    const char* vtncfg;                           // first line of "/etc/vtncfg", nullptr: none
    bool serves;
};

TEST(ServerProcess, WithoutAnAnsweringDriverChannelItEndsWith255)
{
    const ChannelCase cases[] = {
        {"no simulated controller at all", {}, nullptr, false},
        {"the controller answers an unknown channel name", {{"init"}, {"set", "channel", "vtnelse.status"}}, nullptr,
         false},
        {"the configured channel is that name", {{"init"}, {"set", "channel", "vtnelse.status"}}, "vtnelse.status\n",
         true},
        {"the second built-in name", {{"init"}, {"set", "channel", "vtnsela.status"}}, nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempRoot root;
        TestServer server(root);
        for (const auto& args : c.sim)
            ASSERT_EQ(server.Sim(args), 0);
        server.port = FreeTcpPort();
        server.eventPort = FreeTcpPort();
        ASSERT_TRUE(raw::WriteSystemFile("/etc/vtn.ini", "serverport " + std::to_string(server.port) +
                                                             "\neventport " + std::to_string(server.eventPort) + "\n"));
        if (c.vtncfg) {
            ASSERT_TRUE(raw::WriteSystemFile("/etc/vtncfg", c.vtncfg));
        }
        if (c.serves) {
            ASSERT_TRUE(server.Start()) << server.Stderr();
            EXPECT_EQ(server.Stop(), 0);
        } else {
            EXPECT_EQ(RunProgram({TestServer::ServerProgram(), "-NODAEMON"}), 255);
            EXPECT_FALSE(FileExists(root.Path("/etc/vtnuser.dat"))) << "ended before its set-up";
        }
    }
}

TEST(ServerProcess, StopSignalsCloseTheClientAndEndWithStatus0)
{
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(sig));
        TempRoot root;
        TestServer server(root);
        ASSERT_TRUE(server.Prepare());
        ASSERT_TRUE(server.Start());
        Socket client;
        ASSERT_EQ(server.Connect(&client).status, 0u);
        Socket events(raw::BindEvents(server.eventPort, static_cast<uint16_t>(server.eventPort)));
        ASSERT_TRUE(raw::StaysOpenAndSilent(events.fd(), 300));

        kill(server.Pid(), sig);
        EXPECT_EQ(server.ExitStatus(raw::kWaitMs), 0);
        EXPECT_TRUE(raw::ClosedByPeer(client.fd()));
        EXPECT_TRUE(raw::ClosedByPeer(events.fd()));
    }
}

// Array ids of the controller's state as vtnsim shows it, with their operation.
std::map<uint32_t, std::string> Arrays(TestServer& server)
{
    std::string text;
    EXPECT_EQ(server.Sim({"show", "--json"}, &text), 0);
    std::map<uint32_t, std::string> arrays;
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.contains("arrays")) {
        ADD_FAILURE() << "no state: " << text;
        return arrays;
    }
    for (const auto& a : j["arrays"])
        arrays[a["id"].get<uint32_t>()] = a["op"].get<std::string>();
    return arrays;
}

std::vector<uint32_t> DiskIds(TestServer& server)
{
    std::string text;
    EXPECT_EQ(server.Sim({"show", "--json"}, &text), 0);
    std::vector<uint32_t> ids;
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (!j.is_discarded() && j.contains("disks"))
        for (const auto& d : j["disks"])
            ids.push_back(d["id"].get<uint32_t>());
    return ids;
}

uint32_t CreateArray(int sock, uint8_t type, uint8_t option, const char* name, std::vector<uint32_t> members)
{
    _CREATE_ARRAY_PARAMS p{};
    p.raidType = type;
    p.memberCount = static_cast<uint8_t>(members.size());
    p.blockCode = VTN_BLOCK_CODE_DEFAULT;
    p.option = option;
    CopyText(p.name, name);
    for (size_t i = 0; i < members.size() && i < 8; ++i)
        p.members[i] = members[i];
    raw::Reply r = raw::DriverCall(sock, VTN_CTL_CREATE_ARRAY, &p, sizeof(p), 4);
    EXPECT_FALSE(r.isStatus()) << std::hex << r.status();
    return r.At<uint32_t>(36);
}

TEST(ServerProcess, SigtermAbortsAndDeletesOnlyTheInitialisingArray)
{
    TempRoot root;
    TestServer server(root);
    ASSERT_TRUE(server.Prepare("sata8"));
    ASSERT_EQ(server.Sim({"set", "rate", "1"}), 0);   // the initialisation lasts past the stop
    std::vector<uint32_t> disks = DiskIds(server);
    ASSERT_GE(disks.size(), 5u);
    ASSERT_TRUE(server.Start());

    Socket sock;
    ASSERT_EQ(server.Connect(&sock).status, 0u);
    uint32_t stripe = CreateArray(sock.fd(), VTN_RAID0, 0, "Stripe", {disks[0], disks[1]});
    uint32_t parity = CreateArray(sock.fd(), VTN_RAID5, VTN_CREATE_RAID5_ZERO_BUILD, "Parity", {disks[2], disks[3], disks[4]});
    ASSERT_NE(stripe, 0u);
    ASSERT_NE(parity, 0u);
    std::map<uint32_t, std::string> before = Arrays(server);
    ASSERT_EQ(before.size(), 2u);
    ASSERT_EQ(before[parity], "init") << "the RAID 5 initialises";
    ASSERT_EQ(before[stripe], "none");

    EXPECT_EQ(server.Stop(), 0);
    std::map<uint32_t, std::string> after = Arrays(server);
    EXPECT_EQ(after.size(), 1u);
    EXPECT_EQ(after.count(stripe), 1u);
    EXPECT_EQ(after.count(parity), 0u);
}

// The pid of the vtnsvr process whose environment holds VTN_ROOT=root (as it was started), or -1.
pid_t FindServerProcess(const std::string& root)
{
    char program[PATH_MAX];
    if (realpath(TestServer::ServerProgram().c_str(), program) == nullptr)
        return -1;
    const std::string wanted = "VTN_ROOT=" + root;
    pid_t found = -1;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return -1;
    while (dirent* e = readdir(proc)) {
        char* end = nullptr;
        long pid = strtol(e->d_name, &end, 10);
        if (*end != '\0' || pid <= 0)
            continue;
        char exe[PATH_MAX] = {};
        std::string base = std::string("/proc/") + e->d_name;
        ssize_t n = readlink((base + "/exe").c_str(), exe, sizeof(exe) - 1);
        if (n <= 0 || std::string(exe, static_cast<size_t>(n)) != program)
            continue;
        std::string env = ReadFileText(base + "/environ");
        for (size_t pos = 0; pos < env.size();) {
            size_t next = env.find('\0', pos);
            if (next == std::string::npos)
                next = env.size();
            if (env.compare(pos, next - pos, wanted) == 0)
                found = static_cast<pid_t>(pid);
            pos = next + 1;
        }
    }
    closedir(proc);
    return found;
}

std::string LinkOf(const std::string& path)
{
    char buf[PATH_MAX] = {};
    ssize_t n = readlink(path.c_str(), buf, sizeof(buf) - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
}

// Starts a daemon of the server with start() (the exit code of the process that detaches) and
// waits for it to listen on the server's port; its pid, or -1. A daemon that lost its port to
// another test meanwhile ends unseen: it is started again on new ports.
pid_t StartDaemon(TestServer* server, const std::string& root, const std::function<int()>& start)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0 && !server->PickPorts())
            return -1;
        const int parent = start();
        EXPECT_EQ(parent, 0) << "the parent ends with 0";
        if (parent != 0)
            return -1;
        // The daemon's own socket: another test's server may hold the port meanwhile. No daemon
        // 3 s after the parent ended: it ended too.
        const auto started = std::chrono::steady_clock::now();
        const bool listening = WaitWhile(
            [&] {
                const pid_t daemon = FindServerProcess(root);
                return daemon > 0 && ListensOn(daemon, server->port);
            },
            raw::kWaitMs,
            [&] {
                return std::chrono::steady_clock::now() - started < std::chrono::seconds(3) ||
                       FindServerProcess(root) > 0;
            });
        if (listening)
            return FindServerProcess(root);
    }
    return -1;
}

struct ArgumentCase {
    const char* what;
    std::vector<std::string> args;
    bool daemon;
};

TEST(ServerProcess, DaemonModeUnlessTheFirstArgumentIsNodaemon)
{
    const ArgumentCase cases[] = {
        {"no argument", {}, true},
        {"another argument", {"-DAEMON"}, true},
        {"too short", {"-NODAEMO"}, true},
        {"-NODAEMON", {"-NODAEMON"}, false},
        {"lower case", {"-nodaemon"}, false},
        {"longer argument with the same start", {"-NoDaemonPlease"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempRoot root;
        TestServer server(root);
        ASSERT_TRUE(server.Prepare());
        if (!c.daemon) {
            ASSERT_TRUE(server.Start({}, c.args));
            EXPECT_TRUE(server.Running()) << "the started process itself serves";
            EXPECT_EQ(server.Stop(), 0);
            continue;
        }
        std::vector<std::string> argv{TestServer::ServerProgram()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const pid_t pid = StartDaemon(&server, root.Dir(), [&] { return RunProgram(argv); });
        ASSERT_GT(pid, 0);
        std::string base = "/proc/" + std::to_string(pid);
        EXPECT_EQ(LinkOf(base + "/cwd"), "/");
        for (int fd : {0, 1, 2})
            EXPECT_EQ(LinkOf(base + "/fd/" + std::to_string(fd)), "/dev/null") << fd;
        EXPECT_NE(getsid(pid), pid) << "not a session leader, so it never gets a terminal";
        EXPECT_NE(getsid(pid), getsid(0));

        Socket sock;
        EXPECT_EQ(server.Connect(&sock).status, 0u);
        sock.Close();
        kill(pid, SIGTERM);
        // Gone, or a zombie that waits for its new parent to reap it.
        EXPECT_TRUE(WaitWhile([pid] { return ProcessEnded(pid); }, 20000, [] { return true; }));
    }
}

TEST(ServerProcess, ADaemonTakesARelativeRootFromTheFolderItWasStartedIn)
{
    TempRoot root;
    TestServer server(root);
    ASSERT_TRUE(server.Prepare());
    const size_t slash = root.Dir().rfind('/');
    const std::string parent = root.Dir().substr(0, slash);
    const std::string relative = root.Dir().substr(slash + 1);
    // Started as a user starts it: from the root's parent, with the root's own name.
    auto startFromParent = [&](const std::string& value, std::string* said) {
        int pipeFds[2];
        // Only the copy on 2 reaches the program: the end of what it says is the daemon closing 2.
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            return -1;
        pid_t child = ForkChild([&] {
            dup2(pipeFds[1], 2);
            if (chdir(parent.c_str()) != 0 || setenv("VTN_ROOT", value.c_str(), 1) != 0)
                _exit(126);
            const std::string program = TestServer::ServerProgram();
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        });
        close(pipeFds[1]);
        char buf[512];
        for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) > 0;)
            said->append(buf, static_cast<size_t>(n));
        close(pipeFds[0]);
        return JoinChild(child);
    };

    std::string said;
    EXPECT_EQ(startFromParent(relative + "/missing", &said), 1) << "refused before it detaches";
    EXPECT_EQ(said.rfind("vtnsvr: VTN_ROOT /", 0), 0u) << "made absolute: " << said;
    EXPECT_NE(said.find(relative + "/missing: No such file or directory\n"), std::string::npos) << said;

    const pid_t pid = StartDaemon(&server, relative, [&] {
        said.clear();
        return startFromParent(relative, &said);
    });
    ASSERT_GT(pid, 0) << "the daemon serves from its root; it said: " << said;
    EXPECT_EQ(LinkOf("/proc/" + std::to_string(pid) + "/cwd"), "/");
    Socket sock;
    EXPECT_EQ(server.Connect(&sock).status, 0u);
    sock.Close();
    EXPECT_TRUE(FileExists(root.Path("/etc/vtnuser.dat"))) << "its files are in its root";
    kill(pid, SIGTERM);
    EXPECT_TRUE(WaitWhile([pid] { return ProcessEnded(pid); }, 20000, [] { return true; }));
}

}  // namespace

namespace {

struct ParamCase {
    const char* what;
    const char* ini;           // "/etc/vtn.ini" before the change (%S, %E: the ports in use); nullptr: none
    uint32_t flags;            // valid bits of the change
    int serverPort, eventPort; // given ports; -1: a free port
    uint32_t status;
    const char* after;         // the file afterwards (%S, %E in use, %s, %e given); nullptr: unchanged
};

TEST(ServerProcess, ServerParametersAreWrittenForTheNextStart)
{
    TempRoot root;
    TestServer server(root);
    ASSERT_TRUE(server.Prepare());
    const std::string inUse = "serverport\t" + std::to_string(server.port) + "\neventport\t" +
                              std::to_string(server.eventPort) + "\n";
    ASSERT_TRUE(server.Start());
    Socket sock;
    ASSERT_EQ(server.Connect(&sock).status, 0u);

    const ParamCase cases[] = {
        {"both ports", "%I", 0x3, -1, -1, 0, "serverport\t%s\neventport\t%e\n"},
        {"only the event port keeps the file's request port", "serverport 9001\neventport 9002\n", 0x2, 0, -1, 0,
         "serverport\t9001\neventport\t%e\n"},
        {"a key the file lacks takes the port in use", "eventport 9002\n", 0x2, 0, -1, 0,
         "serverport\t%S\neventport\t%e\n"},
        {"no file: the other port is the one in use", nullptr, 0x1, -1, 0, 0, "serverport\t%s\neventport\t%E\n"},
        {"port 0 is refused", "%I", 0x1, 0, 0, VTN_FAILURE, nullptr},
        {"two equal ports are refused", "%I", 0x3, 5000, 5000, VTN_FAILURE, nullptr},
        {"a port equal to the other one in use is refused", "%I", 0x1, server.eventPort, 0, VTN_FAILURE, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string before;
        if (c.ini) {
            before = std::string(c.ini) == "%I" ? inUse : c.ini;
            ASSERT_TRUE(raw::WriteSystemFile("/etc/vtn.ini", before));
        } else {
            unlink(root.Path("/etc/vtn.ini").c_str());
        }
        _CS_ALTERABLE_SERVER_PARAM p{};
        p.flags = c.flags;
        int given[2] = {c.serverPort < 0 ? FreeTcpPort() : c.serverPort, c.eventPort < 0 ? FreeTcpPort() : c.eventPort};
        p.serverPort = static_cast<uint16_t>(given[0]);
        p.eventPort = static_cast<uint16_t>(given[1]);
        raw::Reply r = raw::Request(sock.fd(), VTN_GROUP_SYSTEM, VTN_CODE_SET_SERVER_PARAM, &p, sizeof(p));
        ASSERT_TRUE(r.isStatus());
        EXPECT_EQ(r.status(), c.status);
        std::string expected = c.after ? c.after : before;
        for (auto [mark, value] : {std::pair{"%S", server.port}, std::pair{"%E", server.eventPort},
                                   std::pair{"%s", given[0]}, std::pair{"%e", given[1]}})
            for (size_t pos; (pos = expected.find(mark)) != std::string::npos;)
                expected.replace(pos, 2, std::to_string(value));
        if (c.ini || c.after)
            EXPECT_EQ(ReadFileText(root.Path("/etc/vtn.ini")), expected);
        else
            EXPECT_FALSE(FileExists(root.Path("/etc/vtn.ini")));
    }
    // Nothing but the file is left in its folder: it was written beside and renamed.
    for (const std::string& name : FolderEntries(root.Path("/etc")))
        EXPECT_TRUE(name.find("vtn.ini") == std::string::npos || name == "vtn.ini") << name;
}

struct ReadParamCase {
    const char* what;
    const char* ini;   // nullptr: no file
    uint32_t flags;
    bool serverFromFile, eventFromFile;
};

TEST(ServerProcess, ServerParametersAsReadFillThePortsInUse)
{
    TempRoot root;
    TestServer server(root);
    ASSERT_TRUE(server.Prepare());
    ASSERT_TRUE(server.Start());
    Socket sock;
    ASSERT_EQ(server.Connect(&sock).status, 0u);
    const ReadParamCase cases[] = {
        {"both keys", "serverport 9001\neventport 9002\n", 0x3, true, true},
        {"only the request port", "serverport 9001\n", 0x1, true, false},
        {"only the event port", "eventport 9002\n", 0x2, false, true},
        {"no file", nullptr, 0, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.ini) {
            ASSERT_TRUE(raw::WriteSystemFile("/etc/vtn.ini", c.ini));
        } else {
            unlink(root.Path("/etc/vtn.ini").c_str());
        }
        raw::Reply r = raw::RequestSized(sock.fd(), VTN_GROUP_SYSTEM, VTN_CODE_GET_SERVER_PARAM,
                                         sizeof(_CS_ALTERABLE_SERVER_PARAM));
        ASSERT_FALSE(r.isStatus());
        _CS_ALTERABLE_SERVER_PARAM p = r.At<_CS_ALTERABLE_SERVER_PARAM>(sizeof(_Packet_Head));
        EXPECT_EQ(p.flags, c.flags);
        EXPECT_EQ(p.serverPort, c.serverFromFile ? 9001 : server.port);
        EXPECT_EQ(p.eventPort, c.eventFromFile ? 9002 : server.eventPort);
    }
}

}  // namespace
