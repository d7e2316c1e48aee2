// Disk and array objects, status texts, naming rules and driver capabilities against a recording
// fake of the driver calls.
#include <gtest/gtest.h>

#include "damfake.h"
#include "testutil.h"
#include "vtnstatus.h"

namespace {

const char* const kLongName = "ABCDEFGHIJKLMNOP";   // fills the 16-byte name field

// Controller 0 with ten disks; a RAID 1, a RAID 0/1 and a RAID 1/0.
struct Topology {
    FakeDriver f;
    Topology()
    {
        for (uint32_t i = 1; i <= 12; ++i)
            f.Disk(i, 0, static_cast<int>(i - 1) % 4, 0, 80 + i, "Fake Disk Model 1234567890XYZ");
        f.Array(110, "Mirror", VTN_RAID1, {1, 2});
        f.Array(121, "RAID_0_0", VTN_RAID0, {3, 4}, 0, 5, false);
        f.Array(122, "RAID_0_1", VTN_RAID0, {5, 6}, 0, 5, false);
        f.Array(120, "Mirrored", VTN_RAID1, {121, 122}, 0, 0);
        f.Array(131, "", VTN_RAID1, {7, 8}, 0, 6, false);
        f.Array(132, "", VTN_RAID1, {9, 10}, 0, 6, false);
        f.Array(130, kLongName, VTN_RAID0, {131, 132}, 0, 0);
    }
};

TEST(DamLoad, ArraysDisksAndMembersLoadAsTheirKind)
{
    TempRoot root;
    Topology t;
    struct Case {
        uint32_t id;
        const char* typeText;
        const char* name;
        bool raid01, raid10;
        int block, children;
    } cases[] = {
        {110, "RAID 1", "Mirror", false, false, 7, 2},
        {120, "RAID 0/1", "Mirrored", true, false, 5, 2},   // the halves' block size
        {130, "RAID 1/0", kLongName, false, true, 6, 2},   // the halves' block size
        {121, "RAID 0", "(RAID0)", false, false, 5, 2},
        {132, "RAID 1", "Member 2 of 'ABCDEFGHIJKLMNOP'", false, false, 6, 2},
        {131, "RAID 1", "Member 1 of 'ABCDEFGHIJKLMNOP'", false, false, 6, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        CDiskArray a;
        a = c.id;
        char type[64];
        a.GetArrayType(type, sizeof type);
        EXPECT_STREQ(type, c.typeText);
        EXPECT_STREQ(a.szName, c.name);
        EXPECT_EQ(a.IsRAID01(), c.raid01);
        EXPECT_EQ(a.IsRAID10(), c.raid10);
        EXPECT_EQ(a.GetBlockSize(), c.block);
        EXPECT_EQ(a.GetChildNum(), c.children);
        EXPECT_EQ(a.GetCapacity(), t.f.devices[c.id].capacity);
    }

    // A disk is named by the first 20 characters of its model.
    CDisk d;
    d = 3u;
    EXPECT_STREQ(d.szName, "Fake Disk Model 1234");
    EXPECT_EQ(d.GetType(), VTN_DEVICE_DISK);
    EXPECT_TRUE(d.IsChild());
    EXPECT_EQ(d.GetParentID(), 121u);
}

TEST(DamLoad, AFailedLoadLeavesTheObjectAsItWas)
{
    TempRoot root;
    Topology t;
    CDiskArray fresh;
    fresh = 999u;
    EXPECT_EQ(fresh.nType, VTN_DEVICE_ARRAY);
    EXPECT_EQ(fresh.nCapacity, 0u);
    EXPECT_EQ(fresh.nStatus, 0u);
    EXPECT_STREQ(fresh.szName, "");
    EXPECT_EQ(fresh.GetBlockSize(), VTN_BLOCK_CODE_DEFAULT);

    CDisk d;
    d = 110u;
    t.f.unreadable.insert(110);
    EXPECT_EQ(d.GetDiskDescription(), 0);
    EXPECT_STREQ(d.szName, "Mirror");

    // A member whose parent cannot be read keeps the name it had.
    t.f.unreadable = {130};
    CDisk member;
    member = 132u;
    EXPECT_STREQ(member.szName, "");
    EXPECT_EQ(member.GetDiskDescription(), 0);
    // Loaded as an array it still takes its block size and members.
    CDiskArray half;
    half = 132u;
    EXPECT_STREQ(half.szName, "");
    EXPECT_EQ(half.GetBlockSize(), 6);
    EXPECT_EQ(half.GetChildNum(), 2);

    // Reusing an object: the RAID 1/0 flag does not stick to the next array.
    t.f.unreadable.clear();
    t.f.Array(40, "Parity", VTN_RAID5, {11, 12});
    CDiskArray a;
    a = 130u;
    ASSERT_TRUE(a.IsRAID10());
    a = 40u;
    EXPECT_FALSE(a.IsCombinRaid());
    char type[32];
    a.GetArrayType(type, sizeof type);
    EXPECT_STREQ(type, "RAID 5");
}

TEST(DamLoad, ThirdMemberOfARaid1IsASpareWhileItWorks)
{
    TempRoot root;
    FakeDriver f;
    f.Disk(1, 0, 0, 0, 80);
    f.Disk(2, 0, 1, 0, 80);
    f.Disk(3, 0, 2, 0, 80);
    f.Array(10, "M", VTN_RAID1, {1, 2, 3});
    CDiskArray a;
    a = 10u;
    EXPECT_TRUE(a.HaveSpare());
    f.devices[3].u.disk.status = VTN_DISK_DISABLED;
    a = 10u;
    EXPECT_FALSE(a.HaveSpare());

    // The driver may also list a dedicated spare in the slot after the two data members.
    struct Case {
        const char* what;
        uint32_t spareStatus;
        bool unreadable, expect;
    } cases[] = {
        {"working spare", 0, false, true},
        {"disabled spare", VTN_DISK_DISABLED, false, false},
        {"unreadable spare", 0, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDriver g;
        g.Disk(1, 0, 0, 0, 80);
        g.Disk(2, 0, 1, 0, 80);
        g.Disk(3, 0, 2, 0, 80, "d", VTN_DISK_SPARE | c.spareStatus);
        g.Array(10, "M", VTN_RAID1, {1, 2});
        g.devices[10].u.array.members[2] = 3;
        if (c.unreadable)
            g.unreadable.insert(3);
        CDiskArray m;
        m = 10u;
        EXPECT_EQ(m.HaveSpare(), c.expect);
        EXPECT_EQ(m.GetChildNum(), 2);
    }
}

TEST(DamLoad, StripedMirrorStatusCombinesTheHalvesBits)
{
    TempRoot root;
    struct Case {
        uint32_t own, half1, half2, expect;
        const char* text;
    } cases[] = {
        {0, VTN_ARRAY_BROKEN, VTN_ARRAY_BROKEN, VTN_ARRAY_BROKEN, "Critical"},   // two broken halves stay 0x8
        {0, VTN_ARRAY_REBUILDING | VTN_ARRAY_NEED_REBUILD, 0, 0x6, "Rebuilding"},
        {0, VTN_ARRAY_REBUILDING, VTN_ARRAY_BROKEN, 0xC, "Critical"},
        {VTN_ARRAY_BOOTABLE, VTN_ARRAY_NEED_REBUILD, 0, VTN_ARRAY_BOOTABLE, "Normal (Bootable)"},
        {0, 0, 0, 0, "Normal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expect);
        FakeDriver f;
        for (uint32_t i = 1; i <= 4; ++i)
            f.Disk(i, 0, static_cast<int>(i - 1), 0, 80);
        f.Array(31, "", VTN_RAID1, {1, 2}, c.half1, 0, false);
        f.Array(32, "", VTN_RAID1, {3, 4}, c.half2, 0, false);
        f.Array(30, "Striped", VTN_RAID0, {31, 32}, c.own);
        CDiskArray a;
        a = 30u;
        EXPECT_EQ(a.nStatus, c.expect);
        char text[64];
        a.GetWorkStatus(text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(DamStatus, ArrayAndDiskTextsInTheirOrderOfPrecedence)
{
    TempRoot root;
    struct Case {
        uint8_t type;
        uint32_t status;
        const char* text;
    } arrays[] = {
        {VTN_RAID1, 0x1 | 0x8, "Disabled"},
        {VTN_RAID5, 0x4 | 0x2 | 0x10, "Rebuilding (Bootable)"},
        {VTN_RAID1, 0x8 | 0x4, "Critical"},
        {VTN_RAID5, 0x8, "Critical"},
        {VTN_RAID0, 0x8, "Normal"},
        {VTN_JBOD, 0x8, "Normal"},
        {VTN_RAID0, 0x8 | 0x2, "Need Rebuilding"},
        {VTN_RAID1, 0x4, "Duplicating"},
        {VTN_RAID5, 0x200 | 0x100 | 0x2, "Initialize"},
        {VTN_RAID5, 0x100 | 0x2, "Verifying"},
        {VTN_RAID1, 0x2 | 0x20, "Need Rebuilding"},
        {VTN_RAID1, 0x20, "Not Available"},
        {VTN_RAID0, 0, "Normal"},
        {VTN_JBOD, 0x10, "Normal (Bootable)"},
    };
    for (const Case& c : arrays) {
        SCOPED_TRACE(testing::Message() << int(c.type) << " " << c.status);
        FakeDriver f;
        f.Disk(1, 0, 0, 0, 80);
        f.Disk(2, 0, 1, 0, 80);
        f.Disk(3, 0, 2, 0, 80);
        f.Array(10, "A", c.type, {1, 2, 3}, c.status);
        CDisk d;
        d = 10u;
        char text[64];
        EXPECT_EQ(d.GetWorkStatus(text, sizeof text), c.status);
        EXPECT_STREQ(text, c.text);
    }

    Topology t;
    t.f.Disk(50, 0, 0, 1, 80, "x", VTN_DISK_DISABLED | VTN_DISK_SPARE);
    t.f.Disk(51, 0, 1, 1, 80, "x", VTN_DISK_SPARE);
    t.f.Disk(52, 0, 2, 1, 80, "x", VTN_DISK_BOOTABLE);
    t.f.Disk(53, 0, 3, 1, 80, "x");
    struct DiskCase {
        uint32_t id;
        const char* text;
    } disks[] = {
        {50, "Disabled"},
        {51, "Spare disk"},
        {52, "Single Drive  (Bootable)"},
        {53, "Single Drive "},
        {1, "Member of Mirror(RAID 1) "},
        {10, "Member of Member 2 of 'ABCDEFGHIJKLMNOP'(RAID 1/0) "},
        {5, "Member of Member 2 of 'Mirrored'(RAID 0/1) "},
    };
    for (const DiskCase& c : disks) {
        SCOPED_TRACE(c.id);
        CDisk d;
        d = c.id;
        char text[VTN_MODEL_TEXT_SIZE];
        d.GetWorkStatus(text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(DamStatus, LocationFollowsTheFirstControllersChannels)
{
    TempRoot root;
    struct Case {
        int channels;
        uint32_t status;
        const char* text;
    } cases[] = {
        {2, 0, "Location : Controller 0, Channel 1, Device 0"},
        {4, 0, "Location : Controller 1, Channel 2, Device 1"},
        {4, VTN_DISK_NO_DEVICE_NUMBER, "Location : Controller 1, Channel 2"},
        {-1, 0, "Location : Controller 1, Channel 2, Device 1"},   // controller unreadable
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        FakeDriver f;
        f.channels = c.channels;
        f.Disk(1, 0, 1, 0, 80, "d", c.status);
        CDisk d;
        d = 1u;
        char text[VTN_MODEL_TEXT_SIZE];
        d.GetLocation(text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(DamIterator, TopLevelAndMembersWithinTheirSlots)
{
    TempRoot root;
    FakeDriver f;
    for (uint32_t i = 1; i <= 25; ++i)
        f.Disk(i, 0, 0, 0, 80);
    int n = 0;
    for (ClDiskArrayIterator it(0); it; ++it)
        EXPECT_EQ(*(*it), f.top[static_cast<size_t>(n++)]);
    EXPECT_EQ(n, 20);

    // A record that claims more members than it has slots yields its 16.
    f.Array(40, "Big", VTN_RAID0, {1, 2, 3});
    f.devices[40].u.array.memberCount = 200;
    n = 0;
    for (ClDiskArrayIterator it(40); it; ++it)
        ++n;
    EXPECT_EQ(n, 16);

    ClDiskArrayIterator disk(5), missing(999);
    EXPECT_FALSE(disk);
    EXPECT_FALSE(missing);
    EXPECT_EQ(*disk, nullptr);
}

TEST(DamArray, AddMemberFillsTheListUpToItsSlots)
{
    CDiskArray a;
    EXPECT_EQ(a.AddMember(7, 0), 1);
    EXPECT_EQ(a.nMemberCount, 1);
    EXPECT_EQ(a.MemberIds[0], 7u);

    CDiskArray b;
    EXPECT_EQ(b.AddMember(1, -1), 1);
    EXPECT_EQ(b.AddMember(2, -1), 1);
    EXPECT_EQ(b.MemberIds[0], 1u);
    EXPECT_EQ(b.MemberIds[1], 2u);
    EXPECT_EQ(b.MemberIds[2], VTN_ID_NONE);
    EXPECT_EQ(b.AddMember(3, 20), 0);
    EXPECT_EQ(b.AddMember(3, -2), 0);
    for (int i = 2; i < 20; ++i)
        EXPECT_EQ(b.AddMember(static_cast<unsigned>(i), -1), 1);
    EXPECT_EQ(b.AddMember(99, -1), 0);
    EXPECT_EQ(b.nMemberCount, 20);
}

TEST(DamDisk, TypeModeMembershipAndBootCount)
{
    TempRoot root;
    FakeDriver f;
    f.Disk(1, 0, 0, 0, 80, "d", VTN_DISK_BOOTABLE);
    f.Disk(2, 0, 1, 0, 80, "d", VTN_DISK_BOOTABLE);
    f.Disk(3, 0, 2, 0, 80);
    f.Disk(4, 0, 3, 0, 80, "d", VTN_DISK_BOOTABLE, false);
    f.Array(10, "A", VTN_RAID0, {3, 4, 5});
    f.devices[10].u.array.members[1] = VTN_ID_NONE;
    f.devices[1].u.disk.transferMode = 15;
    f.devices[2].u.disk.transferMode = 16;

    struct Case {
        uint32_t id;
        const char* type;
        const char* mode;
    } cases[] = {{1, "Hard Disk", "ATA/150"}, {2, "Hard Disk", ""}, {10, "Array", nullptr}};
    for (const Case& c : cases) {
        CDisk d;
        d = c.id;
        char text[32];
        d.GetType(text, sizeof text);
        EXPECT_STREQ(text, c.type);
        if (c.mode) {
            d.GetTransferMode(text, sizeof text);
            EXPECT_STREQ(text, c.mode);
        }
    }
    f.devices[3].type = 5;
    CDisk odd;
    odd = 3u;
    char text[32];
    odd.GetType(text, sizeof text);
    EXPECT_STREQ(text, "Type is unknown!");
    odd.GetWorkStatus(text, sizeof text);
    EXPECT_STREQ(text, "Unknown");

    // Membership stops at the first empty slot.
    CDiskArray a;
    a = 10u;
    EXPECT_TRUE(a.IsInArray(3));
    EXPECT_FALSE(a.IsInArray(5));

    // GetInfo reads again.
    f.devices[10].u.array.status = VTN_ARRAY_BROKEN;
    _LOGICAL_DEVICE_INFO_V2 info{};
    EXPECT_EQ(a.GetInfo(&info), 0);
    EXPECT_EQ(info.u.array.status, VTN_ARRAY_BROKEN);

    EXPECT_EQ(GetBootDisk(), 2);   // disk 4 is no top-level disk
    f.rebootResult = static_cast<int>(VTN_NO_RIGHT);
    EXPECT_EQ(Reboot(), static_cast<int>(VTN_NO_RIGHT));
    EXPECT_EQ(f.rebootCalls, 1);

    char swapped[8];
    SwapCopy(swapped, "1A2B3C\0", 7);
    EXPECT_EQ(std::string(swapped, 7), std::string("A1B2C3\0", 7));
}

TEST(DamArray, RenameAndDiskSettingsSendOneRecordEach)
{
    TempRoot root;
    FakeDriver f;
    f.Disk(1, 0, 0, 0, 80);
    CDisk d;
    d = 1u;
    EXPECT_EQ(d.SetName("NewName", false), 0);
    EXPECT_STREQ(d.szName, "NewName");
    EXPECT_TRUE(f.renames.empty());
    EXPECT_EQ(d.SetName("Other", true), 0);
    ASSERT_EQ(f.renames.size(), 1u);
    EXPECT_EQ(f.renames[0].first, 1u);
    EXPECT_EQ(f.renames[0].second.validMask, 1u);
    EXPECT_STREQ(f.renames[0].second.name, "Other");

    struct Case {
        int which, value, byteAt;
    } cases[] = {{2, 1, 5}, {4, 1, 6}, {8, 0, 7}, {16, 1, 8}, {32, 1, -1}};
    for (const Case& c : cases) {
        f.settings.clear();
        d.SetInfo(c.which, c.value);
        ASSERT_EQ(f.settings.size(), 1u);
        _ALTERABLE_DEVICE_INFO_V2 expect{};
        expect.validMask = static_cast<uint32_t>(c.which);
        if (c.byteAt >= 0)
            reinterpret_cast<uint8_t*>(&expect)[c.byteAt] = static_cast<uint8_t>(c.value);
        EXPECT_EQ(memcmp(&expect, &f.settings[0].second, sizeof expect), 0) << c.which;
    }
}

TEST(DamNames, DefaultNamesTakeTheFirstGap)
{
    TempRoot root;
    struct Arr {
        const char* name;
        uint8_t type;
        bool nested;
    };
    struct Case {
        std::vector<Arr> arrays;
        int code;
        const char* expect;
    } cases[] = {
        {{}, VTN_RAID0, "RAID_0_0"},
        {{}, VTN_RAID1, "RAID_1_0"},
        {{}, VTN_RAID5, "RAID_5_0"},
        {{}, VTN_JBOD, "JBOD___0"},
        {{}, VTN_RAID10, "RAID10_0"},
        {{}, VTN_RAID01, "RAID01_0"},
        {{{"RAID_0_0", VTN_RAID0, false}, {"RAID_0_2", VTN_RAID0, false}, {"RAID_0_1", VTN_RAID1, false}},
         VTN_RAID0, "RAID_0_1"},
        {{{"RAID_1_3", VTN_RAID0, false}, {"RAID_1_0", VTN_RAID1, false}}, VTN_RAID1, "RAID_1_1"},
        {{{"RAID_0_0", VTN_RAID0, false}, {"RAID_0_0", VTN_RAID0, false}, {"RAID_0_1", VTN_RAID0, false}},
         VTN_RAID0, "RAID_0_2"},   // a number seen twice counts once
        {{{"RAID_5_1", VTN_RAID5, false}}, VTN_RAID5, "RAID_5_0"},
        {{{"RAID10_0", VTN_RAID0, true}, {"RAID10_1", VTN_RAID0, false}}, VTN_RAID10, "RAID10_1"},
        {{{"RAID01_0", VTN_RAID1, true}, {"RAID01_1", VTN_RAID1, true}}, VTN_RAID01, "RAID01_2"},
        {{{"JBOD___0", VTN_JBOD, false}, {"JBOD__1", VTN_JBOD, false}}, VTN_JBOD, "JBOD___1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expect);
        FakeDriver f;
        uint32_t id = 1;
        for (const Arr& a : c.arrays) {
            const uint32_t d1 = f.Disk(id++, 0, 0, 0, 80, "d", 0, false), d2 = f.Disk(id++, 0, 1, 0, 80, "d", 0, false);
            if (a.nested) {
                const uint8_t inner = a.type == VTN_RAID0 ? VTN_RAID1 : VTN_RAID0;
                const uint32_t h = f.Array(id++, "", inner, {d1, d2}, 0, 7, false);
                f.Array(id++, a.name, a.type, {h});
            } else {
                f.Array(id++, a.name, a.type, {d1, d2});
            }
        }
        char name[32] = "unchanged";
        DefaultRAIDName(c.code, name, sizeof name);
        EXPECT_STREQ(name, c.expect);
    }

    // Once 0 to 9 are taken the next name ends in 10, which is no default name itself.
    FakeDriver f;
    for (uint32_t i = 0; i < 10; ++i) {
        char n[16];
        FormatText(n, sizeof n, "RAID_0_%u", i);
        f.Array(100 + i, n, VTN_RAID0, {});
    }
    char name[32];
    DefaultRAIDName(VTN_RAID0, name, sizeof name);
    EXPECT_STREQ(name, "RAID_0_10");
    EXPECT_FALSE(IsDefaultName(name, VTN_RAID0, false));
    char untouched[8] = "keep";
    DefaultRAIDName(4, untouched, sizeof untouched);
    EXPECT_STREQ(untouched, "keep");
}

TEST(DamNames, TextRulesAndConversions)
{
    struct Trim {
        const char* in;
        const char* out;
    } trims[] = {{"  a b  ", "a b"}, {"   ", ""}, {"", ""}, {"\tx ", "\tx"}, {"abc", "abc"}};
    for (const Trim& t : trims) {
        char buf[32];
        CopyText(buf, t.in);
        TrimSpace(buf);
        EXPECT_STREQ(buf, t.out) << '"' << t.in << '"';
    }

    struct Inval {
        const char* name;
        bool invalid;
    } invals[] = {{"Good_Name-1", false}, {"", false}, {"a b", true}, {"a.b", true}, {"\xe4", true}};
    for (const Inval& c : invals)
        EXPECT_EQ(GetInvalName(c.name), c.invalid) << c.name;

    struct Def {
        const char* name;
        int code;
        bool nested, expect;
    } defs[] = {
        {"RAID_0_7", 1, false, true}, {"RAID_0_", 1, false, false},  {"RAID_0_10", 1, false, false},
        {"RAID_1_0", 1, false, false}, {"RAID10_3", 1, true, true},  {"RAID10_3", 1, false, false},
        {"RAID01_0", 2, true, true},  {"JBOD___9", 7, false, true},  {"RAID_5_0", 3, true, false},
        {"RAID_5_0", 3, false, true}, {"X_0", 18, false, false},
    };
    for (const Def& d : defs)
        EXPECT_EQ(IsDefaultName(d.name, d.code, d.nested), d.expect) << d.name << " " << d.code << d.nested;

    struct Block {
        const char* text;
        int code;
    } blocks[] = {{"1K", 1}, {"8K", 4}, {"64K", 7}, {"2048K", 12}, {"64k", 12}, {"", 12}};
    for (const Block& b : blocks)
        EXPECT_EQ(GetBlockSizeValue(b.text), b.code) << b.text;

    struct Kind {
        const char* text;
        int code;
    } kinds[] = {{"RAID0", 1}, {"RAID1", 2}, {"JBOD", 7}, {"RAID5", 3}, {"RAID01", 33}, {"RAID10", 18}, {"raid0", 0}};
    for (const Kind& k : kinds)
        EXPECT_EQ(GetRAIDTypeValue(k.text), k.code) << k.text;

    char when[32];
    TimeRecToStr(TimeRecordFromValue(0), when, sizeof when);
    EXPECT_STREQ(when, "2000-00-00 00:00:00");
    TimeRecToStr(TimeRecordFromValue(static_cast<uint32_t>(StampMarch7())), when, sizeof when);
    EXPECT_STREQ(when, "2025-03-07 14:05:09");

    CDiskArray a;
    struct Size {
        int code;
        const char* text;
    } sizes[] = {{1, "1k"}, {7, "64k"}, {12, "2048k"}, {0, "2048k"}, {13, "2048k"}};
    for (const Size& s : sizes) {
        a.SetBlockSize(s.code);
        char text[16];
        EXPECT_EQ(a.GetBlockSize(text, sizeof text), s.code);
        EXPECT_STREQ(text, s.text);
    }
}

TEST(DamNames, NameLookupsWalkTheTopLevel)
{
    TempRoot root;
    Topology t;
    EXPECT_TRUE(GetSameRAIDName("Mirror"));
    EXPECT_FALSE(GetSameRAIDName("mirror"));
    EXPECT_FALSE(GetSameRAIDName("RAID_0_0"));   // a member array
    EXPECT_EQ(GetRAIDID("Mirrored"), 120u);
    EXPECT_EQ(GetRAIDID("Member 2 of 'ABCDEFGHIJKLMNOP'"), 132u);
    EXPECT_EQ(GetRAIDID("Member 3 of 'ABCDEFGHIJKLMNOP'"), VTN_ID_NONE);
    EXPECT_EQ(GetRAIDID("Nothing"), VTN_ID_NONE);

    EXPECT_TRUE(IsInSameContrl(130, 8));
    t.f.Disk(60, 1, 0, 0, 80);
    EXPECT_FALSE(IsInSameContrl(1, 60));
    EXPECT_FALSE(IsInSameContrl(999, 1));
    // An array that names itself as first member ends the walk.
    t.f.Array(70, "Loop", VTN_RAID0, {});
    t.f.devices[70].u.array.memberCount = 1;
    t.f.devices[70].u.array.members[0] = 70;
    EXPECT_FALSE(IsInSameContrl(70, 1));
    CDiskArray loop;
    loop = 70u;   // ends although every level finds itself again
    EXPECT_TRUE(loop.IsRAID10());
}

// ---- capabilities ----

struct CapsCase {
    uint32_t version;
    bool old;
    std::vector<std::string> kinds;
    uint32_t max0, max1, max5, max7, max18, max33;
    int nameLength;
    std::vector<std::string> blocks;
    bool pool, dedicated, cross;
};

_DRIVER_CAPABILITIES RichCaps()
{
    _DRIVER_CAPABILITIES c{};
    c.size = sizeof c;
    c.crossController = 1;
    c.minBlockCode = 5;
    c.maxBlockCode = 8;
    c.sparePool = 0x3;
    c.maxNameLength = 12;
    c.dedicatedSpare = 0x2;   // bit 0 clear
    const uint8_t types[] = {VTN_RAID0, VTN_RAID1, VTN_JBOD, VTN_RAID1, VTN_RAID01, VTN_RAID10};
    const uint8_t counts[] = {20, 2, 8, 3, 12, 6};
    for (size_t i = 0; i < sizeof types; ++i) {
        c.raidTypes[i] = types[i];
        c.maxMembers[i] = counts[i];
    }
    return c;
}

TEST(DamCaps, VersionsChooseFixedOrReportedCapabilities)
{
    const std::vector<std::string> oldKinds{"RAID0", "RAID1", "JBOD", "RAID01"};
    const std::vector<std::string> newKinds{"RAID0", "RAID1", "JBOD", "RAID01", "RAID10"};
    const std::vector<std::string> blocks{"128K", "64K", "32K", "16K"};
    const std::vector<std::string> oldBlocks{"64K", "32K", "16K"};
    const CapsCase cases[] = {
        {0, true, oldKinds, 8, 2, 0, 8, 4, 4, 8, oldBlocks, false, true, false},
        {0x01000001, true, oldKinds, 8, 2, 0, 8, 4, 4, 8, oldBlocks, false, true, false},
        // Reported, but the older creation record holds 8 members.
        {0x01000002, false, newKinds, 8, 3, 0, 8, 6, 8, 12, blocks, true, false, true},
        {0x0100FFFF, false, newKinds, 8, 3, 0, 8, 6, 8, 12, blocks, true, false, true},
        {0x01010000, false, newKinds, 16, 3, 0, 8, 6, 12, 12, blocks, true, false, true},
    };
    for (const CapsCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.version);
        FakeDriver f;
        f.version = c.version;
        f.caps = RichCaps();
        CSupportPara p;
        p.ProbeVersion();
        EXPECT_EQ(p.IsOldVersion(), c.old);
        EXPECT_EQ(f.capsCalls, c.old ? 0 : 1);
        std::vector<std::string> kinds, sizes;
        EXPECT_EQ(p.GetRAIDTypeList(kinds), c.kinds);
        EXPECT_EQ(p.GetBlockSizelist(sizes), c.blocks);
        EXPECT_EQ(p.GetRAIDMaxCount(1), c.max0);
        EXPECT_EQ(p.GetRAIDMaxCount(2), c.max1);
        EXPECT_EQ(p.GetRAIDMaxCount(3), c.max5);
        EXPECT_EQ(p.GetRAIDMaxCount(7), c.max7);
        EXPECT_EQ(p.GetRAIDMaxCount(18), c.max18);
        EXPECT_EQ(p.GetRAIDMaxCount(33), c.max33);
        EXPECT_EQ(p.GetRAIDMaxCount(4), 0u);
        EXPECT_EQ(p.GetRAIDNameLength(), c.nameLength);
        EXPECT_EQ(p.IsSptSparePool(), c.pool);
        EXPECT_EQ(p.IsSptDedicatedSpare(), c.dedicated);
        EXPECT_EQ(p.IsSptCrossController(), c.cross);
        EXPECT_FALSE(p.SupportRAID(VTN_ROW_RAID5));
        EXPECT_FALSE(p.SupportRAID(6));
        EXPECT_EQ(p.IsOldInterVersion(), c.old);
    }
}

TEST(DamCaps, AFailedReadClearsWhatAnEarlierProbeFound)
{
    FakeDriver f;
    f.version = 0x01010000;
    f.caps = RichCaps();
    CSupportPara p;
    p.ProbeVersion();
    ASSERT_TRUE(p.IsSptSparePool());
    f.capsFail = true;
    p.ProbeVersion();
    std::vector<std::string> kinds;
    EXPECT_TRUE(p.GetRAIDTypeList(kinds).empty());
    for (int i = 0; i < VTN_CAP_ROWS; ++i)
        EXPECT_FALSE(p.SupportRAID(i));
    EXPECT_FALSE(p.IsSptSparePool());
    EXPECT_FALSE(p.IsSptCrossController());
    EXPECT_EQ(p.GetRAIDMaxCount(1), 0u);
}

TEST(DamCaps, OutOfRangeBytesAreClamped)
{
    struct Case {
        uint8_t minCode, maxCode, nameLength;
        size_t blocks;
        const char* first;
        const char* last;
        int expectName;
    } cases[] = {
        {0, 40, 0, 12, "2048K", "1K", 1},
        {9, 3, 200, 0, nullptr, nullptr, 15},   // smallest above largest: nothing offered
        {7, 7, 15, 1, "64K", "64K", 15},
        {20, 15, 4, 0, nullptr, nullptr, 4},   // smallest above largest, both beyond the codes
        {13, 40, 15, 0, nullptr, nullptr, 15},  // no code that exists
        {0, 0, 15, 0, nullptr, nullptr, 15},
        {0, 3, 15, 3, "4K", "1K", 15},
    };
    for (const Case& c : cases) {
        FakeDriver f;
        f.version = 0x01010000;
        f.caps = RichCaps();
        f.caps.minBlockCode = c.minCode;
        f.caps.maxBlockCode = c.maxCode;
        f.caps.maxNameLength = c.nameLength;
        CSupportPara p;
        p.ProbeVersion();
        std::vector<std::string> sizes;
        p.GetBlockSizelist(sizes);
        ASSERT_EQ(sizes.size(), c.blocks);
        if (c.blocks > 0) {
            EXPECT_EQ(sizes.front(), c.first);
            EXPECT_EQ(sizes.back(), c.last);
        }
        EXPECT_EQ(p.GetRAIDNameLength(), c.expectName);
    }
    CSupportPara fresh;
    EXPECT_FALSE(fresh.SupportRAID(0));
    EXPECT_EQ(fresh.GetRAIDMaxCount(1), 0u);
    EXPECT_FALSE(fresh.IsSptDedicatedSpare());
}

}  // namespace
