// Driver events: translation of every kind over a simulated topology, and the drain of the
// driver's queue into log lines and pushed packets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "commonsvr.h"
#include "modelpeer.h"
#include "testutil.h"

namespace {

// Ids of the topology every test starts from.
constexpr uint32_t kFreeDisk = 1;        // controller 0, channel 1, device 0
constexpr uint32_t kMemberDisk = 7;      // controller 1, channel 0, device 1; member of kLongName
constexpr uint32_t kStripe10 = 30;       // RAID 0 over the mirrors 31 and 32 (a RAID 1/0)
constexpr uint32_t kMirrorB = 32;
constexpr uint32_t kLongName = 40;       // RAID 1 with a 16-character name (no NUL in its field)
constexpr uint32_t kMirror01 = 50;       // RAID 1 over the stripes 51 and 52 (a RAID 0/1)
constexpr uint32_t kHalf1 = 51;
constexpr uint32_t kParity = 60;         // RAID 5
constexpr uint32_t kNameless = 70;       // RAID 1 whose name is empty
constexpr uint32_t kGone = 999;          // no such device
// Records the driver gives as they are: kWide claims 200 members, 8 of them listed.
constexpr uint32_t kWide = 90;
constexpr uint32_t kWideLast = 91;       // the eighth member of kWide
constexpr uint32_t kNotListed = 92;      // names kWide as parent, but is none of its members

class EventsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.AddDisk(kFreeDisk, 0, 1, 0, "FREE0001");
        sim.AddDisk(3, 0, 2, 0, "S10A0001");
        sim.AddDisk(4, 0, 3, 0, "S10A0002");
        sim.AddDisk(5, 1, 2, 0, "S10B0001");
        sim.AddDisk(6, 1, 3, 0, "S10B0002");
        sim.AddArray(31, "MirrorA", VTN_RAID1, {3, 4});
        sim.AddArray(kMirrorB, "MirrorB", VTN_RAID1, {5, 6});
        sim.AddArray(kStripe10, "Striped10", VTN_RAID0, {31, kMirrorB});
        sim.AddDisk(kMemberDisk, 1, 0, 1, "LONG0001");
        sim.AddDisk(8, 1, 1, 1, "LONG0002");
        sim.AddArray(kLongName, "ABCDEFGHIJKLMNOP", VTN_RAID1, {kMemberDisk, 8});
        sim.AddDisk(11, 2, 0, 0, "M01A0001");
        sim.AddDisk(12, 2, 1, 0, "M01A0002");
        sim.AddDisk(13, 2, 2, 0, "M01B0001");
        sim.AddDisk(14, 2, 3, 0, "M01B0002");
        sim.AddArray(kHalf1, "Half1", VTN_RAID0, {11, 12});
        sim.AddArray(52, "Half2", VTN_RAID0, {13, 14});
        sim.AddArray(kMirror01, "Mirror01", VTN_RAID1, {kHalf1, 52});
        sim.AddDisk(15, 3, 0, 0, "R5000001");
        sim.AddDisk(16, 3, 1, 0, "R5000002");
        sim.AddDisk(17, 3, 2, 0, "R5000003");
        sim.AddArray(kParity, "Parity", VTN_RAID5, {15, 16, 17});
        sim.AddDisk(18, 3, 3, 0, "NONAME01");
        sim.AddDisk(19, 3, 3, 1, "NONAME02");
        sim.AddArray(kNameless, "", VTN_RAID1, {18, 19});
        using modelpeer::Topology;
        sim.GiveRecord(kWide, Topology::ArrayRecord("Wide", VTN_RAID0, 200, {1, 3, 4, 5, 6, 7, 8, kWideLast}));
        sim.GiveRecord(kWideLast, Topology::ArrayRecord("Last", VTN_RAID1, 0, {}, kWide));
        sim.GiveRecord(kNotListed, Topology::ArrayRecord("Stray", VTN_RAID1, 0, {}, kWide));
    }

    static _VTN_EVENT Event(uint8_t kind, uint32_t device, uint8_t duplicate = 0, const char* name = nullptr)
    {
        _VTN_EVENT e{};
        e.time = ConvertTimeT(1700000000);
        e.device = device;
        e.kind = kind;
        if (name != nullptr)
            memcpy(e.u.name, name, strnlen(name, sizeof(e.u.name)));
        else
            e.u.duplicate = duplicate;
        return e;
    }

    TempRoot root;
    modelpeer::Topology sim;
};

struct TranslateCase {
    uint8_t kind;
    uint32_t device;
    uint8_t duplicate;
    const char* name;      // the 32-byte name of kinds 14 and 15
    char severity;         // 0: dropped
    const char* text;
};

TEST_F(EventsTest, EveryKindToItsSeverityAndText)
{
    const std::string name32(32, 'N');   // fills the event's name field: no NUL
    const TranslateCase cases[] = {
        {1, kFreeDisk, 0, nullptr, 'E', "Disk at Controller1-Channel2-Device1 failed."},
        {1, kLongName, 0, nullptr, 'E', "Disk at  failed."},
        {3, kMemberDisk, 0, nullptr, 'E', "Disk at Controller2-Channel1-Device2 failed."},
        {2, kFreeDisk, 0, nullptr, 'W', "Plugging disk detected.(Controller1-Channel2-Device1)"},
        {2, kGone, 0, nullptr, 'W', "Plugging disk detected.()"},
        {4, kMirrorB, 0, nullptr, 'I', "Array 'Member 2 of Striped10' rebuilding started."},
        {4, kLongName, 1, nullptr, 'I', "Array 'ABCDEFGHIJKLMNOP' duplicating started."},
        {4, kFreeDisk, 0, nullptr, 0, nullptr},
        {5, kLongName, 0, nullptr, 'W', "Array 'ABCDEFGHIJKLMNOP' rebuilding aborted."},
        {5, kLongName, 1, nullptr, 'W', "Array 'ABCDEFGHIJKLMNOP' duplicating aborted."},
        {6, kStripe10, 0, nullptr, 'I', "Array 'Striped10' rebuilding completed."},
        {6, kStripe10, 9, nullptr, 'I', "Array 'Striped10' duplicating completed."},
        {7, 8, 0, nullptr, 'W', "Spare disk took over.(Array: ABCDEFGHIJKLMNOP)"},
        {7, kFreeDisk, 0, nullptr, 0, nullptr},     // no parent array
        {7, kLongName, 0, nullptr, 0, nullptr},     // not a disk
        {8, kMirror01, 0, nullptr, 'W', "Array 'Mirror01' rebuilding failed."},
        {8, kMirror01, 1, nullptr, 'W', "Array 'Mirror01' duplicating failed."},
        {9, kParity, 0, nullptr, 'I', "Array 'Parity' verifying started."},
        {9, kGone, 0, nullptr, 0, nullptr},
        {10, kParity, 1, nullptr, 'W', "Array 'Parity' verifying aborted."},   // no duplication texts
        {11, kParity, 0, nullptr, 'W', "Array 'Parity' verifying failed."},
        {12, kParity, 0, nullptr, 'I', "Array 'Parity' verifying completed."},
        {12, kMemberDisk, 0, nullptr, 0, nullptr},
        {13, kHalf1, 0, nullptr, 'I', "Array 'Member 1 of Mirror01' initializing started."},
        {13, kWideLast, 0, nullptr, 'I', "Array 'Member 8 of Wide' initializing started."},
        {13, kNotListed, 0, nullptr, 'I', "Array '' initializing started."},   // the count is not trusted
        {14, kGone, 0, "Vanished", 'W', "Array 'Vanished' initializing aborted, the array is deleted."},
        {15, kGone, 0, name32.c_str(), 'W',
         "Array 'NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNN' initializing failed, the array is deleted."},
        {14, kGone, 0, "", 0, nullptr},             // neither a name nor an array
        {16, kLongName, 0, nullptr, 'I', "Array 'ABCDEFGHIJKLMNOP' initializing completed."},
        {17, kParity, 0, nullptr, 'W', "Array 'Parity' data is not consistent."},
        {0, kParity, 0, nullptr, 0, nullptr},
        {18, kParity, 0, nullptr, 0, nullptr},
        {255, kFreeDisk, 0, nullptr, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.kind) + " device " + std::to_string(c.device));
        _VTN_EVENT in = Event(c.kind, c.device, c.duplicate, c.name);
        _VTN_LOG_EVENT out{};
        int rc = TranslateVtnEvent(&in, &out);
        if (c.severity == 0) {
            EXPECT_EQ(rc, -1);
            continue;
        }
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(out.severity, c.severity);
        EXPECT_STREQ(out.text, c.text);
        EXPECT_EQ(out.mark, 3);   // not '1': the mail monitor mails it
        EXPECT_EQ(memcmp(&out.time, &in, sizeof(in)), 0);   // the whole driver event at +4
    }
    _VTN_LOG_EVENT out{};
    _VTN_EVENT in = Event(1, kFreeDisk);
    EXPECT_EQ(TranslateVtnEvent(nullptr, &out), -1);
    EXPECT_EQ(TranslateVtnEvent(&in, nullptr), -1);
}

TEST_F(EventsTest, InitializationEndsDeleteTheArrayOnlyWhenLogged)
{
    _VTN_LOG_EVENT out{};
    _VTN_EVENT failed = Event(15, kParity);
    ASSERT_EQ(TranslateVtnEvent(&failed, &out), 0);
    EXPECT_STREQ(out.text, "Array 'Parity' initializing failed, the array is deleted.");
    EXPECT_EQ(sim.Model().FindArray(kParity), nullptr);

    _VTN_EVENT dropped = Event(14, kNameless);
    EXPECT_EQ(TranslateVtnEvent(&dropped, &out), -1);
    EXPECT_NE(sim.Model().FindArray(kNameless), nullptr);
}

// The drain: driver events become log lines, each pushed to the logged-in client with the
// line's own time; an event a client saved is not pushed back to it.
class DrainTest : public EventsTest {
protected:
    void SetUp() override
    {
        EventsTest::SetUp();
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
        _VTN_CLIENT_INFO& slot = gSvrGlobal.client[0];
        memset(&slot, 0, sizeof(slot));
        slot.commandSocket = -1;
        slot.eventSocket = sv[0];
        slot.flags = VTN_SLOT_IN_USE;
        peer = sv[1];
    }
    void TearDown() override
    {
        std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
        _VTN_CLIENT_INFO& slot = gSvrGlobal.client[0];
        close(slot.eventSocket);
        memset(&slot, 0, sizeof(slot));
        slot.commandSocket = -1;
        slot.eventSocket = -1;
        close(peer);
    }
    // The next pushed packet, or an empty one when none is waiting.
    _VTN_EVENT_PACKET Pushed()
    {
        _VTN_EVENT_PACKET p{};
        size_t got = 0;
        while (got < sizeof(p)) {
            ssize_t n = recv(peer, reinterpret_cast<char*>(&p) + got, sizeof(p) - got, MSG_DONTWAIT);
            if (n <= 0)
                return _VTN_EVENT_PACKET{};
            got += static_cast<size_t>(n);
        }
        return p;
    }
    int peer = -1;
};

TEST_F(DrainTest, EventsBecomeLogLinesAndPushes)
{
    sim.Model().PushEvent(1, kFreeDisk, 0, "", 1700000000);
    sim.Model().PushEvent(18, kFreeDisk, 0, "", 1700000000);   // dropped
    sim.Model().PushEvent(9, kParity, 0, "", 1700000000);
    gSvrGlobal.flags.store(0);
    PollingEvents();
    EXPECT_TRUE(TestSvrFlag(VTN_FLAG_NEW_EVENT));
    EXPECT_TRUE(sim.Model().events.empty());

    const struct {
        char severity;
        const char* text;
    } expected[] = {
        {'E', "Disk at Controller1-Channel2-Device1 failed."},
        {'I', "Array 'Parity' verifying started."},
    };
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(expected[i].text);
        _VTN_LOG_EVENT line{};
        ASSERT_EQ(EnumEvent(&line, i), VTN_SUCCESS);
        EXPECT_EQ(line.severity, expected[i].severity);
        EXPECT_STREQ(line.text, expected[i].text);
        _VTN_EVENT_PACKET p = Pushed();
        EXPECT_EQ(p.head.length, 588u);
        EXPECT_EQ(p.head.type, VTN_PACKET_NOTICE);
        EXPECT_EQ(p.event.severity, expected[i].severity);
        EXPECT_STREQ(p.event.text, expected[i].text);
        EXPECT_EQ(TimeRecordValue(p.event.time), TimeRecordValue(line.time));
    }
    _VTN_LOG_EVENT none{};
    EXPECT_EQ(EnumEvent(&none, 2), VTN_NO_MORE_ENTRIES);
    EXPECT_EQ(Pushed().head.length, 0u);

    // Saved by the logged-in client: marked for the mail, not echoed.
    _VTN_LOG_EVENT saved{};
    saved.severity = 'I';
    CopyText(saved.text, "saved by the client");
    gSvrGlobal.flags.store(0);
    EventNotification(&saved, &gSvrGlobal.client[0]);
    EXPECT_TRUE(TestSvrFlag(VTN_FLAG_NEW_EVENT));
    EXPECT_EQ(Pushed().head.length, 0u);
}

}  // namespace
