// Scheduled tasks with an injected clock over a temporary task file: the schedules, the search of a
// task's array by its key, the log lines, and the tasks that follow their array's deletion and
// renaming.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "commonsvr.h"
#include "fakeslot.h"
#include "modelpeer.h"
#include "testutil.h"

namespace {

time_t gNow = 0;
time_t TestClock() { return gNow; }

// Local time.
time_t At(int year, int month, int day, int hour, int minute, int second = 0)
{
    return LocalTime(year, month, day, hour, minute, second);
}

// 2 March 2026 is a Monday.
time_t Mon(int hour, int minute, int second = 0) { return At(2026, 3, 2, hour, minute, second); }
time_t Day(int day, int hour, int minute, int second = 0) { return At(2026, 3, day, hour, minute, second); }

constexpr uint32_t kStripe = 10;     // RAID 0 of disks, listed first
constexpr uint32_t kMirror = 20;     // RAID 1
constexpr uint32_t kParity = 30;     // RAID 5
constexpr uint32_t kStripe10 = 40;   // RAID 0 over the mirrors 41 and 42
constexpr uint32_t kInner1 = 41;
constexpr uint32_t kInner2 = 42;
constexpr uint32_t kBroken = 50;     // RAID 1 with one failed disk
constexpr uint32_t kDisabled = 60;   // RAID 1 with both disks failed
constexpr uint32_t kJbod = 70;
constexpr uint32_t kBlank = 80;      // RAID 1 whose first disk reports no serial and no model
constexpr uint32_t kLoop = 90;       // RAID 1 whose first member is the array itself (a faulty record)
constexpr uint32_t kLoopA = 91;      // RAID 1 over kLoopB, whose first member is kLoopA again
constexpr uint32_t kLoopB = 92;

class TasksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VtnSetTimeSource(TestClock);
        gNow = Mon(8, 0);
        sim.AddDisk(1, 0, 0, 0, "STRIPE01");
        sim.AddDisk(2, 0, 1, 0, "STRIPE02");
        sim.AddArray(kStripe, "Stripe", VTN_RAID0, {1, 2});
        sim.AddDisk(3, 0, 2, 0, "MIRROR01");
        sim.AddDisk(4, 0, 3, 0, "MIRROR02");
        sim.AddArray(kMirror, "Mirror", VTN_RAID1, {3, 4});
        sim.AddDisk(5, 1, 0, 0, "PARITY01");
        sim.AddDisk(6, 1, 1, 0, "PARITY02");
        sim.AddDisk(7, 1, 2, 0, "PARITY03");
        sim.AddArray(kParity, "Parity", VTN_RAID5, {5, 6, 7});
        sim.AddDisk(8, 2, 0, 0, "INNER101");
        sim.AddDisk(9, 2, 1, 0, "INNER102");
        sim.AddDisk(10, 2, 2, 0, "INNER201");
        sim.AddDisk(11, 2, 3, 0, "INNER202");
        sim.AddArray(kInner1, "Inner1", VTN_RAID1, {8, 9});
        sim.AddArray(kInner2, "Inner2", VTN_RAID1, {10, 11});
        sim.AddArray(kStripe10, "Stripe10", VTN_RAID0, {kInner1, kInner2});
        sim.AddDisk(12, 3, 0, 0, "BROKEN01");
        sim.AddDisk(13, 3, 1, 0, "BROKEN02");
        sim.AddArray(kBroken, "Broken", VTN_RAID1, {12, 13});
        sim.Model().FindDisk(13)->failed = true;
        sim.AddDisk(14, 3, 2, 0, "DISABL01");
        sim.AddDisk(15, 3, 3, 0, "DISABL02");
        sim.AddArray(kDisabled, "Disabled", VTN_RAID1, {14, 15});
        sim.Model().FindDisk(14)->failed = true;
        sim.Model().FindDisk(15)->failed = true;
        sim.AddDisk(16, 4, 0, 0, "JBOD0001");
        sim.AddArray(kJbod, "Jbod", VTN_JBOD, {16});
        sim.AddDisk(17, 4, 1, 0, "", "");
        sim.AddDisk(18, 4, 2, 0, "BLANK002");
        sim.AddArray(kBlank, "Blank", VTN_RAID1, {17, 18});
        sim.Model().FindDisk(17)->serial.assign(20, '\0');
        sim.Model().FindDisk(17)->model.assign(40, '\0');
        using modelpeer::Topology;
        sim.GiveRecord(kLoop, Topology::ArrayRecord("Loop", VTN_RAID1, 2, {kLoop, 3}));
        sim.GiveRecord(kLoopA, Topology::ArrayRecord("LoopA", VTN_RAID1, 2, {kLoopB, 4}));
        sim.GiveRecord(kLoopB, Topology::ArrayRecord("LoopB", VTN_RAID1, 2, {kLoopA, 5}, kLoopA));

        FreeTaskList();
        gSvrGlobal.flags.store(VTN_FLAG_RELOAD_TASKS);
        gSvrGlobal.taskDay = 0;
    }
    void TearDown() override
    {
        FreeTaskList();
        VtnSetTimeSource(nullptr);
    }

    // A task of the array, stored in the task file (its creation time is the clock's).
    _VTN_TASK_INFO AddTask(const char* name, uint32_t arrayId, uint8_t kind, time_t start,
                           uint32_t end = 0xFFFFFFFFu, uint16_t days = 0, uint8_t day = 0, uint8_t every = 0)
    {
        _VTN_TASK_INFO t{};
        CopyText(t.name, name);
        t.arrayId = arrayId;
        t.kind = kind;
        t.start = ConvertTimeT(start);
        t.end = TimeRecordFromValue(end);
        if (kind & VTN_TASK_DAYS) {
            t.schedule.days = days;
        } else {
            t.schedule.period.day = day;
            t.schedule.period.every = every;
        }
        EXPECT_TRUE(FillTaskKey(&t)) << name;
        t.arrayId = VTN_ID_NONE;
        EXPECT_EQ(vtn_set_task(&t, VTN_TASK_ACTION_ADD), VTN_SUCCESS) << name;
        gNow += 1;   // the next task gets another creation time
        return t;
    }

    // One poll at time t; the log lines it wrote.
    std::vector<std::string> PollAt(time_t t)
    {
        gNow = t;
        int before = LogCount();
        CheckScheduledTasks(ConvertTimeT(t));
        for (auto& a : sim.Model().arrays)
            a.op = vtnsim::Op::None;   // every run finds its array idle again
        std::vector<std::string> lines;
        for (int i = before; i < LogCount(); ++i) {
            _VTN_LOG_EVENT e{};
            EnumEvent(&e, i);
            lines.push_back(std::string(1, e.severity) + " " + e.text);
        }
        return lines;
    }

    static int LogCount()
    {
        _VTN_LOG_EVENT e{};
        int n = 0;
        while (EnumEvent(&e, n) == VTN_SUCCESS)
            ++n;
        return n;
    }

    TempRoot root;
    modelpeer::Topology sim;
};

constexpr uint8_t kVerify = VTN_TASK_VERIFY | VTN_TASK_ENABLED;
constexpr uint32_t kNoEnd = 0xFFFFFFFFu;

struct Poll {
    time_t at;
    bool runs;
};

struct ScheduleCase {
    const char* what;
    uint8_t kind;
    time_t start;
    uint32_t end;
    uint16_t days;
    uint8_t day;     // weekday or day of the month
    uint8_t every;
    std::vector<Poll> polls;
};

TEST_F(TasksTest, SchedulesRunOnTheirDaysAndMinutes)
{
    const uint32_t endWed2300 = TimeRecordValue(ConvertTimeT(Day(4, 23, 0)));
    const ScheduleCase cases[] = {
        {"once: at 10:00 or 10:01, only once", kVerify | VTN_TASK_ONCE, Mon(10, 0), kNoEnd, 0, 0, 0,
         {{Mon(9, 59), false}, {Mon(10, 0), true}, {Mon(10, 0, 40), false}, {Mon(10, 1), false},
          {Mon(10, 2), false}, {Day(3, 10, 0), false}}},
        {"once: a list built within the start minute runs it", kVerify | VTN_TASK_ONCE, Mon(10, 0), kNoEnd, 0, 0, 0,
         {{Mon(10, 0, 30), true}}},
        {"once: a list built after the start time does not run it", kVerify | VTN_TASK_ONCE, Mon(10, 0), kNoEnd,
         0, 0, 0, {{Mon(10, 1), false}}},
        {"daily: 10:02 is too late", kVerify | VTN_TASK_DAYS, Mon(10, 0), kNoEnd, 1, 0, 0,
         {{Mon(10, 2), false}, {Day(3, 10, 1), true}}},
        {"every 2 days: Monday, Wednesday, Friday; never two days in a row", kVerify | VTN_TASK_DAYS, Mon(10, 0),
         kNoEnd, 2, 0, 0,
         {{Mon(10, 0), true}, {Day(3, 0, 0), false}, {Day(3, 10, 0), false}, {Day(4, 0, 0), false},
          {Day(4, 10, 0), true}, {Day(5, 10, 0), false}, {Day(6, 10, 0), true}}},
        {"daily across midnight", kVerify | VTN_TASK_DAYS, Mon(0, 0), kNoEnd, 1, 0, 0,
         {{Mon(23, 59), false}, {Day(3, 0, 0), true}, {Day(3, 0, 1), false}}},
        {"every 2 days from 23:30: not the next evening", kVerify | VTN_TASK_DAYS, Mon(23, 30), kNoEnd, 2, 0, 0,
         {{Mon(23, 30), true}, {Day(3, 0, 0), false}, {Day(3, 23, 30), false}, {Day(4, 0, 0), false},
          {Day(4, 23, 30), true}}},
        {"every N days with N = 0 never runs", kVerify | VTN_TASK_DAYS, Mon(10, 0), kNoEnd, 0, 0, 0,
         {{Mon(10, 0), false}}},
        {"an end date is honoured to the day", kVerify | VTN_TASK_DAYS, Mon(10, 0), endWed2300, 1, 0, 0,
         {{Day(4, 10, 0), true}, {Day(5, 10, 0), false}}},
        {"not before the start date", kVerify | VTN_TASK_DAYS, Day(4, 10, 0), kNoEnd, 1, 0, 0,
         {{Day(3, 10, 0), false}, {Day(4, 10, 0), true}}},
        {"not enabled", VTN_TASK_VERIFY | VTN_TASK_DAYS, Mon(10, 0), kNoEnd, 1, 0, 0, {{Mon(10, 0), false}}},
        {"weekly on Wednesday", kVerify | VTN_TASK_WEEKS, Mon(10, 0), kNoEnd, 0, 3, 1,
         {{Mon(10, 0), false}, {Day(4, 10, 0), true}, {Day(11, 10, 0), true}}},
        {"every 2 weeks on Wednesday", kVerify | VTN_TASK_WEEKS, Mon(10, 0), kNoEnd, 0, 3, 2,
         {{Day(4, 10, 0), true}, {Day(11, 10, 0), false}, {Day(18, 10, 0), true}}},
        {"weekly with N = 0 never runs", kVerify | VTN_TASK_WEEKS, Mon(10, 0), kNoEnd, 0, 3, 0,
         {{Day(4, 10, 0), false}}},
        {"monthly on the 15th", kVerify | VTN_TASK_MONTHS, Mon(10, 0), kNoEnd, 0, 15, 1,
         {{Day(15, 10, 0), true}, {Day(16, 10, 0), false}, {At(2026, 4, 15, 10, 0), true},
          {At(2026, 4, 16, 10, 0), false}}},
        {"every 2 months on the 15th", kVerify | VTN_TASK_MONTHS, Mon(10, 0), kNoEnd, 0, 15, 2,
         {{Day(15, 10, 0), true}, {At(2026, 4, 15, 10, 0), false}, {At(2026, 4, 16, 10, 0), false},
          {At(2026, 5, 15, 10, 0), true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(unlink(root.Path("/etc/vtntask.dat").c_str()) == 0 || errno == ENOENT, true);
        FreeTaskList();
        gSvrGlobal.taskDay = 0;
        gSvrGlobal.flags.store(VTN_FLAG_RELOAD_TASKS);
        gNow = c.start - 7 * 86400;
        AddTask("t", kMirror, c.kind, c.start, c.end, c.days, c.day, c.every);
        for (const Poll& p : c.polls) {
            char when[64];
            tm local{};
            localtime_r(&p.at, &local);
            strftime(when, sizeof(when), "%a %d %b %H:%M:%S", &local);
            SCOPED_TRACE(when);
            // A list is built at the first poll; for a once task the build time decides.
            std::vector<std::string> lines = PollAt(p.at);
            if (p.runs)
                EXPECT_EQ(lines, std::vector<std::string>{"I Scheduled task (t) started."});
            else
                EXPECT_TRUE(lines.empty()) << lines.front();
        }
    }
}

TEST_F(TasksTest, ArraysAreFoundByTheirKey)
{
    AddTask("verify mirror", kMirror, kVerify | VTN_TASK_DAYS, Mon(10, 0), kNoEnd, 1);
    AddTask("verify inner", kInner2, kVerify | VTN_TASK_DAYS, Mon(10, 0), kNoEnd, 1);
    AddTask("verify parity", kParity, kVerify | VTN_TASK_DAYS, Mon(10, 0), kNoEnd, 1);
    gNow = Mon(10, 0);
    CheckScheduledTasks(ConvertTimeT(gNow));

    // The mirror listed after a stripe, a mirror inside a stripe, and a RAID 5.
    EXPECT_EQ(sim.Model().FindArray(kMirror)->op, vtnsim::Op::Verify);
    EXPECT_EQ(sim.Model().FindArray(kInner2)->op, vtnsim::Op::Verify);
    EXPECT_EQ(sim.Model().FindArray(kInner1)->op, vtnsim::Op::None);
    EXPECT_EQ(sim.Model().FindArray(kParity)->op, vtnsim::Op::Verify);
    ASSERT_EQ(gSvrGlobal.taskCount, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(gSvrGlobal.tasks[i].runStatus, 0x01) << gSvrGlobal.tasks[i].name;
}

TEST_F(TasksTest, OutcomesAndTheirLogLines)
{
    AddTask("gone", kMirror, kVerify | VTN_TASK_DAYS, Mon(10, 0), kNoEnd, 1);
    AddTask("busy inner", kInner1, kVerify | VTN_TASK_DAYS, Mon(10, 0), kNoEnd, 1);
    AddTask("refused", kParity, VTN_TASK_REBUILD | VTN_TASK_ENABLED | VTN_TASK_DAYS, Mon(10, 0), kNoEnd, 1);
    AddTask("nothing to do", kParity, VTN_TASK_ENABLED | VTN_TASK_DAYS, Mon(10, 0), kNoEnd, 1);
    // The mirror is deleted behind the server's back; a busy mirror of a stripe is passed over.
    auto& arrays = sim.Model().arrays;
    arrays.erase(std::remove_if(arrays.begin(), arrays.end(), [](const vtnsim::Array& a) { return a.id == kMirror; }),
                 arrays.end());
    sim.Model().FindDisk(3)->parent = VTN_ID_NONE;
    sim.Model().FindDisk(4)->parent = VTN_ID_NONE;
    sim.Model().FindArray(kInner1)->op = vtnsim::Op::Verify;

    gNow = Mon(10, 0);
    CheckScheduledTasks(ConvertTimeT(gNow));
    gNow = Mon(10, 1);
    CheckScheduledTasks(ConvertTimeT(gNow));   // nothing is tried twice

    std::vector<std::string> lines;
    for (int i = 0;; ++i) {
        _VTN_LOG_EVENT e{};
        if (EnumEvent(&e, i) != VTN_SUCCESS)
            break;
        lines.push_back(std::string(1, e.severity) + " " + e.text);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"W Failed to start scheduled task (refused).",
                                               "W Failed to start scheduled task (nothing to do)."}));
    const uint8_t expected[] = {0x02, 0x02, 0x08, 0x08};
    ASSERT_EQ(gSvrGlobal.taskCount, 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(gSvrGlobal.tasks[i].runStatus, expected[i]) << gSvrGlobal.tasks[i].name;
}

TEST_F(TasksTest, AListRebuiltDuringTheDayKeepsWhatRan)
{
    AddTask("daily", kMirror, kVerify | VTN_TASK_DAYS, Mon(10, 0), kNoEnd, 1);
    EXPECT_EQ(PollAt(Mon(10, 0)).size(), 1u);
    // A task change makes the next poll rebuild the list: the task that ran stays done today.
    AddTask("another", kParity, kVerify | VTN_TASK_DAYS, Mon(10, 0), kNoEnd, 1);
    SetSvrFlag(VTN_FLAG_RELOAD_TASKS);
    EXPECT_EQ(PollAt(Mon(10, 1)), std::vector<std::string>{"I Scheduled task (another) started."});
    // A new day starts afresh.
    EXPECT_EQ(PollAt(Day(3, 10, 0)).size(), 2u);
}

TEST_F(TasksTest, WhichArraysCanCarryATask)
{
    const struct {
        uint32_t id;
        bool usable;
    } cases[] = {
        {kMirror, true}, {kParity, true},   {kInner2, true},    {kStripe, false}, {kStripe10, false},
        {kJbod, false},  {kBroken, false},  {kDisabled, false}, {kBlank, false},  {3, false},
        {12345, false},  {kLoop, false},    {kLoopA, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        _VTN_TASK_INFO t{};
        t.arrayId = c.id;
        EXPECT_EQ(FillTaskKey(&t), c.usable);
    }
    _VTN_TASK_INFO t{};
    t.arrayId = kMirror;
    ASSERT_TRUE(FillTaskKey(&t));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(t.serial), sizeof(t.serial)), "MIRROR01            ");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(t.model), 12), "VTN-DISK 80G");
}

// Requests through the dispatcher on a socket pair.
class TaskRequestsTest : public TasksTest {
protected:
    void SetUp() override
    {
        TasksTest::SetUp();
        ASSERT_GE(fake.peer, 0);
    }
    // Sends one request packet; the reply's status word (0 for a data reply).
    uint32_t Send(std::vector<uint8_t> packet, uint32_t group, uint32_t code)
    {
        FillPacketHead(reinterpret_cast<_Packet_Head*>(packet.data()), static_cast<uint32_t>(packet.size()),
                       VTN_PACKET_REQUEST, group, code);
        std::vector<uint8_t> answer = fake.Run(packet.data());
        EXPECT_GE(answer.size(), sizeof(_Packet_Head));
        return FakeSlot::StatusOf(answer);
    }

    uint32_t SetTask(uint32_t arrayId, const char* name, uint8_t action)
    {
        _VTN_REQ_SET_TASK req{};
        req.task.arrayId = arrayId;
        CopyText(req.task.name, name);
        req.task.kind = kVerify | VTN_TASK_DAYS;
        req.task.start = ConvertTimeT(Mon(10, 0));
        req.task.end = TimeRecordFromValue(kNoEnd);
        req.task.schedule.days = 1;
        req.action = action;
        std::vector<uint8_t> p(sizeof(req));
        memcpy(p.data(), &req, sizeof(req));
        gNow += 1;
        return Send(p, VTN_GROUP_TASK, VTN_CODE_SET_TASK);
    }

    uint32_t Driver(uint32_t control, const std::vector<uint8_t>& in, uint32_t outSize)
    {
        std::vector<uint8_t> p(sizeof(_VTN_DRIVER_CALL) + in.size());
        _VTN_DRIVER_CALL call{};
        call.code = control;
        call.inSize = static_cast<uint32_t>(in.size());
        call.outSize = outSize;
        memcpy(p.data(), &call, sizeof(call));
        memcpy(p.data() + sizeof(call), in.data(), in.size());
        return Send(p, VTN_GROUP_DRIVER, 0);
    }

    uint32_t Rename(uint32_t id, const char* name)
    {
        std::vector<uint8_t> in(4 + sizeof(_ALTERABLE_ARRAY_INFO));
        _ALTERABLE_ARRAY_INFO info{};
        info.validMask = VTN_ALTER_ARRAY_NAME;
        CopyText(info.name, name);
        memcpy(in.data(), &id, 4);
        memcpy(in.data() + 4, &info, sizeof(info));
        return Driver(VTN_CTL_SET_ARRAY_INFO, in, 0);
    }

    uint32_t Delete(uint32_t id)
    {
        std::vector<uint8_t> in(8);
        memcpy(in.data(), &id, 4);
        return Driver(VTN_CTL_DELETE_ARRAY, in, 4);
    }

    // name -> array name of every task in the file.
    std::vector<std::string> Tasks()
    {
        std::vector<std::string> out;
        _VTN_TASK_INFO t{};
        for (int i = 0; vtn_enum_tasks(&t, i) == VTN_SUCCESS; ++i)
            out.push_back(std::string(t.name) + "=" + std::string(t.arrayName));
        return out;
    }

    FakeSlot fake;
};

TEST_F(TaskRequestsTest, AddingATaskNeedsAMirrorOrRaid5InGoodHealth)
{
    const struct {
        uint32_t id;
        uint32_t status;
    } cases[] = {
        {kStripe, VTN_ARRAY_NOT_USABLE},
        {kDisabled, VTN_ARRAY_NOT_USABLE},
        {kBroken, VTN_ARRAY_NOT_USABLE},
        {kMirror, VTN_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        gSvrGlobal.flags.store(0);
        EXPECT_EQ(SetTask(c.id, "task", VTN_TASK_ACTION_ADD), c.status);
        EXPECT_EQ(TestSvrFlag(VTN_FLAG_RELOAD_TASKS), c.status == VTN_SUCCESS);
    }
    EXPECT_EQ(Tasks().size(), 1u);
}

TEST_F(TaskRequestsTest, TasksFollowTheirArrayWhenTheDriverDidIt)
{
    ASSERT_EQ(SetTask(kMirror, "m1", VTN_TASK_ACTION_ADD), 0u);
    ASSERT_EQ(SetTask(kParity, "p1", VTN_TASK_ACTION_ADD), 0u);
    ASSERT_EQ(SetTask(kMirror, "m2", VTN_TASK_ACTION_ADD), 0u);
    ASSERT_EQ(SetTask(kInner2, "i1", VTN_TASK_ACTION_ADD), 0u);

    // A refused rename leaves the tasks' array names.
    sim.Model().failNext.push_back({VTN_CTL_SET_ARRAY_INFO, 1});
    EXPECT_EQ(Rename(kMirror, "Nope"), VTN_DRIVER_FAILED);
    EXPECT_EQ(Tasks(), (std::vector<std::string>{"m1=", "p1=", "m2=", "i1="}));

    EXPECT_EQ(Rename(kMirror, "Renamed"), 0u);
    EXPECT_EQ(Tasks(), (std::vector<std::string>{"m1=Renamed", "p1=", "m2=Renamed", "i1="}));

    // The driver refuses to delete a member array (output word not 0): its task stays.
    EXPECT_EQ(Delete(kInner2), 0u);
    EXPECT_NE(sim.Model().FindArray(kInner2), nullptr);
    EXPECT_EQ(Tasks(), (std::vector<std::string>{"m1=Renamed", "p1=", "m2=Renamed", "i1="}));

    EXPECT_EQ(Delete(kMirror), 0u);
    EXPECT_EQ(sim.Model().FindArray(kMirror), nullptr);
    EXPECT_EQ(Tasks(), (std::vector<std::string>{"p1=", "i1="}));
}

}  // namespace
