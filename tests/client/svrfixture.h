// The client tests' server: the real vtnsvr in the foreground under a given VTN_ROOT, on free
// loopback ports, with a simulated controller preset; stopped with SIGTERM. Header-only.
#pragma once
#include <csignal>
#include <string>
#include <vector>

#include <chrono>
#include <thread>

#include "../system/rawclient.h"
#include "client.h"
#include "testutil.h"
#include "textutil.h"
#include "vtnstatus.h"

#ifndef VTN_BINARY_DIR
#error "VTN_BINARY_DIR must be defined"
#endif

// The system tests' server under test, started whole: both ports listening.
class ServerProcess : public raw::TestServer {
public:
    using raw::TestServer::TestServer;

    // Initialises the controller from a preset (empty: leave the state as it is), writes the
    // ports to "/etc/vtn.ini" and starts the server. True once it accepts on both ports.
    bool Start(const std::string& preset = "sata4")
    {
        return Prepare(preset) && raw::TestServer::Start() && WaitForPort(eventPort, raw::kWaitMs);
    }
    // SIGTERM, then the child's wait (the child is killed at the end if it is still there).
    void Stop()
    {
        if (Running())
            raw::TestServer::Stop();
    }
    int Port() const { return port; }
    int EventPort() const { return eventPort; }
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
