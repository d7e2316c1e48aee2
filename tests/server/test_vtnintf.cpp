#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "simctl.h"
#include "svrlib.h"
#include "testutil.h"
#include "vtnintf.h"
#include "vtnsysctl.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes U32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Fill(size_t n, uint8_t first)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = uint8_t(first + i);
    return b;
}

template <typename T>
Bytes BytesOf(const T& v)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&v);
    return Bytes(p, p + sizeof v);
}

// One request as the driver saw it.
struct Seen {
    uint32_t code;
    Bytes input;
    bool hasInput;
    uint32_t outSize;
    bool hasOutput;
    bool hasReturned;
};

// A driver that records every request and answers with a scripted result and output bytes.
struct FakeDriver {
    std::vector<Seen> seen;
    int result = 0;
    Bytes answer;                                            // written to the output, cut to its size
    std::function<int(const _VTN_DRIVER_REQUEST*)> custom;   // when set, answers instead
};
FakeDriver gDriver;

int FakeHandler(const char*, const _VTN_DRIVER_REQUEST* r)
{
    Seen s{r->code, {}, r->in != nullptr, r->outSize, r->out != nullptr, r->returned != nullptr};
    if (r->in != nullptr)
        s.input.assign(static_cast<const uint8_t*>(r->in), static_cast<const uint8_t*>(r->in) + r->inSize);
    gDriver.seen.push_back(s);
    if (gDriver.custom)
        return gDriver.custom(r);
    if (gDriver.result == 0 && r->out != nullptr && !gDriver.answer.empty())
        memcpy(r->out, gDriver.answer.data(), std::min<size_t>(gDriver.answer.size(), r->outSize));
    return gDriver.result;
}

class DriverCallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetVtnProcFile();
        VtnSetDriverHandler(FakeHandler);
        gDriver = FakeDriver{};
        ASSERT_EQ(InitVtnProcFile1("vtnmira.status"), 0);
        gDriver.seen.clear();
    }
    void TearDown() override
    {
        VtnSetDriverHandler(nullptr);
        ResetVtnProcFile();
    }
    TempRoot root_;
};

// One call function: what it must send, what the driver answers, what it must return.
struct CallCase {
    const char* what;
    std::function<int64_t()> call;
    uint32_t code;
    Bytes input;          // expected input bytes; empty: no input buffer
    uint32_t outSize;     // expected output size; 0: no output buffer
    Bytes answer;         // the driver's output on success
    int64_t onSuccess;
    int64_t onFailure;    // when the driver call fails
};

_CONTROLLER_INFO gController;
_CHANNEL_INFO gChannel;
_LOGICAL_DEVICE_INFO gInfo;
_LOGICAL_DEVICE_INFO_V2 gInfoV2;
_VTN_EVENT gEvent;
_VTNQZR_INFO gQzr;
_DRIVER_CAPABILITIES gCaps;

_CREATE_ARRAY_PARAMS Create()
{
    _CREATE_ARRAY_PARAMS p{};
    p.raidType = 2;
    p.memberCount = 2;
    p.blockCode = 7;
    p.option = 1;
    memcpy(p.name, "mirror", 6);
    p.members[0] = 0x101;
    p.members[1] = 0x102;
    return p;
}

_CREATE_ARRAY_PARAMS_V2 CreateV2()
{
    _CREATE_ARRAY_PARAMS_V2 p{};
    p.raidType = 3;
    p.memberCount = 3;
    p.blockCode = 6;
    p.option = 2;
    memcpy(p.name, "parity", 6);
    for (int i = 0; i < 3; i++)
        p.members[i] = 0x201 + i;
    return p;
}

_ALTERABLE_ARRAY_INFO Rename()
{
    _ALTERABLE_ARRAY_INFO a{};
    a.validMask = 1;
    memcpy(a.name, "renamed", 7);
    return a;
}

_ALTERABLE_DEVICE_INFO_V2 WriteCacheOn()
{
    _ALTERABLE_DEVICE_INFO_V2 d{};
    d.validMask = 8;
    d.writeCache = 1;
    return d;
}

const Bytes kSector = Fill(512, 0x40);

TEST_F(DriverCallTest, EachCallSendsItsRequestAndReturnsItsResult)
{
    static _CREATE_ARRAY_PARAMS create = Create();
    static _CREATE_ARRAY_PARAMS_V2 createV2 = CreateV2();
    static _ALTERABLE_ARRAY_INFO rename = Rename();
    static _ALTERABLE_DEVICE_INFO oldSettings{{1, 2, 3, 4, 5}};
    static _ALTERABLE_DEVICE_INFO_V2 settings = WriteCacheOn();
    static _VTNQZR_INFO qzrIn{{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6}};
    static Bytes sector = kSector;

    const CallCase cases[] = {
        {"version", [] { return int64_t(vtn_get_version()); }, 0xFF00, {}, 4, U32(0x01000100), 0x01000100, 0},
        {"controller count", [] { return int64_t(vtn_get_controller_count()); }, 0xFF01, {}, 4, U32(2), 2, -1},
        {"controller info", [] { return int64_t(vtn_get_controller_info(1, &gController)); }, 0xFF02, U32(1),
         76, Fill(76, 1), 0, -1},
        {"channel info", [] { return int64_t(vtn_get_channel_info(1, 3, &gChannel)); }, 0xFF03,
         U32(1) + U32(3), 16, Fill(16, 1), 0, -1},
        {"device info", [] { return int64_t(vtn_get_device_info(0x55, &gInfo)); }, 0xFF05, U32(0x55), 174,
         Fill(174, 1), 0, -1},
        {"create array", [] { return int64_t(vtn_create_array(&create)); }, 0xFF06, BytesOf(create), 4,
         U32(0x1234), 0x1234, 0},
        {"delete array", [] { return int64_t(vtn_delete_array(0x77, 1)); }, 0xFF07, U32(0x77) + U32(1), 4,
         U32(5), 5, -1},
        {"device io, one sector", [] { return int64_t(vtn_device_io(0x31, 1, 0x1000, 1, sector.data())); },
         0xFF09, U32(0x31) + U32(1) + U32(0x1000) + U32(1) + kSector, 4, U32(0), 0, -1},
        {"device io, header only", [] { return int64_t(vtn_device_io(0x31, 2, 9, 0, nullptr)); }, 0xFF09,
         U32(0x31) + U32(2) + U32(9) + U32(0), 4, U32(3), 3, -1},
        {"get event", [] { return int64_t(vtn_get_event(&gEvent)); }, 0xFF0A, {}, 44, Fill(44, 1), 0, -1},
        {"rebuild data block", [] { return int64_t(vtn_rebuild_data_block(0x41, 0x01020304, 9)); }, 0xFF0B,
         U32(0x41) + U32(0x01020304) + Bytes{9}, 0, {}, 0, -1},
        {"add spare", [] { return int64_t(vtn_add_spare_disk(0x42)); }, 0xFF0C, U32(0x42), 0, {}, 0, -1},
        {"remove spare", [] { return int64_t(vtn_remove_spare_disk(0x43)); }, 0xFF0D, U32(0x43), 0, {}, 0, -1},
        {"add disk to array", [] { return int64_t(vtn_add_disk_to_array(0x44, 0x45)); }, 0xFF0E,
         U32(0x44) + U32(0x45), 0, {}, 0, -1},
        {"set array state", [] { return int64_t(vtn_set_array_state(0x46, 4)); }, 0xFF0F, U32(0x46) + U32(4), 0,
         {}, 0, -1},
        {"set array info", [] { return int64_t(vtn_set_array_info(0x47, &rename)); }, 0xFF10,
         U32(0x47) + BytesOf(rename), 0, {}, 0, -1},
        {"set device info", [] { return int64_t(vtn_set_device_info(0x48, &oldSettings)); }, 0xFF11,
         U32(0x48) + Bytes{1, 2, 3, 4, 5}, 0, {}, 0, -1},
        {"rescan", [] { return int64_t(vtn_rescan_devices()); }, 0xFF12, {}, 0, {}, 0, -1},
        {"capabilities",
         [] {
             gCaps = {};
             gCaps.size = 44;
             return int64_t(vtn_get_driver_capabilities(&gCaps));
         },
         0xFF13, U32(44), 44, U32(44) + Fill(40, 1), 0, -1},
        {"get qzr", [] { return int64_t(vtn_get_qzr_info(0x49, &gQzr)); }, 0xFF14, U32(0x49), 16, Fill(16, 1),
         0, -1},
        {"set qzr", [] { return int64_t(vtn_set_qzr_info(0x4A, &qzrIn)); }, 0xFF15, U32(0x4A) + BytesOf(qzrIn),
         0, {}, 0, -1},
        {"lock", [] { return int64_t(vtn_lock_device(0x4B, 0x10, 2)); }, 0xFF16, U32(0x4B) + U32(0x10) + Bytes{2},
         0, {}, 0, -1},
        {"unlock", [] { return int64_t(vtn_unlock_device(0x4C)); }, 0xFF17, U32(0x4C), 0, {}, 0, -1},
        {"verify data block", [] { return int64_t(vtn_verify_data_block(0x4D, 0x20, 3)); }, 0xFF17,
         U32(0x4D) + U32(0x20) + Bytes{3}, 0, {}, 0, -1},
        {"dedicated spare", [] { return int64_t(vtn_add_dedicated_spare(0x4E, 0x4F)); }, 0xFF1B,
         U32(0x4E) + U32(0x4F), 0, {}, 0, -1},
        {"create array v2", [] { return int64_t(vtn_create_array_v2(&createV2)); }, 0xFF20, BytesOf(createV2), 4,
         U32(0x99), 0x99, 0},
        {"device info v2", [] { return int64_t(vtn_get_device_info_v2(0x56, &gInfoV2)); }, 0xFF21, U32(0x56),
         216, Fill(216, 1), 0, -1},
        {"set device info v2", [] { return int64_t(vtn_set_device_info_v2(0x57, &settings)); }, 0xFF22,
         U32(0x57) + BytesOf(settings), 0, {}, 0, -1},
    };

    for (const CallCase& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool fails : {false, true}) {
            gDriver = FakeDriver{};
            gDriver.result = fails ? -1 : 0;
            gDriver.answer = c.answer;
            EXPECT_EQ(c.call(), fails ? c.onFailure : c.onSuccess) << (fails ? "failing" : "succeeding");
            ASSERT_EQ(gDriver.seen.size(), 1u);
            const Seen& s = gDriver.seen[0];
            EXPECT_EQ(s.code, c.code);
            EXPECT_EQ(s.hasInput, !c.input.empty());
            EXPECT_EQ(s.input, c.input);
            EXPECT_EQ(s.outSize, c.outSize);
            EXPECT_EQ(s.hasOutput, c.outSize != 0);
            EXPECT_FALSE(s.hasReturned);
        }
    }
}

TEST_F(DriverCallTest, RecordsComeBackAsTheDriverWroteThem)
{
    const Bytes info = Fill(sizeof gInfo, 3);
    gDriver.answer = info;
    ASSERT_EQ(vtn_get_device_info(1, &gInfo), 0);
    EXPECT_EQ(BytesOf(gInfo), info);

    const Bytes infoV2 = Fill(sizeof gInfoV2, 5);
    gDriver.answer = infoV2;
    ASSERT_EQ(vtn_get_device_info_v2(1, &gInfoV2), 0);
    EXPECT_EQ(BytesOf(gInfoV2), infoV2);

    const Bytes event = Fill(sizeof gEvent, 7);
    gDriver.answer = event;
    ASSERT_EQ(vtn_get_event(&gEvent), 0);
    EXPECT_EQ(BytesOf(gEvent), event);
}

TEST_F(DriverCallTest, LogicalDevicesAreClampedToMax)
{
    struct Case {
        const char* what;
        int max;
        Bytes answer;            // count word, then ids
        int result;
        std::vector<uint32_t> ids;   // the caller's 6 slots afterwards
    };
    const uint32_t U = 0xEEEEEEEE;   // untouched slot
    const Case cases[] = {
        {"fewer than max", 4, U32(2) + U32(11) + U32(12), 2, {11, 12, U, U, U, U}},
        {"exactly max", 2, U32(2) + U32(11) + U32(12), 2, {11, 12, U, U, U, U}},
        {"driver says more than max", 3, U32(40) + U32(11) + U32(12) + U32(13), 3, {11, 12, 13, U, U, U}},
        {"max 0", 0, U32(5), 0, {U, U, U, U, U, U}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gDriver = FakeDriver{};
        gDriver.answer = c.answer;
        std::vector<uint32_t> ids(6, U);
        EXPECT_EQ(vtn_get_logical_devices(ids.data(), c.max), c.result);
        EXPECT_EQ(ids, c.ids);
        ASSERT_EQ(gDriver.seen.size(), 1u);
        EXPECT_EQ(gDriver.seen[0].code, 0xFF04u);
        EXPECT_EQ(gDriver.seen[0].input, U32(uint32_t(c.max)));
        EXPECT_EQ(gDriver.seen[0].outSize, uint32_t(c.max + 1) * 4);
    }
    gDriver = FakeDriver{};
    gDriver.result = -1;
    std::vector<uint32_t> ids(6, U);
    EXPECT_EQ(vtn_get_logical_devices(ids.data(), 4), -1);
    EXPECT_EQ(ids, std::vector<uint32_t>(6, U));
}

TEST_F(DriverCallTest, OwnChecksRefuseWithoutCallingTheDriver)
{
    uint32_t ids[4];
    uint8_t sector[1024] = {};
    _DRIVER_CAPABILITIES caps{};
    const struct {
        const char* what;
        std::function<int64_t()> call;
        int64_t result;
    } cases[] = {
        {"capabilities size 0", [&] { caps.size = 0; return int64_t(vtn_get_driver_capabilities(&caps)); }, -1},
        {"capabilities size 43", [&] { caps.size = 43; return int64_t(vtn_get_driver_capabilities(&caps)); }, -1},
        {"capabilities size 216", [&] { caps.size = 216; return int64_t(vtn_get_driver_capabilities(&caps)); },
         -1},
        {"capabilities NULL", [] { return int64_t(vtn_get_driver_capabilities(nullptr)); }, -1},
        {"device io count 2", [&] { return int64_t(vtn_device_io(1, 1, 0, 2, sector)); }, -1},
        {"device io huge count", [&] { return int64_t(vtn_device_io(1, 1, 0, 0xFFFFFFFF, sector)); }, -1},
        {"device io without data", [] { return int64_t(vtn_device_io(1, 1, 0, 1, nullptr)); }, -1},
        {"logical devices negative max", [&] { return int64_t(vtn_get_logical_devices(ids, -1)); }, -1},
        {"logical devices without ids", [] { return int64_t(vtn_get_logical_devices(nullptr, 4)); }, -1},
        {"set array info NULL", [] { return int64_t(vtn_set_array_info(1, nullptr)); }, -1},
        {"set device info NULL", [] { return int64_t(vtn_set_device_info(1, nullptr)); }, -1},
        {"set device info v2 NULL", [] { return int64_t(vtn_set_device_info_v2(1, nullptr)); }, -1},
        {"set qzr NULL", [] { return int64_t(vtn_set_qzr_info(1, nullptr)); }, -1},
        {"create NULL", [] { return int64_t(vtn_create_array(nullptr)); }, 0},
        {"create v2 NULL", [] { return int64_t(vtn_create_array_v2(nullptr)); }, 0},
        {"device info NULL", [] { return int64_t(vtn_get_device_info(1, nullptr)); }, -1},
        {"ide pass through", [&] { return int64_t(vtn_ide_pass_through(1, sector, sizeof sector)); }, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        gDriver = FakeDriver{};
        EXPECT_EQ(c.call(), c.result);
        EXPECT_TRUE(gDriver.seen.empty());
    }
}

// An array record of the older form with the given type byte and members.
Bytes ArrayRecord(uint8_t type, std::vector<uint32_t> members)
{
    _LOGICAL_DEVICE_INFO info{};
    info.type = type;
    info.u.array.raidType = 1;
    info.u.array.memberCount = uint8_t(members.size());
    for (size_t i = 0; i < members.size() && i < 8; i++)
        info.u.array.members[i] = members[i];
    return BytesOf(info);
}

TEST_F(DriverCallTest, InitializeDataBlockZeroesEveryMember)
{
    struct Case {
        const char* what;
        Bytes record;
        int failAtIo;                                  // index of the device io that fails; -1: none
        int result;
        std::vector<std::pair<uint32_t, uint32_t>> writes;   // (member, lba) written, in order
    };
    const Case cases[] = {
        {"two members, two sectors", ArrayRecord(1, {0x11, 0x12}), -1, 0,
         {{0x11, 100}, {0x11, 101}, {0x12, 100}, {0x12, 101}}},
        {"a disk, not an array", ArrayRecord(2, {0x11}), -1, -1, {}},
        {"a write fails", ArrayRecord(1, {0x11, 0x12}), 1, -1, {{0x11, 100}, {0x11, 101}}},
        {"member count above the slots", [] {
             Bytes b = ArrayRecord(1, {1, 2, 3, 4, 5, 6, 7, 8});
             b[114] = 200;
             return b;
         }(), -1, 0, [] {
             std::vector<std::pair<uint32_t, uint32_t>> w;
             for (uint32_t m = 1; m <= 8; m++)
                 w.insert(w.end(), {{m, 100}, {m, 101}});
             return w;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gDriver = FakeDriver{};
        std::vector<std::pair<uint32_t, uint32_t>> writes;
        int io = 0;
        const Bytes record = c.record;
        const int failAt = c.failAtIo;
        gDriver.custom = [&](const _VTN_DRIVER_REQUEST* r) -> int {
            if (r->code == 0xFF05) {
                memcpy(r->out, record.data(), std::min<size_t>(record.size(), r->outSize));
                return 0;
            }
            if (r->code != 0xFF09 || r->inSize != 16 + 512)
                return -1;
            const uint8_t* in = static_cast<const uint8_t*>(r->in);
            uint32_t id, command, lba, count;
            memcpy(&id, in, 4);
            memcpy(&command, in + 4, 4);
            memcpy(&lba, in + 8, 4);
            memcpy(&count, in + 12, 4);
            EXPECT_EQ(command, 1u);
            EXPECT_EQ(count, 1u);
            EXPECT_EQ(Bytes(in + 16, in + 16 + 512), Bytes(512, 0));
            writes.push_back({id, lba});
            return io++ == failAt ? -1 : 0;
        };
        EXPECT_EQ(vtn_initialize_data_block(0x10, 100, 2), c.result);
        EXPECT_EQ(writes, c.writes);
    }
}

// The calls against the real simulated controller, state under the temporary root.
TEST(DriverCallsOnSimulatedController, RoundTrip)
{
    TempRoot root;
    unsetenv("VTN_SIM_STATE");
    VtnSetDriverHandler(nullptr);
    ResetVtnProcFile();
    std::string message;
    ASSERT_TRUE(VtnSimInit("sata4", &message)) << message;

    EXPECT_EQ(vtn_get_version(), 0x01000100u);
    ASSERT_GE(vtn_get_controller_count(), 1);
    _CONTROLLER_INFO controller{};
    ASSERT_EQ(vtn_get_controller_info(0, &controller), 0);
    EXPECT_EQ(controller.channels, 4);
    _DRIVER_CAPABILITIES caps{};
    caps.size = 44;
    ASSERT_EQ(vtn_get_driver_capabilities(&caps), 0);
    EXPECT_EQ(caps.size, 44u);

    uint32_t ids[32];
    const int n = vtn_get_logical_devices(ids, 32);
    ASSERT_GE(n, 2);
    uint32_t first = 0;
    EXPECT_EQ(vtn_get_logical_devices(&first, 1), 1);
    EXPECT_EQ(first, ids[0]);

    // Two free disks make a RAID 0, which then is a top-level device until deleted.
    std::vector<uint32_t> freeDisks;
    for (int i = 0; i < n; i++) {
        _LOGICAL_DEVICE_INFO info{};
        ASSERT_EQ(vtn_get_device_info(ids[i], &info), 0);
        if (info.type == VTN_DEVICE_DISK && (info.u.disk.status & (VTN_DISK_SPARE | VTN_DISK_DISABLED)) == 0)
            freeDisks.push_back(ids[i]);
    }
    ASSERT_GE(freeDisks.size(), 2u);
    _CREATE_ARRAY_PARAMS create{};
    create.raidType = VTN_RAID0;
    create.memberCount = 2;
    create.blockCode = VTN_BLOCK_CODE_DEFAULT;
    memcpy(create.name, "stripe", 6);
    create.members[0] = freeDisks[0];
    create.members[1] = freeDisks[1];
    const uint32_t array = vtn_create_array(&create);
    ASSERT_NE(array, 0u);
    _LOGICAL_DEVICE_INFO_V2 info{};
    ASSERT_EQ(vtn_get_device_info_v2(array, &info), 0);
    EXPECT_EQ(info.type, VTN_DEVICE_ARRAY);
    EXPECT_EQ(info.u.array.memberCount, 2);
    EXPECT_EQ(vtn_create_array(&create), 0u) << "members are taken";
    EXPECT_EQ(vtn_delete_array(array, 0), 0);
    EXPECT_EQ(vtn_get_device_info_v2(array, &info), -1);

    // The queue drains, then get-event fails.
    _VTN_EVENT event{};
    int drained = 0;
    while (vtn_get_event(&event) == 0 && drained < 1000)
        drained++;
    EXPECT_LT(drained, 1000);
    EXPECT_EQ(vtn_get_event(&event), -1);
    ResetVtnProcFile();
}

}  // namespace
