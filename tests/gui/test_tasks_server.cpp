// The task window and wizard against the real vtnsvr on the simulated controller: tasks made in the
// wizard as the task file stores them and as the server runs them (log line and the array's
// operation), and changing and deleting the selected one of two tasks made in the same second.
// Pictures of the list and of both pages for a person to look at (VTN_SCREENSHOT_DIR).
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "repairtest.h"
#include "tasktest.h"

namespace {

constexpr const char* kManage = "Task Management";
constexpr const char* kWizard = "New task schedule wizard";
constexpr const char* kDialog = "Task Schedule";

// Two redundant arrays that can be verified, a RAID 5 that needs rebuilding, a stripe that takes
// no task.
void TaskScene(SimScene& s)
{
    TwoControllers(s);
    s.Mirror("M");
    s.Members("P", VTN_RAID5, 3);
    s.Members("R", VTN_RAID5, 3, VTN_ARRAY_NEED_REBUILD);
    s.Members("S", VTN_RAID0, 2);
}

std::string Stamp(_TIME_RECORD t)
{
    char text[32];
    TimeRecToStr(t, text, sizeof text);
    return text;
}

class TaskServer : public ServerGuiTest {
protected:
    void StartOn()
    {
        Start(TaskScene);
        CopyText(NewSys.szUserName, kDefaultUser);
    }
    void TearDown() override
    {
        ServerGuiTest::TearDown();
        memset(&TaskSch, 0, sizeof TaskSch);
    }

    // The task file's records, free slots included.
    std::vector<_VTN_TASK_INFO> FileSlots()
    {
        const std::string bytes = ReadFileText(root_.Path("/etc/vtntask.dat"));
        std::vector<_VTN_TASK_INFO> out(bytes.size() / sizeof(_VTN_TASK_INFO));
        if (!out.empty())
            memcpy(out.data(), bytes.data(), out.size() * sizeof(_VTN_TASK_INFO));
        return out;
    }

    time_t ServerTime()
    {
        _CS_SERVER_INFO info{};
        EXPECT_EQ(cs_vtn_get_server_info(handle, &info), 0);
        return ConvertTimeRecord(info.time);
    }

    // The first disk of the array's key: serial and model as the driver pads them.
    void ExpectKeyOf(const _VTN_TASK_INFO& t, const std::string& firstDisk)
    {
        const nlohmann::json disk = Find(SimState(), "disks", "model", firstDisk);
        ASSERT_FALSE(disk.is_null()) << firstDisk;
        const std::string serial = disk["serial"], model = disk["model"];
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.serial), serial.size()), serial);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.model), model.size()), model);
    }

    std::string OpOf(const std::string& array) { return Find(SimState(), "arrays", "name", array)["op"]; }
};

TEST_F(TaskServer, WizardTasksAreStoredAndRun)
{
    StartOn();
    const time_t before = ServerTime();
    _TIME_RECORD planned{};
    auto chooseP = [](GtkWidget*) {
        EXPECT_EQ(ComboTexts(TaskSch.pArrayCombo), (std::vector<std::string>{"M", "P"}));
        EXPECT_TRUE(gtk_combo_box_set_active_id(GTK_COMBO_BOX(TaskSch.pArrayCombo), "P"));
    };
    // A minute ahead of the server's clock.
    auto aMinuteAhead = [this, &planned](GtkWidget*) {
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(TaskSch.pArrayLabel)), "Array Name: P");
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(TaskSch.pTypeLabel)), "Task Type: Verify");
        EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(TaskSch.pTaskNameEntry)), "Verify P");
        planned = ConvertTimeT(ServerTime() + 60);
        const int fields[] = {static_cast<int>(planned.year) + 2000, static_cast<int>(planned.month),
                              static_cast<int>(planned.day),         static_cast<int>(planned.hour),
                              static_cast<int>(planned.minute),      static_cast<int>(planned.second)};
        for (int i = 0; i < 6; ++i)
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(TaskSch.pOnce[i]), fields[i]);
    };
    auto rebuildR = [](GtkWidget* w) {
        auto radios = FindWidgets(w, [](GtkWidget* x) { return GTK_IS_RADIO_BUTTON(x); });
        ASSERT_EQ(radios.size(), 2u);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(radios[1]), TRUE);
        EXPECT_EQ(ComboTexts(TaskSch.pArrayCombo), (std::vector<std::string>{"R"}));
    };
    Responder r({
        {kManage, "New", [](GtkWidget*) {
             EXPECT_TRUE(TaskRows().empty());
             EXPECT_EQ(TaskButtons(), "000");
         }},
        {kWizard, "Next>>", ShotAnswer("task-wizard-page1.png", chooseP)},
        {kWizard, "<<Back"},
        {kWizard, "Next>>", [](GtkWidget*) { EXPECT_EQ(gtk_combo_box_get_active_id(GTK_COMBO_BOX(TaskSch.pArrayCombo)), std::string("P")); }},
        {kWizard, "Finish", ShotAnswer("task-wizard-page2.png", aMinuteAhead)},
        {kManage, "New"},
        {kWizard, "Next>>", rebuildR},
        // A rebuild runs once, here at once: the once row is left as it was filled.
        {kWizard, "Finish", [](GtkWidget*) {
             EXPECT_FALSE(gtk_widget_get_sensitive(TaskSch.pEveryRow));
             EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(TaskSch.pTaskNameEntry)), "Rebuild R");
         }},
        {kManage, "Exit", ShotAnswer("task-list.png", [](GtkWidget*) {
             EXPECT_EQ(TaskRows().size(), 2u);
             EXPECT_EQ(TaskButtons(), "000");
         })},
    });
    TaskManagement();
    ASSERT_TRUE(r.Done());
    const time_t after = ServerTime();

    // Both in the file: the kind, the logged-in creator, the server's stamps and the array's key.
    const std::vector<_VTN_TASK_INFO> slots = FileSlots();
    ASSERT_EQ(slots.size(), 2u);
    struct {
        const char* name;
        uint8_t kind;
        const char* array;
        const char* firstDisk;
    } want[] = {{"Verify P", 0x51, "P", "P-0"}, {"Rebuild R", 0x61, "R", "R-0"}};
    for (size_t i = 0; i < 2; ++i) {
        const _VTN_TASK_INFO& t = slots[i];
        SCOPED_TRACE(want[i].name);
        EXPECT_STREQ(t.name, want[i].name);
        EXPECT_EQ(t.kind, want[i].kind);
        EXPECT_EQ(t.runStatus, 0);
        EXPECT_STREQ(t.creator, kDefaultUser);
        EXPECT_STREQ(t.arrayName, want[i].array);
        EXPECT_EQ(t.arrayId, VTN_ID_NONE);
        ExpectKeyOf(t, want[i].firstDisk);
        _TIME_RECORD created = t.created;
        EXPECT_EQ(TimeRecordValue(t.created), TimeRecordValue(t.modified));
        EXPECT_GE(ConvertTimeRecord(created), before);
        EXPECT_LE(ConvertTimeRecord(created), after);
        EXPECT_EQ(TimeRecordValue(t.end), 0u);
        EXPECT_EQ(t.schedule.days, 0);
    }
    EXPECT_EQ(TimeRecordValue(slots[0].start), TimeRecordValue(planned));
    _TIME_RECORD rebuildStart = slots[1].start;
    EXPECT_GE(ConvertTimeRecord(rebuildStart), before);
    EXPECT_LE(ConvertTimeRecord(rebuildStart), after);

    // The server starts both: within a minute of its start time, polled every 2 s.
    EXPECT_TRUE(PumpUntil(
        [this] {
            const std::string log = server_.Log();
            return log.find("Scheduled task (Verify P) started.") != std::string::npos &&
                   log.find("Scheduled task (Rebuild R) started.") != std::string::npos;
        },
        150000))
        << server_.Log();
    EXPECT_EQ(OpOf("P"), "verify");
    EXPECT_EQ(OpOf("R"), "rebuild");
    EXPECT_EQ(OpOf("M"), "none");
}

TEST_F(TaskServer, TheSelectedOfTwoTasksOfOneSecondIsChangedAndDeleted)
{
    StartOn();
    const uint32_t mirror = GetRAIDID("M"), parity = GetRAIDID("P");
    ASSERT_NE(mirror, VTN_ID_NONE);
    ASSERT_NE(parity, VTN_ID_NONE);
    auto task = [](uint32_t array, const char* name, const char* arrayName, uint8_t kind, uint32_t end, uint8_t b242,
                   uint8_t b243) {
        _VTN_TASK_INFO t{};
        t.arrayId = array;
        CopyText(t.name, name);
        CopyText(t.arrayName, arrayName);
        CopyText(t.creator, kDefaultUser);
        t.kind = kind;
        t.start = ConvertTimeT(time(nullptr) + 86400);
        t.end = TimeRecordFromValue(end);
        reinterpret_cast<uint8_t*>(&t)[242] = b242;
        reinterpret_cast<uint8_t*>(&t)[243] = b243;
        return t;
    };
    const _VTN_TASK_INFO first = task(mirror, "Mirror weekly", "M", 0x54, TimeRecordValue(ConvertTimeT(time(nullptr) + 90 * 86400)), 3, 2);
    const _VTN_TASK_INFO second = task(parity, "Parity daily", "P", 0x52, 0xFFFFFFFFu, 1, 0);
    // Added again until the server stamps both with the same second.
    std::vector<_VTN_TASK_INFO> listed;
    for (int attempt = 0; attempt < 20; ++attempt) {
        _VTN_TASK_INFO a = first, b = second;
        ASSERT_EQ(cs_vtn_set_task(handle, &a, VTN_TASK_ACTION_ADD), 0);
        ASSERT_EQ(cs_vtn_set_task(handle, &b, VTN_TASK_ACTION_ADD), 0);
        listed.assign(2, _VTN_TASK_INFO{});
        ASSERT_EQ(cs_vtn_enum_tasks(handle, &listed[0], 0), 0);
        ASSERT_EQ(cs_vtn_enum_tasks(handle, &listed[1], 1), 0);
        if (TimeRecordValue(listed[0].created) == TimeRecordValue(listed[1].created))
            break;
        for (_VTN_TASK_INFO& t : listed)
            ASSERT_EQ(cs_vtn_set_task(handle, &t, VTN_TASK_ACTION_DELETE), 0);
        listed.clear();
    }
    ASSERT_EQ(listed.size(), 2u);
    const std::vector<_VTN_TASK_INFO> slotsBefore = FileSlots();
    ASSERT_EQ(slotsBefore.size(), 2u);
    const std::string made = Stamp(listed[0].created);

    Responder r({
        {kManage, "Modify", [&](GtkWidget*) {
             EXPECT_EQ(TaskRows(), (std::vector<std::string>{"Mirror weekly|Verify|" + made + "|" + made + "|RAID",
                                                         "Parity daily|Verify|" + made + "|" + made + "|RAID"}));
             ColumnListSelectRow(TaskSch.pTaskList, 1);
             EXPECT_EQ(TaskButtons(), "111");
         }},
        {kDialog, "OK", [](GtkWidget*) {
             EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(TaskSch.pTaskNameEntry)), "Parity daily");
             EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(TaskSch.pArrayLabel)), "Array Name: P");
             gtk_entry_set_text(GTK_ENTRY(TaskSch.pTaskNameEntry), "Parity nightly");
         }},
        {"Confirmation", "OK"},
        {kManage, "Details", [&](GtkWidget*) {
             ASSERT_EQ(TaskRows().size(), 2u);
             EXPECT_EQ(TaskRows()[0], "Mirror weekly|Verify|" + made + "|" + made + "|RAID");
             EXPECT_EQ(ColumnListText(TaskSch.pTaskList, 1, 0), "Parity nightly");
             EXPECT_EQ(TaskButtons(), "000");
             ColumnListSelectRow(TaskSch.pTaskList, 0);
         }},
        {kDialog, "Cancel", ShotAnswer("task-dialog-weekly.png", [](GtkWidget*) {
             EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(TaskSch.pTaskNameEntry)), "Mirror weekly");
             EXPECT_TRUE(gtk_widget_get_visible(TaskSch.pWeekRow));
         })},
        {kManage, "Delete", [](GtkWidget*) { ColumnListSelectRow(TaskSch.pTaskList, 1); }},
        {"Confirmation", "OK"},
        {kManage, "Exit", [](GtkWidget*) {
             ASSERT_EQ(TaskRows().size(), 1u);
             EXPECT_EQ(ColumnListText(TaskSch.pTaskList, 0, 0), "Mirror weekly");
         }},
    });
    TaskManagement();
    ASSERT_TRUE(r.Done());

    // The first task's bytes as they were; the second's slot is free.
    const std::vector<_VTN_TASK_INFO> slots = FileSlots();
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_EQ(memcmp(&slots[0], &slotsBefore[0], sizeof slots[0]), 0);
    const _VTN_TASK_INFO zero{};
    EXPECT_EQ(memcmp(&slots[1], &zero, sizeof zero), 0);
}

}  // namespace
