// Every driver call through the real vtnsvr to the simulated controller, for a driver that
// takes the older device and creation records and for one that takes the newer ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "client.h"
#include "drvrec.h"
#include "netfuncs.h"
#include "svrfixture.h"

namespace {

void OnLost() {}

constexpr uint64_t kGB = 2097152;  // sectors

class DriverCalls : public ::testing::TestWithParam<uint32_t> {
protected:
    void SetUp() override
    {
        cs_vtn_client_init();
        SetClientWaitSeconds(30);
        ASSERT_EQ(server_.Sim({"init", "--preset", "sata4"}), 0);
        char hex[16];
        FormatText(hex, sizeof(hex), "0x%08X", GetParam());
        ASSERT_EQ(server_.Sim({"set", "version", hex}), 0);
        ASSERT_TRUE(server_.Start(""));
        ASSERT_EQ(LoginTo(server_.Port(), kDefaultUser, kDefaultPassword, OnLost), 0);
    }
    void TearDown() override
    {
        cs_vtn_disconnect_system(0);
        SetClientWaitSeconds(VTN_CLIENT_WAIT_SECONDS);
    }
    static std::vector<unsigned int> TopLevel()
    {
        unsigned int ids[16];
        int n = cs_vtn_get_logical_devices(0, ids, 16);
        EXPECT_GE(n, 0);
        std::vector<unsigned int> v(ids, ids + std::max(n, 0));
        std::sort(v.begin(), v.end());
        return v;
    }
    static _LOGICAL_DEVICE_INFO_V2 Info(unsigned int id)
    {
        _LOGICAL_DEVICE_INFO_V2 info;
        memset(&info, 0xEE, sizeof(info));
        EXPECT_EQ(cs_vtn_get_device_info(0, id, &info), 0) << "device " << id;
        return info;
    }
    static _CREATE_ARRAY_PARAMS_V2 Params(uint8_t type, const char* name, std::vector<uint32_t> members)
    {
        _CREATE_ARRAY_PARAMS_V2 p{};
        p.raidType = type;
        p.memberCount = uint8_t(members.size());
        p.blockCode = type == VTN_RAID1 ? 0 : VTN_BLOCK_CODE_DEFAULT;
        CopyField(p.name, sizeof(p.name), name, strlen(name));
        for (size_t i = 0; i < members.size() && i < 16; ++i)
            p.members[i] = members[i];
        return p;
    }

    TempRoot root_;
    ServerProcess server_{root_.Dir()};
};

}  // namespace

TEST_P(DriverCalls, ReadingCalls)
{
    EXPECT_EQ(cs_vtn_get_version(0), GetParam());
    EXPECT_EQ(gConnections[0].driverVersion, GetParam());

    _DRIVER_CAPABILITIES caps{};
    caps.size = sizeof(caps);
    ASSERT_EQ(cs_vtn_get_driver_capabilities(0, &caps), 0);
    EXPECT_EQ(caps.size, 44u);
    EXPECT_GE(caps.maxNameLength, 6);
    EXPECT_NE(std::find(std::begin(caps.raidTypes), std::end(caps.raidTypes), VTN_RAID5), std::end(caps.raidTypes));

    EXPECT_EQ(cs_vtn_get_controller_count(0), 1);
    _CONTROLLER_INFO ctl;
    ASSERT_EQ(cs_vtn_get_controller_info(0, 0, &ctl), 0);
    EXPECT_STREQ(ctl.name, "VTN SATA150 4-Port RAID Controller");
    EXPECT_EQ(ctl.channels, 4);
    EXPECT_EQ(cs_vtn_get_controller_info(0, 1, &ctl), int(VTN_DRIVER_FAILED));

    // One disk on each channel, ids 1 to 4, in the first place.
    for (int ch = 0; ch < 4; ++ch) {
        SCOPED_TRACE(ch);
        _CHANNEL_INFO info;
        ASSERT_EQ(cs_vtn_get_channel_info(0, 0, ch, &info), 0);
        EXPECT_EQ(info.devices[0], unsigned(ch + 1));
        EXPECT_EQ(info.devices[1], VTN_ID_NONE);
    }
    EXPECT_EQ(TopLevel(), (std::vector<unsigned int>{1, 2, 3, 4}));
    unsigned int two[2];
    EXPECT_EQ(cs_vtn_get_logical_devices(0, two, 2), 2);

    struct Disk {
        unsigned int id;
        uint8_t channel;
        uint64_t gb;
        const char* serial;
    } disks[] = {{1, 0, 80, "VS00000000000001"}, {3, 2, 120, "VS00020000000003"}, {4, 3, 160, "VS00030000000004"}};
    for (const Disk& d : disks) {
        SCOPED_TRACE(d.id);
        _LOGICAL_DEVICE_INFO_V2 info = Info(d.id);
        EXPECT_EQ(info.type, VTN_DEVICE_DISK);
        EXPECT_EQ(+info.capacity, d.gb * kGB);
        EXPECT_EQ(info.u.disk.controller, 0);
        EXPECT_EQ(info.u.disk.channel, d.channel);
        EXPECT_EQ(info.u.disk.device, 0);
        EXPECT_EQ(std::string(info.u.disk.serial, 16), d.serial);  // blank-padded to 20
        EXPECT_EQ(info.u.disk.status & VTN_DISK_SPARE, 0u);
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&info);
        if (GetParam() <= VTN_DRIVER_OLD_RECORDS_MAX) {
            for (size_t i = 178; i < sizeof(info); ++i)
                ASSERT_EQ(bytes[i], 0) << "byte " << i << " past the older record";
        }
    }
    _LOGICAL_DEVICE_INFO_V2 none;
    EXPECT_EQ(cs_vtn_get_device_info(0, 0x4444, &none), int(VTN_DRIVER_FAILED));
    EXPECT_EQ(cs_vtn_rescan_devices(0), 0);
}

TEST_P(DriverCalls, ArrayLifeCycle)
{
    _CREATE_ARRAY_PARAMS_V2 mirror = Params(VTN_RAID1, "Mirror", {1, 2});
    unsigned int id = cs_vtn_create_array(0, &mirror);
    ASSERT_NE(id, 0u);
    _LOGICAL_DEVICE_INFO_V2 a = Info(id);
    EXPECT_EQ(a.type, VTN_DEVICE_ARRAY);
    EXPECT_EQ(0, strncmp(a.u.array.name, "Mirror", 16));
    EXPECT_EQ(a.u.array.raidType, VTN_RAID1);
    ASSERT_EQ(a.u.array.memberCount, 2);
    EXPECT_EQ(+a.u.array.members[0], 1u);
    EXPECT_EQ(+a.u.array.members[1], 2u);
    if (GetParam() <= VTN_DRIVER_OLD_RECORDS_MAX) {
        EXPECT_EQ(a.capacity >> 32, 0u);
        for (int i = 8; i < 16; ++i)
            EXPECT_EQ(+a.u.array.members[i], 0u) << "member slot " << i << " of an older record";
    }
    EXPECT_EQ(+Info(1).parent, id);
    EXPECT_EQ(TopLevel(), (std::vector<unsigned int>{3, 4, id}));

    _ALTERABLE_ARRAY_INFO rename{};
    rename.validMask = VTN_ALTER_ARRAY_NAME;
    CopyText(rename.name, "Renamed");
    EXPECT_EQ(cs_vtn_set_array_info(0, id, &rename), 0);
    EXPECT_EQ(0, strncmp(Info(id).u.array.name, "Renamed", 16));

    EXPECT_EQ(cs_vtn_set_array_state(0, id, VTN_STATE_START_VERIFY), 0);
    EXPECT_NE(Info(id).u.array.status & VTN_ARRAY_VERIFYING, 0u);
    EXPECT_EQ(cs_vtn_set_array_state(0, id, VTN_STATE_ABORT_VERIFY), 0);
    EXPECT_EQ(Info(id).u.array.status & VTN_ARRAY_VERIFYING, 0u);

    // Spares: the pool and one array's own.
    EXPECT_EQ(cs_vtn_add_spare_disk(0, 3), 0);
    EXPECT_NE(Info(3).u.disk.status & VTN_DISK_SPARE, 0u);
    EXPECT_EQ(cs_vtn_remove_spare_disk(0, 3), 0);
    EXPECT_EQ(Info(3).u.disk.status & VTN_DISK_SPARE, 0u);
    EXPECT_EQ(cs_vtn_add_dedicated_spare(0, id, 4), 0);
    EXPECT_NE(Info(4).u.disk.status & VTN_DISK_SPARE, 0u);
    EXPECT_EQ(cs_vtn_remove_spare_disk(0, 4), 0);

    // Deletion answers with the driver's word; the members are free again.
    EXPECT_EQ(cs_vtn_delete_array(0, id, 0), 0);
    EXPECT_EQ(TopLevel(), (std::vector<unsigned int>{1, 2, 3, 4}));
    EXPECT_EQ(cs_vtn_delete_array(0, id, 0), -1);

    // The controller saw the generation the version asks for.
    std::string log;
    ASSERT_EQ(server_.Sim({"log"}, &log), 0);
    bool newer = GetParam() > VTN_DRIVER_OLD_RECORDS_MAX;
    EXPECT_NE(log.find(newer ? "0xFF20" : "0xFF06"), std::string::npos);
    EXPECT_NE(log.find(newer ? "0xFF21" : "0xFF05"), std::string::npos);
    EXPECT_EQ(log.find(newer ? "0xFF06" : "0xFF20"), std::string::npos);
}

TEST_P(DriverCalls, RepairOfABrokenMirror)
{
    _CREATE_ARRAY_PARAMS_V2 mirror = Params(VTN_RAID1, "Mirror", {1, 2});
    unsigned int id = cs_vtn_create_array(0, &mirror);
    ASSERT_NE(id, 0u);
    ASSERT_EQ(server_.Sim({"fail", "2"}), 0);
    EXPECT_NE(Info(id).u.array.status & VTN_ARRAY_BROKEN, 0u);
    EXPECT_NE(Info(2).u.disk.status & VTN_DISK_DISABLED, 0u);

    EXPECT_EQ(cs_vtn_add_disk_to_array(0, id, 3), 0);
    _LOGICAL_DEVICE_INFO_V2 a = Info(id);
    std::vector<uint32_t> members(a.u.array.members, a.u.array.members + std::min<int>(a.u.array.memberCount, 16));
    EXPECT_NE(std::find(members.begin(), members.end(), 3u), members.end());
    EXPECT_EQ(cs_vtn_add_disk_to_array(0, id, 3), int(VTN_DRIVER_FAILED)) << "already a member";

    EXPECT_EQ(cs_vtn_set_array_state(0, id, VTN_STATE_START_REBUILD), 0);
    EXPECT_NE(Info(id).u.array.status & VTN_ARRAY_REBUILDING, 0u);
    EXPECT_EQ(cs_vtn_set_array_state(0, id, VTN_STATE_ABORT_REBUILD), 0);
    EXPECT_EQ(Info(id).u.array.status & VTN_ARRAY_REBUILDING, 0u);
}

TEST_P(DriverCalls, CreationLimits)
{
    // Nine members never reach an older driver; a newer one refuses them itself here (4 disks).
    _CREATE_ARRAY_PARAMS_V2 nine = Params(VTN_JBOD, "Nine", {1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(cs_vtn_create_array(0, &nine), 0u);
    _CREATE_ARRAY_PARAMS_V2 stripe = Params(VTN_RAID0, "Stripe", {1, 2, 3, 4});
    unsigned int id = cs_vtn_create_array(0, &stripe);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(+Info(id).capacity, 4 * 80 * kGB);
    _CREATE_ARRAY_PARAMS_V2 reuse = Params(VTN_RAID0, "Again", {1, 2});
    EXPECT_EQ(cs_vtn_create_array(0, &reuse), 0u) << "members already taken";
    EXPECT_EQ(gConnections[0].flags, VTN_CONN_CONNECTED);
}

TEST_P(DriverCalls, PassThroughCalls)
{
    _ALTERABLE_DEVICE_INFO_V2 cache{};
    cache.validMask = VTN_ALTER_WRITE_CACHE;
    cache.writeCache = 0;
    bool supported = Info(1).u.disk.features & VTN_FEATURE_WRITE_CACHE_SUPPORTED;
    EXPECT_EQ(cs_vtn_set_device_info_v2(0, 1, &cache), supported ? 0 : int(VTN_DRIVER_FAILED));
    if (supported) {
        EXPECT_EQ(Info(1).u.disk.features & VTN_FEATURE_WRITE_CACHE_ON, 0);
    }

    _ALTERABLE_DEVICE_INFO old{{1, 2, 3, 4, 5}};
    EXPECT_EQ(cs_vtn_set_device_info(0, 1, &old), 0);
    _VTNQZR_INFO q;
    for (int i = 0; i < 16; ++i)
        q.data[i] = uint8_t(0xA0 + i);
    EXPECT_EQ(cs_vtn_set_qzr_info(0, 2, &q), 0);
    _VTNQZR_INFO back{};
    EXPECT_EQ(cs_vtn_get_qzr_info(0, 2, &back), 0);
    EXPECT_EQ(0, memcmp(back.data, q.data, 16));
    EXPECT_EQ(cs_vtn_lock_device(0, 2, 100, 8), 0);
    EXPECT_EQ(cs_vtn_unlock_device(0, 2), 0);
    EXPECT_EQ(cs_vtn_get_qzr_info(0, 0x4444, &back), int(VTN_DRIVER_FAILED));

    // The server serves no device removal; the pass-through is never sent.
    unsigned int ids[2] = {3, 4};
    EXPECT_EQ(cs_vtn_query_remove(0, 2, ids), -1);
    EXPECT_EQ(cs_vtn_remove_devices(0, 2, ids), -1);
    EXPECT_EQ(cs_vtn_ide_pass_through(0, nullptr), -1);
    EXPECT_EQ(gConnections[0].flags, VTN_CONN_CONNECTED);
}

INSTANTIATE_TEST_SUITE_P(Versions, DriverCalls, ::testing::Values(0x0100FFFFu, 0x01010000u),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                             return info.param <= VTN_DRIVER_OLD_RECORDS_MAX ? "OlderRecords" : "NewerRecords";
                         });
