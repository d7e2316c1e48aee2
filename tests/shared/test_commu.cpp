// Packet transport over real loopback TCP. Uses writer threads: VTN_THREADED_TEST
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "commu.h"
#include "testutil.h"
#include "vtnstatus.h"

namespace {

std::atomic<int> g_calls{0};
std::atomic<int> g_lastParam{-1};

void CountCall(int param)
{
    g_calls.fetch_add(1);
    g_lastParam.store(param);
}

const int kTimedOut = static_cast<int>(VTN_RECV_TIMEOUT);
const int kClosed = static_cast<int>(VTN_CONN_CLOSED);

void Pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A listening socket on 127.0.0.1, any free port.
int Listen(unsigned short* port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(fd, 4) != 0)
        return -1;
    socklen_t len = sizeof(addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    *port = ntohs(addr.sin_port);
    return fd;
}

// The lowest free descriptor number: unchanged when a call leaked nothing.
int NextFd()
{
    int fd = dup(0);
    close(fd);
    return fd;
}

void SendRaw(int fd, const std::vector<char>& bytes, size_t from, size_t to)
{
    ASSERT_EQ(send(fd, bytes.data() + from, to - from, MSG_NOSIGNAL), static_cast<ssize_t>(to - from));
}

std::vector<char> MakePacket(uint32_t payload, uint8_t type = VTN_PACKET_REPLY)
{
    std::vector<char> bytes(sizeof(_Packet_Head) + payload);
    FillPacketHead(reinterpret_cast<_Packet_Head*>(bytes.data()), static_cast<uint32_t>(bytes.size()), type, 0x300,
                   0x303);
    for (size_t i = sizeof(_Packet_Head); i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    return bytes;
}

// A connected pair: `client` from ConnectToServer, `server` from accept.
class Commu : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_calls = 0;
        g_lastParam = -1;
        unsigned short port = 0;
        listener = Listen(&port);
        ASSERT_GE(listener, 0);
        char host[] = "127.0.0.1";
        client = ConnectToServer(host, port);
        ASSERT_GE(client, 0);
        server = accept(listener, nullptr, nullptr);
        ASSERT_GE(server, 0);
    }
    void TearDown() override
    {
        for (int fd : {client, server, listener})
            if (fd >= 0)
                close(fd);
    }
    void CloseServer(bool reset)
    {
        if (reset) {
            linger lg{1, 0};
            setsockopt(server, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
        }
        close(server);
        server = -1;
    }

    TempRoot root;
    int listener = -1, client = -1, server = -1;
    _CALLBACK_PARAM cb{CountCall, 7};
};

TEST(CommuConnect, ResolvesConnectsAndRefuses)
{
    unsigned short port = 0;
    int listener = Listen(&port);
    ASSERT_GE(listener, 0);
    for (const char* name : {"127.0.0.1", "localhost"}) {
        std::string host = name;
        int sock = ConnectToServer(host.data(), port);
        ASSERT_GE(sock, 0) << name;
        int peer = accept(listener, nullptr, nullptr);
        ASSERT_GE(peer, 0) << name;
        char byte = 'x';
        EXPECT_EQ(SendBufToRemote(sock, &byte, 1, 1, nullptr), 1) << name;
        char got = 0;
        EXPECT_EQ(RecvBufFromRemote(peer, &got, 1, 1, nullptr), 1) << name;
        EXPECT_EQ(got, 'x') << name;
        DisConnect(sock);
        close(peer);
    }
    close(listener);

    char loopback[] = "127.0.0.1";
    int before = NextFd();
    EXPECT_EQ(ConnectToServer(loopback, port), -1);  // nobody listens any more
    EXPECT_EQ(NextFd(), before);

    // A label over 63 characters cannot become a DNS query, so this fails without traffic.
    std::string bad = std::string(70, 'a') + ".invalid";
    EXPECT_EQ(ConnectToServer(bad.data(), port), -1);
    EXPECT_EQ(NextFd(), before);
    EXPECT_EQ(ConnectToServer(nullptr, port), -1);
}

TEST(CommuNoSocket, FailsAtOnceEvenWithoutTimeLimit)
{
    g_calls = 0;
    _CALLBACK_PARAM cb{CountCall, 3};
    char buf[24] = {};
    EXPECT_EQ(SendBufToRemote(-1, buf, 24, -1, &cb), -1);
    EXPECT_EQ(RecvBufFromRemote(-1, buf, 24, -1, &cb), kClosed);
    EXPECT_EQ(g_calls, 2);
    EXPECT_EQ(GetPacket(-1, buf, 24, MSG_PEEK, -1, &cb), -1);
    EXPECT_EQ(g_calls, 2);
}

TEST_F(Commu, PeekLeavesTheHeadThenThePacketComesWhole)
{
    std::vector<char> packet = MakePacket(100);
    EXPECT_EQ(SendBufToRemote(client, packet.data(), static_cast<int>(packet.size()), 0, &cb), 124);

    for (int pass = 0; pass < 2; ++pass) {
        _Packet_Head head{};
        EXPECT_EQ(PeekPacketHead(server, &head, 2, &cb), 24);
        EXPECT_TRUE(IsPacketMagic(&head));
        EXPECT_EQ(head.length, 124u);
        EXPECT_EQ(head.type, VTN_PACKET_REPLY);
        EXPECT_EQ(head.code, 0x303u);
    }
    std::vector<char> got(packet.size());
    EXPECT_EQ(RecvBufFromRemote(server, got.data(), static_cast<int>(got.size()), 2, &cb), 124);
    EXPECT_EQ(got, packet);
    EXPECT_EQ(g_calls, 0);
}

TEST_F(Commu, StatusPacketBytes)
{
    EXPECT_EQ(GetErrorSendTimeout(), 60);
    for (uint32_t status : {VTN_SUCCESS, VTN_NOT_FOUND, VTN_FAILURE}) {
        EXPECT_EQ(SendErrorToRemote(client, static_cast<int>(status), &cb), 28);
        unsigned char got[28];
        ASSERT_EQ(RecvBufFromRemote(server, reinterpret_cast<char*>(got), 28, 2, &cb), 28);
        const unsigned char head[] = {28, 0, 0, 0, 'v', 't', 'n', '_', 's', 't', 'o', 'r', 4};
        EXPECT_EQ(std::memcmp(got, head, sizeof(head)), 0);
        uint32_t word = got[24] | got[25] << 8 | got[26] << 16 | static_cast<uint32_t>(got[27]) << 24;
        EXPECT_EQ(word, status);
    }
    EXPECT_EQ(g_calls, 0);
}

TEST_F(Commu, IdleSocketTimesOut)
{
    struct Case {
        int flags;
        int timeout;
        int calls;  // a poll that finds nothing is no lost connection
    } cases[] = {{0, 0, 0}, {MSG_PEEK, 0, 0}, {0, 1, 1}, {MSG_PEEK, 1, 1}};
    for (const Case& c : cases) {
        g_calls = 0;
        char buf[24];
        EXPECT_EQ(GetPacket(server, buf, 24, c.flags, c.timeout, &cb), kTimedOut) << c.flags << "/" << c.timeout;
        EXPECT_EQ(g_calls, c.calls) << c.flags << "/" << c.timeout;
    }
    EXPECT_EQ(g_lastParam, 7);
    char buf[24];
    EXPECT_EQ(GetPacket(server, buf, 24, 0, 1, nullptr), kTimedOut);  // no callback wanted
}

TEST_F(Commu, UnlimitedWaitEndsOnDataOrClose)
{
    for (bool closeInstead : {false, true}) {
        g_calls = 0;
        std::vector<char> packet = MakePacket(0);
        std::thread peer([&] {
            Pause(300);
            if (closeInstead)
                shutdown(server, SHUT_WR);
            else
                SendRaw(server, packet, 0, packet.size());
        });
        char buf[24];
        int r = RecvBufFromRemote(client, buf, 24, -1, &cb);
        peer.join();
        EXPECT_EQ(r, closeInstead ? kClosed : 24);
        EXPECT_EQ(g_calls, closeInstead ? 1 : 0);
    }
}

TEST_F(Commu, PeerClosedOrReset)
{
    struct Case {
        bool reset;
        int peek;  // raw recv result, never a callback
    } cases[] = {{false, 0}, {true, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reset ? "reset" : "closed");
        TearDown();
        SetUp();
        CloseServer(c.reset);
        _Packet_Head head;
        EXPECT_EQ(PeekPacketHead(client, &head, 2, &cb), c.peek);
        EXPECT_EQ(g_calls, 0);
        char buf[24];
        EXPECT_EQ(RecvBufFromRemote(client, buf, 24, 2, &cb), kClosed);
        EXPECT_EQ(g_calls, 1);

        // The first sends may still be taken by our side; the failing one runs the callback once
        // and does not raise SIGPIPE.
        std::vector<char> packet = MakePacket(4);
        int r = 0;
        for (int i = 0; i < 50 && r != -1; ++i) {
            g_calls = 0;
            r = SendBufToRemote(client, packet.data(), static_cast<int>(packet.size()), 1, &cb);
            if (r != -1) {
                EXPECT_EQ(r, 28);
                EXPECT_EQ(g_calls, 0);
                Pause(20);
            }
        }
        EXPECT_EQ(r, -1);
        EXPECT_EQ(g_calls, 1);
    }
}

TEST_F(Commu, PacketArrivingInTwoPieces)
{
    // Split inside the head, right after it, and inside the payload.
    for (size_t split : {1u, 10u, 23u, 24u, 40u}) {
        SCOPED_TRACE(split);
        std::vector<char> packet = MakePacket(60);
        std::thread peer([&] {
            SendRaw(server, packet, 0, split);
            Pause(200);
            SendRaw(server, packet, split, packet.size());
        });
        _Packet_Head head{};
        int peeked = PeekPacketHead(client, &head, 2, &cb);
        std::vector<char> got(packet.size());
        int r = RecvBufFromRemote(client, got.data(), static_cast<int>(head.length), 2, &cb);
        peer.join();
        EXPECT_EQ(peeked, 24);
        EXPECT_EQ(head.length, packet.size());
        EXPECT_EQ(r, static_cast<int>(packet.size()));
        EXPECT_EQ(got, packet);
        EXPECT_EQ(g_calls, 0);
    }
}

TEST_F(Commu, ShortDataComesBackOnlyOnCloseOrTimeOut)
{
    struct Case {
        bool peerCloses;
        int timeout;
        int peek, recv;
    } cases[] = {
        {true, 2, 10, 10},
        {false, 1, 10, 10},
        {false, 0, kTimedOut, kTimedOut},  // a poll takes nothing of a half-arrived packet
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.peerCloses << "/" << c.timeout);
        TearDown();
        SetUp();
        std::vector<char> packet = MakePacket(0);
        SendRaw(server, packet, 0, 10);
        if (c.peerCloses)
            CloseServer(false);
        else
            Pause(50);  // let the bytes reach the other end
        _Packet_Head head;
        EXPECT_EQ(PeekPacketHead(client, &head, c.timeout, &cb), c.peek);
        char buf[24];
        EXPECT_EQ(RecvBufFromRemote(client, buf, 24, c.timeout, &cb), c.recv);
        EXPECT_EQ(g_calls, 0);
        if (c.peerCloses) {
            EXPECT_EQ(RecvBufFromRemote(client, buf, 24, c.timeout, &cb), kClosed);
            EXPECT_EQ(g_calls, 1);
        }
        if (c.timeout == 0) {
            SendRaw(server, packet, 10, packet.size());
            Pause(50);
            EXPECT_EQ(RecvBufFromRemote(client, buf, 24, 0, &cb), 24);
            EXPECT_EQ(std::memcmp(buf, packet.data(), 24), 0);
        }
    }
}

TEST_F(Commu, LargePacketIsCompletedBothWays)
{
    std::vector<char> packet = MakePacket(16 << 20);
    std::vector<char> got(packet.size());
    std::atomic<int> received{0};
    std::thread reader([&] {
        received = RecvBufFromRemote(server, got.data(), static_cast<int>(got.size()), 10, &cb);
    });
    int sent = SendBufToRemote(client, packet.data(), static_cast<int>(packet.size()), 10, &cb);
    reader.join();
    EXPECT_EQ(sent, static_cast<int>(packet.size()));
    EXPECT_EQ(received, static_cast<int>(packet.size()));
    EXPECT_TRUE(got == packet);
    EXPECT_EQ(g_calls, 0);
}

TEST_F(Commu, SendToAPeerThatStopsReadingTimesOut)
{
    // Far more than the loopback socket buffers hold; the peer never reads.
    std::vector<char> packet = MakePacket(64 << 20);
    EXPECT_EQ(SendBufToRemote(client, packet.data(), static_cast<int>(packet.size()), 1, &cb), -1);
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(g_lastParam, 7);
}

}  // namespace
