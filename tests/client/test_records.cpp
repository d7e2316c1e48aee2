// Conversions between the older and newer device and creation records.
#include <gtest/gtest.h>

#include <cstring>

#include "drvrec.h"
#include "netfuncs.h"

namespace {

_LOGICAL_DEVICE_INFO OldDisk()
{
    _LOGICAL_DEVICE_INFO d;
    memset(&d, 0, sizeof(d));
    d.type = VTN_DEVICE_DISK;
    d.capacity = 0x12345678;
    d.parent = 0x22;
    d.u.disk.controller = 1;
    d.u.disk.channel = 3;
    d.u.disk.device = 0;
    d.u.disk.transferMode = 14;
    d.u.disk.features = 0x5A;
    d.u.disk.status = VTN_DISK_SPARE | VTN_DISK_BOOTABLE;
    memcpy(d.u.disk.serial, "SERIAL-0123456789ABC", 20);
    memcpy(d.u.disk.revision, "1.02AB", 6);
    memcpy(d.u.disk.model, "Model Disk 250", 14);
    // The last byte of the old disk part lands at newer offset 177.
    reinterpret_cast<unsigned char*>(&d)[173] = 0xEE;
    return d;
}

_LOGICAL_DEVICE_INFO OldArray(uint8_t members)
{
    _LOGICAL_DEVICE_INFO a;
    memset(&a, 0, sizeof(a));
    a.type = VTN_DEVICE_ARRAY;
    a.capacity = 0xFFFFFFF0;
    a.parent = VTN_ID_NONE;
    memcpy(a.u.array.name, "Mirror-Sixteen16", 16);  // full field, no NUL
    a.u.array.raidType = VTN_RAID1;
    a.u.array.blockCode = 7;
    a.u.array.memberCount = members;
    a.u.array.status = VTN_ARRAY_REBUILDING | VTN_ARRAY_NEED_REBUILD;
    for (int i = 0; i < 8; ++i)
        a.u.array.members[i] = 0x100 + i;
    a.u.array.progress = 4321;
    a.u.array.reserved4 = 0xABCD;
    return a;
}

}  // namespace

TEST(DeviceInfoConversion, DiskPartMovesFourBytesAndCapacityWidens)
{
    _LOGICAL_DEVICE_INFO from = OldDisk();
    _LOGICAL_DEVICE_INFO_V2 to;
    memset(&to, 0x77, sizeof(to));
    ASSERT_EQ(convertDeviceInfo(&from, &to), 1);

    EXPECT_EQ(+to.type, VTN_DEVICE_DISK);
    EXPECT_EQ(+to.capacity, 0x12345678u);
    EXPECT_EQ(+to.parent, 0x22u);
    EXPECT_EQ(+to.u.disk.controller, 1);
    EXPECT_EQ(+to.u.disk.channel, 3);
    EXPECT_EQ(+to.u.disk.transferMode, 14);
    EXPECT_EQ(+to.u.disk.features, 0x5A);
    EXPECT_EQ(+to.u.disk.status, VTN_DISK_SPARE | VTN_DISK_BOOTABLE);
    EXPECT_EQ(0, memcmp(to.u.disk.serial, "SERIAL-0123456789ABC", 20));
    EXPECT_EQ(0, memcmp(to.u.disk.revision, "1.02AB", 6));
    EXPECT_STREQ(to.u.disk.model, "Model Disk 250");
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&to);
    EXPECT_EQ(bytes[177], 0xEE);
    for (size_t i = 178; i < sizeof(to); ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(DeviceInfoConversion, ArrayKeepsEightMembersAndProgress)
{
    struct Case {
        uint8_t count;
        uint8_t expected;
    } cases[] = {{2, 2}, {8, 8}, {12, 8}, {255, 8}};
    for (const Case& c : cases) {
        _LOGICAL_DEVICE_INFO from = OldArray(c.count);
        _LOGICAL_DEVICE_INFO_V2 to;
        memset(&to, 0x77, sizeof(to));
        ASSERT_EQ(convertDeviceInfo(&from, &to), 1);
        SCOPED_TRACE(int(c.count));
        EXPECT_EQ(+to.type, VTN_DEVICE_ARRAY);
        EXPECT_EQ(+to.capacity, 0xFFFFFFF0ull);  // high half 0
        EXPECT_EQ(+to.parent, VTN_ID_NONE);
        EXPECT_EQ(0, memcmp(to.u.array.name, "Mirror-Sixteen16", 16));
        EXPECT_EQ(+to.u.array.raidType, VTN_RAID1);
        EXPECT_EQ(+to.u.array.blockCode, 7);
        EXPECT_EQ(+to.u.array.memberCount, c.expected);
        EXPECT_EQ(+to.u.array.status, VTN_ARRAY_REBUILDING | VTN_ARRAY_NEED_REBUILD);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(+to.u.array.members[i], 0x100u + i);
        for (int i = 8; i < 16; ++i)
            EXPECT_EQ(+to.u.array.members[i], 0u);
        EXPECT_EQ(+to.u.array.progress, 4321u);
        EXPECT_EQ(+to.u.array.reserved4, 0xABCDu);
    }
}

TEST(CreateParamsConversion, EightMembersAcceptedNineRefused)
{
    struct Case {
        uint8_t members;
        int result;
    } cases[] = {{0, 1}, {2, 1}, {8, 1}, {9, 0}, {16, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.members));
        _CREATE_ARRAY_PARAMS_V2 from;
        memset(&from, 0, sizeof(from));
        from.raidType = VTN_RAID5;
        from.memberCount = c.members;
        from.blockCode = 6;
        from.option = VTN_CREATE_RAID5_ZERO_BUILD;
        memcpy(from.name, "Parity", 6);
        from.reserved[10] = 0x3C;  // bytes 0 to 103 travel unchanged
        for (int i = 0; i < 16; ++i)
            from.members[i] = 0x200 + i;

        _CREATE_ARRAY_PARAMS to;
        memset(&to, 0x77, sizeof(to));
        ASSERT_EQ(convertParam(&from, &to), c.result);
        if (c.result == 0) {
            const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&to);
            for (size_t i = 0; i < sizeof(to); ++i)
                ASSERT_EQ(bytes[i], 0x77) << "refused conversion wrote byte " << i;
            continue;
        }
        EXPECT_EQ(0, memcmp(&to, &from, 104));
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(+to.members[i], i < c.members ? 0x200u + i : 0u) << i;
    }
}
