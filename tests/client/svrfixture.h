// Starts the real vtnsvr in the foreground under a given VTN_ROOT, on free loopback ports,
// with a simulated controller preset; stops it with SIGTERM. Header-only.
#pragma once
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <chrono>
#include <thread>

#include "client.h"
#include "testutil.h"
#include "textutil.h"
#include "vtnstatus.h"

#ifndef VTN_BINARY_DIR
#error "VTN_BINARY_DIR must be defined"
#endif

class ServerProcess {
public:
    // root: the VTN_ROOT of this server (a TempRoot's folder or a folder inside it).
    explicit ServerProcess(std::string root) : root_(std::move(root)) {}
    ~ServerProcess() { Stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    static std::string ServerProgram() { return std::string(VTN_BINARY_DIR) + "/server/vtnsvr"; }
    static std::string SimProgram() { return std::string(VTN_BINARY_DIR) + "/platform/vtnsim"; }

    // Runs vtnsim with this server's root; its exit code, output in *out.
    int Sim(const std::vector<std::string>& args, std::string* out = nullptr) const
    {
        std::vector<std::string> argv{SimProgram()};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, out, {"VTN_ROOT=" + root_});
    }

    // Initialises the controller from a preset (empty: leave the state as it is), writes the
    // ports to "/etc/vtn.ini" and starts the server. True once it accepts on its port.
    bool Start(const std::string& preset = "sata4")
    {
        if (!preset.empty() && Sim({"init", "--preset", preset}) != 0)
            return false;
        port_ = FreeTcpPort();
        eventPort_ = FreeTcpPort();
        while (eventPort_ == port_)
            eventPort_ = FreeTcpPort();
        std::error_code ec;
        std::filesystem::create_directories(root_ + "/etc", ec);
        if (!WriteFileText(root_ + "/etc/vtn.ini", "serverport " + std::to_string(port_) + "\neventport " +
                                                       std::to_string(eventPort_) + "\n"))
            return false;
        if (!child_.Start({ServerProgram(), "-NODAEMON"}, {"VTN_ROOT=" + root_}, root_ + "/vtnsvr.out",
                          root_ + "/vtnsvr.err"))
            return false;
        return WaitForPort(port_, 20000) && WaitForPort(eventPort_, 20000);
    }

    // SIGTERM, then the child's wait (ChildProcess kills what is left at its end).
    void Stop()
    {
        if (child_.Pid() > 0 && child_.Running()) {
            child_.Signal(SIGTERM);
            child_.Wait(20000);
        }
    }

    // Ends the server at once, as a crash would.
    void Kill()
    {
        if (child_.Pid() > 0 && child_.Running()) {
            child_.Signal(SIGKILL);
            child_.Wait(20000);
        }
    }

    const std::string& Root() const { return root_; }
    int Port() const { return port_; }
    int EventPort() const { return eventPort_; }
    ChildProcess& Process() { return child_; }

private:
    std::string root_;
    int port_ = 0;
    int eventPort_ = 0;
    ChildProcess child_;
};

// The default user every fresh server creates.
constexpr const char* kDefaultUser = "RAID";
constexpr const char* kDefaultPassword = "wqx";

// Logs in to 127.0.0.1:port; the handle, or the status of the last attempt. The server takes
// one client at a time and closes a newcomer while the previous session is still ending, so a
// failed handshake is tried again for a while.
inline int LoginTo(int port, const char* user, const char* password, void (*callback)())
{
    int r = -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        _CS_CONNECTION_INFO info{};
        CopyText(info.host, "127.0.0.1");
        info.port = static_cast<uint16_t>(port);
        CopyText(info.user, user);
        CopyText(info.password, password);
        info.callback = callback;
        r = cs_vtn_connect_system(&info);
        if (r != static_cast<int>(VTN_LOGIN_HANDSHAKE))
            return r;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return r;
}
