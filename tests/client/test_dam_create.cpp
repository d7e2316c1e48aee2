// Array creation, deletion and spares in the model: the exact requests, the one sentence each
// operation logs, and the notices, against a recording fake of the driver calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>

#include "damfake.h"
#include "testutil.h"

namespace {

// Six disks on controller 0, one per channel (or two per channel on a two-channel controller),
// of growing size.
struct Bench {
    TempRoot root;
    FakeDriver f;
    explicit Bench(int channels = 4)
    {
        f.channels = channels;
        for (uint32_t i = 1; i <= 10; ++i) {
            const int ch = channels == 2 ? static_cast<int>(i - 1) / 2 % 2 : static_cast<int>(i - 1) % 4;
            const int dev = channels == 2 ? static_cast<int>(i - 1) % 2 : 0;
            f.Disk(i, 0, ch, dev, 60 + 10 * i);
        }
    }
    CDiskArray With(std::vector<uint32_t> ids, const char* name = "Vol", int block = 7)
    {
        CDiskArray a;
        for (uint32_t id : ids)
            a.AddMember(id, -1);
        a.SetName(name, false);
        a.SetBlockSize(block);
        return a;
    }
};

_CREATE_ARRAY_PARAMS_V2 Expect(uint8_t type, std::vector<uint32_t> ids, uint8_t block, uint8_t option,
                               const char* name)
{
    _CREATE_ARRAY_PARAMS_V2 p{};
    p.raidType = type;
    p.memberCount = static_cast<uint8_t>(ids.size());
    p.blockCode = block;
    p.option = option;
    memcpy(p.name, name, strlen(name));
    for (size_t i = 0; i < ids.size(); ++i)
        p.members[i] = ids[i];
    return p;
}

std::string Hex(const _CREATE_ARRAY_PARAMS_V2& p)
{
    std::string out;
    const auto* b = reinterpret_cast<const uint8_t*>(&p);
    char x[4];
    for (size_t i = 0; i < sizeof p; ++i) {
        FormatText(x, sizeof x, "%02x", b[i]);
        out += x;
    }
    return out;
}

// The server's stamp for a day at 14:05:09.
int Stamp(unsigned year, unsigned month, unsigned day)
{
    _TIME_RECORD t{};
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = 14;
    t.minute = 5;
    t.second = 9;
    return static_cast<int>(TimeRecordValue(t));
}

std::string Loc(int ch, int dev = 0, int controller = 0)
{
    char t[80];
    FormatText(t, sizeof t, "Location : Controller %d, Channel %d, Device %d", controller + 1, ch + 1, dev + 1);
    return t;
}

TEST(DamCreate, EveryLevelSendsItsExactRequest)
{
    using Make = std::function<unsigned int(CDiskArray&)>;
    struct Case {
        const char* what;
        int channels;
        std::vector<uint32_t> members;
        int block;
        Make make;
        std::vector<_CREATE_ARRAY_PARAMS_V2> expect;
    };
    const Case cases[] = {
        {"RAID 0", 4, {1, 2, 3}, 5, [](CDiskArray& a) { return a.CreateRAID0(); },
         {Expect(1, {1, 2, 3}, 5, 0, "Vol")}},
        {"RAID 5 no build", 4, {1, 2, 3}, 7, [](CDiskArray& a) { return a.CreateRAID5(1); },
         {Expect(3, {1, 2, 3}, 7, 1, "Vol")}},
        {"RAID 5 zero build", 4, {3, 2, 1}, 8, [](CDiskArray& a) { return a.CreateRAID5(2); },
         {Expect(3, {3, 2, 1}, 8, 2, "Vol")}},
        {"RAID 5 scrub", 4, {1, 2, 3, 4}, 7, [](CDiskArray& a) { return a.CreateRAID5(4); },
         {Expect(3, {1, 2, 3, 4}, 7, 4, "Vol")}},
        {"JBOD has no block size", 4, {1, 2}, 9, [](CDiskArray& a) { return a.CreateJBOD(); },
         {Expect(7, {1, 2}, 0, 0, "Vol")}},
        {"RAID 1", 4, {1, 2}, 9, [](CDiskArray& a) { return a.CreateRAID1(false); },
         {Expect(2, {1, 2}, 0, 0, "Vol")}},
        {"RAID 1 duplicate, third disk ignored", 4, {1, 2, 3}, 7, [](CDiskArray& a) { return a.CreateRAID1(true); },
         {Expect(2, {1, 2}, 0, 1, "Vol")}},
        {"RAID 1/0", 4, {1, 2, 3, 4}, 6, [](CDiskArray& a) { return a.CreateRAID10(true); },
         {Expect(2, {1, 2, 3, 4}, 6, 0, "Vol")}},
        {"RAID 1/0 on eight channels", 8, {1, 2, 3, 4, 5, 6}, 7, [](CDiskArray& a) { return a.CreateRAID10(false); },
         {Expect(2, {1, 2, 3, 4, 5, 6}, 7, 0, "Vol")}},
        // Halves 100 (disks 1+2, 150 GB) and 101 (3+4, 190 GB): the smaller one first.
        {"RAID 0/1 duplicate", 4, {1, 2, 3, 4}, 5, [](CDiskArray& a) { return a.CreateRAID01(true); },
         {Expect(1, {1, 2}, 5, 1, "RAID_0_0"), Expect(1, {3, 4}, 5, 1, "RAID_0_1"),
          Expect(2, {100, 101}, 5, 1, "Vol")}},
        {"RAID 0/1 smaller second half first", 4, {4, 5, 6, 1, 2, 3}, 5,
         [](CDiskArray& a) { return a.CreateRAID01(false); },
         {Expect(1, {4, 5, 6}, 5, 0, "RAID_0_0"), Expect(1, {1, 2, 3}, 5, 0, "RAID_0_1"),
          Expect(2, {101, 100}, 5, 0, "Vol")}},
        {"RAID 0/1 on two channels", 2, {1, 2, 3, 4}, 7, [](CDiskArray& a) { return a.CreateRAID01(true); },
         {Expect(1, {1, 2}, 7, 0, "RAID_0_0"), Expect(1, {3, 4}, 7, 0, "RAID_0_1"),
          Expect(2, {100, 101}, 7, 1, "Vol")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b(c.channels);
        CDiskArray a = b.With(c.members, "Vol", c.block);
        const unsigned int id = c.make(a);
        ASSERT_EQ(b.f.creates.size(), c.expect.size());
        for (size_t i = 0; i < c.expect.size(); ++i)
            EXPECT_EQ(Hex(b.f.creates[i]), Hex(c.expect[i])) << "request " << i;
        EXPECT_EQ(id, 100 + c.expect.size() - 1);
        EXPECT_EQ(a.GetID(), id);
        EXPECT_EQ(a.GetCapacity(), b.f.devices[id].capacity);   // refreshed
        EXPECT_TRUE(gShownBoxes.empty());
        EXPECT_TRUE(b.f.deletes.empty());
        EXPECT_TRUE(b.f.spareCalls.empty());
        EXPECT_EQ(b.f.savedLog.size(), 1u);
    }
}

TEST(DamCreate, RefusedMemberListsSendNothing)
{
    using Make = std::function<unsigned int(CDiskArray&)>;
    struct Case {
        const char* what;
        int channels;
        uint32_t version;
        int count;
        Make make;
    };
    const Case cases[] = {
        {"RAID 0 of one", 4, 0x01000100, 1, [](CDiskArray& a) { return a.CreateRAID0(); }},
        {"RAID 5 of one", 4, 0x01000100, 1, [](CDiskArray& a) { return a.CreateRAID5(1); }},
        {"JBOD of none", 4, 0x01000100, 0, [](CDiskArray& a) { return a.CreateJBOD(); }},
        {"RAID 1/0 on two channels", 2, 0x01000100, 4, [](CDiskArray& a) { return a.CreateRAID10(false); }},
        {"RAID 1/0 unreadable controller", -1, 0x01000100, 4, [](CDiskArray& a) { return a.CreateRAID10(false); }},
        {"RAID 1/0 of three", 4, 0x01000100, 3, [](CDiskArray& a) { return a.CreateRAID10(false); }},
        {"RAID 1/0 of five", 4, 0x01000100, 5, [](CDiskArray& a) { return a.CreateRAID10(false); }},
        {"RAID 0/1 of six on two channels", 2, 0x01000100, 6, [](CDiskArray& a) { return a.CreateRAID01(false); }},
        {"RAID 0/1 of three", 4, 0x01000100, 3, [](CDiskArray& a) { return a.CreateRAID01(false); }},
        {"RAID 0/1 of five", 4, 0x01000100, 5, [](CDiskArray& a) { return a.CreateRAID01(false); }},
        {"RAID 0 of nine, older record", 4, 0x0100FFFF, 9, [](CDiskArray& a) { return a.CreateRAID0(); }},
        {"RAID 0 of seventeen", 4, 0x01010000, 17, [](CDiskArray& a) { return a.CreateRAID0(); }},
        {"RAID 0/1 of eighteen, older record", 4, 0x01000100, 18, [](CDiskArray& a) { return a.CreateRAID01(false); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempRoot root;
        FakeDriver f;
        f.channels = c.channels;
        f.version = c.version;
        CDiskArray a;
        for (int i = 0; i < c.count; ++i)
            a.AddMember(static_cast<unsigned>(i + 1), -1);
        EXPECT_EQ(c.make(a), 0u);
        EXPECT_TRUE(f.creates.empty());
        EXPECT_TRUE(f.savedLog.empty());
        EXPECT_TRUE(gShownBoxes.empty());
    }

    // Eight members fit every record; sixteen fit the newer one.
    struct Fit {
        uint32_t version;
        int count;
    } fits[] = {{0x01000100, 8}, {0x01010000, 16}};
    for (const Fit& c : fits) {
        Bench b;
        for (uint32_t i = 11; i <= 16; ++i)
            b.f.Disk(i, 0, 0, 0, 80);
        b.f.version = c.version;
        CDiskArray a;
        for (int i = 0; i < c.count; ++i)
            a.AddMember(static_cast<unsigned>(i % 16 + 1), -1);
        EXPECT_NE(a.CreateRAID0(), 0u) << c.count;
    }
}

TEST(DamCreate, SentencesNameTheArrayAndEveryMembersLocation)
{
    using Make = std::function<unsigned int(CDiskArray&)>;
    struct Case {
        const char* what;
        std::vector<uint32_t> members;
        Make make;
        std::string sentence;
    };
    const std::string l1 = Loc(0), l2 = Loc(1), l3 = Loc(2), l4 = Loc(3);
    const Case cases[] = {
        {"RAID 0", {1, 2, 3}, [](CDiskArray& a) { return a.CreateRAID0(); },
         "Creating RAID 0 (Striping) Array 'Vol' succeeded.  " + l1 + "  " + l2 + "  " + l3 + "  "},
        {"RAID 5", {1, 2, 3}, [](CDiskArray& a) { return a.CreateRAID5(4); },
         "Creating RAID 5  Array 'Vol' succeeded.  " + l1 + "  " + l2 + "  " + l3 + "  "},
        {"JBOD", {2, 1}, [](CDiskArray& a) { return a.CreateJBOD(); },
         "Creating JBOD (Volume) Array 'Vol' succeeded.  " + l2 + "  " + l1 + "  "},
        {"RAID 1", {1, 2, 3}, [](CDiskArray& a) { return a.CreateRAID1(false); },
         "Creating RAID 1 (Mirroring) Array 'Vol' succeeded. (Orignal disk:" + l1 + "  Mirror disk:" + l2 + ")"},
        {"RAID 1/0", {1, 2, 3, 4}, [](CDiskArray& a) { return a.CreateRAID10(false); },
         "Creating RAID 1/0 (Striped Mirroring) Array 'Vol' succeeded . " + l1 + "  " + l2 + "  " + l3 + "  " + l4 +
             "  "},
        {"RAID 0/1", {1, 2, 3, 4}, [](CDiskArray& a) { return a.CreateRAID01(false); },
         "Creating RAID 0/1 (Mirrored Striping) Array 'Vol' succeeded . " + l1 + "  " + l2 + "  " + l3 + "  " +
             l4 + "  "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        b.f.saveLogResult = StampMarch7();
        CDiskArray a = b.With(c.members);
        EXPECT_NE(c.make(a), 0u);
        ASSERT_EQ(b.f.LogTexts(), std::vector<std::string>{c.sentence});
        ASSERT_EQ(gEventRows.size(), 1u);
        EXPECT_EQ(gEventRows[0].severity, 'I');
        EXPECT_EQ(gEventRows[0].time, "03/07/2025 14:05:09");
        EXPECT_EQ(gEventRows[0].text, c.sentence);
        EXPECT_EQ(ReadFileText(b.root.Path("/usr/bin/log_loacl.txt")), "I\t03/07/2025 14:05:09\t" + c.sentence + "\n");
    }
}

TEST(DamCreate, RefusedCreationsAreShownAndLoggedAsFailed)
{
    using Make = std::function<unsigned int(CDiskArray&)>;
    struct Case {
        const char* what;
        int channels;
        std::vector<uint32_t> members;
        std::set<int> failing;
        Make make;
        std::string notice, logged;
        std::vector<std::pair<uint32_t, uint32_t>> deletes;
        size_t requests;
        std::set<uint32_t> unreadable = {};
    };
    const std::string l1 = Loc(0), l2 = Loc(1), l3 = Loc(2), l4 = Loc(3);
    const std::string raid01 = "Creating RAID 0/1 (Mirrored Striping) Array failed . ";
    const Case cases[] = {
        {"RAID 0", 4, {1, 2}, {0}, [](CDiskArray& a) { return a.CreateRAID0(); },
         "Creating RAID 0 (Striping) Array failed.  ",
         "Creating RAID 0 (Striping) Array failed.  " + l1 + "  " + l2 + "  ", {}, 1},
        {"RAID 5", 4, {1, 2, 3}, {0}, [](CDiskArray& a) { return a.CreateRAID5(2); },
         "Creating RAID 5  Array failed.  ", "Creating RAID 5  Array failed.  " + l1 + "  " + l2 + "  " + l3 + "  ",
         {}, 1},
        {"JBOD", 4, {1, 2}, {0}, [](CDiskArray& a) { return a.CreateJBOD(); },
         "Creating JBOD (Volume) Array failed.  ", "Creating JBOD (Volume) Array failed.  " + l1 + "  " + l2 + "  ",
         {}, 1},
        {"RAID 1", 4, {1, 2}, {0}, [](CDiskArray& a) { return a.CreateRAID1(true); },
         "Creating RAID 1 (Mirroring) Array failed.", "Creating RAID 1 (Mirroring) Array failed.", {}, 1},
        {"RAID 1/0", 4, {1, 2, 3, 4}, {0}, [](CDiskArray& a) { return a.CreateRAID10(true); },
         "Creating RAID 1/0 (Striped Mirroring) Array failed . ",
         "Creating RAID 1/0 (Striped Mirroring) Array failed . " + l1 + "  " + l2 + "  " + l3 + "  " + l4 + "  ",
         {}, 1},
        {"RAID 0/1 first half", 4, {1, 2, 3, 4}, {0}, [](CDiskArray& a) { return a.CreateRAID01(true); }, raid01,
         raid01, {}, 1},
        {"RAID 0/1 second half removes the first", 4, {1, 2, 3, 4}, {1},
         [](CDiskArray& a) { return a.CreateRAID01(true); }, raid01, raid01, {{100, 1}}, 2},
        {"RAID 0/1 mirror leaves the halves", 4, {1, 2, 3, 4}, {2},
         [](CDiskArray& a) { return a.CreateRAID01(true); }, raid01,
         raid01 + l1 + "  " + l2 + "  " + l3 + "  " + l4 + "  ", {}, 3},
        {"RAID 0/1 two channels, first half", 2, {1, 2, 3, 4}, {0},
         [](CDiskArray& a) { return a.CreateRAID01(false); }, raid01, raid01, {}, 1},
        {"RAID 0/1 two channels, second half: no mirror over it", 2, {1, 2, 3, 4}, {1},
         [](CDiskArray& a) { return a.CreateRAID01(false); }, raid01, raid01, {{100, 1}}, 2},
        // A half that cannot be read back is no base for a mirror: it is removed and reported.
        {"RAID 0/1 first half unreadable", 4, {1, 2, 3, 4}, {}, [](CDiskArray& a) { return a.CreateRAID01(true); },
         raid01, raid01, {{100, 1}}, 1, {100}},
        {"RAID 0/1 second half unreadable", 4, {1, 2, 3, 4}, {}, [](CDiskArray& a) { return a.CreateRAID01(true); },
         raid01, raid01, {{101, 1}, {100, 1}}, 2, {101}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b(c.channels);
        b.f.failCreate = c.failing;
        b.f.unreadable = c.unreadable;
        CDiskArray a = b.With(c.members);
        EXPECT_EQ(c.make(a), 0u);
        EXPECT_EQ(a.GetID(), 0u);
        EXPECT_EQ(b.f.creates.size(), c.requests);
        ASSERT_EQ(gShownBoxes.size(), 1u);
        EXPECT_EQ(gShownBoxes[0].text, c.notice);
        EXPECT_EQ(gShownBoxes[0].title, "Error");
        EXPECT_FALSE(gShownBoxes[0].withCancel);
        EXPECT_EQ(b.f.LogTexts(), std::vector<std::string>{c.logged});
        EXPECT_EQ(b.f.deletes, c.deletes);
    }
}

TEST(DamCreate, Raid1OnTwoChannelsMakesTheThirdDiskAPoolSpare)
{
    // Two channels: disks 1, 2 on channel 0 (devices 0 and 1), 3 on channel 1.
    const std::string l1 = "Location : Controller 0, Channel 0, Device 0";
    const std::string l2 = "Location : Controller 0, Channel 0, Device 1";
    const std::string l3 = "Location : Controller 0, Channel 1, Device 0";
    struct Case {
        bool spareFails;
        std::vector<std::string> logged;
        std::vector<std::string> notices;
    } cases[] = {
        {false,
         {"Creating RAID 1 (Mirroring) Array 'Vol' succeeded. (Orignal disk:" + l1 + "  Mirror disk:" + l2 +
          "  Spare disk:" + l3 + ")"},
         {}},
        // The array exists: its creation is logged as done, the spare as failed.
        {true,
         {"Creating RAID 1 (Mirroring) Array 'Vol' succeeded. (Orignal disk:" + l1 + "  Mirror disk:" + l2 + ")",
          "Add spare disk (" + l3 + ") to spare pool failed.  "},
         {"Add spare disk (" + l3 + ") to spare pool failed.  "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spareFails);
        Bench b(2);
        b.f.failSpare = c.spareFails;
        CDiskArray a = b.With({1, 2, 3});
        EXPECT_EQ(a.CreateRAID1(false), 100u);
        EXPECT_EQ(a.nMemberCount, 2);
        EXPECT_EQ(b.f.spareCalls, std::vector<std::string>{"add 3"});
        EXPECT_EQ(b.f.LogTexts(), c.logged);
        std::vector<std::string> notices;
        for (const auto& box : gShownBoxes)
            notices.push_back(box.text);
        EXPECT_EQ(notices, c.notices);
    }
}

TEST(DamDelete, SentencePerKindAndFlag)
{
    struct Case {
        const char* kind;
        bool fails, remove;
        const char* sentence;
        uint32_t flag;
    } cases[] = {
        {"RAID 0", false, true, "Deleting RAID 0 (Striping) Array 'Target' succeeded.  ", 0},
        {"RAID 1", false, false, "Deleting RAID 1 (Mirroring) Array 'Target' succeeded.  ", 1},
        {"RAID 5", true, true, "Deleting RAID 5 Array 'Target' failed.  ", 0},
        {"JBOD", false, true, "Deleting JBOD (Volume) Array 'Target' succeeded.  ", 0},
        {"RAID 0/1", false, true, "Deleting RAID 0/1 (Mirrored Striping) Array 'Target' succeeded.  ", 0},
        {"RAID 1/0", true, true, "Deleting RAID 1/0 (Striped Mirroring) Array 'Target' failed.  ", 0},
        {"unknown", false, true, "Deleting Array 'Target' succeeded.  ", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        Bench b;
        const std::string kind = c.kind;
        if (kind == "RAID 0/1" || kind == "RAID 1/0") {
            const bool mirrored = kind == "RAID 0/1";
            const uint8_t inner = mirrored ? VTN_RAID0 : VTN_RAID1;
            b.f.Array(51, "", inner, {1, 2}, 0, 7, false);
            b.f.Array(52, "", inner, {3, 4}, 0, 7, false);
            b.f.Array(50, "Target", mirrored ? VTN_RAID1 : VTN_RAID0, {51, 52});
        } else {
            const uint8_t type = kind == "RAID 0" ? VTN_RAID0 : kind == "RAID 1" ? VTN_RAID1
                               : kind == "RAID 5" ? VTN_RAID5 : kind == "JBOD" ? VTN_JBOD : 9;
            b.f.Array(50, "Target", type, {1, 2, 3});
        }
        b.f.failDelete = c.fails;
        CDiskArray a;
        a = 50u;
        EXPECT_EQ(a.Delete(c.remove), c.fails ? 0 : 1);
        EXPECT_EQ(b.f.deletes, (std::vector<std::pair<uint32_t, uint32_t>>{{50, c.flag}}));
        EXPECT_EQ(b.f.LogTexts(), std::vector<std::string>{c.sentence});
        EXPECT_TRUE(gShownBoxes.empty());
    }
}

TEST(DamSpare, PoolAndDedicatedSparesLogOneSentence)
{
    const std::string l3 = Loc(2);
    struct Case {
        const char* what;
        bool fails;
        int op;   // 0 add, 1 remove, 2 dedicated to array 77
        const char* call;
        std::string sentence;
    } cases[] = {
        {"add", false, 0, "add 3", "Add spare disk (" + l3 + ") to spare pool succeeded.  "},
        {"add refused", true, 0, "add 3", "Add spare disk (" + l3 + ") to spare pool failed.  "},
        {"remove", false, 1, "remove 3", "Delete spare disk (" + l3 + ") from spare pool succeeded.  "},
        {"remove refused", true, 1, "remove 3", "Delete spare disk (" + l3 + ") from spare pool failed.  "},
        {"dedicated", false, 2, "dedicated 77 3", "Add spare disk (" + l3 + ") to spare pool succeeded.  "},
        {"dedicated refused", true, 2, "dedicated 77 3", "Add spare disk (" + l3 + ") to spare pool failed.  "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        b.f.failSpare = b.f.failDedicated = c.fails;
        CDiskArray a = b.With({3});
        const int r = c.op == 0 ? a.EditSpare(true) : c.op == 1 ? a.EditSpare(false) : a.EditArraySpare(77);
        EXPECT_EQ(r, c.fails ? 0 : 1);
        EXPECT_EQ(b.f.spareCalls, std::vector<std::string>{c.call});
        EXPECT_EQ(b.f.LogTexts(), std::vector<std::string>{c.sentence});
        EXPECT_TRUE(gShownBoxes.empty());
    }
}

TEST(DamLog, RecordStampAndLocalCopy)
{
    Bench b;
    CDisk d;

    // The record: severity 'I', the sentence at 48, everything else zero.
    b.f.saveLogResult = StampMarch7();
    d.SaveLog("One sentence.");
    ASSERT_EQ(b.f.savedLog.size(), 1u);
    _VTN_LOG_EVENT expect{};
    expect.severity = 'I';
    CopyText(expect.text, "One sentence.");
    EXPECT_EQ(memcmp(&expect, &b.f.savedLog[0], sizeof expect), 0);

    // A long sentence is cut at 511 characters everywhere.
    const std::string longText(700, 'x');
    d.SaveLog(longText.c_str());
    EXPECT_EQ(std::string(b.f.savedLog[1].text), longText.substr(0, 511));
    EXPECT_EQ(gEventRows[1].text, longText.substr(0, 511));

    // A reply that is no date (a failed request, a zero word) gives the local time instead.
    const std::regex localTime(R"((0[1-9]|1[0-2])/(0[1-9]|[12]\d|3[01])/20\d\d ([01]\d|2[0-3]):[0-5]\d:[0-5]\d)");
    const int notDates[] = {-1, 0, static_cast<int>(0xC0000008u), Stamp(25, 2, 30), Stamp(25, 2, 29),
                            Stamp(25, 4, 31)};
    for (int reply : notDates) {
        b.f.saveLogResult = reply;
        d.SaveLog("Later.");
        EXPECT_TRUE(std::regex_match(gEventRows.back().time, localTime)) << reply << " " << gEventRows.back().time;
        const _TIME_RECORD t = TimeRecordFromValue(static_cast<uint32_t>(reply));
        char asStamp[48];
        FormatText(asStamp, sizeof asStamp, "%02d/%02d/%d %02d:%02d:%02d", int(t.month), int(t.day), 2000 + int(t.year),
                   int(t.hour), int(t.minute), int(t.second));
        EXPECT_NE(gEventRows.back().time, asStamp);
    }
    // A leap day is a date.
    b.f.saveLogResult = Stamp(24, 2, 29);
    d.SaveLog("Leap.");
    EXPECT_EQ(gEventRows.back().time, "02/29/2024 14:05:09");
    const std::string local = ReadFileText(b.root.Path("/usr/bin/log_loacl.txt"));
    EXPECT_EQ(local.substr(0, 36), "I\t03/07/2025 14:05:09\tOne sentence.\n");
    EXPECT_EQ(std::count(local.begin(), local.end(), '\n'), static_cast<long>(2 + std::size(notDates) + 1));
}

}  // namespace
