// The real vtnsvr on the simulated controller: every request group and code against a user with
// no rights and one with every right, and driver calls through to the controller.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "drvrec.h"
#include "global.h"
#include "rawclient.h"
#include "svrrec.h"
#include "testutil.h"

namespace {

using raw::Reply;
using raw::Socket;

constexpr uint32_t kData = 0x0D0D0D0D;     // a data reply of the request's own length
constexpr uint32_t kStamp = 0x57A5757A;    // a status whose word is a time record
constexpr uint32_t kNotNoRight = 0x0BADBAD0;  // served: any answer but "no right"
constexpr uint32_t kSilent = 0x5113A7;     // no answer at all

class Requests : public ::testing::Test {
protected:
    void SetUp() override
    {
        VtnPathForWrite("/etc/vtn.ini");  // the folder for the files written below
        ASSERT_TRUE(server_.Prepare("sata4"));
        ASSERT_TRUE(WriteFileText(root_.Path("/etc/vtnuser.dat"),
                                  raw::UserLine("none", "pw-none", 0) + raw::UserLine("all", "pw-all", 0xFFFFFFFF) +
                                      raw::UserLine("other", "pw-other", 0)));
        ASSERT_TRUE(server_.Start());
    }
    void TearDown() override { EXPECT_EQ(server_.Stop(), 0); }

    void LogIn(Socket* s, const std::string& name)
    {
        raw::LoginResult r = server_.Connect(s, name, "pw-" + name);
        ASSERT_TRUE(r.answered);
        ASSERT_EQ(r.status, 0u) << name;
    }

    // The answer to one request in the terms of the table.
    static uint32_t Outcome(int sock, uint32_t group, uint32_t code, const std::vector<uint8_t>& body)
    {
        std::vector<uint8_t> packet(sizeof(_Packet_Head) + body.size());
        _Packet_Head head = raw::Head(static_cast<uint32_t>(packet.size()), VTN_PACKET_REQUEST, group, code);
        memcpy(packet.data(), &head, sizeof(head));
        std::copy(body.begin(), body.end(), packet.begin() + sizeof(head));
        if (!raw::SendAll(sock, packet.data(), packet.size()))
            return VTN_CONN_CLOSED;
        Reply r = raw::ReadReply(sock, group == VTN_GROUP_LOGOUT ? 500 : raw::kWaitMs);
        if (!r.ok())
            return kSilent;
        if (r.isStatus())
            return r.status();
        bool sized = group == VTN_GROUP_DRIVER || r.bytes.size() == packet.size();
        return r.head().type == VTN_PACKET_REPLY && sized ? kData : 0xBAD;
    }

    TempRoot root_;
    raw::TestServer server_{root_};
};

std::vector<uint8_t> Zeros(size_t n) { return std::vector<uint8_t>(n, 0); }

std::vector<uint8_t> UserRecord(const std::string& name, uint8_t action, uint32_t rights)
{
    std::vector<uint8_t> body(sizeof(_VTN_USER_INFO) + 1, 0);
    _VTN_USER_INFO u{};
    CopyText(u.name, name.c_str());
    CopyText(u.password, "0123456789ABCDEFGHIJKLMNOPQRSTUV");  // a stored form: 32 characters
    u.rights = rights;
    u.flags = VTN_USER_VALID;
    memcpy(body.data(), &u, sizeof(u));
    body[sizeof(u)] = action;
    return body;
}

std::vector<uint8_t> TaskAdd()
{
    std::vector<uint8_t> body(sizeof(_VTN_TASK_INFO) + 1, 0);
    body[sizeof(_VTN_TASK_INFO)] = VTN_TASK_ACTION_ADD;  // array id 0: no array
    return body;
}

std::vector<uint8_t> DriverFrame(uint32_t control, std::vector<uint32_t> in, uint32_t outSize)
{
    std::vector<uint8_t> body(16 + in.size() * 4, 0);
    uint32_t frame[4] = {control, static_cast<uint32_t>(in.size() * 4), outSize, 0};
    memcpy(body.data(), frame, sizeof(frame));
    if (!in.empty())
        memcpy(body.data() + 16, in.data(), in.size() * 4);
    return body;
}

TEST_F(Requests, RightsMatrix)
{
    std::vector<uint8_t> params(sizeof(_CS_ALTERABLE_SERVER_PARAM), 0);
    _CS_ALTERABLE_SERVER_PARAM p{VTN_PARAM_SERVER_PORT | VTN_PARAM_EVENT_PORT, static_cast<uint16_t>(server_.port),
                                 static_cast<uint16_t>(server_.eventPort), 0};
    memcpy(params.data(), &p, sizeof(p));

    struct Row {
        const char* what;
        uint32_t group, code;
        std::vector<uint8_t> body;
        uint32_t none, all;  // expected answer for each user
    };
    auto rowsFor = [&](const std::string& user) -> std::vector<Row> {
        return {
            {"server info", 0x100, 0x102, Zeros(204), kData, kData},
            {"get parameters", 0x100, 0x104, Zeros(12), kData, kData},
            {"set parameters", 0x100, 0x105, params, VTN_NO_RIGHT, 0},
            {"unknown system code", 0x100, 0x103, Zeros(300), VTN_UNSUPPORTED, VTN_UNSUPPORTED},
            {"get SMTP", 0x200, 0x201, Zeros(260), VTN_NO_RIGHT, kNotNoRight},
            {"set SMTP", 0x200, 0x202, Zeros(260), VTN_NO_RIGHT, kNotNoRight},
            {"enumerate recipients", 0x200, 0x203, Zeros(136), VTN_NO_RIGHT, kNotNoRight},
            {"change recipient", 0x200, 0x205, Zeros(133), VTN_NO_RIGHT, kNotNoRight},
            {"test mail", 0x200, 0x206, Zeros(132), VTN_NO_RIGHT, kNotNoRight},
            {"unknown mail code", 0x200, 0x2FF, Zeros(0), VTN_NO_RIGHT, VTN_UNSUPPORTED},
            {"enumerate events", 0x300, 0x301, Zeros(564), kData, kData},
            {"unknown event code", 0x300, 0x302, Zeros(600), VTN_UNSUPPORTED, VTN_UNSUPPORTED},
            {"save event", 0x300, 0x303, Zeros(560), kStamp, kStamp},
            {"enumerate users", 0x400, 0x401, Zeros(276), VTN_NO_RIGHT, kData},
            {"unknown user code", 0x400, 0x402, Zeros(300), VTN_UNSUPPORTED, VTN_UNSUPPORTED},
            {"another user's rights", 0x400, 0x403, UserRecord("other", VTN_USER_SET_RIGHTS, 0x10), VTN_NO_RIGHT, 0},
            {"current user", 0x400, 0x404, Zeros(272), kData, kData},
            {"enumerate tasks", 0x600, 0x601, Zeros(248), VTN_FILE_MISSING, VTN_FILE_MISSING},
            {"add task for no array", 0x600, 0x602, TaskAdd(), VTN_NO_RIGHT, VTN_ARRAY_NOT_USABLE},
            {"unknown task code", 0x600, 0x603, Zeros(300), VTN_UNSUPPORTED, VTN_UNSUPPORTED},
            {"unknown group", 0x700, 0x701, Zeros(300), VTN_UNSUPPORTED, VTN_UNSUPPORTED},
            {"driver: version", 0x10000000, 0, DriverFrame(0xFF00, {}, 4), kData, kData},
            {"driver: array state", 0x10000000, 0, DriverFrame(0xFF0F, {0x7777, 4}, 0), VTN_DRIVER_FAILED, kData},
            {"driver: delete", 0x10000000, 0, DriverFrame(0xFF07, {0x7777, 0}, 4), VTN_DRIVER_FAILED, kData},
            {"drop event channel", 0x300, 0x305, Zeros(0), 0, 0},
            {"clear events", 0x300, 0x304, Zeros(0), VTN_NO_RIGHT, 0},
            {"own password", 0x400, 0x403, UserRecord(user, VTN_USER_SET_PASSWORD, 0), 0, 0},
            {"reboot", 0x100, 0x101, Zeros(0), VTN_NO_RIGHT, 0},
            {"logout", 0x500, 0x501, Zeros(0), kSilent, kSilent},
        };
    };
    for (std::string user : {"none", "all"}) {
        Socket s;
        LogIn(&s, user);
        for (const Row& row : rowsFor(user)) {
            SCOPED_TRACE(user + ": " + row.what);
            uint32_t expect = user == "none" ? row.none : row.all;
            uint32_t got = Outcome(s.fd(), row.group, row.code, row.body);
            if (expect == kNotNoRight) {
                EXPECT_NE(got, VTN_NO_RIGHT);
                EXPECT_NE(got, kSilent);
            } else if (expect == kStamp) {
                _TIME_RECORD now{};
                SetTimeRecord(&now);
                EXPECT_EQ(TimeRecordFromValue(got).year, now.year) << std::hex << got;
                EXPECT_GE(TimeRecordFromValue(got).day, 1u);
            } else {
                EXPECT_EQ(got, expect) << std::hex << got;
            }
        }
    }
    // Only the user with the right rebooted, and only the marker shows it.
    EXPECT_TRUE(FileExists(root_.Path("/var/run/vtn.reboot")));
    EXPECT_NE(server_.Log().find("User all(from 127.0.0.1) exited from system."), std::string::npos);
}

// ---- driver calls through to the simulated controller ----

// One session at a time: each test logs in the one user it drives.
class DriverCalls : public Requests {
protected:
    Reply Call(uint32_t control, const void* in, uint32_t inSize, uint32_t outSize)
    {
        return raw::DriverCall(s_.fd(), control, in, inSize, outSize);
    }
    std::vector<uint32_t> TopLevel()
    {
        uint32_t max = 32;
        Reply r = Call(0xFF04, &max, 4, (max + 1) * 4);
        std::vector<uint32_t> ids;
        if (r.isStatus() || !r.ok())
            return ids;
        uint32_t n = r.At<uint32_t>(36);
        for (uint32_t i = 0; i < n && i < max; ++i)
            ids.push_back(r.At<uint32_t>(40 + 4 * i));
        return ids;
    }
    _LOGICAL_DEVICE_INFO Info(uint32_t id)
    {
        _LOGICAL_DEVICE_INFO d{};
        Reply r = Call(0xFF05, &id, 4, sizeof(d));
        if (r.ok() && !r.isStatus())
            memcpy(&d, r.bytes.data() + 36, sizeof(d));
        return d;
    }
    std::vector<uint32_t> FreeDisks()
    {
        std::vector<uint32_t> disks;
        for (uint32_t id : TopLevel()) {
            _LOGICAL_DEVICE_INFO d = Info(id);
            if (d.type == VTN_DEVICE_DISK && (d.u.disk.status & (VTN_DISK_DISABLED | VTN_DISK_SPARE)) == 0)
                disks.push_back(id);
        }
        return disks;
    }
    // A RAID 0 of the members; its id, or 0 with the status.
    uint32_t CreateRaid0(const std::vector<uint32_t>& members, uint32_t* status)
    {
        _CREATE_ARRAY_PARAMS c{};
        c.raidType = VTN_RAID0;
        c.memberCount = static_cast<uint8_t>(members.size());
        c.blockCode = VTN_BLOCK_CODE_DEFAULT;
        CopyText(c.name, sizeof(c.name), "stripe");
        for (size_t i = 0; i < members.size() && i < 8; ++i)
            c.members[i] = members[i];
        Reply r = Call(0xFF06, &c, sizeof(c), 4);
        *status = r.status();
        return r.isStatus() || !r.ok() ? 0 : r.At<uint32_t>(36);
    }

    Socket s_;
};

TEST_F(DriverCalls, ReadingControlsAnswerTheControllersRecords)
{
    LogIn(&s_, "none");  // reading needs no right
    uint32_t zero = 0, pair[2] = {0, 0};
    struct {
        uint32_t control;
        const void* in;
        uint32_t inSize, outSize;
    } cases[] = {
        {0xFF00, nullptr, 0, 4}, {0xFF01, nullptr, 0, 4}, {0xFF02, &zero, 4, 76},
        {0xFF03, pair, 8, 16},   {0xFF13, nullptr, 0, 44},
    };
    for (auto& c : cases) {
        Reply r = Call(c.control, c.in, c.inSize, c.outSize);
        ASSERT_TRUE(r.ok()) << std::hex << c.control;
        EXPECT_FALSE(r.isStatus()) << std::hex << c.control << " " << r.status();
        EXPECT_EQ(r.bytes.size(), 36u + c.outSize);
        EXPECT_EQ(r.At<uint32_t>(24), c.control);
        EXPECT_EQ(r.At<uint32_t>(32), c.outSize);
    }
    EXPECT_GE(Call(0xFF01, nullptr, 0, 4).At<uint32_t>(36), 1u);
    EXPECT_EQ(Call(0xFF13, nullptr, 0, 44).At<uint32_t>(36), 44u);

    std::vector<uint32_t> ids = TopLevel();
    ASSERT_EQ(ids.size(), 4u);  // four disks, no array
    for (uint32_t id : ids) {
        EXPECT_EQ(Info(id).type, VTN_DEVICE_DISK);
        Reply v2 = Call(0xFF21, &id, 4, sizeof(_LOGICAL_DEVICE_INFO_V2));
        ASSERT_FALSE(v2.isStatus()) << id;
        EXPECT_EQ(v2.At<uint8_t>(36), VTN_DEVICE_DISK);
    }
}

TEST_F(DriverCalls, AControllerMadeAnewWhileTheServerRunsIsServedAndLogged)
{
    LogIn(&s_, "none");
    ASSERT_EQ(TopLevel().size(), 4u);
    std::string log;
    ASSERT_EQ(server_.Sim({"init", "--preset", "sata8"}, &log), 0) << log;
    ASSERT_EQ(server_.Sim({"log"}, &log), 0);
    EXPECT_EQ(log.find("0xFF04"), std::string::npos) << log;
    EXPECT_EQ(TopLevel().size(), 8u);
    ASSERT_EQ(server_.Sim({"log"}, &log), 0);
    EXPECT_NE(log.find("vtnmira.status 0xFF04 in 4 out 132 -> ok"), std::string::npos) << log;
}

TEST_F(DriverCalls, CreateRenameAndDeleteAnArray)
{
    LogIn(&s_, "all");
    std::vector<uint32_t> disks = FreeDisks();
    ASSERT_GE(disks.size(), 2u);
    uint32_t st = 0;
    uint32_t id = CreateRaid0({disks[0], disks[1]}, &st);
    ASSERT_NE(id, 0u) << std::hex << st;
    _LOGICAL_DEVICE_INFO a = Info(id);
    EXPECT_EQ(a.type, VTN_DEVICE_ARRAY);
    EXPECT_EQ(a.u.array.raidType, VTN_RAID0);
    EXPECT_EQ(a.u.array.memberCount, 2);

    uint8_t rename[4 + sizeof(_ALTERABLE_ARRAY_INFO)] = {};
    memcpy(rename, &id, 4);
    uint32_t mask = VTN_ALTER_ARRAY_NAME;
    memcpy(rename + 4, &mask, 4);
    memcpy(rename + 8, "renamed", 7);
    EXPECT_EQ(Call(0xFF10, rename, sizeof(rename), 0).status(), 0u);
    EXPECT_STREQ(Info(id).u.array.name, "renamed");

    uint32_t del[2] = {id, 0};
    Reply r = Call(0xFF07, del, 8, 4);
    EXPECT_FALSE(r.isStatus());
    std::vector<uint32_t> after = TopLevel();
    EXPECT_EQ(std::count(after.begin(), after.end(), id), 0);
    EXPECT_EQ(after.size(), 4u);
}

TEST_F(DriverCalls, DiskSettingsThroughBothRecords)
{
    LogIn(&s_, "all");
    std::vector<uint32_t> disks = FreeDisks();
    ASSERT_FALSE(disks.empty());
    uint32_t id = disks[0];
    uint8_t v2[4 + sizeof(_ALTERABLE_DEVICE_INFO_V2)] = {};
    memcpy(v2, &id, 4);
    uint32_t mask = VTN_ALTER_WRITE_CACHE;
    memcpy(v2 + 4, &mask, 4);
    EXPECT_EQ(Call(0xFF22, v2, sizeof(v2), 0).status(), 0u);
    EXPECT_EQ(Call(0xFF22, v2, sizeof(v2) - 1, 0).status(), VTN_DRIVER_FAILED);  // short record
    uint8_t old[4 + sizeof(_ALTERABLE_DEVICE_INFO)] = {};
    memcpy(old, &id, 4);
    EXPECT_EQ(Call(0xFF11, old, sizeof(old) - 1, 0).status(), VTN_DRIVER_FAILED);
}

TEST_F(DriverCalls, RefusedControls)
{
    LogIn(&s_, "all");
    uint32_t in[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    struct {
        uint32_t control, inSize, outSize;
    } cases[] = {
        {0xFF08, 8, 4}, {0xFF09, 16, 4}, {0xFF0B, 9, 0}, {0xFF18, 8, 4},   {0xFF19, 8, 4},
        {0xFF1A, 8, 4}, {0xFF1E, 8, 4},  {0xFF1F, 8, 4}, {0xFF14, 8, 16},  {0xFF23, 8, 4},
        {0xFEFF, 8, 4}, {0xFF05, 4, 100}, {0xFF04, 4, 4},  // 0xFF04 asking one id needs 8 bytes
    };
    for (auto& c : cases)
        EXPECT_EQ(Call(c.control, in, c.inSize, c.outSize).status(), VTN_DRIVER_FAILED) << std::hex << c.control;
    EXPECT_EQ(raw::RequestSized(s_.fd(), 0x400, 0x404, 272).status(), 0u);  // still served
}

TEST_F(DriverCalls, ChangingControlsNeedTheirRights)
{
    LogIn(&s_, "none");
    std::vector<uint32_t> disks = FreeDisks();
    ASSERT_GE(disks.size(), 2u);
    uint32_t st = 0;
    EXPECT_EQ(CreateRaid0({disks[0], disks[1]}, &st), 0u);
    EXPECT_EQ(st, VTN_DRIVER_FAILED);
    EXPECT_EQ(TopLevel().size(), 4u);  // no array was made

    uint8_t buf[256] = {};
    memcpy(buf, &disks[0], 4);
    struct {
        uint32_t control, inSize, outSize;
    } cases[] = {
        {0xFF07, 8, 4}, {0xFF0C, 4, 0},  {0xFF0D, 4, 0}, {0xFF0E, 8, 0},   {0xFF0F, 8, 0},
        {0xFF10, 88, 0}, {0xFF11, 9, 0}, {0xFF1B, 8, 0}, {0xFF20, 176, 4}, {0xFF22, 68, 0},
    };
    for (auto& c : cases)
        EXPECT_EQ(Call(c.control, buf, c.inSize, c.outSize).status(), VTN_DRIVER_FAILED) << std::hex << c.control;
    EXPECT_EQ(FreeDisks().size(), 4u);  // no disk became a spare
}

}  // namespace
