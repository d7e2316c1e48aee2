// The request dispatcher and the driver-call checks, in process: a client slot whose command
// socket is one end of a socket pair, and the simulated controller (or a recording stand-in)
// behind the driver channel.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "commonsvr.h"
#include "drvdep.h"
#include "drvrec.h"
#include "fakeslot.h"
#include "simctl.h"
#include "svrlib.h"
#include "svrrec.h"
#include "testutil.h"
#include "vtnintf.h"
#include "vtnsysctl.h"

namespace {

using Bytes = std::vector<char>;

Bytes Packet(uint32_t group, uint32_t code, size_t len, uint8_t type = VTN_PACKET_REQUEST)
{
    Bytes p(len < sizeof(_Packet_Head) ? sizeof(_Packet_Head) : len, 0);
    FillPacketHead(reinterpret_cast<_Packet_Head*>(p.data()), static_cast<uint32_t>(len), type, group, code);
    return p;
}

template <typename T>
void Put(Bytes& p, size_t off, const T& v)
{
    ASSERT_LE(off + sizeof(T), p.size());
    memcpy(p.data() + off, &v, sizeof(T));
}

template <typename T>
T Get(const Bytes& p, size_t off)
{
    T v{};
    if (off + sizeof(T) <= p.size())
        memcpy(&v, p.data() + off, sizeof(T));
    return v;
}

Bytes DriverCall(uint32_t control, uint32_t inSize, uint32_t outSize, const Bytes& input = {})
{
    Bytes p = Packet(VTN_GROUP_DRIVER, 0, sizeof(_VTN_DRIVER_CALL) + input.size());
    Put(p, offsetof(_VTN_DRIVER_CALL, code), control);
    Put(p, offsetof(_VTN_DRIVER_CALL, inSize), inSize);
    Put(p, offsetof(_VTN_DRIVER_CALL, outSize), outSize);
    Put(p, offsetof(_VTN_DRIVER_CALL, returned), 0x13572468u);
    if (!input.empty())
        memcpy(p.data() + sizeof(_VTN_DRIVER_CALL), input.data(), input.size());
    return p;
}

Bytes U32s(std::initializer_list<uint32_t> values, size_t size = 0)
{
    Bytes b(std::max(size, values.size() * 4), 0);
    size_t off = 0;
    for (uint32_t v : values) {
        memcpy(b.data() + off, &v, 4);
        off += 4;
    }
    return b;
}

constexpr uint32_t kNoAnswer = 0xDEADBEEF;

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartController();
        ResetVtnProcFile();
        ASSERT_GE(peer_, 0);
        VtnPathForWrite("/etc/vtn.ini");  // makes the folder
        gSvrGlobal.serverPort = 7402;
        gSvrGlobal.eventPort = 7403;
    }

    // The simulated controller with four disks: without it the first driver call ends the process.
    void StartController()
    {
        std::string out;
        ASSERT_EQ(RunProgram({VTN_BINARY_DIR "/platform/vtnsim", "init", "--preset", "sata4"}, &out), 0) << out;
    }
    uint32_t FirstDevice()
    {
        uint32_t ids[8] = {};
        return vtn_get_logical_devices(ids, 8) > 0 ? ids[0] : 0;
    }

    // Runs one request; returns what the server sent back (empty when nothing).
    Bytes Run(Bytes p)
    {
        std::vector<uint8_t> r = fake_.Run(p.data());
        return Bytes(r.begin(), r.end());
    }
    // The status word of a status answer, kNoAnswer when nothing came, the type when data came.
    uint32_t Status(Bytes p)
    {
        Bytes r = Run(std::move(p));
        if (r.empty())
            return kNoAnswer;
        if (r.size() == sizeof(_Packet_Error) && static_cast<uint8_t>(r[12]) == VTN_PACKET_STATUS)
            return Get<uint32_t>(r, 24);
        return 0x100u + static_cast<uint8_t>(r[12]);  // data reply: 0x102
    }

    TempRoot root_;
    FakeSlot fake_{"alice"};
    _VTN_CLIENT_INFO& slot_ = fake_.slot;
    int& peer_ = fake_.peer;
};

constexpr uint32_t kData = 0x102;  // what Status() gives for a data reply

struct SizeCase {
    uint32_t group, code, size;
    bool checkExact;  // the mail functions answer "unsupported" while they are not served
};

TEST_F(Dispatch, EveryRequestNeedsItsWholeRecord)
{
    const SizeCase cases[] = {
        {0x100, 0x102, 228, true}, {0x100, 0x104, 36, true}, {0x100, 0x105, 36, true},
        {0x200, 0x201, 284, false}, {0x200, 0x202, 284, false}, {0x200, 0x203, 160, false},
        {0x200, 0x205, 157, false}, {0x200, 0x206, 156, false}, {0x300, 0x301, 588, true},
        {0x300, 0x303, 584, true}, {0x400, 0x401, 300, true}, {0x400, 0x403, 297, true},
        {0x400, 0x404, 296, true}, {0x600, 0x601, 272, true}, {0x600, 0x602, 269, true},
        {0x10000000, 0, 40, true},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.group << "/" << c.code);
        EXPECT_EQ(Status(Packet(c.group, c.code, c.size - 1)), VTN_UNSUPPORTED);
        EXPECT_EQ(Status(Packet(c.group, c.code, 24)), VTN_UNSUPPORTED);
        if (c.checkExact) {
            EXPECT_NE(Status(Packet(c.group, c.code, c.size)), VTN_UNSUPPORTED);
        }
    }
}

TEST_F(Dispatch, UnknownTypesGroupsAndCodes)
{
    const uint8_t types[] = {0, 2, 3, 4, 255};
    for (uint8_t t : types)
        EXPECT_EQ(Status(Packet(0x400, 0x404, 296, t)), VTN_UNSUPPORTED) << int(t);
    const uint32_t unknown[][2] = {{0x100, 0x100}, {0x100, 0x103}, {0x300, 0x302}, {0x400, 0x402},
                                   {0x600, 0x600}, {0x600, 0x603}, {0x700, 0}, {0, 0}, {0x10000001, 0}};
    for (auto& u : unknown)
        EXPECT_EQ(Status(Packet(u[0], u[1], 600)), VTN_UNSUPPORTED) << std::hex << u[0] << "/" << u[1];
}

TEST_F(Dispatch, MailRightComesBeforeTheCode)
{
    slot_.user.rights = VTN_RIGHTS_ALL & ~VTN_RIGHT_MAIL;
    for (uint32_t code : {0x201u, 0x204u, 0x206u, 0x2FFu})
        EXPECT_EQ(Status(Packet(0x200, code, 24)), VTN_NO_RIGHT) << std::hex << code;
    slot_.user.rights = VTN_RIGHT_MAIL;
    EXPECT_EQ(Status(Packet(0x200, 0x204, 300)), VTN_UNSUPPORTED);
}

TEST_F(Dispatch, CurrentUserAndLogout)
{
    Bytes r = Run(Packet(0x400, 0x404, 296));
    ASSERT_EQ(r.size(), 296u);
    EXPECT_EQ(r[12], VTN_PACKET_REPLY);
    EXPECT_EQ(memcmp(r.data() + 24, &slot_.user, sizeof(_VTN_USER_INFO)), 0);

    ClearSvrFlag(VTN_FLAG_NEW_EVENT);
    EXPECT_EQ(Status(Packet(0x500, 0x777, 24)), kNoAnswer);
    EXPECT_TRUE(TestSvrFlag(VTN_FLAG_NEW_EVENT));
    _VTN_LOG_EVENT ev{};
    ASSERT_EQ(EnumEvent(&ev, 0), VTN_SUCCESS);
    EXPECT_EQ(ev.severity, 'I');
    EXPECT_STREQ(ev.text, "User alice(from 127.0.0.1) exited from system.");
}

TEST_F(Dispatch, LoggedEventIsOneLineStampedWithTheServerTime)
{
    struct {
        char severity;
        std::string text;
        std::string saved;
        char savedSeverity;
    } cases[] = {
        {'W', "Array created", "Array created", 'W'},
        {'I', "two\r\nlines\nhere", "two  lines here", 'I'},
        {'\n', "severity", "severity", 'I'},
        {'\t', "tab", "tab", 'I'},
        {'E', std::string(512, 'x'), std::string(511, 'x'), 'E'},  // no NUL in the field; the log cuts it more
    };
    int n = 0;
    for (auto& c : cases) {
        Bytes p = Packet(0x300, 0x303, 584);
        p[24] = c.severity;
        memcpy(p.data() + 24 + 48, c.text.data(), c.text.size());
        uint32_t stamp = Status(p);
        _VTN_LOG_EVENT ev{};
        ASSERT_EQ(EnumEvent(&ev, n++), VTN_SUCCESS);
        std::string text(ev.text);
        EXPECT_EQ(ev.severity, c.savedSeverity);
        EXPECT_GE(text.size(), std::min<size_t>(c.saved.size(), 400));
        EXPECT_EQ(text, c.saved.substr(0, text.size()));
        EXPECT_EQ(TimeRecordValue(ev.time), stamp);
        EXPECT_NE(stamp, 0u);
    }
    _VTN_LOG_EVENT ev{};
    EXPECT_EQ(EnumEvent(&ev, n), VTN_NO_MORE_ENTRIES);

    // The same event read back through the request.
    Bytes q = Packet(0x300, 0x301, 588);
    Put(q, 584, 1u);
    Bytes r = Run(q);
    ASSERT_EQ(r.size(), 588u);
    EXPECT_STREQ(r.data() + 24 + 48, "two  lines here");
    Put(q, 584, 0x80000000u);
    EXPECT_EQ(Status(q), VTN_NO_MORE_ENTRIES);
}

TEST_F(Dispatch, RightsOfTheServerAndEventRequests)
{
    struct {
        uint32_t group, code, size, right;
    } cases[] = {
        {0x100, 0x101, 24, VTN_RIGHT_REBOOT},      {0x100, 0x105, 36, VTN_RIGHT_SERVER_PARAM},
        {0x300, 0x304, 24, VTN_RIGHT_CLEAR_EVENTS}, {0x400, 0x401, 300, VTN_RIGHT_USERS},
        {0x600, 0x602, 269, VTN_RIGHT_TASKS},
    };
    for (auto& c : cases) {
        slot_.user.rights = VTN_RIGHTS_ALL & ~c.right;
        EXPECT_EQ(Status(Packet(c.group, c.code, c.size)), VTN_NO_RIGHT) << std::hex << c.code;
    }
    EXPECT_FALSE(FileExists(root_.Path("/var/run/vtn.reboot")));
    slot_.user.rights = VTN_RIGHT_REBOOT;
    EXPECT_EQ(Status(Packet(0x100, 0x101, 24)), 0u);
    EXPECT_TRUE(FileExists(root_.Path("/var/run/vtn.reboot")));
}

TEST_F(Dispatch, UserChangeOwnRecordAndOthers)
{
    struct {
        const char* what;
        uint32_t callerRights;
        uint32_t callerFlags;
        const char* name;
        uint32_t recordFlags;
        uint8_t action;
        uint32_t expect;
    } cases[] = {
        {"own password", 0, 1, "alice", 1, VTN_USER_SET_PASSWORD, 0},
        {"own rights without the right", 0, 1, "alice", 1, VTN_USER_SET_RIGHTS, VTN_NO_RIGHT},
        {"own delete without the right", 0, 1, "alice", 1, VTN_USER_DELETE, VTN_NO_RIGHT},
        {"another's password", 0, 1, "bob", 1, VTN_USER_SET_PASSWORD, VTN_NO_RIGHT},
        {"same name, system account", 0, 1, "alice", 3, VTN_USER_SET_PASSWORD, VTN_NO_RIGHT},
        {"system account password", VTN_RIGHT_USERS, 1, "bob", 3, VTN_USER_SET_PASSWORD, VTN_FAILURE},
        {"another's rights", VTN_RIGHT_USERS, 1, "bob", 1, VTN_USER_SET_RIGHTS, 0},
        {"unknown user", VTN_RIGHT_USERS, 1, "carol", 1, VTN_USER_SET_RIGHTS, VTN_NOT_FOUND},
        {"unknown action", VTN_RIGHT_USERS, 1, "bob", 1, 9, VTN_FAILURE},
        {"add existing", VTN_RIGHT_USERS, 1, "bob", 1, VTN_USER_ADD, VTN_EXISTS},
        {"line-breaking name", VTN_RIGHT_USERS, 1, "ev:il", 1, VTN_USER_ADD, VTN_FAILURE},
    };
    for (auto& c : cases) {
        WriteFileText(root_.Path("/etc/vtnuser.dat"),
                      "alice:ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef:0:0:1:first\n"
                      "bob:ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef:0:0:1:second\n");
        slot_.user.rights = c.callerRights;
        slot_.user.flags = c.callerFlags;
        Bytes p = Packet(0x400, 0x403, 297);
        _VTN_USER_INFO rec{};
        CopyText(rec.name, c.name);
        CopyText(rec.password, "0123456789abcdefghijklmnopqrstuv");
        rec.rights = 0x10;
        rec.flags = c.recordFlags;
        Put(p, 24, rec);
        p[296] = static_cast<char>(c.action);
        EXPECT_EQ(Status(p), c.expect) << c.what;
    }
}

TEST_F(Dispatch, UserNameIsCutInsideItsField)
{
    slot_.user.rights = VTN_RIGHT_USERS;
    WriteFileText(root_.Path("/etc/vtnuser.dat"), "alice:ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef:0:0:1:first\n");
    Bytes p = Packet(0x400, 0x403, 297);
    memset(p.data() + 24, 'n', 272);  // no NUL anywhere in the record
    _VTN_USER_INFO probe{};
    p[296] = VTN_USER_SET_RIGHTS;
    EXPECT_EQ(Status(p), VTN_NOT_FOUND);
    EXPECT_EQ(EnumUser(&probe, 1), VTN_NO_MORE_ENTRIES);
}

TEST_F(Dispatch, OwnRightsChangeHoldsForTheSessionAtOnce)
{
    constexpr uint32_t kBefore = VTN_RIGHT_USERS | VTN_RIGHT_CLEAR_EVENTS;
    constexpr uint32_t kAfter = VTN_RIGHT_USERS;
    struct {
        const char* what;
        const char* name;
        uint32_t recordFlags;
        uint8_t action;
        uint32_t status;
        uint32_t sessionRights;  // the slot's rights afterwards
    } cases[] = {
        {"own rights", "alice", 1, VTN_USER_SET_RIGHTS, 0, kAfter},
        {"another's rights", "bob", 1, VTN_USER_SET_RIGHTS, 0, kBefore},
        {"system account of the same name", "alice", 3, VTN_USER_SET_RIGHTS, VTN_NOT_FOUND, kBefore},
        {"own password", "alice", 1, VTN_USER_SET_PASSWORD, 0, kBefore},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileText(root_.Path("/etc/vtnuser.dat"),
                      "alice:ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef:800000:800000:1:first\n"
                      "bob:ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef:0:0:1:second\n");
        slot_.user.rights = kBefore;
        slot_.user.rights2 = kBefore;
        slot_.user.flags = 1;
        Bytes p = Packet(0x400, 0x403, 297);
        _VTN_USER_INFO rec{};
        CopyText(rec.name, c.name);
        CopyText(rec.password, "0123456789abcdefghijklmnopqrstuv");
        rec.rights = kAfter;
        rec.rights2 = kAfter;
        rec.flags = c.recordFlags;
        Put(p, 24, rec);
        p[296] = static_cast<char>(c.action);
        EXPECT_EQ(Status(p), c.status);
        EXPECT_EQ(slot_.user.rights, c.sessionRights);
        EXPECT_EQ(slot_.user.rights2, c.sessionRights);
        // The next request is checked against the session's rights as they are now.
        EXPECT_EQ(Status(Packet(0x300, 0x304, 24)), c.sessionRights == kAfter ? VTN_NO_RIGHT : 0u);
    }
}

TEST_F(Dispatch, ServerParametersFillMissingPortsWithThoseInUse)
{
    struct {
        const char* file;  // nullptr: no file
        uint32_t flags;
        uint16_t serverPort, eventPort;
    } cases[] = {
        {nullptr, 0, 7402, 7403},
        {"SerVerPort 8000\n", 1, 8000, 7403},
        {"eventport\t9001\nserverport 9000\n", 3, 9000, 9001},
    };
    for (auto& c : cases) {
        std::string ini = root_.Path("/etc/vtn.ini");
        unlink(ini.c_str());
        if (c.file != nullptr)
            WriteFileText(ini, c.file);
        Bytes r = Run(Packet(0x100, 0x104, 36));
        ASSERT_EQ(r.size(), 36u);
        EXPECT_EQ(Get<uint32_t>(r, 24), c.flags);
        EXPECT_EQ(Get<uint16_t>(r, 28), c.serverPort);
        EXPECT_EQ(Get<uint16_t>(r, 30), c.eventPort);
    }
}

TEST_F(Dispatch, SettingServerParameters)
{
    struct {
        uint32_t flags;
        uint16_t serverPort, eventPort;
        uint32_t expect;
        const char* file;  // the file afterwards
    } cases[] = {
        {3, 8000, 8001, 0, "serverport\t8000\neventport\t8001\n"},
        {2, 0, 9001, 0, "serverport\t8000\neventport\t9001\n"},
        {1, 0, 0, VTN_FAILURE, "serverport\t8000\neventport\t9001\n"},
        {3, 8005, 8005, VTN_FAILURE, "serverport\t8000\neventport\t9001\n"},
        {1, 9001, 0, VTN_FAILURE, "serverport\t8000\neventport\t9001\n"},  // equal to the event port
    };
    for (auto& c : cases) {
        Bytes p = Packet(0x100, 0x105, 36);
        _CS_ALTERABLE_SERVER_PARAM param{c.flags, c.serverPort, c.eventPort, 0};
        Put(p, 24, param);
        EXPECT_EQ(Status(p), c.expect) << c.flags << " " << c.serverPort << " " << c.eventPort;
        EXPECT_EQ(ReadFileText(root_.Path("/etc/vtn.ini")), c.file);
    }
}

TEST_F(Dispatch, ServerInfoRecord)
{
    Bytes r = Run(Packet(0x100, 0x102, 228));
    ASSERT_EQ(r.size(), 228u);
    EXPECT_EQ(Get<uint32_t>(r, 24), 0x01000000u);
    EXPECT_EQ(static_cast<uint8_t>(r[28]), 3);
    EXPECT_EQ(Get<uint16_t>(r, 29), 1);
    struct utsname u {};
    ASSERT_EQ(uname(&u), 0);
    EXPECT_STREQ(r.data() + 24 + 8, u.sysname);
    EXPECT_STREQ(r.data() + 24 + 72, u.nodename);
    EXPECT_NE(Get<uint32_t>(r, 224), 0u);
}

TEST_F(Dispatch, EventChannelOffClosesTheEventSocket)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    slot_.eventSocket = sv[0];
    EXPECT_EQ(Status(Packet(0x300, 0x305, 24)), 0u);
    EXPECT_EQ(slot_.eventSocket, -1);
    char c;
    EXPECT_EQ(recv(sv[1], &c, 1, 0), 0);  // the server's end is closed
    close(sv[1]);
}

TEST_F(Dispatch, TaskForAnUnknownArrayIsRefused)
{
    Bytes p = Packet(0x600, 0x602, 269);
    Put(p, 24, 0x12345u);
    p[268] = VTN_TASK_ACTION_ADD;
    EXPECT_EQ(Status(p), VTN_ARRAY_NOT_USABLE);
    EXPECT_EQ(Status(Packet(0x600, 0x601, 272)), VTN_FILE_MISSING);  // nothing was written
}

TEST_F(Dispatch, TasksFollowTheirArrayThroughRenameAndDelete)
{
    uint32_t ids[8] = {};
    ASSERT_GE(vtn_get_logical_devices(ids, 8), 2);
    _CREATE_ARRAY_PARAMS c{};
    c.raidType = VTN_RAID1;
    c.memberCount = 2;
    CopyText(c.name, sizeof(c.name), "mirror");
    c.members[0] = ids[0];
    c.members[1] = ids[1];
    uint32_t array = vtn_create_array(&c);
    ASSERT_NE(array, 0u);

    _VTN_TASK_INFO task{};
    task.arrayId = array;
    CopyText(task.name, "nightly");
    CopyText(task.arrayName, "mirror");
    task.kind = VTN_TASK_VERIFY | VTN_TASK_DAYS | VTN_TASK_ENABLED;
    Bytes add = Packet(0x600, 0x602, 269);
    Put(add, 24, task);
    add[268] = VTN_TASK_ACTION_ADD;
    ASSERT_EQ(Status(add), 0u);

    Bytes rename = U32s({array, VTN_ALTER_ARRAY_NAME}, 88);
    memcpy(rename.data() + 8, "renamed", 7);
    _VTN_TASK_INFO got{};
    // Without the right neither the array nor its task changes.
    slot_.user.rights = VTN_RIGHTS_ALL & ~VTN_RIGHT_RENAME_ARRAY;
    EXPECT_EQ(Status(DriverCall(VTN_CTL_SET_ARRAY_INFO, 88, 0, rename)), VTN_DRIVER_FAILED);
    ASSERT_EQ(vtn_enum_tasks(&got, 0), VTN_SUCCESS);
    EXPECT_STREQ(got.arrayName, "mirror");

    slot_.user.rights = VTN_RIGHTS_ALL;
    EXPECT_EQ(Status(DriverCall(VTN_CTL_SET_ARRAY_INFO, 88, 0, rename)), kData);
    ASSERT_EQ(vtn_enum_tasks(&got, 0), VTN_SUCCESS);
    EXPECT_STREQ(got.arrayName, "renamed");
    EXPECT_STREQ(got.name, "nightly");

    slot_.user.rights = VTN_RIGHTS_ALL & ~VTN_RIGHT_DELETE_ARRAY;
    EXPECT_EQ(Status(DriverCall(VTN_CTL_DELETE_ARRAY, 8, 4, U32s({array, 0}))), VTN_DRIVER_FAILED);
    EXPECT_EQ(vtn_enum_tasks(&got, 0), VTN_SUCCESS);
    // A deletion the driver refuses answers success at the packet level, and the task stays.
    slot_.user.rights = VTN_RIGHTS_ALL;
    std::string msg;
    ASSERT_TRUE(VtnSimFailNext(VTN_CTL_DELETE_ARRAY, 1, &msg)) << msg;
    EXPECT_EQ(Status(DriverCall(VTN_CTL_DELETE_ARRAY, 8, 4, U32s({array, 0}))), kData);
    EXPECT_EQ(vtn_enum_tasks(&got, 0), VTN_SUCCESS);
    EXPECT_EQ(Status(DriverCall(VTN_CTL_DELETE_ARRAY, 8, 4, U32s({array, 0}))), kData);
    EXPECT_EQ(vtn_enum_tasks(&got, 0), VTN_NO_MORE_ENTRIES);
}

TEST_F(Dispatch, DriverCallFrame)
{
    uint32_t id = FirstDevice();
    ASSERT_NE(id, 0u);
    Bytes r = Run(DriverCall(VTN_CTL_GET_DEVICE_INFO, 4, 174, U32s({id})));
    ASSERT_EQ(r.size(), 36u + 174u);
    EXPECT_EQ(Get<uint32_t>(r, 0), 36u + 174u);
    EXPECT_EQ(r[12], VTN_PACKET_REPLY);
    EXPECT_EQ(Get<uint32_t>(r, 24), VTN_CTL_GET_DEVICE_INFO);
    EXPECT_EQ(Get<uint32_t>(r, 28), 0x13572468u);  // the client's word, unchanged
    EXPECT_EQ(Get<uint32_t>(r, 32), 174u);
    _LOGICAL_DEVICE_INFO direct{};
    ASSERT_EQ(vtn_get_device_info(id, &direct), 0);
    EXPECT_EQ(memcmp(r.data() + 36, &direct, sizeof(direct)), 0);
}

TEST_F(Dispatch, DriverCallSizesThatDoNotFit)
{
    uint32_t id = FirstDevice();
    ASSERT_NE(id, 0u);
    struct {
        const char* what;
        uint32_t inSize, outSize;
        size_t sent;  // input bytes actually in the packet
        uint32_t expect;
    } cases[] = {
        {"input longer than the packet", 8, 174, 4, VTN_UNSUPPORTED},
        {"input size that wraps", 0xFFFFFFFFu, 174, 4, VTN_UNSUPPORTED},
        {"input size that wraps 40 + n", 0xFFFFFFD8u, 174, 4, VTN_UNSUPPORTED},
        {"huge output", 4, 0xFFFFFFFFu, 4, VTN_DRIVER_FAILED},
        {"output above the cap", 4, 64 * 1024 + 1, 4, VTN_DRIVER_FAILED},
        {"output below the record", 4, 173, 4, VTN_DRIVER_FAILED},
        {"no input", 0, 174, 0, VTN_DRIVER_FAILED},
        {"output at the cap", 4, 64 * 1024, 4, kData},
    };
    for (auto& c : cases) {
        Bytes in = U32s({id}, c.sent);
        in.resize(c.sent);
        EXPECT_EQ(Status(DriverCall(VTN_CTL_GET_DEVICE_INFO, c.inSize, c.outSize, in)), c.expect) << c.what;
    }
}

// ---- vtn_call_driver against a recording stand-in for the driver ----

std::vector<uint32_t> gCalls;
int gDriverResult = 0;

int RecordingDriver(const char*, const _VTN_DRIVER_REQUEST* req)
{
    gCalls.push_back(req->code);
    if (gDriverResult == 0 && req->out != nullptr)
        memset(req->out, 0x5A, req->outSize);
    return gDriverResult;
}

class CallDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        VtnSetDriverHandler(RecordingDriver);
        ResetVtnProcFile();
        gDriverResult = 0;
        vtn_get_version();  // chooses the channel
        gCalls.clear();
    }
    void TearDown() override
    {
        VtnSetDriverHandler(nullptr);
        ResetVtnProcFile();
    }
    TempRoot root_;
};

struct CallCase {
    uint32_t code;
    uint32_t rights;
    uint32_t inSize, outSize;
    int expect;
    bool reachesDriver;
};

TEST_F(CallDriver, RightsAndSizesPerControl)
{
    constexpr uint32_t all = VTN_RIGHTS_ALL;
    const CallCase cases[] = {
        {0xFF00, 0, 0, 4, 0, true},          {0xFF00, 0, 0, 3, -1, false},
        {0xFF01, 0, 0, 4, 0, true},          {0xFF02, 0, 4, 76, 0, true},
        {0xFF02, 0, 4, 75, -1, false},       {0xFF03, 0, 4, 16, -1, false},
        {0xFF03, 0, 8, 16, 0, true},         {0xFF04, 0, 4, 12, 0, true},   // max 2: (2 + 1) * 4
        {0xFF04, 0, 4, 11, -1, false},       {0xFF05, 0, 4, 174, 0, true},
        {0xFF05, 0, 4, 173, -1, false},      {0xFF05, 0, 0, 174, -1, false},
        {0xFF06, all & ~1u, 136, 4, -1, false}, {0xFF06, 0x1, 136, 4, 0, true},
        {0xFF06, 0x1, 135, 4, -1, false},    {0xFF07, all & ~2u, 8, 4, -1, false},
        {0xFF07, 0x2, 8, 4, 0, true},        {0xFF08, all, 64, 64, -1, false},
        {0xFF09, all, 16 + 512, 4, -1, false}, {0xFF0A, 0, 0, 44, 0, true},
        {0xFF0A, 0, 0, 43, -1, false},       {0xFF0B, all, 9, 0, -1, false},
        {0xFF0C, 0x10000, 4, 0, -1, false},  {0xFF0C, 0x20000, 4, 0, 0, true},
        {0xFF0D, 0x20000, 4, 0, -1, false},  {0xFF0D, 0x10000, 4, 0, 0, true},
        {0xFF0E, 0x10000, 8, 0, 0, true},    {0xFF0E, 0x10000, 4, 0, -1, false},
        {0xFF0F, 0x20, 8, 0, 0, true},       {0xFF0F, 0x8, 8, 0, 0, true},
        {0xFF0F, all & ~0x78u, 8, 0, -1, false}, {0xFF10, 0x4, 88, 0, 0, true},
        {0xFF10, 0x4, 87, 0, -1, false},     {0xFF10, all & ~4u, 88, 0, -1, false},
        {0xFF11, 0x4000000, 9, 0, 0, true},  {0xFF11, all & ~0x0F000000u, 9, 0, -1, false},
        {0xFF12, 0, 0, 0, 0, true},          {0xFF13, 0, 0, 44, 0, true},
        {0xFF13, 0, 0, 40, -1, false},       {0xFF14, 0, 4, 16, 0, true},
        {0xFF14, 0, 8, 16, -1, false},       {0xFF14, 0, 4, 32, -1, false},
        {0xFF15, 0, 20, 0, 0, true},         {0xFF15, 0, 24, 0, -1, false},
        {0xFF16, 0, 9, 0, 0, true},          {0xFF16, 0, 8, 0, -1, false},
        {0xFF17, 0, 4, 0, 0, true},          {0xFF17, 0, 8, 0, -1, false},
        {0xFF18, all, 16, 16, -1, false},    {0xFF1A, all, 16, 16, -1, false},
        {0xFF1B, 0x20000, 8, 0, 0, true},    {0xFF1B, 0x20000, 12, 0, -1, false},
        {0xFF1B, all & ~0x20000u, 8, 0, -1, false},
        {0xFF1E, all, 8, 4, -1, false},      {0xFF1F, all, 8, 4, -1, false},
        {0xFF20, 0x1, 176, 4, 0, true},      {0xFF20, 0x1, 175, 4, -1, false},
        {0xFF20, all & ~1u, 176, 4, -1, false}, {0xFF21, 0, 4, 216, 0, true},
        {0xFF21, 0, 4, 215, -1, false},      {0xFF22, 0x1000000, 68, 0, 0, true},
        {0xFF22, 0x1000000, 67, 0, -1, false}, {0xFF22, all & ~0x0F000000u, 68, 0, -1, false},
        {0xFF23, all, 64, 64, -1, false},    {0xFEFF, all, 64, 64, -1, false},
        {0, all, 64, 64, -1, false},
    };
    for (const CallCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "code " << c.code << " rights " << c.rights << std::dec
                                        << " in " << c.inSize << " out " << c.outSize);
        std::vector<uint8_t> in(c.inSize + 8, 0), out(c.outSize + 8, 0);
        uint32_t max = 2;
        memcpy(in.data(), &max, 4);  // 0xFF04 asks for 2 ids
        gCalls.clear();
        int rc = vtn_call_driver(c.code, c.inSize ? in.data() : nullptr, c.inSize,
                                 c.outSize ? out.data() : nullptr, c.outSize, nullptr, c.rights);
        EXPECT_EQ(rc, c.expect);
        bool called = std::find(gCalls.begin(), gCalls.end(), c.code) != gCalls.end();
        EXPECT_EQ(called, c.reachesDriver);
        for (size_t i = c.outSize; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0) << "written past the output size";
    }
}

TEST_F(CallDriver, CallsThatCountAsDoneWhenTheDriverRefuses)
{
    gDriverResult = -1;
    const CallCase cases[] = {
        {0xFF00, 0, 0, 4, 0, true}, {0xFF01, 0, 0, 4, 0, true},  {0xFF07, 0x2, 8, 4, 0, true},
        {0xFF0F, 0x20, 8, 0, 0, true}, {0xFF05, 0, 4, 174, -1, true}, {0xFF06, 0x1, 136, 4, -1, true},
        {0xFF0C, 0x20000, 4, 0, -1, true},
    };
    for (const CallCase& c : cases) {
        std::vector<uint8_t> in(c.inSize, 0), out(c.outSize, 0);
        EXPECT_EQ(vtn_call_driver(c.code, c.inSize ? in.data() : nullptr, c.inSize,
                                  c.outSize ? out.data() : nullptr, c.outSize, nullptr, c.rights),
                  c.expect)
            << std::hex << c.code;
    }
}

TEST_F(CallDriver, RescanLogsTwoLines)
{
    ASSERT_EQ(vtn_call_driver(0xFF12, nullptr, 0, nullptr, 0, nullptr, 0), 0);
    _VTN_LOG_EVENT ev{};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(EnumEvent(&ev, i), VTN_SUCCESS);
        EXPECT_EQ(ev.severity, 'i');
        EXPECT_STREQ(ev.text, "test");
    }
    EXPECT_EQ(EnumEvent(&ev, 2), VTN_NO_MORE_ENTRIES);
}

}  // namespace
