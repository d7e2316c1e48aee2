// Malformed input against the real vtnsvr: each case runs in its own session; the server must
// answer or end that session, never crash, and serve the next client.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "global.h"
#include "rawclient.h"
#include "svrrec.h"
#include "testutil.h"

namespace {

using Bytes = std::vector<uint8_t>;
using raw::Socket;

constexpr uint32_t kClosed = 0xC105ED;  // the server ended the session without an answer
constexpr uint32_t kData = 0xDA7A;      // a data reply
constexpr uint32_t kAnyStatus = 0x57A7; // some status packet

Bytes Head(uint32_t length, uint32_t group, uint32_t code, uint8_t type = VTN_PACKET_REQUEST)
{
    Bytes b(sizeof(_Packet_Head));
    _Packet_Head h = raw::Head(length, type, group, code);
    memcpy(b.data(), &h, sizeof(h));
    return b;
}

// A whole packet: the head with the true length, then the body.
Bytes Whole(uint32_t group, uint32_t code, const Bytes& body, uint8_t type = VTN_PACKET_REQUEST)
{
    Bytes b = Head(static_cast<uint32_t>(sizeof(_Packet_Head) + body.size()), group, code, type);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes Fill(size_t n, uint8_t c) { return Bytes(n, c); }

Bytes Frame(uint32_t control, uint32_t inSize, uint32_t outSize, Bytes input = {})
{
    Bytes body(16);
    uint32_t f[4] = {control, inSize, outSize, 0};
    memcpy(body.data(), f, sizeof(f));
    body.insert(body.end(), input.begin(), input.end());
    return body;
}

Bytes U32(uint32_t v)
{
    Bytes b(4);
    memcpy(b.data(), &v, 4);
    return b;
}

class Malformed : public ::testing::Test {
protected:
    void SetUp() override
    {
        VtnPathForWrite("/etc/vtn.ini");
        ASSERT_TRUE(server_.Prepare("sata4"));
        // Short time-outs so that a body that never comes ends its session quickly.
        ASSERT_TRUE(server_.Start({"VTN_REPLY_TIMEOUT=2", "VTN_LOGIN_TIMEOUT=2"}));
    }
    void TearDown() override { EXPECT_EQ(server_.Stop(), 0) << server_.Stderr(); }

    // Logs in as the default user; retries while the previous session is still being closed.
    bool LogIn(Socket* s)
    {
        for (int i = 0; i < 100; ++i) {
            raw::LoginResult r = server_.Connect(s);
            if (r.answered && r.status == 0)
                return true;
            s->Close();
            usleep(50 * 1000);
        }
        return false;
    }

    // Sends the bytes on a logged-in session; what came back.
    uint32_t Outcome(const Bytes& bytes)
    {
        Socket s;
        if (!LogIn(&s))
            return 0xBAD;
        if (!raw::SendAll(s.fd(), bytes.data(), bytes.size()))
            return kClosed;
        raw::Reply r = raw::ReadReply(s.fd(), 10000);
        if (!r.ok())
            return raw::ClosedByPeer(s.fd(), 10000) ? kClosed : 0xBAD;
        return r.isStatus() ? r.status() : kData;
    }

    TempRoot root_;
    raw::TestServer server_{root_};
};

TEST_F(Malformed, RequestsAnsweredOrSessionEnded)
{
    Bytes badMagic = Whole(0x400, 0x404, Fill(272, 0));
    badMagic[11] = 'X';
    Bytes halfBody = Head(296, 0x400, 0x404);
    halfBody.resize(24 + 100, 0);
    Bytes saveNoNul = Fill(560, 'A');
    Bytes userNoNul = Fill(273, 'n');
    struct {
        const char* what;
        Bytes bytes;
        uint32_t expect;
    } cases[] = {
        {"length 0", Head(0, 0x400, 0x404), kClosed},
        {"length 10", Head(10, 0x400, 0x404), kClosed},
        {"length 23", Head(23, 0x400, 0x404), kClosed},
        {"length 2^31", Head(0x80000000u, 0x400, 0x404), kClosed},
        {"length 2^32-1", Head(0xFFFFFFFFu, 0x400, 0x404), kClosed},
        {"length above 64 KiB", Head(64 * 1024 + 1, 0x400, 0x404), kClosed},
        {"bad magic", badMagic, kClosed},
        {"a body that never comes", Head(296, 0x400, 0x404), kClosed},
        {"half a body", halfBody, kClosed},
        {"type 4", Whole(0x400, 0x404, Fill(272, 0), VTN_PACKET_STATUS), VTN_UNSUPPORTED},
        {"record too short", Whole(0x400, 0x401, Fill(100, 0)), VTN_UNSUPPORTED},
        {"head only for a record", Whole(0x300, 0x301, {}), VTN_UNSUPPORTED},
        {"event text without NUL", Whole(0x300, 0x303, saveNoNul), kAnyStatus},
        {"user record without NUL", Whole(0x400, 0x403, userNoNul), VTN_FAILURE},
        {"recipient without NUL", Whole(0x200, 0x205, Fill(133, 'r')), kAnyStatus},
        {"task record without NUL", Whole(0x600, 0x602, Fill(245, 't')), kAnyStatus},
        {"driver: input size 2^32-1", Whole(0x10000000, 0, Frame(0xFF05, 0xFFFFFFFFu, 174, U32(1))),
         VTN_UNSUPPORTED},
        {"driver: 40 + input size wraps", Whole(0x10000000, 0, Frame(0xFF05, 0xFFFFFFD8u, 174, U32(1))),
         VTN_UNSUPPORTED},
        {"driver: input past the packet", Whole(0x10000000, 0, Frame(0xFF05, 8, 174, U32(1))), VTN_UNSUPPORTED},
        {"driver: output size 2^32-1", Whole(0x10000000, 0, Frame(0xFF05, 4, 0xFFFFFFFFu, U32(1))),
         VTN_DRIVER_FAILED},
        {"driver: 36 + output size wraps", Whole(0x10000000, 0, Frame(0xFF05, 4, 0xFFFFFFDCu, U32(1))),
         VTN_DRIVER_FAILED},
        {"driver: ids past the output", Whole(0x10000000, 0, Frame(0xFF04, 4, 16, U32(0x3FFFFFFFu))),
         VTN_DRIVER_FAILED},
        {"driver: max ids 2^32-1", Whole(0x10000000, 0, Frame(0xFF04, 4, 64 * 1024, U32(0xFFFFFFFFu))),
         VTN_DRIVER_FAILED},
        {"driver: frame cut short", Whole(0x10000000, 0, Fill(8, 0)), VTN_UNSUPPORTED},
    };
    for (auto& c : cases) {
        uint32_t got = Outcome(c.bytes);
        if (c.expect == kAnyStatus)
            EXPECT_TRUE(got != kClosed && got != kData && got != 0xBAD) << c.what << " " << std::hex << got;
        else
            EXPECT_EQ(got, c.expect) << c.what << " " << std::hex << got;
        ASSERT_TRUE(server_.Running()) << c.what;
    }
    // The next client is served as usual.
    Socket s;
    ASSERT_TRUE(LogIn(&s));
    EXPECT_EQ(raw::RequestSized(s.fd(), 0x400, 0x404, 272).status(), 0u);
    // The event without NUL became one line of the log.
    std::string log = server_.Log();
    EXPECT_NE(log.find(std::string(400, 'A')), std::string::npos);
}

TEST_F(Malformed, BrokenLogins)
{
    _VTN_LOGIN_REQUEST junk{};
    memset(&junk, 'j', sizeof(junk));  // no magic, no NUL in name or password
    struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"156 bytes of junk", Bytes(reinterpret_cast<uint8_t*>(&junk), reinterpret_cast<uint8_t*>(&junk) + 156)},
        {"a login cut short", Head(156, 0, 0)},
    };
    for (auto& c : cases) {
        Socket s(raw::ConnectTo(server_.port));
        ASSERT_TRUE(s.valid());
        _VTN_LOGIN_GREETING g{};
        ASSERT_EQ(raw::RecvAll(s.fd(), &g, sizeof(g)), sizeof(g));
        raw::SendAll(s.fd(), c.bytes.data(), c.bytes.size());
        EXPECT_TRUE(raw::ClosedByPeer(s.fd(), 10000)) << c.what;
    }
    // A login whose name and password fill their fields: refused, and the server goes on.
    Socket s(raw::ConnectTo(server_.port));
    _VTN_LOGIN_GREETING g{};
    ASSERT_EQ(raw::RecvAll(s.fd(), &g, sizeof(g)), sizeof(g));
    _VTN_LOGIN_REQUEST full = raw::MakeLogin(g.key, "", "");
    memset(full.name, 'N', sizeof(full.name));
    memset(full.password, 'P', sizeof(full.password));
    raw::SendAll(s.fd(), &full, sizeof(full));
    _Packet_Error answer{};
    ASSERT_EQ(raw::RecvAll(s.fd(), &answer, sizeof(answer)), sizeof(answer));
    EXPECT_EQ(answer.status, VTN_NOT_FOUND);
    s.Close();
    Socket ok;
    EXPECT_TRUE(LogIn(&ok));
}

}  // namespace
