// VTN_THREADED_TEST: the concurrent add test also runs under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "global_task.h"
#include "testutil.h"
#include "textutil.h"
#include "vtnstatus.h"

namespace {

std::atomic<time_t> gFakeNow{0};
time_t FakeNow()
{
    return gFakeNow.load();
}

// A task on the array whose first disk has this serial; created stays 0 until added.
_VTN_TASK_INFO Task(const char* serial, const char* name = "task")
{
    _VTN_TASK_INFO t{};
    CopyText(t.name, name);
    CopyField(reinterpret_cast<char*>(t.serial), sizeof t.serial, serial, strlen(serial));
    CopyField(reinterpret_cast<char*>(t.model), sizeof t.model, "MODEL-X", 7);
    t.kind = VTN_TASK_DAYS | VTN_TASK_VERIFY | VTN_TASK_ENABLED;
    t.schedule.days = 3;
    t.end = TimeRecordFromValue(0xFFFFFFFFu);
    return t;
}

class TaskFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        gFakeNow = 1136200000;  // early January 2006
        VtnSetTimeSource(FakeNow);
    }
    void TearDown() override { VtnSetTimeSource(nullptr); }
    static void Tick(int seconds) { gFakeNow += seconds; }
    std::string FilePath() const { return root_.Path("/etc/vtntask.dat"); }
    std::string FileBytes() const { return ReadFileText(FilePath()); }
    // Task names in enumeration order.
    static std::vector<std::string> Names()
    {
        std::vector<std::string> names;
        _VTN_TASK_INFO t;
        for (int i = 0; vtn_enum_tasks(&t, i) == VTN_SUCCESS; ++i)
            names.emplace_back(t.name, FieldLength(t.name, sizeof t.name));
        return names;
    }
    static uint32_t Add(_VTN_TASK_INFO& t)
    {
        uint32_t r = vtn_set_task(&t, VTN_TASK_ACTION_ADD);
        Tick(1);  // the next add gets another creation time
        return r;
    }

    TempRoot root_;
};

}  // namespace

TEST_F(TaskFile, EnumeratingAbsentOrEmptyFile)
{
    _VTN_TASK_INFO t;
    EXPECT_EQ(vtn_enum_tasks(&t, 0), VTN_FILE_MISSING);
    mkdir(root_.Path("/etc").c_str(), 0755);
    ASSERT_TRUE(WriteFileText(FilePath(), ""));
    EXPECT_EQ(vtn_enum_tasks(&t, 0), VTN_NO_MORE_ENTRIES);
    EXPECT_EQ(vtn_enum_tasks(&t, -1), VTN_NO_MORE_ENTRIES);
}

TEST_F(TaskFile, AddStampsAndDeletedSlotIsReused)
{
    _VTN_TASK_INFO a = Task("SER-A", "a"), b = Task("SER-B", "b"), c = Task("SER-C", "c");
    time_t addedAt = gFakeNow;
    ASSERT_EQ(Add(a), VTN_SUCCESS);
    EXPECT_EQ(TimeRecordValue(a.created), TimeRecordValue(ConvertTimeT(addedAt)));
    EXPECT_EQ(TimeRecordValue(a.modified), TimeRecordValue(a.created));
    ASSERT_EQ(Add(b), VTN_SUCCESS);
    ASSERT_EQ(Add(c), VTN_SUCCESS);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b", "c"}));

    ASSERT_EQ(vtn_set_task(&b, VTN_TASK_ACTION_DELETE), VTN_SUCCESS);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(FileBytes().substr(244, 244), std::string(244, '\0')) << "a deleted record is zero bytes";

    _VTN_TASK_INFO d = Task("SER-D", "d");
    ASSERT_EQ(Add(d), VTN_SUCCESS);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "d", "c"})) << "slot order";
    EXPECT_EQ(FileBytes().size(), 3u * 244);
    _VTN_TASK_INFO e = Task("SER-E", "e");
    ASSERT_EQ(Add(e), VTN_SUCCESS);
    EXPECT_EQ(FileBytes().size(), 4u * 244);

    struct stat st;
    ASSERT_EQ(stat(FilePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(TaskFile, IdentityIsKeyAndCreationTime)
{
    _VTN_TASK_INFO first = Task("SER-A", "first");
    ASSERT_EQ(vtn_set_task(&first, VTN_TASK_ACTION_ADD), VTN_SUCCESS);
    _VTN_TASK_INFO sameSecond = Task("SER-A", "again");
    EXPECT_EQ(vtn_set_task(&sameSecond, VTN_TASK_ACTION_ADD), VTN_TASK_EXISTS);
    Tick(1);
    _VTN_TASK_INFO later = Task("SER-A", "later");
    EXPECT_EQ(vtn_set_task(&later, VTN_TASK_ACTION_ADD), VTN_SUCCESS) << "same array, other creation time";
    EXPECT_EQ(Names(), (std::vector<std::string>{"first", "later"}));

    struct Case {
        const char* what;
        uint8_t action;
        _VTN_TASK_INFO task;
        uint32_t result;
    } cases[] = {
        {"creation time differs", VTN_TASK_ACTION_DELETE, first, VTN_NO_SUCH_TASK},
        {"creation time differs", VTN_TASK_ACTION_MODIFY, first, VTN_NO_SUCH_TASK},
        {"model differs", VTN_TASK_ACTION_DELETE, first, VTN_NO_SUCH_TASK},
        {"no such array", VTN_TASK_ACTION_DELETE, Task("SER-Z"), VTN_NO_SUCH_TASK},
        {"a free slot is no task", VTN_TASK_ACTION_DELETE, _VTN_TASK_INFO{}, VTN_NO_SUCH_TASK},
    };
    cases[0].task.created = TimeRecordFromValue(TimeRecordValue(first.created) + 2);
    cases[1].task.created = cases[0].task.created;
    cases[2].task.model[0] = 'N';
    const std::string before = FileBytes();
    for (Case& c : cases) {
        EXPECT_EQ(vtn_set_task(&c.task, c.action), c.result) << c.what;
        EXPECT_EQ(FileBytes(), before) << c.what;
    }
    ASSERT_EQ(vtn_set_task(&first, VTN_TASK_ACTION_DELETE), VTN_SUCCESS);
    EXPECT_EQ(Names(), (std::vector<std::string>{"later"}));
    ASSERT_TRUE(WriteFileText(FilePath(), before.substr(0, 244) + std::string(244, '\0')));  // only a free slot
    _VTN_TASK_INFO zero{};
    EXPECT_EQ(vtn_set_task(&zero, VTN_TASK_ACTION_DELETE), VTN_NO_SUCH_TASK);
}

TEST_F(TaskFile, ModifyKeepsSlotAndCreationTime)
{
    _VTN_TASK_INFO a = Task("SER-A", "a"), b = Task("SER-B", "b");
    ASSERT_EQ(Add(a), VTN_SUCCESS);
    ASSERT_EQ(Add(b), VTN_SUCCESS);
    Tick(3600);
    _VTN_TASK_INFO changed = a;
    CopyText(changed.name, "a changed");
    changed.schedule.days = 7;
    ASSERT_EQ(vtn_set_task(&changed, VTN_TASK_ACTION_MODIFY), VTN_SUCCESS);
    EXPECT_EQ(TimeRecordValue(changed.modified), TimeRecordValue(ConvertTimeT(gFakeNow)));

    _VTN_TASK_INFO stored;
    ASSERT_EQ(vtn_enum_tasks(&stored, 0), VTN_SUCCESS);
    EXPECT_STREQ(stored.name, "a changed");
    EXPECT_EQ(stored.schedule.days, 7);
    EXPECT_EQ(TimeRecordValue(stored.created), TimeRecordValue(a.created));
    EXPECT_EQ(TimeRecordValue(stored.modified), TimeRecordValue(changed.modified));
    EXPECT_NE(TimeRecordValue(stored.modified), TimeRecordValue(a.modified));
    EXPECT_EQ(Names(), (std::vector<std::string>{"a changed", "b"}));
    EXPECT_EQ(FileBytes().size(), 2u * 244);
}

TEST_F(TaskFile, UnknownActionTouchesNothing)
{
    _VTN_TASK_INFO t = Task("SER-A");
    for (uint8_t action : {0, 4, 255})
        EXPECT_EQ(vtn_set_task(&t, action), VTN_FAILURE) << int(action);
    EXPECT_FALSE(FileExists(FilePath())) << "no empty file is created";
    ASSERT_EQ(Add(t), VTN_SUCCESS);
    const std::string before = FileBytes();
    _VTN_TASK_INFO other = Task("SER-B");
    EXPECT_EQ(vtn_set_task(&other, 0), VTN_FAILURE);
    EXPECT_EQ(FileBytes(), before);
}

TEST_F(TaskFile, TornTailIsNeverARecord)
{
    _VTN_TASK_INFO a = Task("SER-A", "a"), b = Task("SER-B", "b");
    ASSERT_EQ(Add(a), VTN_SUCCESS);
    ASSERT_EQ(Add(b), VTN_SUCCESS);
    // 100 bytes of a third record that was never finished.
    std::string tail = Task("SER-T", "torn").name;
    tail.resize(100, 'x');
    ASSERT_TRUE(WriteFileText(FilePath(), FileBytes() + tail));
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b"}));

    _VTN_TASK_INFO c = Task("SER-C", "c");
    ASSERT_EQ(Add(c), VTN_SUCCESS);
    EXPECT_EQ(FileBytes().size(), 3u * 244) << "written over the torn tail, on the record boundary";
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(TaskFile, ConcurrentChangesKeepEveryTask)
{
    constexpr int kThreads = 8;
    constexpr int kTasks = 20;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kTasks; ++i) {
                char serial[20];
                FormatText(serial, sizeof serial, "S%d-%d", t, i);
                _VTN_TASK_INFO task = Task(serial, serial);
                EXPECT_EQ(vtn_set_task(&task, VTN_TASK_ACTION_ADD), VTN_SUCCESS);
                if (i % 4 == 0) {  // frees a slot that another thread's add may take
                    EXPECT_EQ(vtn_set_task(&task, VTN_TASK_ACTION_DELETE), VTN_SUCCESS);
                }
                _VTN_TASK_INFO seen;
                vtn_enum_tasks(&seen, i);
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    std::vector<std::string> names = Names();
    std::set<std::string> unique(names.begin(), names.end());
    EXPECT_EQ(names.size(), static_cast<size_t>(kThreads * kTasks * 3 / 4));
    EXPECT_EQ(unique.size(), names.size());
}
