// Connecting, logging in, the event channel and lost connections, against the real vtnsvr on
// the simulated controller (and a few scripted peers for what the server never does).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "client.h"
#include "encript.h"
#include "netfuncs.h"
#include "svrfixture.h"
#include "svrrec.h"

namespace {

int gLost = 0;
void OnLost()
{
    ++gLost;
}

// A TCP listener on 127.0.0.1 that plays a server badly.
class FakePeer {
public:
    enum Kind { Silent, AcceptAndClose, AnswerLogin };
    FakePeer(Kind kind, uint32_t status = 0) : kind_(kind), status_(status)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        listen(fd_, 4);
        socklen_t len = sizeof(a);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        if (kind_ != Silent)
            thread_ = std::thread([this] { Serve(); });
    }
    ~FakePeer()
    {
        Join();
        close(fd_);
    }
    int Port() const { return port_; }
    void Join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    // What the client sent as its login packet (after Join).
    const std::string& Login() const { return login_; }
    static constexpr char kKey[9] = "K3y.abcd";

private:
    void Serve()
    {
        int c = accept(fd_, nullptr, nullptr);
        if (c < 0)
            return;
        if (kind_ == AnswerLogin) {
            _VTN_LOGIN_GREETING g{};
            FillPacketHead(&g.head, sizeof(g), VTN_PACKET_REQUEST, 0, 0);
            memcpy(g.key, kKey, 8);
            send(c, &g, sizeof(g), MSG_NOSIGNAL);
            char buf[156];
            size_t got = 0;
            while (got < sizeof(buf)) {
                ssize_t n = recv(c, buf + got, sizeof(buf) - got, 0);
                if (n <= 0)
                    break;
                got += size_t(n);
            }
            login_.assign(buf, got);
            _Packet_Error e;
            FillPacketHead(&e.head, sizeof(e), VTN_PACKET_STATUS, 0, 0);
            e.status = status_;
            send(c, &e, sizeof(e), MSG_NOSIGNAL);
            char rest;
            while (recv(c, &rest, 1, 0) > 0) {
            }
        }
        close(c);
    }
    Kind kind_;
    uint32_t status_;
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::string login_;
};

class Session : public ::testing::Test {
protected:
    void SetUp() override
    {
        cs_vtn_client_init();
        gLost = 0;
        SetClientWaitSeconds(30);
        ASSERT_TRUE(server_.Start("sata4"));
    }
    void TearDown() override
    {
        for (int i = 0; i < VTN_CLIENT_SLOTS; ++i)
            cs_vtn_disconnect_system(i);
        SetClientWaitSeconds(VTN_CLIENT_WAIT_SECONDS);
    }
    // Switches the channel on and gives the server's event thread a moment to bind it before
    // the poll thread's next push.
    static int EnableEvents(int handle)
    {
        int r = cs_vtn_enable_event_notify(handle, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return r;
    }
    // Waits (bounded) for the next pushed event.
    static bool NextEvent(int handle, _VTN_LOG_EVENT* ev)
    {
        for (int i = 0; i < 300; ++i) {
            if (cs_vtn_get_log_event(handle, ev) == 0)
                return true;
            if (!(gConnections[handle].flags & VTN_CONN_CONNECTED))
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    TempRoot root_;
    ServerProcess server_{root_.Dir()};
};

}  // namespace

TEST_F(Session, LoginTable)
{
    enum Peer { Server, ClosedPort, AcceptClose, SilentPeer, Refusing, NoNotice };
    struct Case {
        const char* what;
        Peer peer;
        const char* user;
        const char* password;
        int expected;
        bool reachesPeer;
    } cases[] = {
        {"wrong password", Server, "RAID", "nope", int(VTN_NOT_FOUND), true},
        {"unknown user", Server, "ghost", "wqx", int(VTN_NOT_FOUND), true},
        {"right password", Server, "RAID", "wqx", 0, true},
        {"nothing listening", ClosedPort, "RAID", "wqx", int(VTN_CANNOT_CONNECT), false},
        {"peer accepts and closes", AcceptClose, "RAID", "wqx", int(VTN_LOGIN_HANDSHAKE), true},
        {"peer never greets", SilentPeer, "RAID", "wqx", int(VTN_RECV_TIMEOUT), true},
        {"peer answers a positive word", Refusing, "RAID", "wqx", int(VTN_LOGIN_HANDSHAKE), true},
        {"accepted, but the notice never comes", NoNotice, "RAID", "wqx", int(VTN_LOGIN_HANDSHAKE), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<FakePeer> fake;
        int port = server_.Port();
        if (c.peer == ClosedPort)
            port = FreeTcpPort();
        if (c.peer == AcceptClose)
            fake = std::make_unique<FakePeer>(FakePeer::AcceptAndClose);
        if (c.peer == SilentPeer) {
            fake = std::make_unique<FakePeer>(FakePeer::Silent);
            SetClientWaitSeconds(1);
        }
        if (c.peer == Refusing)
            fake = std::make_unique<FakePeer>(FakePeer::AnswerLogin, 5);
        if (c.peer == NoNotice) {
            fake = std::make_unique<FakePeer>(FakePeer::AnswerLogin, 0);
            SetClientWaitSeconds(1);
        }
        if (fake)
            port = fake->Port();

        _CS_CONNECTION_INFO info{};
        int r = -1;
        // The real server closes a newcomer while a previous session is still ending.
        for (int attempt = 0; attempt < 100; ++attempt) {
            memset(&info, 0, sizeof(info));
            CopyText(info.host, "127.0.0.1");
            info.port = uint16_t(port);
            CopyText(info.user, c.user);
            CopyText(info.password, c.password);
            info.callback = OnLost;
            r = cs_vtn_connect_system(&info);
            if (c.peer != Server || r != int(VTN_LOGIN_HANDSHAKE))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        SetClientWaitSeconds(30);
        EXPECT_EQ(r, c.expected);
        if (c.reachesPeer) {
            EXPECT_EQ(std::string(info.password, 64), std::string(64, '\0'));
        } else {
            EXPECT_STREQ(info.password, c.password);
        }
        if (c.expected == 0) {
            EXPECT_EQ(gConnections[0].flags, VTN_CONN_CONNECTED);
            EXPECT_EQ(gConnections[0].eventPort, server_.EventPort());
            EXPECT_EQ(cs_vtn_disconnect_system(0), 0);
            EXPECT_EQ(cs_vtn_disconnect_system(0), -1);
        }
        EXPECT_EQ(gConnections[0].flags, 0);
        EXPECT_EQ(gConnections[0].commandSocket, -1);
        EXPECT_EQ(gConnections[0].eventSocket, -1);
    }
    EXPECT_EQ(gLost, 0);
}

TEST(LoginPacket, OnlyTheFirstSixteenPasswordBytesTravelEncrypted)
{
    cs_vtn_client_init();
    FakePeer peer(FakePeer::AnswerLogin, VTN_NOT_FOUND);
    _CS_CONNECTION_INFO info{};
    CopyText(info.host, "127.0.0.1");
    info.port = uint16_t(peer.Port());
    CopyText(info.user, "operator");
    CopyText(info.password, "0123456789abcdefTAIL-IN-CLEAR");
    info.callback = OnLost;
    EXPECT_EQ(cs_vtn_connect_system(&info), int(VTN_NOT_FOUND));
    peer.Join();
    std::string login = peer.Login();

    ASSERT_EQ(login.size(), 156u);
    uint32_t length, kind;
    memcpy(&length, login.data(), 4);
    memcpy(&kind, login.data() + 152, 4);
    EXPECT_EQ(length, 156u);
    EXPECT_EQ(login.substr(4, 8), "vtn_stor");
    EXPECT_EQ(login[12], 1);
    EXPECT_EQ(kind, 0u);
    EXPECT_STREQ(login.data() + 24, "operator");
    std::string password = login.substr(88, 64);
    EXPECT_EQ(password.substr(16), std::string(48, '\0'));
    uint8_t key[8];
    memcpy(key, FakePeer::kKey, 8);
    vtn_decrypt(key, reinterpret_cast<uint8_t*>(password.data()), 2);
    EXPECT_EQ(password.substr(0, 16), "0123456789abcdef");
}

TEST(TwoServers, TwoSlotsAndAThirdRefused)
{
    cs_vtn_client_init();
    TempRoot root;
    ServerProcess first(root.Dir());
    ServerProcess second(root.Dir() + "/second");
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(second.Start());

    EXPECT_EQ(LoginTo(first.Port(), kDefaultUser, kDefaultPassword, OnLost), 0);
    EXPECT_EQ(LoginTo(second.Port(), kDefaultUser, kDefaultPassword, OnLost), 1);
    _CS_CONNECTION_INFO info{};
    CopyText(info.host, "127.0.0.1");
    info.port = uint16_t(first.Port());
    CopyText(info.user, kDefaultUser);
    CopyText(info.password, kDefaultPassword);
    info.callback = OnLost;
    EXPECT_EQ(cs_vtn_connect_system(&info), -1);
    EXPECT_STREQ(info.password, kDefaultPassword);
    info.callback = nullptr;
    EXPECT_EQ(cs_vtn_connect_system(&info), -1);

    // Each handle talks to its own server.
    _CS_ALTERABLE_SERVER_PARAM p{};
    ASSERT_EQ(cs_vtn_get_server_param(0, &p), 0);
    EXPECT_EQ(p.serverPort, first.Port());
    ASSERT_EQ(cs_vtn_get_server_param(1, &p), 0);
    EXPECT_EQ(p.serverPort, second.Port());

    // A freed slot is taken again.
    EXPECT_EQ(cs_vtn_disconnect_system(0), 0);
    EXPECT_EQ(LoginTo(first.Port(), kDefaultUser, kDefaultPassword, OnLost), 0);
    EXPECT_EQ(cs_vtn_disconnect_system(0), 0);
    EXPECT_EQ(cs_vtn_disconnect_system(1), 0);
}

TEST_F(Session, EventChannel)
{
    ASSERT_EQ(LoginTo(server_.Port(), kDefaultUser, kDefaultPassword, OnLost), 0);
    _VTN_LOG_EVENT ev;
    EXPECT_EQ(cs_vtn_get_log_event(0, &ev), -1) << "channel not on";
    EXPECT_EQ(cs_vtn_enable_event_notify(0, 1), 0);
    EXPECT_GE(gConnections[0].eventSocket, 0);
    EXPECT_EQ(EnableEvents(0), 0) << "on twice";
    EXPECT_GE(gConnections[0].eventSocket, 0);
    EXPECT_EQ(cs_vtn_get_log_event(0, &ev), -1) << "nothing yet";
    EXPECT_EQ(gConnections[0].flags, VTN_CONN_CONNECTED);

    // Two driver events: a plugged disk and a failed one.
    ASSERT_EQ(server_.Sim({"event", "2", "1"}), 0);
    ASSERT_EQ(server_.Sim({"event", "1", "2"}), 0);
    std::string texts[2];
    for (auto& text : texts) {
        ASSERT_TRUE(NextEvent(0, &ev));
        text = ev.text;
    }
    EXPECT_EQ(texts[0], "Plugging disk detected.(Controller1-Channel1-Device1)");
    EXPECT_EQ(texts[1], "Disk at Controller1-Channel2-Device1 failed.");
    EXPECT_EQ(cs_vtn_get_log_event(0, &ev), -1) << "drained: each event came once";
    EXPECT_EQ(gConnections[0].flags, VTN_CONN_CONNECTED);

    // Off: the request is answered, the socket is gone.
    EXPECT_EQ(cs_vtn_enable_event_notify(0, 0), 0);
    EXPECT_EQ(gConnections[0].eventSocket, -1);
    EXPECT_EQ(cs_vtn_get_log_event(0, &ev), -1);
    EXPECT_EQ(cs_vtn_enable_event_notify(0, 7), -1);

    // On again: the next event arrives on the new channel.
    EXPECT_EQ(EnableEvents(0), 0);
    ASSERT_EQ(server_.Sim({"event", "2", "3"}), 0);
    ASSERT_TRUE(NextEvent(0, &ev));
    EXPECT_STREQ(ev.text, "Plugging disk detected.(Controller1-Channel3-Device1)");
    EXPECT_EQ(ev.severity, 'W');
    EXPECT_EQ(gLost, 0);
}

// The server dies under a connected client: the first call that notices runs the callback once
// and frees the slot; later calls fail quietly.
TEST_F(Session, ServerKilledWhileConnected)
{
    struct Case {
        const char* what;
        bool events;
    } cases[] = {{"noticed by a request", false}, {"noticed by the event poll", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gLost = 0;
        if (!server_.Running()) {
            ASSERT_TRUE(server_.Start(""));
        }
        ASSERT_EQ(LoginTo(server_.Port(), kDefaultUser, kDefaultPassword, OnLost), 0);
        if (c.events) {
            ASSERT_EQ(cs_vtn_enable_event_notify(0, 1), 0);
        }
        server_.Kill();

        if (c.events) {
            _VTN_LOG_EVENT ev;
            EXPECT_EQ(cs_vtn_get_log_event(0, &ev), -1);
        } else {
            _VTN_USER_INFO u;
            EXPECT_NE(cs_vtn_get_current_user(0, &u), 0);
        }
        EXPECT_EQ(gLost, 1);
        EXPECT_EQ(gConnections[0].flags, 0);
        EXPECT_EQ(gConnections[0].commandSocket, -1);
        EXPECT_EQ(gConnections[0].eventSocket, -1);
        _CS_SERVER_INFO si;
        EXPECT_EQ(cs_vtn_get_server_info(0, &si), -1);
        EXPECT_EQ(cs_vtn_disconnect_system(0), -1);
        EXPECT_EQ(gLost, 1);
    }
}
