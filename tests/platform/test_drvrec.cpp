// Driver records: sizes, the byte offsets readers rely on, and the two generations of device
// information agreeing for the same device.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "drvrec.h"
#include "simctl.h"
#include "simmodel.h"
#include "testutil.h"
#include "vtnsysctl.h"

namespace {

TEST(DriverRecords, Sizes)
{
    struct Case {
        const char* name;
        size_t size;
        size_t expected;
    };
    const Case cases[] = {
        {"_LOGICAL_DEVICE_INFO_V2", sizeof(_LOGICAL_DEVICE_INFO_V2), 216},
        {"_LOGICAL_DEVICE_INFO", sizeof(_LOGICAL_DEVICE_INFO), 174},
        {"_CREATE_ARRAY_PARAMS_V2", sizeof(_CREATE_ARRAY_PARAMS_V2), 176},
        {"_CREATE_ARRAY_PARAMS", sizeof(_CREATE_ARRAY_PARAMS), 136},
        {"_ALTERABLE_ARRAY_INFO", sizeof(_ALTERABLE_ARRAY_INFO), 84},
        {"_ALTERABLE_DEVICE_INFO_V2", sizeof(_ALTERABLE_DEVICE_INFO_V2), 64},
        {"_ALTERABLE_DEVICE_INFO", sizeof(_ALTERABLE_DEVICE_INFO), 5},
        {"_DRIVER_CAPABILITIES", sizeof(_DRIVER_CAPABILITIES), 44},
        {"_CONTROLLER_INFO", sizeof(_CONTROLLER_INFO), 76},
        {"_CHANNEL_INFO", sizeof(_CHANNEL_INFO), 16},
        {"_VTNQZR_INFO", sizeof(_VTNQZR_INFO), 16},
        {"_VTN_EVENT", sizeof(_VTN_EVENT), 44},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, c.size) << c.name;
}

uint32_t U32(const uint8_t* p, size_t off)
{
    uint32_t v;
    memcpy(&v, p + off, 4);
    return v;
}

int Call(uint32_t code, uint32_t id, void* out, uint32_t outSize)
{
    _VTN_DRIVER_REQUEST r{};
    r.magic = VTN_DRIVER_MAGIC;
    r.code = code;
    r.in = &id;
    r.inSize = 4;
    r.out = out;
    r.outSize = outSize;
    return sysctlbyname("vtnmira.status", nullptr, nullptr, &r, sizeof r);
}

class DeviceRecords : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string msg;
        ASSERT_TRUE(VtnSimInit("demo", &msg)) << msg;
        // A disk above 2^32 sectors, with a known identity, that is the dedicated spare of the mirror.
        ASSERT_TRUE(VtnSimEdit(
            [](vtnsim::Model& m, int64_t, std::string*) {
                vtnsim::Disk* d = m.FindDisk(4);
                d->capacity = 0x123456789ULL;
                d->serial = "SER-0004";
                d->model = "MODEL FOUR";
                d->revision = "AB12";
                d->parent = 11;
                d->flags |= VTN_DISK_SPARE;
                m.FindArray(11)->spare = 4;
                return true;
            },
            &msg))
            << msg;
    }
    void Both(uint32_t id)
    {
        ASSERT_EQ(0, Call(VTN_CTL_GET_DEVICE_INFO_V2, id, v2_, sizeof v2_));
        ASSERT_EQ(0, Call(VTN_CTL_GET_DEVICE_INFO, id, old_, sizeof old_));
    }
    TempRoot root_;
    uint8_t v2_[216];
    uint8_t old_[174];
};

TEST_F(DeviceRecords, DiskFieldsSitWhereReadersLookInBothGenerations)
{
    Both(4);
    // Newer record.
    EXPECT_EQ(VTN_DEVICE_DISK, v2_[0]);
    uint64_t cap;
    memcpy(&cap, v2_ + 4, 8);
    EXPECT_EQ(0x123456789ULL, cap);
    EXPECT_EQ(11u, U32(v2_, 12));
    EXPECT_EQ(0, v2_[16]);   // controller
    EXPECT_EQ(3, v2_[17]);   // channel
    EXPECT_EQ(0, v2_[18]);   // device
    EXPECT_EQ(15, v2_[19]);  // ATA/150
    EXPECT_EQ(VTN_DISK_SPARE, U32(v2_, 24));
    EXPECT_EQ(std::string("SER-0004            "), std::string(reinterpret_cast<char*>(v2_ + 48), 20));
    EXPECT_EQ(std::string("BA21    "), std::string(reinterpret_cast<char*>(v2_ + 74), 8));
    EXPECT_EQ(std::string("MODEL FOUR") + std::string(30, ' '), std::string(reinterpret_cast<char*>(v2_ + 82), 40));

    // Older record: capacity cut to 32 bits, the disk part shifted down by 4.
    EXPECT_EQ(VTN_DEVICE_DISK, old_[0]);
    EXPECT_EQ(0x23456789u, U32(old_, 4));
    EXPECT_EQ(11u, U32(old_, 8));
    EXPECT_EQ(0, memcmp(v2_ + 16, old_ + 12, 174 - 12));
}

TEST_F(DeviceRecords, ArrayFieldsSitWhereReadersLookInBothGenerations)
{
    Both(11);   // demo: RAID 1 "Mirror" over disks 1 and 2, with disk 4 as its dedicated spare
    EXPECT_EQ(VTN_DEVICE_ARRAY, v2_[0]);
    EXPECT_EQ(0u, U32(v2_, 12)) << "top-level devices have the system as parent";
    EXPECT_STREQ("Mirror", reinterpret_cast<char*>(v2_ + 16));
    EXPECT_EQ(VTN_RAID1, v2_[116]);
    EXPECT_EQ(2, v2_[118]);
    EXPECT_EQ(0u, U32(v2_, 120));
    EXPECT_EQ(1u, U32(v2_, 124));
    EXPECT_EQ(2u, U32(v2_, 128));
    EXPECT_EQ(4u, U32(v2_, 132)) << "the dedicated spare follows the data members";
    EXPECT_EQ(VTN_ID_NONE, U32(v2_, 136));

    const size_t pairs[][3] = {
        // newer offset, older offset, bytes
        {0, 0, 1}, {12, 8, 4}, {16, 12, 16}, {116, 112, 1}, {117, 113, 1}, {118, 114, 1},
        {120, 116, 4}, {124, 120, 32}, {188, 152, 4},
    };
    for (const auto& p : pairs)
        EXPECT_EQ(0, memcmp(v2_ + p[0], old_ + p[1], p[2])) << "newer offset " << p[0];
    EXPECT_EQ(U32(v2_, 4), U32(old_, 4));
}

TEST_F(DeviceRecords, DiskOfNoArrayHasNoParentInBothGenerations)
{
    Both(3);   // demo: a free disk on controller 0
    EXPECT_EQ(VTN_DEVICE_DISK, v2_[0]);
    EXPECT_EQ(VTN_ID_NONE, U32(v2_, 12));
    EXPECT_EQ(VTN_ID_NONE, U32(old_, 8));
    Both(8);   // demo: the pool spare
    EXPECT_EQ(VTN_DISK_SPARE, U32(v2_, 24));
    EXPECT_EQ(VTN_ID_NONE, U32(v2_, 12));
    EXPECT_EQ(VTN_ID_NONE, U32(old_, 8));
}

TEST_F(DeviceRecords, ControllerChannelAndEventRecords)
{
    uint8_t c[76];
    ASSERT_EQ(0, Call(VTN_CTL_GET_CONTROLLER_INFO, 1, c, sizeof c));
    EXPECT_EQ(8, c[2]);
    EXPECT_EQ(VTN_BUS_ATA150, c[3]);
    EXPECT_NE(0, c[4]);
    EXPECT_NE(0, c[40]);
    EXPECT_EQ(-1, Call(VTN_CTL_GET_CONTROLLER_INFO, 2, c, sizeof c));

    std::string msg;
    ASSERT_TRUE(VtnSimEvent(VTN_EVENT_INIT_FAILED, 12, 0, "Parity", &msg)) << msg;
    ASSERT_TRUE(VtnSimEvent(VTN_EVENT_REBUILD_STARTED, 11, 1, "", &msg)) << msg;
    uint8_t e[44];
    _VTN_DRIVER_REQUEST r{};
    r.magic = VTN_DRIVER_MAGIC;
    r.code = VTN_CTL_GET_EVENT;
    r.out = e;
    r.outSize = sizeof e;
    ASSERT_EQ(0, sysctlbyname("vtnmira.status", nullptr, nullptr, &r, sizeof r));
    EXPECT_EQ(12u, U32(e, 4));
    EXPECT_EQ(VTN_EVENT_INIT_FAILED, e[8]);
    EXPECT_STREQ("Parity", reinterpret_cast<char*>(e + 12));
    ASSERT_EQ(0, sysctlbyname("vtnmira.status", nullptr, nullptr, &r, sizeof r));
    EXPECT_EQ(VTN_EVENT_REBUILD_STARTED, e[8]);
    EXPECT_EQ(1, e[12]);
    _TIME_RECORD t;
    memcpy(&t, e, 4);
    EXPECT_GE(t.month, 1u);
    EXPECT_GE(t.day, 1u);
}

}  // namespace
