// The simulated controller through the driver channel call, on a state file under a temporary
// VTN_ROOT, with the virtual clock.
#include <cerrno>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "drvrec.h"
#include "simctl.h"
#include "simmodel.h"
#include "testutil.h"
#include "textutil.h"
#include "vtnsysctl.h"

// VTN_THREADED_TEST: the concurrent-callers case below also runs under ThreadSanitizer.

namespace {

constexpr const char* kChannel = "vtnmira.status";
constexpr int64_t kStart = 1800000000;

int Call(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
         const char* channel = kChannel)
{
    _VTN_DRIVER_REQUEST r{};
    r.magic = VTN_DRIVER_MAGIC;
    r.code = code;
    r.in = const_cast<void*>(in);
    r.inSize = inSize;
    r.out = out;
    r.outSize = outSize;
    return sysctlbyname(channel, nullptr, nullptr, &r, sizeof r);
}

template <typename... W>
std::vector<uint32_t> Words(W... w)
{
    return {static_cast<uint32_t>(w)...};
}

int CallWords(uint32_t code, const std::vector<uint32_t>& in, void* out = nullptr, uint32_t outSize = 0)
{
    return Call(code, in.empty() ? nullptr : in.data(), static_cast<uint32_t>(in.size() * 4), out, outSize);
}

_LOGICAL_DEVICE_INFO_V2 Info(uint32_t id)
{
    _LOGICAL_DEVICE_INFO_V2 d{};
    EXPECT_EQ(0, CallWords(VTN_CTL_GET_DEVICE_INFO_V2, Words(id), &d, sizeof d)) << "device " << id;
    return d;
}

bool Exists(uint32_t id)
{
    _LOGICAL_DEVICE_INFO_V2 d{};
    return CallWords(VTN_CTL_GET_DEVICE_INFO_V2, Words(id), &d, sizeof d) == 0;
}

uint32_t Status(uint32_t id) { return Info(id).type == VTN_DEVICE_ARRAY ? Info(id).u.array.status : Info(id).u.disk.status; }

struct Ev {
    uint8_t kind;
    uint32_t device;
    bool operator==(const Ev& o) const { return kind == o.kind && device == o.device; }
};

std::ostream& operator<<(std::ostream& os, const Ev& e) { return os << "{" << int(e.kind) << "," << e.device << "}"; }

std::vector<_VTN_EVENT> RawEvents()
{
    std::vector<_VTN_EVENT> out;
    _VTN_EVENT e{};
    while (Call(VTN_CTL_GET_EVENT, nullptr, 0, &e, sizeof e) == 0)
        out.push_back(e);
    return out;
}

std::vector<Ev> Events()
{
    std::vector<Ev> out;
    for (const auto& e : RawEvents())
        out.push_back({e.kind, e.device});
    return out;
}

uint32_t Create(uint8_t type, std::vector<uint32_t> members, uint8_t block = VTN_BLOCK_CODE_DEFAULT,
                uint8_t option = 0, const char* name = "Data")
{
    _CREATE_ARRAY_PARAMS_V2 p{};
    p.raidType = type;
    p.memberCount = static_cast<uint8_t>(members.size());
    p.blockCode = block;
    p.option = option;
    memcpy(p.name, name, std::min(strlen(name), sizeof p.name));   // 16 characters fill the field
    for (size_t i = 0; i < members.size() && i < 16; ++i)
        p.members[i] = members[i];
    uint32_t id = 0;
    if (Call(VTN_CTL_CREATE_ARRAY_V2, &p, sizeof p, &id, 4) != 0)
        return 0;
    return id;
}

std::vector<uint32_t> TopLevel()
{
    std::vector<uint32_t> buf(33, 0);
    EXPECT_EQ(0, CallWords(VTN_CTL_GET_LOGICAL_DEVICES, Words(32), buf.data(), 33 * 4));
    return std::vector<uint32_t>(buf.begin() + 1, buf.begin() + 1 + buf[0]);
}

bool SetState(uint32_t array, uint32_t state) { return CallWords(VTN_CTL_SET_ARRAY_STATE, Words(array, state)) == 0; }

bool Contains(const std::vector<uint32_t>& v, uint32_t id) { return std::find(v.begin(), v.end(), id) != v.end(); }

class SimController : public ::testing::Test {
protected:
    void SetUp() override
    {
        VtnSimSetTime(kStart);
        Init("sata4");
    }
    void TearDown() override { VtnSimSetTime(0); }

    void Init(const std::string& preset)
    {
        std::string msg;
        ASSERT_TRUE(VtnSimInit(preset, &msg)) << msg;
    }
    void Edit(const std::function<void(vtnsim::Model&)>& f)
    {
        std::string msg;
        ASSERT_TRUE(VtnSimEdit(
            [&](vtnsim::Model& m, int64_t, std::string*) {
                f(m);
                return true;
            },
            &msg))
            << msg;
    }
    // Seconds an operation over `sectors` needs at the preset rate.
    static int64_t Seconds(uint64_t sectors) { return static_cast<int64_t>(sectors / 1000000 + 1); }

    TempRoot root_;
};

constexpr uint64_t GB = 2097152;

// ---- channel and strict contract ------------------------------------------------------------

TEST_F(SimController, AnswersOnlyTheChannelsItsStateLists)
{
    uint32_t version = 0;
    EXPECT_EQ(0, Call(VTN_CTL_GET_VERSION, nullptr, 0, &version, 4));
    EXPECT_EQ(0x01000100u, version);
    EXPECT_EQ(-1, Call(VTN_CTL_GET_VERSION, nullptr, 0, &version, 4, "vtnsela.status"));
    EXPECT_EQ(ENOENT, errno);

    std::string msg;
    ASSERT_TRUE(VtnSimSetChannel("vtnkora.status", &msg)) << msg;
    EXPECT_EQ(-1, Call(VTN_CTL_GET_VERSION, nullptr, 0, &version, 4));
    EXPECT_EQ(0, Call(VTN_CTL_GET_VERSION, nullptr, 0, &version, 4, "vtnkora.status"));

    ASSERT_EQ(0, remove(VtnSimStatePath().c_str()));
    EXPECT_EQ(-1, Call(VTN_CTL_GET_VERSION, nullptr, 0, &version, 4, "vtnkora.status"));
    EXPECT_EQ(ENOENT, errno);
}

TEST_F(SimController, RefusedRequestsWriteNothing)
{
    struct Case {
        const char* what;
        uint32_t magic;
        uint32_t code;
        uint32_t inSize;
        uint32_t outSize;
    };
    const Case cases[] = {
        {"wrong magic", 0x1a2b3c4e, VTN_CTL_GET_DEVICE_INFO, 4, sizeof(_LOGICAL_DEVICE_INFO)},
        {"short input", VTN_DRIVER_MAGIC, VTN_CTL_GET_DEVICE_INFO, 3, sizeof(_LOGICAL_DEVICE_INFO)},
        {"missing input", VTN_DRIVER_MAGIC, VTN_CTL_GET_DEVICE_INFO, 0, sizeof(_LOGICAL_DEVICE_INFO)},
        {"short output", VTN_DRIVER_MAGIC, VTN_CTL_GET_DEVICE_INFO, 4, sizeof(_LOGICAL_DEVICE_INFO) - 1},
        {"short newer output", VTN_DRIVER_MAGIC, VTN_CTL_GET_DEVICE_INFO_V2, 4, sizeof(_LOGICAL_DEVICE_INFO_V2) - 1},
        {"short capabilities", VTN_DRIVER_MAGIC, VTN_CTL_GET_DRIVER_CAPABILITIES, 4, 43},
        {"unknown device", VTN_DRIVER_MAGIC, VTN_CTL_GET_DEVICE_INFO, 4, sizeof(_LOGICAL_DEVICE_INFO)},
        {"unknown code", VTN_DRIVER_MAGIC, 0xFF08, 4, 4},
        {"empty event queue", VTN_DRIVER_MAGIC, VTN_CTL_GET_EVENT, 0, sizeof(_VTN_EVENT)},
    };
    for (const Case& c : cases) {
        uint32_t in = std::string(c.what) == "unknown device" ? 999 : 1;
        uint8_t out[300];
        memset(out, 0xAA, sizeof out);
        _VTN_DRIVER_REQUEST r{};
        r.magic = c.magic;
        r.code = c.code;
        r.in = c.inSize ? &in : nullptr;
        r.inSize = c.inSize;
        r.out = out;
        r.outSize = c.outSize;
        EXPECT_EQ(-1, sysctlbyname(kChannel, nullptr, nullptr, &r, sizeof r)) << c.what;
        EXPECT_TRUE(std::all_of(out, out + sizeof out, [](uint8_t b) { return b == 0xAA; })) << c.what;
    }
}

TEST_F(SimController, CapabilitiesNeedTheirSizeWord)
{
    _DRIVER_CAPABILITIES caps{};
    EXPECT_EQ(-1, CallWords(VTN_CTL_GET_DRIVER_CAPABILITIES, Words(40), &caps, sizeof caps));
    ASSERT_EQ(0, CallWords(VTN_CTL_GET_DRIVER_CAPABILITIES, Words(44), &caps, sizeof caps));
    EXPECT_EQ(44u, caps.size);
    EXPECT_EQ(1, caps.sparePool & 1);
    EXPECT_EQ(1, caps.dedicatedSpare & 1);
    EXPECT_LE(caps.minBlockCode, VTN_BLOCK_CODE_DEFAULT);
    EXPECT_GE(caps.maxBlockCode, VTN_BLOCK_CODE_DEFAULT);
    EXPECT_NE(std::find(caps.raidTypes, caps.raidTypes + 16, VTN_RAID10), caps.raidTypes + 16);
}

TEST_F(SimController, TopLevelListIsClampedToMaxAndToTheOutput)
{
    struct Case {
        uint32_t max;
        uint32_t outWords;
        uint32_t expected;
    };
    // sata4: four free disks.
    const Case cases[] = {{10, 11, 4}, {2, 11, 2}, {10, 3, 2}, {0, 11, 0}, {10, 1, 0}};
    for (const Case& c : cases) {
        std::vector<uint32_t> out(12, 0xEEEEEEEE);
        ASSERT_EQ(0, CallWords(VTN_CTL_GET_LOGICAL_DEVICES, Words(c.max), out.data(), c.outWords * 4));
        EXPECT_EQ(c.expected, out[0]) << "max " << c.max << " out " << c.outWords;
        EXPECT_EQ(0xEEEEEEEEu, out[c.outWords]) << "wrote past the output";
        for (uint32_t i = 1; i <= out[0]; ++i)
            EXPECT_TRUE(out[i] != 0 && out[i] != VTN_ID_NONE && (i == 1 || out[i] > out[i - 1]));
    }
}

TEST_F(SimController, FailNextRefusesThatManyCalls)
{
    std::string msg;
    ASSERT_TRUE(VtnSimFailNext(VTN_CTL_GET_VERSION, 2, &msg)) << msg;
    uint32_t v = 0;
    EXPECT_EQ(-1, Call(VTN_CTL_GET_VERSION, nullptr, 0, &v, 4));
    EXPECT_EQ(-1, Call(VTN_CTL_GET_VERSION, nullptr, 0, &v, 4));
    EXPECT_EQ(0, Call(VTN_CTL_GET_VERSION, nullptr, 0, &v, 4));
    const auto log = VtnSimCallLog();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(VTN_CTL_GET_VERSION, log[0].code);
    EXPECT_EQ(EIO, log[0].result);
    EXPECT_EQ(0, log[2].result);
}

// ---- creation -------------------------------------------------------------------------------

TEST_F(SimController, CreationChecksTypeCountsBlockMembersAndName)
{
    // sata4: disks 1..4 of 80, 80, 120, 160 GB on one 4-channel controller.
    struct Case {
        const char* what;
        uint8_t type;
        std::vector<uint32_t> members;
        uint8_t block;
        uint8_t option;
        const char* name;
        bool ok;
        uint64_t capacity;
    };
    const Case cases[] = {
        {"RAID 0 of two", VTN_RAID0, {1, 2}, 7, 0, "S", true, 160 * GB},
        {"RAID 0 of one", VTN_RAID0, {1}, 7, 0, "S", false, 0},
        {"RAID 0 block code too small", VTN_RAID0, {1, 2}, 1, 0, "S", false, 0},
        {"RAID 0 block code too large", VTN_RAID0, {1, 2}, 12, 0, "S", false, 0},
        {"RAID 5 of three", VTN_RAID5, {1, 2, 3}, 7, 1, "P", true, 160 * GB},
        {"RAID 5 of two", VTN_RAID5, {1, 2}, 7, 1, "P", false, 0},
        {"RAID 5 unknown build mode", VTN_RAID5, {1, 2, 3}, 7, 3, "P", false, 0},
        {"JBOD sums", VTN_JBOD, {3, 4}, 0, 0, "J", true, 280 * GB},
        {"JBOD of one", VTN_JBOD, {3}, 0, 0, "J", false, 0},
        {"RAID 1 smallest", VTN_RAID1, {3, 4}, 0, 0, "M", true, 120 * GB},
        {"RAID 1 of three", VTN_RAID1, {1, 2, 3}, 0, 0, "M", false, 0},
        {"RAID 1/0 of four", VTN_RAID1, {1, 2, 3, 4}, 7, 0, "SM", true, 160 * GB},
        {"same disk twice", VTN_RAID0, {1, 1}, 7, 0, "S", false, 0},
        {"unknown disk", VTN_RAID0, {1, 77}, 7, 0, "S", false, 0},
        {"type 4", 4, {1, 2}, 7, 0, "S", false, 0},
        {"empty name", VTN_RAID0, {1, 2}, 7, 0, "", false, 0},
        {"name of 16", VTN_RAID0, {1, 2}, 7, 0, "ABCDEFGHIJKLMNOP", false, 0},
        {"name of 15", VTN_RAID0, {1, 2}, 7, 0, "ABCDEFGHIJKLMNO", true, 160 * GB},
    };
    for (const Case& c : cases) {
        Init("sata4");
        const uint32_t id = Create(c.type, c.members, c.block, c.option, c.name);
        EXPECT_EQ(c.ok, id != 0) << c.what;
        if (id == 0) {
            EXPECT_EQ(4u, TopLevel().size()) << c.what << ": a refused creation changes nothing";
            continue;
        }
        const auto a = Info(id);
        EXPECT_EQ(c.capacity, uint64_t{a.capacity}) << c.what;
        EXPECT_EQ(VTN_ARRAY_NOT_AVAILABLE, a.u.array.status & ~VTN_ARRAY_BUSY_MASK) << c.what;
    }
}

TEST_F(SimController, MembersMustBeFreeAndBootableOnlyAsDuplicationSource)
{
    Init("pata2");   // disk 1 is bootable
    EXPECT_EQ(0u, Create(VTN_RAID0, {1, 2}));
    EXPECT_EQ(0u, Create(VTN_RAID1, {2, 1}, 0, VTN_CREATE_RAID1_DUPLICATE));
    EXPECT_EQ(0u, Create(VTN_RAID1, {1, 2}, 0, 0));
    const uint32_t mirror = Create(VTN_RAID1, {1, 2}, 0, VTN_CREATE_RAID1_DUPLICATE);
    ASSERT_NE(0u, mirror);
    EXPECT_TRUE(Status(mirror) & VTN_ARRAY_BOOTABLE);
    EXPECT_EQ(0u, Create(VTN_RAID0, {2, 3})) << "disk 2 already belongs to an array";

    ASSERT_EQ(0, CallWords(VTN_CTL_ADD_SPARE_DISK, Words(3)));
    EXPECT_EQ(0u, Create(VTN_RAID0, {3, 4})) << "a spare is no free disk";
    std::string msg;
    ASSERT_TRUE(VtnSimFail(4, &msg)) << msg;
    ASSERT_EQ(0, CallWords(VTN_CTL_REMOVE_SPARE_DISK, Words(3)));
    EXPECT_EQ(0u, Create(VTN_RAID0, {3, 4})) << "a failed disk is no free disk";

    Init("pata2");
    Edit([](vtnsim::Model& m) {
        m.FindDisk(1)->flags = 0;
        m.caps.types.push_back({VTN_RAID10, 8});
    });
    EXPECT_EQ(0u, Create(VTN_RAID1, {1, 2, 3, 4}, 7)) << "striped mirrors need 4 or 8 channels";
}

TEST_F(SimController, ArraysAcrossControllersOnlyWhenTheCapabilitiesAllowIt)
{
    Init("dual");   // disks 1-4 on controller 0, 5-8 on controller 1
    EXPECT_EQ(0u, Create(VTN_RAID0, {1, 5}));
    Edit([](vtnsim::Model& m) { m.caps.crossController = 1; });
    EXPECT_NE(0u, Create(VTN_RAID0, {1, 5}));
}

TEST_F(SimController, OlderRecordTakesEightMembersAndNewArraysWaitForReboot)
{
    Init("sata8");
    _CREATE_ARRAY_PARAMS p{};
    p.raidType = VTN_RAID0;
    p.memberCount = 9;
    p.blockCode = 7;
    CopyText(p.name, sizeof p.name, "Wide");
    for (uint32_t i = 0; i < 8; ++i)
        p.members[i] = i + 1;
    uint32_t id = 0;
    EXPECT_EQ(-1, Call(VTN_CTL_CREATE_ARRAY, &p, sizeof p, &id, 4));
    p.memberCount = 8;
    ASSERT_EQ(0, Call(VTN_CTL_CREATE_ARRAY, &p, sizeof p, &id, 4));
    EXPECT_EQ(VTN_ARRAY_NOT_AVAILABLE, Status(id));
    std::string msg;
    ASSERT_TRUE(VtnSimReboot(&msg)) << msg;
    EXPECT_EQ(0u, Status(id));
    EXPECT_EQ(std::vector<uint32_t>{id}, TopLevel());
}

TEST_F(SimController, MirrorOfTwoStripesTakesTheSmallerHalf)
{
    // sata4: 80, 80, 120, 160 GB.
    const uint32_t a = Create(VTN_RAID0, {1, 2}, 7, 0, "RAID_0_0");
    const uint32_t b = Create(VTN_RAID0, {3, 4}, 7, 0, "RAID_0_1");
    ASSERT_NE(0u, a);
    ASSERT_NE(0u, b);
    const uint32_t m = Create(VTN_RAID1, {a, b}, 7, 0, "Both");
    ASSERT_NE(0u, m);
    EXPECT_EQ(160 * GB, uint64_t{Info(m).capacity});
    EXPECT_EQ(m, Info(a).parent);
    EXPECT_EQ(std::vector<uint32_t>{m}, TopLevel());

    std::string msg;
    ASSERT_TRUE(VtnSimPull(3, &msg)) << msg;
    EXPECT_EQ(VTN_ARRAY_DISABLED, Status(b) & 0x9);
    EXPECT_EQ(VTN_ARRAY_BROKEN, Status(m) & 0x9) << "a disabled half makes the mirror broken";

    // The new disk takes the pulled disk's place in the half (240 GB / 2 each); the mirror then
    // needs rebuilding.
    uint32_t small = 0, fresh = 0;
    ASSERT_TRUE(VtnSimPlug(0, 2, 0, 100, &small, &msg)) << msg;
    EXPECT_EQ(-1, CallWords(VTN_CTL_ADD_DISK_TO_ARRAY, Words(m, small)));
    ASSERT_TRUE(VtnSimPull(small, &msg)) << msg;
    ASSERT_TRUE(VtnSimPlug(0, 2, 0, 120, &fresh, &msg)) << msg;
    ASSERT_EQ(0, CallWords(VTN_CTL_ADD_DISK_TO_ARRAY, Words(m, fresh)));
    EXPECT_EQ(b, Info(fresh).parent);
    EXPECT_EQ(VTN_ARRAY_NEED_REBUILD, Status(m) & 0xF);
    EXPECT_FALSE(Exists(3)) << "the pulled disk went once replaced";
}

// ---- operations -----------------------------------------------------------------------------

TEST_F(SimController, DuplicatingMirrorRunsToCompletion)
{
    const uint32_t m = Create(VTN_RAID1, {1, 2}, 0, VTN_CREATE_RAID1_DUPLICATE, "Copy");
    ASSERT_NE(0u, m);
    auto ev = RawEvents();
    ASSERT_EQ(1u, ev.size());
    EXPECT_EQ(VTN_EVENT_REBUILD_STARTED, ev[0].kind);
    EXPECT_EQ(m, ev[0].device);
    EXPECT_EQ(1, ev[0].u.duplicate);

    EXPECT_EQ(VTN_ARRAY_REBUILDING | VTN_ARRAY_NOT_AVAILABLE, Status(m)) << "duplicating: 0x4 without 0x2";
    EXPECT_EQ(0u, Info(m).u.array.progress);
    const int64_t total = Seconds(80 * GB);
    VtnSimAdvanceTime(total / 2);
    const uint32_t half = Info(m).u.array.progress;
    EXPECT_GT(half, 4900u);
    EXPECT_LT(half, 5100u);
    EXPECT_TRUE(RawEvents().empty());

    VtnSimAdvanceTime(total);
    EXPECT_EQ(VTN_ARRAY_NOT_AVAILABLE, Status(m));
    EXPECT_EQ(0u, Info(m).u.array.progress);
    ev = RawEvents();
    ASSERT_EQ(1u, ev.size());
    EXPECT_EQ(VTN_EVENT_REBUILD_COMPLETED, ev[0].kind);
    EXPECT_EQ(1, ev[0].u.duplicate);
}

TEST_F(SimController, ZeroBuildCompletesOrIsAbortedWithTheArray)
{
    uint32_t p = Create(VTN_RAID5, {1, 2, 3}, 7, VTN_CREATE_RAID5_ZERO_BUILD, "Parity");
    ASSERT_NE(0u, p);
    EXPECT_EQ((std::vector<Ev>{{VTN_EVENT_INIT_STARTED, p}}), Events());
    EXPECT_EQ(VTN_ARRAY_INITIALIZING, Status(p) & VTN_ARRAY_BUSY_MASK);
    VtnSimAdvanceTime(Seconds(80 * GB) + 1);
    EXPECT_EQ((std::vector<Ev>{{VTN_EVENT_INIT_COMPLETED, p}}), Events());
    EXPECT_EQ(0u, Status(p) & VTN_ARRAY_BUSY_MASK);

    Init("sata4");
    p = Create(VTN_RAID5, {1, 2, 3}, 7, VTN_CREATE_RAID5_SCRUB, "Parity");
    RawEvents();
    VtnSimAdvanceTime(10);
    EXPECT_FALSE(SetState(p, VTN_STATE_ABORT_VERIFY)) << "nothing to abort of that kind";
    ASSERT_TRUE(SetState(p, VTN_STATE_ABORT_INITIALIZE));
    const auto ev = RawEvents();
    ASSERT_EQ(1u, ev.size());
    EXPECT_EQ(VTN_EVENT_INIT_ABORTED, ev[0].kind);
    EXPECT_EQ(p, ev[0].device);
    EXPECT_STREQ("Parity", ev[0].u.name);
    EXPECT_FALSE(Exists(p));
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 3, 4}), TopLevel());
    EXPECT_EQ(VTN_ID_NONE, Info(1).parent);
}

TEST_F(SimController, NoBuildStartsNothing)
{
    const uint32_t p = Create(VTN_RAID5, {1, 2, 3}, 7, VTN_CREATE_RAID5_NO_BUILD, "Parity");
    ASSERT_NE(0u, p);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(0u, Status(p) & VTN_ARRAY_BUSY_MASK);
}

TEST_F(SimController, VerifyReportsCompletionOrInconsistencyAndFailsWithAMember)
{
    struct Case {
        bool inconsistent;
        bool memberFails;
        std::vector<uint8_t> endKinds;
    };
    const Case cases[] = {
        {false, false, {VTN_EVENT_VERIFY_COMPLETED}},
        {true, false, {VTN_EVENT_DATA_INCONSISTENT}},
        {false, true, {VTN_EVENT_MEMBER_FAILED, VTN_EVENT_VERIFY_FAILED}},
    };
    for (const Case& c : cases) {
        Init("sata4");
        const uint32_t m = Create(VTN_RAID1, {1, 2}, 0, 0, "M");
        ASSERT_NE(0u, m);
        Edit([&](vtnsim::Model& model) { model.FindArray(m)->inconsistent = c.inconsistent; });
        ASSERT_TRUE(SetState(m, VTN_STATE_START_VERIFY));
        EXPECT_FALSE(SetState(m, VTN_STATE_START_VERIFY)) << "already verifying";
        EXPECT_EQ(VTN_ARRAY_VERIFYING, Status(m) & VTN_ARRAY_BUSY_MASK);
        std::string msg;
        if (c.memberFails)
            ASSERT_TRUE(VtnSimFail(2, &msg)) << msg;
        else
            VtnSimAdvanceTime(Seconds(80 * GB) + 1);
        std::vector<uint8_t> kinds;
        for (const auto& e : RawEvents())
            kinds.push_back(e.kind);
        kinds.erase(kinds.begin());   // the start
        EXPECT_EQ(c.endKinds, kinds);
        EXPECT_EQ(0u, Status(m) & VTN_ARRAY_BUSY_MASK);
    }
    Init("sata4");
    const uint32_t m = Create(VTN_RAID1, {1, 2}, 0, 0, "M");
    ASSERT_TRUE(SetState(m, VTN_STATE_START_VERIFY));
    ASSERT_TRUE(SetState(m, VTN_STATE_ABORT_VERIFY));
    EXPECT_EQ((std::vector<Ev>{{VTN_EVENT_VERIFY_STARTED, m}, {VTN_EVENT_VERIFY_ABORTED, m}}), Events());
    EXPECT_FALSE(SetState(m, 3)) << "state 3 is no request";
}

// ---- failures and spares --------------------------------------------------------------------

TEST_F(SimController, MemberFailureIsTakenOverByTheDedicatedElseTheSmallestPoolSpare)
{
    // sata4: 80, 80, 120, 160 GB; the mirror is over disks 1 and 2.
    struct Case {
        const char* what;
        std::vector<uint32_t> pool;
        uint32_t dedicated;
        uint32_t expectedSpare;
    };
    const Case cases[] = {
        {"dedicated first", {4}, 3, 3},
        {"smallest pool spare", {3, 4}, 0, 3},
        {"only pool spare", {4}, 0, 4},
    };
    for (const Case& c : cases) {
        Init("sata4");
        const uint32_t m = Create(VTN_RAID1, {1, 2}, 0, 0, "M");
        for (uint32_t d : c.pool)
            ASSERT_EQ(0, CallWords(VTN_CTL_ADD_SPARE_DISK, Words(d))) << c.what;
        if (c.dedicated) {
            ASSERT_EQ(0, CallWords(VTN_CTL_ADD_DEDICATED_SPARE, Words(m, c.dedicated))) << c.what;
            const auto a = Info(m);
            EXPECT_EQ(2, a.u.array.memberCount);
            EXPECT_EQ(c.dedicated, a.u.array.members[2]) << "the slot after the data members";
            EXPECT_EQ(m, Info(c.dedicated).parent);
            EXPECT_EQ(VTN_DISK_SPARE, Info(c.dedicated).u.disk.status);
            EXPECT_FALSE(Contains(TopLevel(), c.dedicated));
        }
        RawEvents();
        std::string msg;
        ASSERT_TRUE(VtnSimFail(2, &msg)) << msg;
        EXPECT_EQ((std::vector<Ev>{{VTN_EVENT_MEMBER_FAILED, 2},
                                   {VTN_EVENT_SPARE_TOOK_OVER, c.expectedSpare},
                                   {VTN_EVENT_REBUILD_STARTED, m}}),
                  Events())
            << c.what;
        const auto a = Info(m);
        EXPECT_EQ((std::vector<uint32_t>{1, c.expectedSpare}),
                  std::vector<uint32_t>(a.u.array.members, a.u.array.members + a.u.array.memberCount));
        EXPECT_EQ(VTN_ARRAY_NEED_REBUILD | VTN_ARRAY_REBUILDING, a.u.array.status & 0xF) << c.what;
        EXPECT_EQ(0u, Info(c.expectedSpare).u.disk.status & VTN_DISK_SPARE);
        EXPECT_EQ(VTN_ID_NONE, Info(2).parent) << "the failed disk is free again";
        EXPECT_EQ(VTN_DISK_DISABLED, Info(2).u.disk.status);

        VtnSimAdvanceTime(Seconds(80 * GB) + 1);
        EXPECT_EQ((std::vector<Ev>{{VTN_EVENT_REBUILD_COMPLETED, m}}), Events());
        EXPECT_EQ(0u, Status(m) & 0xF) << c.what;
    }
}

TEST_F(SimController, MirrorOfStripesTakesASpareForTheFailedDiskOfAHalf)
{
    // sata8: 80, 80, 120, 160, 80, 80, 120, 250 GB. Halves {1, 2} and {5, 6}: one disk of a half
    // must hold 80 GB.
    struct Case {
        const char* what;
        uint32_t pool;        // 0: none
        uint32_t dedicated;   // 0: none
        uint64_t dedicatedGb; // size the dedicated disk is given first (0: as it is)
        bool dedicatedOk;
        uint32_t expectedSpare;   // 0: nothing takes over
    };
    const Case cases[] = {
        {"dedicated spare", 4, 3, 0, true, 3},
        {"pool spare", 4, 0, 0, false, 4},
        {"dedicated spare too small, pool takes over", 4, 3, 40, false, 4},
        {"no spare", 0, 0, 0, false, 0},
    };
    for (const Case& c : cases) {
        Init("sata8");
        if (c.dedicatedGb)
            Edit([&](vtnsim::Model& m) { m.FindDisk(c.dedicated)->capacity = c.dedicatedGb * GB; });
        const uint32_t a = Create(VTN_RAID0, {1, 2}, 7, 0, "RAID_0_0");
        const uint32_t b = Create(VTN_RAID0, {5, 6}, 7, 0, "RAID_0_1");
        const uint32_t m = Create(VTN_RAID1, {a, b}, 7, 0, "Both");
        ASSERT_NE(0u, m) << c.what;
        if (c.pool) {
            ASSERT_EQ(0, CallWords(VTN_CTL_ADD_SPARE_DISK, Words(c.pool))) << c.what;
        }
        if (c.dedicated) {
            EXPECT_EQ(c.dedicatedOk ? 0 : -1, CallWords(VTN_CTL_ADD_DEDICATED_SPARE, Words(m, c.dedicated)))
                << c.what;
            if (c.dedicatedOk) {
                EXPECT_EQ(c.dedicated, Info(m).u.array.members[2]) << c.what;
            }
        }
        RawEvents();
        std::string msg;
        ASSERT_TRUE(VtnSimFail(5, &msg)) << msg;
        if (c.expectedSpare == 0) {
            EXPECT_EQ((std::vector<Ev>{{VTN_EVENT_MEMBER_FAILED, 5}}), Events()) << c.what;
            EXPECT_EQ(VTN_ARRAY_DISABLED, Status(b) & 0x9) << c.what;
            EXPECT_EQ(VTN_ARRAY_BROKEN, Status(m) & 0xF) << c.what;
            continue;
        }
        EXPECT_EQ((std::vector<Ev>{{VTN_EVENT_MEMBER_FAILED, 5},
                                   {VTN_EVENT_SPARE_TOOK_OVER, c.expectedSpare},
                                   {VTN_EVENT_REBUILD_STARTED, m}}),
                  Events())
            << c.what;
        EXPECT_EQ(b, Info(c.expectedSpare).parent) << c.what << ": the spare sits in the half";
        EXPECT_EQ(0u, Info(c.expectedSpare).u.disk.status) << c.what;
        EXPECT_EQ(0u, Status(b) & 0x9) << c.what;
        EXPECT_EQ(VTN_ARRAY_NEED_REBUILD | VTN_ARRAY_REBUILDING, Status(m) & 0xF) << c.what;
        EXPECT_EQ(VTN_ID_NONE, Info(5).parent) << c.what;
        VtnSimAdvanceTime(Seconds(160 * GB) + 1);
        EXPECT_EQ((std::vector<Ev>{{VTN_EVENT_REBUILD_COMPLETED, m}}), Events()) << c.what;
        EXPECT_EQ(0u, Status(m) & 0xF) << c.what;
    }
}

TEST_F(SimController, AddDiskTakesAFreeDiskOrAPoolSpare)
{
    // sata4: mirror over disks 1 and 2 (80 GB); disk 3 (120 GB) and 4 (160 GB) outside it.
    struct Case {
        const char* what;
        bool poolSpare;
        bool diskFailed;
        bool ok;
    };
    const Case cases[] = {
        {"free disk", false, false, true},
        {"pool spare added after the failure", true, false, true},
        {"failed disk", false, true, false},
    };
    for (const Case& c : cases) {
        Init("sata4");
        const uint32_t m = Create(VTN_RAID1, {1, 2}, 0, 0, "M");
        std::string msg;
        ASSERT_TRUE(VtnSimFail(2, &msg)) << msg;
        if (c.poolSpare) {
            ASSERT_EQ(0, CallWords(VTN_CTL_ADD_SPARE_DISK, Words(3))) << c.what;
        }
        if (c.diskFailed) {
            ASSERT_TRUE(VtnSimFail(3, &msg)) << msg;
        }
        EXPECT_EQ(c.ok ? 0 : -1, CallWords(VTN_CTL_ADD_DISK_TO_ARRAY, Words(m, 3))) << c.what;
        if (!c.ok) {
            EXPECT_EQ(VTN_ARRAY_BROKEN, Status(m) & 0xF) << c.what;
            continue;
        }
        EXPECT_EQ(m, Info(3).parent) << c.what;
        EXPECT_EQ(0u, Info(3).u.disk.status) << c.what << ": no longer a spare";
        EXPECT_EQ(VTN_ARRAY_NEED_REBUILD, Status(m) & 0xF) << c.what;
        EXPECT_FALSE(Contains(TopLevel(), 3)) << c.what;

        // State 1 on a mirror that needs it starts duplicating: 0x4 without 0x2, flag 1.
        RawEvents();
        ASSERT_TRUE(SetState(m, VTN_STATE_START_REBUILD)) << c.what;
        EXPECT_EQ(VTN_ARRAY_REBUILDING, Status(m) & 0xF) << c.what;
        VtnSimAdvanceTime(Seconds(80 * GB) + 1);
        const auto ev = RawEvents();
        ASSERT_EQ(2u, ev.size()) << c.what;
        EXPECT_EQ(VTN_EVENT_REBUILD_STARTED, ev[0].kind);
        EXPECT_EQ(1, ev[0].u.duplicate) << c.what;
        EXPECT_EQ(VTN_EVENT_REBUILD_COMPLETED, ev[1].kind);
        EXPECT_EQ(1, ev[1].u.duplicate) << c.what;
        EXPECT_EQ(0u, Status(m) & 0xF) << c.what;
    }
}

TEST_F(SimController, BrokenArrayIsRepairedByAddingADiskAndRebuilding)
{
    // RAID 5 of 80, 80, 120: member size 80 GB.
    const uint32_t p = Create(VTN_RAID5, {1, 2, 3}, 7, VTN_CREATE_RAID5_NO_BUILD, "P");
    std::string msg;
    ASSERT_TRUE(VtnSimPull(2, &msg)) << msg;
    EXPECT_EQ((std::vector<Ev>{{VTN_EVENT_MEMBER_FAILED, 2}}), Events());
    EXPECT_EQ(VTN_ARRAY_BROKEN, Status(p) & 0xF);
    // The pulled member stays readable, disabled, on no channel.
    EXPECT_EQ(p, Info(2).parent);
    EXPECT_EQ(VTN_DISK_DISABLED, Info(2).u.disk.status);
    _CHANNEL_INFO ch{};
    ASSERT_EQ(0, CallWords(VTN_CTL_GET_CHANNEL_INFO, Words(0, 1), &ch, sizeof ch));
    EXPECT_EQ(VTN_ID_NONE, ch.devices[0]);
    EXPECT_FALSE(SetState(p, VTN_STATE_START_REBUILD)) << "nothing to rebuild onto";

    uint32_t small = 0, big = 0;
    ASSERT_TRUE(VtnSimPlug(0, 1, 0, 40, &small, &msg)) << msg;
    EXPECT_EQ(-1, CallWords(VTN_CTL_ADD_DISK_TO_ARRAY, Words(p, small))) << "40 GB < 160 GB / 2";
    ASSERT_TRUE(VtnSimPull(small, &msg)) << msg;
    ASSERT_TRUE(VtnSimPlug(0, 1, 0, 80, &big, &msg)) << msg;
    ASSERT_EQ(0, CallWords(VTN_CTL_ADD_DISK_TO_ARRAY, Words(p, big)));
    EXPECT_FALSE(Exists(2));
    EXPECT_EQ(VTN_ARRAY_NEED_REBUILD, Status(p) & 0x30F);
    RawEvents();

    ASSERT_TRUE(SetState(p, VTN_STATE_START_REBUILD));
    EXPECT_EQ(VTN_ARRAY_NEED_REBUILD | VTN_ARRAY_REBUILDING, Status(p) & 0x30F);
    ASSERT_TRUE(SetState(p, VTN_STATE_ABORT_REBUILD));
    EXPECT_EQ(VTN_ARRAY_NEED_REBUILD, Status(p) & 0x30F);
    ASSERT_TRUE(SetState(p, VTN_STATE_START_REBUILD));
    VtnSimAdvanceTime(Seconds(80 * GB) + 1);
    EXPECT_EQ((std::vector<Ev>{{VTN_EVENT_REBUILD_STARTED, p},
                               {VTN_EVENT_REBUILD_ABORTED, p},
                               {VTN_EVENT_REBUILD_STARTED, p},
                               {VTN_EVENT_REBUILD_COMPLETED, p}}),
              Events());
    EXPECT_EQ(0u, Status(p) & 0x30F);
}

TEST_F(SimController, RedundancyDecidesBetweenBrokenAndDisabled)
{
    struct Case {
        const char* what;
        uint8_t type;
        std::vector<uint32_t> members;
        std::vector<uint32_t> failed;
        uint32_t status;
    };
    const Case cases[] = {
        {"RAID 1 one lost", VTN_RAID1, {1, 2}, {1}, VTN_ARRAY_BROKEN},
        {"RAID 1 both lost", VTN_RAID1, {1, 2}, {1, 2}, VTN_ARRAY_DISABLED},
        {"RAID 5 one lost", VTN_RAID5, {1, 2, 3}, {3}, VTN_ARRAY_BROKEN},
        {"RAID 5 two lost", VTN_RAID5, {1, 2, 3}, {3, 1}, VTN_ARRAY_DISABLED},
        {"RAID 0 one lost", VTN_RAID0, {1, 2}, {2}, VTN_ARRAY_DISABLED},
        {"JBOD one lost", VTN_JBOD, {1, 2}, {1}, VTN_ARRAY_DISABLED},
    };
    for (const Case& c : cases) {
        Init("sata4");
        const uint32_t id = Create(c.type, c.members, c.type == VTN_JBOD ? 0 : 7,
                                   c.type == VTN_RAID5 ? VTN_CREATE_RAID5_NO_BUILD : 0, "X");
        ASSERT_NE(0u, id) << c.what;
        std::string msg;
        for (uint32_t d : c.failed)
            ASSERT_TRUE(VtnSimFail(d, &msg)) << msg;
        EXPECT_EQ(c.status, Status(id) & 0x9) << c.what;
    }
}

TEST_F(SimController, RunningOperationEndsWhenItsArrayFails)
{
    struct Case {
        const char* what;
        uint8_t type;
        uint8_t option;
        std::vector<uint32_t> fail;
        std::vector<uint8_t> kinds;   // after the start event
        bool arrayStays;
    };
    const Case cases[] = {
        {"duplication loses its source", VTN_RAID1, VTN_CREATE_RAID1_DUPLICATE, {1},
         {VTN_EVENT_MEMBER_FAILED, VTN_EVENT_REBUILD_FAILED}, true},
        {"initialization loses a member", VTN_RAID5, VTN_CREATE_RAID5_ZERO_BUILD, {2},
         {VTN_EVENT_MEMBER_FAILED, VTN_EVENT_INIT_FAILED}, false},
    };
    for (const Case& c : cases) {
        Init("sata4");
        const std::vector<uint32_t> members =
            c.type == VTN_RAID1 ? std::vector<uint32_t>{1, 2} : std::vector<uint32_t>{1, 2, 3};
        const uint32_t id = Create(c.type, members, c.type == VTN_RAID1 ? 0 : 7, c.option, "Busy");
        ASSERT_NE(0u, id) << c.what;
        VtnSimAdvanceTime(5);
        std::string msg;
        for (uint32_t d : c.fail)
            ASSERT_TRUE(VtnSimFail(d, &msg)) << msg;
        auto ev = RawEvents();
        ASSERT_FALSE(ev.empty());
        std::vector<uint8_t> kinds;
        for (size_t i = 1; i < ev.size(); ++i)
            kinds.push_back(ev[i].kind);
        EXPECT_EQ(c.kinds, kinds) << c.what;
        EXPECT_EQ(c.arrayStays, Exists(id)) << c.what;
        if (c.arrayStays) {
            EXPECT_EQ(0u, Status(id) & VTN_ARRAY_BUSY_MASK) << c.what;
            EXPECT_EQ(1, ev.back().u.duplicate);
        } else {
            EXPECT_STREQ("Busy", ev.back().u.name);
            EXPECT_EQ(VTN_ID_NONE, Info(1).parent) << "the members are free again";
        }
    }
}

TEST_F(SimController, StripedMirrorsLosingBothDisksOfOnePair)
{
    const uint32_t outer = Create(VTN_RAID1, {1, 2, 3, 4}, 7, 0, "SM");
    ASSERT_NE(0u, outer);
    const auto o = Info(outer);
    ASSERT_EQ(VTN_RAID0, o.u.array.raidType);
    ASSERT_EQ(2, o.u.array.memberCount);
    const uint32_t pair0 = o.u.array.members[0], pair1 = o.u.array.members[1];
    EXPECT_EQ(VTN_RAID1, Info(pair0).u.array.raidType);
    EXPECT_EQ(7, Info(pair0).u.array.blockCode) << "the block size is read from the pairs";
    EXPECT_EQ(7, o.u.array.blockCode);
    EXPECT_EQ(outer, Info(pair0).parent);
    EXPECT_EQ(pair0, Info(1).parent);
    EXPECT_EQ(pair1, Info(4).parent);
    EXPECT_EQ(std::vector<uint32_t>{outer}, TopLevel());
    RawEvents();

    std::string msg;
    ASSERT_TRUE(VtnSimFail(1, &msg)) << msg;
    EXPECT_EQ(VTN_ARRAY_BROKEN, Status(pair0) & 0x9);
    EXPECT_EQ(VTN_ARRAY_BROKEN, Status(outer) & 0x9) << "a broken mirror shows on the stripe";
    EXPECT_EQ(0u, Status(pair1) & 0x9);
    ASSERT_TRUE(VtnSimPull(2, &msg)) << msg;
    EXPECT_EQ(VTN_ARRAY_DISABLED, Status(pair0) & 0x9);
    EXPECT_EQ(VTN_ARRAY_DISABLED, Status(outer) & 0x9);
    EXPECT_EQ((std::vector<Ev>{{VTN_EVENT_MEMBER_FAILED, 1}, {VTN_EVENT_MEMBER_FAILED, 2}}), Events());
    // The GUI follows disk, then parent, then grandparent.
    EXPECT_EQ(outer, Info(Info(2).parent).parent);

    uint32_t word = 1;
    EXPECT_EQ(-1, CallWords(VTN_CTL_DELETE_ARRAY, Words(pair0, 0), &word, 4)) << "a member array goes with its parent";
    ASSERT_EQ(0, CallWords(VTN_CTL_DELETE_ARRAY, Words(outer, 0), &word, 4));
    EXPECT_EQ(0u, word);
    EXPECT_FALSE(Exists(pair0));
    EXPECT_FALSE(Exists(2)) << "a pulled member goes with its array";
    EXPECT_EQ((std::vector<uint32_t>{1, 3, 4}), TopLevel());
}

TEST_F(SimController, FailuresOfDisksOutsideArraysAndOfDedicatedSpares)
{
    const uint32_t m = Create(VTN_RAID1, {1, 2}, 0, 0, "M");
    ASSERT_EQ(0, CallWords(VTN_CTL_ADD_DEDICATED_SPARE, Words(m, 3)));
    ASSERT_EQ(0, CallWords(VTN_CTL_ADD_SPARE_DISK, Words(4)));
    std::string msg;
    ASSERT_TRUE(VtnSimFail(3, &msg)) << msg;
    ASSERT_TRUE(VtnSimPull(4, &msg)) << msg;
    EXPECT_EQ((std::vector<Ev>{{VTN_EVENT_MEMBER_FAILED, 3}, {VTN_EVENT_DEVICE_FAILED, 4}}), Events());
    EXPECT_EQ(VTN_ID_NONE, Info(m).u.array.members[2]) << "the failed spare left its slot";
    EXPECT_EQ(VTN_ID_NONE, Info(3).parent);
    EXPECT_FALSE(Exists(4)) << "a pulled free disk is gone";
    EXPECT_FALSE(VtnSimFail(m, &msg)) << "arrays do not fail by hand";
    EXPECT_FALSE(VtnSimFail(4, &msg));
}

TEST_F(SimController, PluggedDiskIsANewFreeDiskWithItsKey)
{
    std::string msg;
    EXPECT_FALSE(VtnSimPlug(0, 0, 0, 80, nullptr, &msg)) << "the place is taken";
    EXPECT_FALSE(VtnSimPlug(0, 4, 0, 80, nullptr, &msg)) << "no channel 4";
    EXPECT_FALSE(VtnSimPlug(0, 3, 1, 80, nullptr, &msg)) << "one device per serial channel";
    ASSERT_TRUE(VtnSimPull(4, &msg)) << msg;
    RawEvents();
    uint32_t id = 0;
    ASSERT_TRUE(VtnSimPlug(0, 3, 0, 300, &id, &msg)) << msg;
    EXPECT_GT(id, 4u) << "ids are not reused";
    EXPECT_EQ((std::vector<Ev>{{VTN_EVENT_DEVICE_PLUGGED, id}}), Events());
    EXPECT_TRUE(Contains(TopLevel(), id));
    const auto d = Info(id);
    EXPECT_EQ(300 * GB, uint64_t{d.capacity});
    EXPECT_EQ(3, d.u.disk.channel);
    EXPECT_NE(' ', d.u.disk.serial[0]);
    EXPECT_NE(' ', d.u.disk.model[0]);
    _CHANNEL_INFO ch{};
    ASSERT_EQ(0, CallWords(VTN_CTL_GET_CHANNEL_INFO, Words(0, 3), &ch, sizeof ch));
    EXPECT_EQ(id, ch.devices[0]);
}

// ---- settings -------------------------------------------------------------------------------

TEST_F(SimController, DiskSettingsSwitchSupportedFeaturesOnly)
{
    Init("pata2");   // no NCQ on parallel disks
    struct Case {
        uint32_t mask;
        uint8_t value;
        bool ok;
        uint8_t onBit;
    };
    const Case cases[] = {
        {VTN_ALTER_WRITE_CACHE, 0, true, VTN_FEATURE_WRITE_CACHE_ON},
        {VTN_ALTER_READ_AHEAD, 0, true, VTN_FEATURE_READ_AHEAD_ON},
        {VTN_ALTER_TCQ, 1, true, VTN_FEATURE_TCQ_ON},
        {VTN_ALTER_WRITE_CACHE, 1, true, VTN_FEATURE_WRITE_CACHE_ON},
        {VTN_ALTER_NCQ, 1, false, VTN_FEATURE_NCQ_ON},
        {0, 1, false, 0},
        {1, 1, false, 0},
    };
    for (const Case& c : cases) {
        uint8_t in[68] = {};
        const uint32_t id = 2;
        memcpy(in, &id, 4);
        _ALTERABLE_DEVICE_INFO_V2 rec{};
        rec.validMask = c.mask;
        rec.tcq = rec.ncq = rec.writeCache = rec.readAhead = c.value;
        memcpy(in + 4, &rec, sizeof rec);
        const uint8_t before = Info(2).u.disk.features;
        EXPECT_EQ(c.ok ? 0 : -1, Call(VTN_CTL_SET_DEVICE_INFO_V2, in, sizeof in, nullptr, 0)) << c.mask;
        const uint8_t after = Info(2).u.disk.features;
        if (!c.ok)
            EXPECT_EQ(before, after);
        else
            EXPECT_EQ(c.value ? c.onBit : 0, after & c.onBit) << c.mask;
    }
}

TEST_F(SimController, PassThroughRecordsKeepTheirBytesPerDevice)
{
    uint8_t in[20];
    const uint32_t id = 3;
    memcpy(in, &id, 4);
    for (int i = 0; i < 16; ++i)
        in[4 + i] = static_cast<uint8_t>(0xA0 + i);
    ASSERT_EQ(0, Call(VTN_CTL_SET_QZR_INFO, in, sizeof in, nullptr, 0));
    _VTNQZR_INFO q{}, other{};
    ASSERT_EQ(0, CallWords(VTN_CTL_GET_QZR_INFO, Words(3), &q, sizeof q));
    EXPECT_EQ(0, memcmp(q.data, in + 4, 16));
    ASSERT_EQ(0, CallWords(VTN_CTL_GET_QZR_INFO, Words(4), &other, sizeof other));
    EXPECT_EQ(0, other.data[0]);

    uint8_t alter[9] = {3, 0, 0, 0, 1, 2, 3, 4, 5};
    ASSERT_EQ(0, Call(VTN_CTL_SET_DEVICE_INFO, alter, sizeof alter, nullptr, 0));
    uint8_t lock[9] = {3, 0, 0, 0, 0x10, 0, 0, 0, 8};
    ASSERT_EQ(0, Call(VTN_CTL_LOCK_DEVICE, lock, sizeof lock, nullptr, 0));
    bool locked = false;
    std::string msg;
    ASSERT_TRUE(VtnSimEdit(
        [&](vtnsim::Model& m, int64_t, std::string*) {
            const auto* d = m.FindDisk(3);
            locked = d->locked && d->lockLba == 0x10 && d->lockCount == 8 && d->alterable[4] == 5;
            return true;
        },
        &msg));
    EXPECT_TRUE(locked);
    EXPECT_EQ(-1, CallWords(VTN_CTL_GET_QZR_INFO, Words(99), &q, sizeof q));
}

TEST_F(SimController, ArrayNameChangeIsBoundByTheCapabilities)
{
    const uint32_t m = Create(VTN_RAID1, {1, 2}, 0, 0, "M");
    auto rename = [&](const char* name, uint32_t mask) {
        uint8_t in[88] = {};
        memcpy(in, &m, 4);
        memcpy(in + 4, &mask, 4);
        memcpy(in + 8, name, strlen(name));
        return Call(VTN_CTL_SET_ARRAY_INFO, in, sizeof in, nullptr, 0);
    };
    EXPECT_EQ(0, rename("Renamed", 1));
    EXPECT_STREQ("Renamed", Info(m).u.array.name);
    EXPECT_EQ(-1, rename("", 1));
    EXPECT_EQ(-1, rename("Sixteen-chars-xx", 1));
    EXPECT_EQ(-1, rename("Other", 0));
    EXPECT_STREQ("Renamed", Info(m).u.array.name);
}

// ---- state shared with other users ----------------------------------------------------------

TEST_F(SimController, ChangesByAnotherWriterAreSeen)
{
    // Another process replaces the state file; the next call reads the new one.
    vtnsim::Model other;
    ASSERT_TRUE(other.LoadPreset("sata8"));
    ASSERT_TRUE(WriteFileText(VtnSimStatePath() + ".new", other.ToJson().dump()));
    ASSERT_EQ(0, rename((VtnSimStatePath() + ".new").c_str(), VtnSimStatePath().c_str()));
    EXPECT_EQ(8u, TopLevel().size());

    ASSERT_TRUE(WriteFileText(VtnSimStatePath(), "{ not json"));
    uint32_t v = 0;
    EXPECT_EQ(-1, Call(VTN_CTL_GET_VERSION, nullptr, 0, &v, 4));
}

TEST_F(SimController, ReadingCallsLeaveTheStateFileAsItIs)
{
    struct stat before{}, after{};
    ASSERT_EQ(0, stat(VtnSimStatePath().c_str(), &before));
    uint32_t v = 0;
    _LOGICAL_DEVICE_INFO_V2 d{};
    _VTN_EVENT e{};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(0, Call(VTN_CTL_GET_VERSION, nullptr, 0, &v, 4));
        EXPECT_EQ(0, CallWords(VTN_CTL_GET_DEVICE_INFO_V2, Words(1), &d, sizeof d));
        EXPECT_EQ(4u, TopLevel().size());
        EXPECT_EQ(-1, CallWords(VTN_CTL_GET_DEVICE_INFO_V2, Words(99), &d, sizeof d));
        EXPECT_EQ(-1, Call(VTN_CTL_GET_EVENT, nullptr, 0, &e, sizeof e)) << "the queue is empty";
        EXPECT_EQ(-1, CallWords(VTN_CTL_ADD_DISK_TO_ARRAY, Words(77, 1))) << "refused, changes nothing";
    }
    ASSERT_EQ(0, stat(VtnSimStatePath().c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);

    // A changing call replaces it.
    EXPECT_EQ(0, CallWords(VTN_CTL_LOCK_DEVICE, Words(1, 0, 1)));
    ASSERT_EQ(0, stat(VtnSimStatePath().c_str(), &after));
    EXPECT_NE(before.st_ino, after.st_ino);
}

TEST_F(SimController, AProcessThatDiesHoldingTheLockStopsNoOther)
{
    const pid_t child = ForkChild([] {
        std::string msg;
        VtnSimEdit(
            [](vtnsim::Model& m, int64_t, std::string*) -> bool {
                m.version = 7;
                _exit(3);
            },
            &msg);
    });
    ASSERT_EQ(3, JoinChild(child));
    uint32_t v = 0;
    ASSERT_EQ(0, Call(VTN_CTL_GET_VERSION, nullptr, 0, &v, 4));
    EXPECT_EQ(0x01000100u, v) << "the change of the process that died was not stored";
    std::string msg;
    ASSERT_TRUE(VtnSimSetVersion(0x01020000, &msg)) << msg;
    ASSERT_EQ(0, Call(VTN_CTL_GET_VERSION, nullptr, 0, &v, 4));
    EXPECT_EQ(0x01020000u, v);
    EXPECT_EQ(2u, VtnSimCallLog().size());
}

TEST_F(SimController, StateClockOffsetMovesProgressForEveryProcess)
{
    const uint32_t m = Create(VTN_RAID1, {1, 2}, 0, VTN_CREATE_RAID1_DUPLICATE, "Copy");
    std::string msg;
    ASSERT_TRUE(VtnSimAdvanceStateClock(Seconds(80 * GB) / 4, &msg)) << msg;
    const uint32_t quarter = Info(m).u.array.progress;
    EXPECT_GT(quarter, 2400u);
    EXPECT_LT(quarter, 2600u);
    ASSERT_TRUE(VtnSimProgress(m, 90, &msg)) << msg;
    EXPECT_EQ(9000u, Info(m).u.array.progress);
    ASSERT_TRUE(VtnSimFinish(m, &msg)) << msg;
    EXPECT_EQ(0u, Status(m) & VTN_ARRAY_BUSY_MASK);
    EXPECT_FALSE(VtnSimFinish(m, &msg));
}

TEST_F(SimController, ConcurrentCallersAndToolChangesStayConsistent)
{
    const uint32_t m = Create(VTN_RAID1, {1, 2}, 0, 0, "M");
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 40; ++i) {
                _LOGICAL_DEVICE_INFO d{};
                if (CallWords(VTN_CTL_GET_DEVICE_INFO, Words(m), &d, sizeof d) != 0 || d.type != VTN_DEVICE_ARRAY)
                    ++failures;
            }
        });
    std::string msg;
    EXPECT_TRUE(VtnSimFail(2, &msg)) << msg;
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(VTN_ARRAY_BROKEN, Status(m) & 0x9);
}

TEST_F(SimController, EventQueueIsBounded)
{
    std::string msg;
    for (size_t i = 0; i < vtnsim::kMaxEvents + 5; ++i)
        ASSERT_TRUE(VtnSimEvent(99, static_cast<uint32_t>(i), 0, "", &msg)) << msg;
    const auto ev = RawEvents();
    ASSERT_EQ(vtnsim::kMaxEvents, ev.size());
    EXPECT_EQ(5u, ev.front().device) << "the oldest were dropped";
    EXPECT_EQ(99, ev.front().kind);

    // A state written by hand with more events than the queue holds keeps the newest.
    vtnsim::Model m;
    ASSERT_TRUE(m.LoadPreset("sata4"));
    nlohmann::json j = m.ToJson();
    for (size_t i = 0; i < vtnsim::kMaxEvents + 7; ++i)
        j["events"].push_back({{"device", i}, {"kind", 2}});
    ASSERT_TRUE(m.FromJson(j, &msg)) << msg;
    ASSERT_EQ(vtnsim::kMaxEvents, m.events.size());
    EXPECT_EQ(7u, m.events.front().device);
}

}  // namespace
