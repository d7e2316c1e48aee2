// The size rules of the repair dialogs and of the spare pool, as tables of disk sizes against
// array kinds (member counts of 0 and 1 among them), the level list of the spare questions and
// the status words that ask for a rebuild.
#include <gtest/gtest.h>

#include "dam.h"
#include "drivergui_repair.h"

namespace {

constexpr uint64_t GB = 2097152;   // sectors

TEST(SizeRules, AddDiskDialog)
{
    struct Case {
        const char* what;
        uint32_t type;
        bool raid01;
        uint64_t array;
        int members;
        uint64_t disk;
        ERepairRule want;
    } cases[] = {
        {"RAID 1, equal", VTN_RAID1, false, 80 * GB, 2, 80 * GB, ERepairRule::Fits},
        {"RAID 1, one sector short", VTN_RAID1, false, 80 * GB, 2, 80 * GB - 1, ERepairRule::Raid1},
        {"RAID 1, larger", VTN_RAID1, false, 80 * GB, 2, 160 * GB, ERepairRule::Fits},
        // A RAID 5 is measured by its member count, not by members - 1.
        {"RAID 5 of 3, a third", VTN_RAID5, false, 300 * GB, 3, 100 * GB, ERepairRule::Fits},
        {"RAID 5 of 3, below a third", VTN_RAID5, false, 300 * GB, 3, 100 * GB - 1, ERepairRule::Raid5},
        {"RAID 5 of 4", VTN_RAID5, false, 300 * GB, 4, 75 * GB, ERepairRule::Fits},
        {"RAID 5 of 1", VTN_RAID5, false, 300 * GB, 1, 299 * GB, ERepairRule::Raid5},
        {"RAID 5 of 0 members: not measured", VTN_RAID5, false, 300 * GB, 0, 1, ERepairRule::Fits},
        {"RAID 5 of -1 members: not measured", VTN_RAID5, false, 300 * GB, -1, 1, ERepairRule::Fits},
        {"RAID 0/1, half", VTN_RAID1, true, 160 * GB, 2, 80 * GB, ERepairRule::Fits},
        {"RAID 0/1, below half", VTN_RAID1, true, 160 * GB, 2, 80 * GB - 1, ERepairRule::Raid01},
        {"RAID 0/1 of no members", VTN_RAID1, true, 160 * GB, 0, 80 * GB - 1, ERepairRule::Raid01},
        {"RAID 0: no rule", VTN_RAID0, false, 160 * GB, 2, 1, ERepairRule::Fits},
        {"JBOD: no rule", VTN_JBOD, false, 160 * GB, 0, 1, ERepairRule::Fits},
        {"RAID 1 of 64-bit size", VTN_RAID1, false, 1ull << 40, 2, (1ull << 40) - 1, ERepairRule::Raid1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RepairSizeRule(c.type, c.raid01, c.array, c.members, c.disk), c.want) << c.what;
}

TEST(SizeRules, SparePoolNeeds)
{
    // Needs of 80, 80, 100 and 100 per disk.
    const SSpareNeeds kEvery{.r1 = 80, .r01 = 160, .r10 = 200, .r5 = 300, .c01 = 2, .c10 = 2, .c5 = 4};
    struct Case {
        const char* what;
        SSpareNeeds n;
        uint64_t disk;
        bool tooSmall;
    } cases[] = {
        {"no array", SSpareNeeds{}, 1, false},
        {"RAID 1 of 80, disk of 90", SSpareNeeds{.r1 = 80}, 90, false},
        {"RAID 1 of 80, disk of 79", SSpareNeeds{.r1 = 80}, 79, true},
        {"RAID 5 of 4 x 300: needs 100", SSpareNeeds{.r5 = 300, .c5 = 4}, 100, false},
        {"RAID 5 of 4 x 300, 99", SSpareNeeds{.r5 = 300, .c5 = 4}, 99, true},
        {"RAID 5 of 2 members: all of it", SSpareNeeds{.r5 = 300, .c5 = 2}, 299, true},
        {"RAID 5 of 1 member: divisor 0, skipped", SSpareNeeds{.r5 = 300}, 1, false},
        {"RAID 5 of 0 members: skipped", SSpareNeeds{.r5 = 300, .c5 = 0}, 1, false},
        {"RAID 1/0 of 2 x 200: needs 100", SSpareNeeds{.r10 = 200, .c10 = 2}, 100, false},
        {"RAID 1/0 of 2 x 200, 99", SSpareNeeds{.r10 = 200, .c10 = 2}, 99, true},
        {"RAID 1/0 of 0 members: skipped", SSpareNeeds{.r10 = 200, .c10 = 0}, 1, false},
        {"RAID 0/1 of 2 x 160, 80", SSpareNeeds{.r01 = 160, .c01 = 2}, 80, false},
        {"RAID 0/1 of 2 x 160, 79", SSpareNeeds{.r01 = 160, .c01 = 2}, 79, true},
        {"RAID 0/1 of 0 members: skipped", SSpareNeeds{.r01 = 160, .c01 = 0}, 1, false},
        // A dedicated RAID 0/1 gets both its R1 and its R01 check: a member-sized disk fails.
        {"dedicated RAID 0/1: R1 too", SSpareNeeds{.r1 = 160, .r01 = 160, .c01 = 2}, 80, true},
        {"every kind, the largest need decides", kEvery, 99, true},
        {"every kind, enough", kEvery, 100, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SpareTooSmall(c.n, c.disk), c.tooSmall) << c.what;
        EXPECT_EQ(NoSpareNeed(c.n), std::string(c.what) == "no array") << c.what;
    }
}

TEST(SizeRules, DedicatedSpareListing)
{
    struct Case {
        const char* what;
        uint32_t type;
        bool raid01, raid10;
        uint64_t array;
        int members;
        uint64_t disk;
        bool fits;
    } cases[] = {
        {"RAID 1 of 100, disk of 80", VTN_RAID1, false, false, 100 * GB, 2, 80 * GB, false},
        {"RAID 1 of 100, disk of 120", VTN_RAID1, false, false, 100 * GB, 2, 120 * GB, true},
        {"RAID 5 of 3 x 200, 100", VTN_RAID5, false, false, 200 * GB, 3, 100 * GB, true},
        {"RAID 5 of 3 x 200, 90", VTN_RAID5, false, false, 200 * GB, 3, 90 * GB, false},
        {"RAID 5 of 1: divisor 0, skipped", VTN_RAID5, false, false, 200 * GB, 1, 1, true},
        {"RAID 5 of 0: skipped", VTN_RAID5, false, false, 200 * GB, 0, 1, true},
        // A RAID 0/1 carries the RAID 1 code: it needs its whole capacity.
        {"RAID 0/1 of 160, 80", VTN_RAID1, true, false, 160 * GB, 2, 80 * GB, false},
        {"RAID 0/1 of 160, 160", VTN_RAID1, true, false, 160 * GB, 2, 160 * GB, true},
        {"RAID 1/0 of 160, 80", VTN_RAID0, false, true, 160 * GB, 2, 80 * GB, true},
        {"RAID 1/0 of 160, 79", VTN_RAID0, false, true, 160 * GB, 2, 79 * GB, false},
        {"RAID 0: no rule", VTN_RAID0, false, false, 160 * GB, 2, 1, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DedicatedSpareFits(c.type, c.raid01, c.raid10, c.array, c.members, c.disk), c.fits) << c.what;
}

TEST(SizeRules, LevelListNamesTheSupportedKinds)
{
    struct Case {
        std::vector<int> rows;
        const char* text;
    } cases[] = {
        {{VTN_ROW_RAID1, VTN_ROW_RAID01, VTN_ROW_RAID10, VTN_ROW_RAID5}, "RAID 1 or RAID 0/1 or RAID 1/0 or RAID 5"},
        {{VTN_ROW_RAID1, VTN_ROW_RAID01, VTN_ROW_RAID5}, "RAID 1 or RAID 0/1 or RAID 5"},
        {{VTN_ROW_RAID5, VTN_ROW_RAID0, VTN_ROW_JBOD}, "RAID 5"},
        {{VTN_ROW_RAID0, VTN_ROW_JBOD}, ""},
        {{}, ""},
    };
    for (const Case& c : cases) {
        CSupportPara s;
        for (int row : c.rows)
            s.RAIDRows[row].bSupported = 1;
        EXPECT_EQ(SpareLevelList(s), c.text);
    }
}

TEST(SizeRules, RebuildIsOfferedOnlyToArraysWaitingForOne)
{
    struct Case {
        uint32_t status;
        bool offered;
    } cases[] = {
        {VTN_ARRAY_NEED_REBUILD, true},
        {VTN_ARRAY_NEED_REBUILD | VTN_ARRAY_BOOTABLE | VTN_ARRAY_VERIFYING, true},
        {0, false},
        {VTN_ARRAY_NEED_REBUILD | VTN_ARRAY_REBUILDING, false},
        {VTN_ARRAY_NEED_REBUILD | VTN_ARRAY_BROKEN, false},
        {VTN_ARRAY_NEED_REBUILD | VTN_ARRAY_DISABLED, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NeedsRebuild(c.status), c.offered) << std::hex << c.status;
}

}  // namespace
