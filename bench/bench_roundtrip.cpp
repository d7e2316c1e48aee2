// Round trips through vtnsvr against a raw TCP ping-pong of the same sizes on loopback, and the
// time of a login. Starts the simulated controller and `vtnsvr -NODAEMON` under a temporary
// VTN_ROOT; prints medians and their ratio.
//
// Usage: bench_roundtrip [ROUNDS] [BUILD_DIR]   (BUILD_DIR: where server/vtnsvr and
// platform/vtnsim are; by default the build folder this program was built in).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "commu.h"
#include "encript.h"
#include "global.h"
#include "svrrec.h"
#include "rawclient.h"
#include "testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One request and its reply of known length; false when the reply was not that long.
bool RoundTrip(int s, std::vector<char>& req, std::vector<char>& reply)
{
    return raw::SendAll(s, req.data(), req.size()) && raw::RecvAll(s, reply.data(), reply.size()) == reply.size();
}

// Echo peer for the raw ping-pong: reads reqSize bytes, answers replySize bytes, until closed.
void PingPongPeer(int listener, size_t reqSize, size_t replySize)
{
    int c = accept(listener, nullptr, nullptr);
    if (c < 0)
        return;
    int one = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    std::vector<char> in(reqSize), out(replySize, 'r');
    while (raw::RecvAll(c, in.data(), in.size()) == in.size() && raw::SendAll(c, out.data(), out.size())) {
    }
    close(c);
}

std::vector<double> RawPingPong(size_t reqSize, size_t replySize, int rounds)
{
    int l = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    if (l < 0 || bind(l, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(l, 1) != 0 ||
        getsockname(l, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return {};
    std::thread peer(PingPongPeer, l, reqSize, replySize);
    int s = raw::ConnectTo(ntohs(a.sin_port));
    int one = 1;
    if (s >= 0)
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    std::vector<double> times;
    std::vector<char> req(reqSize, 'q'), reply(replySize);
    for (int i = 0; s >= 0 && i < rounds; ++i) {
        auto t0 = Clock::now();
        if (!RoundTrip(s, req, reply))
            break;
        times.push_back(Micros(Clock::now() - t0));
    }
    if (s >= 0)
        close(s);
    peer.join();
    close(l);
    return times;
}

std::vector<double> ServerRounds(int s, std::vector<char> req, size_t replySize, int rounds)
{
    std::vector<double> times;
    std::vector<char> reply(replySize);
    for (int i = 0; i < rounds; ++i) {
        auto t0 = Clock::now();
        if (!RoundTrip(s, req, reply))
            break;
        times.push_back(Micros(Clock::now() - t0));
    }
    return times;
}

void Report(const char* what, size_t reqSize, size_t replySize, const std::vector<double>& server,
            const std::vector<double>& rawTcp)
{
    double ms = Median(server), mr = Median(rawTcp);
    printf("%-22s %4zu/%4zu bytes  server %8.1f us  raw TCP %8.1f us  ratio %6.2f  (%zu/%zu rounds)\n", what,
           reqSize, replySize, ms, mr, mr > 0 ? ms / mr : 0.0, server.size(), rawTcp.size());
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 2000;
    if (rounds <= 0)
        rounds = 2000;
    std::string bin = argc > 2 ? argv[2] : VTN_BINARY_DIR;
    signal(SIGPIPE, SIG_IGN);

    TempRoot root;
    raw::TestServer server(root, bin);
    if (!server.Prepare("sata4") || !server.Start()) {
        fprintf(stderr, "vtnsvr did not start: %s\n", server.Stderr().c_str());
        return 1;
    }
    auto login = [&server]() {
        raw::Socket sock;
        raw::LoginResult r = server.Connect(&sock);
        if (!r.answered || r.status != 0)
            return -1;
        return sock.Release();
    };

    // Logins: each session is closed and the next one waits until the slot is free again.
    std::vector<double> logins;
    for (int i = 0; i < 50; ++i) {
        auto t0 = Clock::now();
        int s = login();
        auto t1 = Clock::now();
        if (s < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        logins.push_back(Micros(t1 - t0));
        close(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    int s = -1;
    for (int i = 0; i < 100 && s < 0; ++i) {
        s = login();
        if (s < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (s < 0) {
        fprintf(stderr, "login failed\n");
        return 1;
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));

    // 0x404: the current user record, 296 bytes each way.
    std::vector<char> user(sizeof(_VTN_REQ_USER), 0);
    FillPacketHead(reinterpret_cast<_Packet_Head*>(user.data()), static_cast<uint32_t>(user.size()),
                   VTN_PACKET_REQUEST, VTN_GROUP_USER, VTN_CODE_CURRENT_USER);
    std::vector<double> userServer = ServerRounds(s, user, user.size(), rounds);

    // 0xFF05 on the first device: 44 bytes out, 36 + 174 back.
    uint32_t ids[9] = {};
    {
        std::vector<char> list(sizeof(_VTN_DRIVER_CALL) + 4, 0);
        auto* call = reinterpret_cast<_VTN_DRIVER_CALL*>(list.data());
        FillPacketHead(&call->head, static_cast<uint32_t>(list.size()), VTN_PACKET_REQUEST, VTN_GROUP_DRIVER, 0);
        call->code = 0xFF04;
        call->inSize = 4;
        call->outSize = sizeof(ids);
        uint32_t max = 8;
        memcpy(list.data() + sizeof(_VTN_DRIVER_CALL), &max, 4);
        std::vector<char> reply(sizeof(_VTN_DRIVER_REPLY) + sizeof(ids));
        if (!RoundTrip(s, list, reply) || reinterpret_cast<_Packet_Head*>(reply.data())->type != VTN_PACKET_REPLY) {
            fprintf(stderr, "device list failed\n");
            return 1;
        }
        memcpy(ids, reply.data() + sizeof(_VTN_DRIVER_REPLY), sizeof(ids));
    }
    std::vector<char> info(sizeof(_VTN_DRIVER_CALL) + 4, 0);
    auto* call = reinterpret_cast<_VTN_DRIVER_CALL*>(info.data());
    FillPacketHead(&call->head, static_cast<uint32_t>(info.size()), VTN_PACKET_REQUEST, VTN_GROUP_DRIVER, 0);
    call->code = 0xFF05;
    call->inSize = 4;
    call->outSize = 174;
    memcpy(info.data() + sizeof(_VTN_DRIVER_CALL), &ids[1], 4);
    const size_t infoReply = sizeof(_VTN_DRIVER_REPLY) + 174;
    std::vector<double> driverServer = ServerRounds(s, info, infoReply, rounds);
    close(s);

    std::vector<double> userRaw = RawPingPong(user.size(), user.size(), rounds);
    std::vector<double> driverRaw = RawPingPong(info.size(), infoReply, rounds);

    printf("median round trips on loopback (%d rounds each)\n", rounds);
    Report("request 0x404", user.size(), user.size(), userServer, userRaw);
    Report("driver call 0xFF05", info.size(), infoReply, driverServer, driverRaw);
    printf("%-22s median %.1f us (%zu logins)\n", "login", Median(logins), logins.size());

    server.Stop();
    return userServer.empty() || driverServer.empty() ? 1 : 0;
}
