// Login and sessions of the real server: the login table with its log lines, the default user, one
// client at a time, time-outs of silent clients and the event-channel bind.
// VTN_THREADED_TEST: the server's accept, event and request threads run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <map>

#include "fileio.h"
#include "rawclient.h"

namespace {

using raw::Socket;
using raw::TestServer;

// Short login and reply time-outs for the tests that wait for them.
const std::vector<std::string> kShortTimeouts = {"VTN_LOGIN_TIMEOUT=2", "VTN_REPLY_TIMEOUT=2"};

using raw::LogLine;
using raw::LogLines;

std::string StoredPassword(const std::string& plain)
{
    uint8_t buf[64] = {};
    CopyText(reinterpret_cast<char*>(buf), sizeof(buf), plain.c_str());
    vtn_encrypt_and_map(buf);
    return reinterpret_cast<char*>(buf);
}

// The current user's record (request 0x404).
_VTN_USER_INFO CurrentUser(int sock)
{
    raw::Reply r = raw::RequestSized(sock, VTN_GROUP_USER, VTN_CODE_CURRENT_USER, sizeof(_VTN_USER_INFO));
    _VTN_USER_INFO user{};
    if (r.ok() && !r.isStatus())
        ReadField(r.bytes.data(), r.bytes.size(), sizeof(_Packet_Head), &user);
    return user;
}

bool Served(int sock)
{
    raw::Reply r = raw::RequestSized(sock, VTN_GROUP_USER, VTN_CODE_CURRENT_USER, sizeof(_VTN_USER_INFO));
    return r.ok() && r.head().type == VTN_PACKET_REPLY;
}

class LoginTest : public ::testing::Test {
protected:
    void Start(const std::string& users, const std::vector<std::string>& env = {})
    {
        ASSERT_TRUE(server.Prepare());
        if (!users.empty()) {
            ASSERT_TRUE(raw::WriteSystemFile("/etc/vtnuser.dat", users));
        }
        ASSERT_TRUE(server.Start(env)) << server.Stderr();
    }
    TempRoot root;
    TestServer server{root};
};

struct LoginCase {
    const char* what;
    const char* name;
    const char* password;
    uint32_t kind;
    uint32_t status;
    char severity;
    const char* text;
};

TEST_F(LoginTest, LoginTableWithItsLogLines)
{
    const uint32_t noRights = 0;
    Start(raw::UserLine("RAID", "wqx", VTN_RIGHTS_ALL) + raw::UserLine("bob", "secret", noRights) +
          raw::UserLine("long", "abcdefghijklmnop", 0x10) +
          raw::UserLine("sys\\alice", "alicepw", VTN_RIGHTS_ALL, VTN_USER_VALID | VTN_USER_SYSTEM) +
          raw::UserLine("gone", "gonepw", VTN_RIGHTS_ALL, 0));

    const LoginCase cases[] = {
        {"right password", "RAID", "wqx", 0, 0, 'I', "User RAID(from 127.0.0.1) logged on system."},
        {"wrong password", "RAID", "wqy", 0, VTN_NOT_FOUND, 'W', "User RAID(from 127.0.0.1) failed to log on system."},
        {"user without rights", "bob", "secret", 0, 0, 'I', "User bob(from 127.0.0.1) logged on system."},
        {"login kind 1 for a users-file user", "bob", "secret", 1, 0, 'I',
         "User bob(from 127.0.0.1) logged on system."},
        {"unknown user", "carol", "x", 0, VTN_NOT_FOUND, 'W', "User carol(from 127.0.0.1) failed to log on system."},
        {"system account, kind 1", "alice", "alicepw", 1, VTN_NOT_FOUND, 'W',
         "User alice(from 127.0.0.1) failed to log on system."},
        {"system account, kind 0", "alice", "alicepw", 0, VTN_NOT_FOUND, 'W',
         "User alice(from 127.0.0.1) failed to log on system."},
        {"line marked deleted", "gone", "gonepw", 0, VTN_NOT_FOUND, 'W',
         "User gone(from 127.0.0.1) failed to log on system."},
        {"characters after the 16th do not count", "long", "abcdefghijklmnopEXTRA", 0, 0, 'I',
         "User long(from 127.0.0.1) logged on system."},
        {"the 16th character counts", "long", "abcdefghijklmnoX", 0, VTN_NOT_FOUND, 'W',
         "User long(from 127.0.0.1) failed to log on system."},
        {"a shorter prefix is wrong", "long", "abcdefghijklmno", 0, VTN_NOT_FOUND, 'W',
         "User long(from 127.0.0.1) failed to log on system."},
        {"newline in the name stays on its line", "ev\nil", "x", 0, VTN_NOT_FOUND, 'W',
         "User ev il(from 127.0.0.1) failed to log on system."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        size_t before = LogLines(server.Log()).size();
        Socket sock;
        raw::LoginResult r = server.Connect(&sock, c.name, c.password, c.kind);
        ASSERT_TRUE(r.greeted);
        EXPECT_EQ(r.greeting.head.length, 40u);
        EXPECT_EQ(r.greeting.head.type, VTN_PACKET_REQUEST);
        ASSERT_TRUE(r.answered);
        EXPECT_EQ(r.status, c.status);

        std::vector<LogLine> lines = LogLines(server.Log());
        ASSERT_EQ(lines.size(), before + 1);
        EXPECT_EQ(lines.back().severity, c.severity);
        EXPECT_EQ(lines.back().text, c.text);

        if (c.status == 0) {
            EXPECT_EQ(r.notice.head.length, 28u);
            EXPECT_EQ(r.notice.head.type, VTN_PACKET_NOTICE);
            EXPECT_EQ(r.notice.eventPort, server.eventPort);
            EXPECT_EQ(r.notice.slot, 0);
            _VTN_USER_INFO user = CurrentUser(sock.fd());
            EXPECT_STREQ(user.name, c.name);
            EXPECT_EQ(user.flags, VTN_USER_VALID);
        } else {
            // A refused login is closed after its status.
            EXPECT_TRUE(raw::ClosedByPeer(sock.fd()));
        }
    }
}

TEST_F(LoginTest, RightsOfTheUsersFileLineComeWithTheLogin)
{
    Start(raw::UserLine("RAID", "wqx", VTN_RIGHTS_ALL) + raw::UserLine("op", "oppw", 0x20000010u));
    Socket sock;
    ASSERT_EQ(server.Connect(&sock, "op", "oppw").status, 0u);
    _VTN_USER_INFO user = CurrentUser(sock.fd());
    EXPECT_EQ(user.rights, 0x20000010u);
    EXPECT_EQ(user.rights2, 0x20000010u);
    EXPECT_EQ(std::string(user.password), StoredPassword("oppw"));
}

struct UsersFileCase {
    const char* what;
    std::string before;   // empty: no users file
    std::string after;
};

TEST(UsersFileAtStart, CleanedAndGivenTheDefaultUser)
{
    const std::string raidLine =
        "RAID:" + StoredPassword("wqx") + ":ffffffff:ffffffff:1:Automatically created user for management\n";
    const std::string bob = raw::UserLine("bob", "pw", 0);
    const std::string deleted = raw::UserLine("old", "pw", VTN_RIGHTS_ALL, 0);
    const UsersFileCase cases[] = {
        {"no users file", "", raidLine},
        {"only comments and deleted users", "# users\n" + deleted + "  # indented\n" + deleted,
         "# users\n  # indented\n" + raidLine},
        {"one valid user without rights", bob, bob},
        {"malformed and deleted lines dropped", "garbage line\n" + deleted + bob + "a:b\n", bob},
        {"a last line without its newline", "# c\n" + bob.substr(0, bob.size() - 1), "# c\n" + bob},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempRoot root;
        TestServer server(root);
        ASSERT_TRUE(server.Prepare());
        if (!c.before.empty()) {
            ASSERT_TRUE(raw::WriteSystemFile("/etc/vtnuser.dat", c.before));
        }
        ASSERT_TRUE(server.Start()) << server.Stderr();
        EXPECT_EQ(ReadFileText(root.Path("/etc/vtnuser.dat")), c.after);
        struct stat st {};
        ASSERT_EQ(stat(root.Path("/etc/vtnuser.dat").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_FALSE(FileExists(root.Path("/etc/vtnuser.dat_1")));
        EXPECT_EQ(server.Stop(), 0);
    }
}

TEST_F(LoginTest, DefaultUserLogsInWithItsPassword)
{
    Start("");
    Socket sock;
    ASSERT_EQ(server.Connect(&sock, "RAID", "wqx").status, 0u);
    _VTN_USER_INFO user = CurrentUser(sock.fd());
    EXPECT_EQ(user.rights, VTN_RIGHTS_ALL);
    EXPECT_EQ(user.rights2, VTN_RIGHTS_ALL);
}

TEST_F(LoginTest, SecondClientIsClosedAtOnceWhileTheFirstIsServed)
{
    Start("");
    Socket first;
    ASSERT_EQ(server.Connect(&first).status, 0u);

    Socket second(raw::ConnectTo(server.port));
    ASSERT_TRUE(second.valid());
    char byte;
    EXPECT_EQ(raw::RecvAll(second.fd(), &byte, 1), 0u) << "no greeting for the second client";
    EXPECT_TRUE(raw::ClosedByPeer(second.fd()));
    EXPECT_TRUE(Served(first.fd()));

    // Once the first leaves, the slot is free again.
    first.Close();
    Socket third;
    EXPECT_EQ(server.Connect(&third).status, 0u);
    EXPECT_TRUE(Served(third.fd()));
}

// What a client that does not finish its login gets: nothing, then the close, and no log line.
struct BrokenLoginCase {
    const char* what;
    size_t bytes;       // bytes of the login that are sent
    bool badMagic;
};

TEST_F(LoginTest, UnfinishedLoginsTimeOutAndTheNextClientLogsIn)
{
    Start("", kShortTimeouts);
    const BrokenLoginCase cases[] = {
        {"connects and sends nothing", 0, false},
        {"sends part of the login", 100, false},
        {"sends all but the last byte", sizeof(_VTN_LOGIN_REQUEST) - 1, false},
        {"wrong magic", sizeof(_VTN_LOGIN_REQUEST), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        size_t logBefore = LogLines(server.Log()).size();
        _VTN_LOGIN_GREETING greeting{};
        Socket sock(raw::ConnectGreeted(server.port, &greeting));
        ASSERT_TRUE(sock.valid());
        _VTN_LOGIN_REQUEST login = raw::MakeLogin(greeting.key, "RAID", "wqx");
        if (c.badMagic)
            login.head.magic[0] = 'X';
        ASSERT_TRUE(raw::SendAll(sock.fd(), &login, c.bytes));
        char byte;
        EXPECT_EQ(raw::RecvAll(sock.fd(), &byte, 1), 0u) << "no answer";
        EXPECT_TRUE(raw::ClosedByPeer(sock.fd()));
        EXPECT_EQ(LogLines(server.Log()).size(), logBefore);

        Socket next;
        EXPECT_EQ(server.Connect(&next).status, 0u);
    }
}

// A login sent a byte at a time, each well within the time-out: the time-out bounds the whole
// login, so the server closes long before the last byte would have come.
TEST_F(LoginTest, ATrickledLoginEndsWithinTheLoginTimeout)
{
    Start("", kShortTimeouts);
    _VTN_LOGIN_GREETING greeting{};
    Socket sock(raw::ConnectGreeted(server.port, &greeting));
    ASSERT_TRUE(sock.valid());
    const _VTN_LOGIN_REQUEST login = raw::MakeLogin(greeting.key, "RAID", "wqx");
    const char* bytes = reinterpret_cast<const char*>(&login);
    // 40 bytes at one every 250 ms take 10 s, five login time-outs.
    bool closed = false;
    for (size_t i = 0; i < 40 && !closed; ++i) {
        if (!raw::SendAll(sock.fd(), bytes + i, 1))
            closed = true;
        else
            closed = raw::ClosedByPeer(sock.fd(), 250);
    }
    EXPECT_TRUE(closed) << "the trickled login still held the connection";
    Socket next;
    EXPECT_EQ(server.Connect(&next).status, 0u);
}

TEST_F(LoginTest, IdleSessionIsKeptButAMissingBodyEndsIt)
{
    Start("", kShortTimeouts);
    Socket sock;
    ASSERT_EQ(server.Connect(&sock).status, 0u);
    // Longer than both time-outs: the wait for a request has no limit.
    EXPECT_TRUE(raw::StaysOpenAndSilent(sock.fd(), 4000));
    EXPECT_TRUE(Served(sock.fd()));

    // A head that announces a body that never comes.
    _Packet_Head head = raw::Head(sizeof(_Packet_Head) + sizeof(_VTN_USER_INFO), VTN_PACKET_REQUEST, VTN_GROUP_USER,
                                  VTN_CODE_CURRENT_USER);
    ASSERT_TRUE(raw::SendAll(sock.fd(), &head, sizeof(head)));
    EXPECT_TRUE(raw::ClosedByPeer(sock.fd()));
    Socket next;
    EXPECT_EQ(server.Connect(&next).status, 0u);
}

TEST_F(LoginTest, HalfAHeadEndsTheSessionWithinTheReplyTimeout)
{
    Start("", kShortTimeouts);
    Socket sock;
    ASSERT_EQ(server.Connect(&sock).status, 0u);
    // Silence before a request is fine; the first byte of a head starts the reply time-out.
    EXPECT_TRUE(raw::StaysOpenAndSilent(sock.fd(), 2500));
    _Packet_Head head = raw::Head(sizeof(_Packet_Head) + sizeof(_VTN_USER_INFO), VTN_PACKET_REQUEST, VTN_GROUP_USER,
                                  VTN_CODE_CURRENT_USER);
    ASSERT_TRUE(raw::SendAll(sock.fd(), &head, sizeof(head) / 2));
    EXPECT_TRUE(raw::ClosedByPeer(sock.fd()));
    Socket next;
    EXPECT_EQ(server.Connect(&next).status, 0u);
    EXPECT_TRUE(Served(next.fd()));
}

TEST_F(LoginTest, FailedLoginAnswersAfterAPauseAndTheNextLoginSucceeds)
{
    Start("");
    Socket bad;
    auto t0 = std::chrono::steady_clock::now();
    raw::LoginResult r = server.Connect(&bad, "RAID", "guess");
    auto waited = std::chrono::steady_clock::now() - t0;
    ASSERT_TRUE(r.answered);
    EXPECT_EQ(r.status, VTN_NOT_FOUND);
    // A lower bound only: the answer must not come before the pause.
    EXPECT_GE(waited, std::chrono::milliseconds(950));
    EXPECT_TRUE(raw::ClosedByPeer(bad.fd()));

    Socket good;
    EXPECT_EQ(server.Connect(&good).status, 0u);
    EXPECT_TRUE(Served(good.fd()));
}

// Rewrites the file at path in a child that dies at the given step of the rewrite, as a kill would;
// the name of the temporary file it leaves in the folder ("" when none).
std::string LeftoverOfAKilledRewrite(const std::string& path, const char* step)
{
    const std::string dir = path.substr(0, path.rfind('/'));
    const std::vector<std::string> before = FolderEntries(dir);
    JoinChild(ForkChild([&] {
        DieAtFileStep(step);
        ReplaceFile(path, "the new text, never renamed\n", 0600);
    }));
    for (const std::string& name : FolderEntries(dir))
        if (std::find(before.begin(), before.end(), name) == before.end())
            return name;
    return "";
}

TEST(ServerStart, RemovesOnlyTheLeftoversOfItsOwnRewrites)
{
    TempRoot root;
    TestServer server(root);
    ASSERT_TRUE(server.Prepare());
    ASSERT_TRUE(raw::WriteSystemFile("/etc/vtnuser.dat", raw::UserLine("RAID", "wqx", VTN_RIGHTS_ALL)));
    // What administrators and their tools keep beside the files: backups, samples, a package
    // manager's copies, a name with a random-looking suffix.
    const char* theirs[] = {"vtn.ini.old",        "vtn.ini.backup", "vtnuser.dat.backup", "vtn.ini.201212",
                            "vtnuser.dat.sample", "vtn.ini.rpmnew", "vtnuser.dat.q7Xk2P"};
    std::map<std::string, std::string> kept;
    for (const char* name : theirs) {
        kept[name] = std::string("kept by the administrator: ") + name + std::string("\0\xff\n", 3);
        ASSERT_TRUE(WriteFileText(root.Path("/etc/") + name, kept[name]));
    }
    const std::string ini = ReadFileText(root.Path("/etc/vtn.ini"));
    const std::string leftovers[] = {LeftoverOfAKilledRewrite(root.Path("/etc/vtn.ini"), "rename"),
                                     LeftoverOfAKilledRewrite(root.Path("/etc/vtnuser.dat"), "write")};
    for (const std::string& name : leftovers) {
        ASSERT_FALSE(name.empty()) << "a rewrite killed before its rename leaves its temporary";
        kept.erase(name);
    }
    EXPECT_EQ(ReadFileText(root.Path("/etc/vtn.ini")), ini) << "the killed rewrite changed nothing";

    ASSERT_TRUE(server.Start()) << server.Stderr();
    for (const std::string& name : leftovers)
        EXPECT_FALSE(FileExists(root.Path("/etc/") + name)) << name;
    for (const auto& [name, bytes] : kept)
        EXPECT_EQ(ReadFileText(root.Path("/etc/") + name), bytes) << name;
    EXPECT_EQ(ReadFileText(root.Path("/etc/vtn.ini")), ini);
    Socket sock;
    EXPECT_EQ(server.Connect(&sock).status, 0u) << "the users file was kept";
    EXPECT_EQ(server.Stop(), 0);
}

struct BindCase {
    const char* what;
    int portDelta;          // added to the event port in the bind
    uint16_t slot;
    bool badMagic;
    size_t bytes;           // of the 28
    const char* fromIp;     // local address of the event connection
    bool kept;
};

int ConnectFrom(const char* localIp, int port)
{
    int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, localIp, &local.sin_addr);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (sock < 0 || bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 ||
        connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        if (sock >= 0)
            close(sock);
        return -1;
    }
    return sock;
}

TEST_F(LoginTest, EventChannelBindTable)
{
    Start("", kShortTimeouts);
    Socket client;
    ASSERT_EQ(server.Connect(&client).status, 0u);
    const size_t whole = sizeof(_VTN_EVENT_BIND);
    const BindCase cases[] = {
        {"the bind the notice asks for", 0, 0, false, whole, "127.0.0.1", true},
        {"wrong event port", 1, 0, false, whole, "127.0.0.1", false},
        {"slot that does not exist", 0, 1, false, whole, "127.0.0.1", false},
        {"wrong magic", 0, 0, true, whole, "127.0.0.1", false},
        {"short bind", 0, 0, false, 20, "127.0.0.1", false},
        {"another address than the client's", 0, 0, false, whole, "127.0.0.2", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Socket ev(ConnectFrom(c.fromIp, server.eventPort));
        ASSERT_TRUE(ev.valid());
        _VTN_EVENT_BIND bind{};
        bind.head = raw::Head(sizeof(bind), VTN_PACKET_REQUEST, 0, 0);
        if (c.badMagic)
            bind.head.magic[7] = 'x';
        bind.eventPort = static_cast<uint16_t>(server.eventPort + c.portDelta);
        bind.slot = c.slot;
        ASSERT_TRUE(raw::SendAll(ev.fd(), &bind, c.bytes));
        if (c.kept)
            EXPECT_TRUE(raw::StaysOpenAndSilent(ev.fd(), 3000));
        else
            EXPECT_TRUE(raw::ClosedByPeer(ev.fd()));
    }
    EXPECT_TRUE(Served(client.fd()));
}

TEST_F(LoginTest, EventChannelLivesWithTheSession)
{
    Start("");
    Socket client;
    ASSERT_EQ(server.Connect(&client).status, 0u);

    // A later bind replaces the earlier one, which is closed.
    Socket first(raw::BindEvents(server.eventPort, static_cast<uint16_t>(server.eventPort)));
    ASSERT_TRUE(raw::StaysOpenAndSilent(first.fd(), 500));
    Socket second(raw::BindEvents(server.eventPort, static_cast<uint16_t>(server.eventPort)));
    EXPECT_TRUE(raw::ClosedByPeer(first.fd()));
    EXPECT_TRUE(raw::StaysOpenAndSilent(second.fd(), 500));

    // Switching the channel off closes it.
    EXPECT_EQ(raw::Request(client.fd(), VTN_GROUP_EVENT, VTN_CODE_EVENT_CHANNEL_OFF).status(), 0u);
    EXPECT_TRUE(raw::ClosedByPeer(second.fd()));

    // The end of the session closes a bound channel too.
    Socket third(raw::BindEvents(server.eventPort, static_cast<uint16_t>(server.eventPort)));
    ASSERT_TRUE(raw::StaysOpenAndSilent(third.fd(), 500));
    client.Close();
    EXPECT_TRUE(raw::ClosedByPeer(third.fd()));

    // Without a logged-in client nothing is bound.
    Socket orphan(raw::BindEvents(server.eventPort, static_cast<uint16_t>(server.eventPort)));
    EXPECT_TRUE(raw::ClosedByPeer(orphan.fd()));
}

TEST_F(LoginTest, NoEventChannelForALoginStillInProgress)
{
    Start("");  // the full login time-out: the pending login outlasts every wait below
    _VTN_LOGIN_GREETING greeting{};
    Socket pending(raw::ConnectGreeted(server.port, &greeting));
    ASSERT_TRUE(pending.valid());
    // The slot is taken, but nobody has logged in on it yet.
    Socket early(raw::BindEvents(server.eventPort, static_cast<uint16_t>(server.eventPort)));
    EXPECT_TRUE(raw::ClosedByPeer(early.fd()));

    raw::LoginResult r = raw::LoginAfterGreeting(pending.fd(), greeting, "RAID", "wqx");
    ASSERT_EQ(r.status, 0u);
    Socket bound(raw::BindEvents(server.eventPort, static_cast<uint16_t>(server.eventPort)));
    EXPECT_TRUE(raw::StaysOpenAndSilent(bound.fd(), 500));
}

}  // namespace
