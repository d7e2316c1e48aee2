// The task dialogs over a made-up server: page 2 against the task record in both directions for
// every kind of schedule, new and changed (byte for byte, with the change mark), what is sent and
// what is not, the list's rows and which task a selected row stands for, the spins' ranges, the
// end-date check and the weekday names.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "client.h"
#include "harness.h"
#include "tasktest.h"
#include "signfunc.h"
#include "textutil.h"
#include "vtnstatus.h"

namespace {

constexpr uint32_t kNoEnd = 0xFFFFFFFFu;
constexpr const char* kManage = "Task Management";
constexpr const char* kWizard = "New task schedule wizard";
constexpr const char* kDialog = "Task Schedule";

_TIME_RECORD T(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    _TIME_RECORD t{};
    t.year = static_cast<uint32_t>(y - 2000);
    t.month = static_cast<uint32_t>(mo);
    t.day = static_cast<uint32_t>(d);
    t.hour = static_cast<uint32_t>(h);
    t.minute = static_cast<uint32_t>(mi);
    t.second = static_cast<uint32_t>(s);
    return t;
}

// A task as the server's file holds it: no array id, a key, the server's stamps.
_VTN_TASK_INFO Kept(const char* name, uint8_t kind, _TIME_RECORD start, uint32_t end, uint8_t b242 = 0,
                    uint8_t b243 = 0)
{
    _VTN_TASK_INFO t{};
    t.arrayId = kNoEnd;
    CopyText(t.name, name);
    memcpy(t.serial, "SER-0001", 8);
    memcpy(t.model, "VTN Disk 80", 11);
    t.kind = kind;
    CopyText(t.creator, "admin");
    CopyText(t.arrayName, "M");
    t.created = T(2024, 4, 1, 9, 0, 0);
    t.modified = T(2024, 4, 2, 9, 30, 0);
    t.start = start;
    t.end = TimeRecordFromValue(end);
    reinterpret_cast<uint8_t*>(&t)[242] = b242;
    reinterpret_cast<uint8_t*>(&t)[243] = b243;
    return t;
}

uint32_t V(_TIME_RECORD t)
{
    return TimeRecordValue(t);
}

// ---- the made-up server ------------------------------------------------------------------------

std::vector<_VTN_TASK_INFO> gTasks;                          // enumerated in this order
std::vector<std::pair<_VTN_TASK_INFO, int>> gSent;           // every set-task request and its action
_TIME_RECORD gServerTime = T(2024, 5, 6, 10, 20, 30);        // a Monday
bool gServerInfoFails = false;

int EnumTasks(int, _VTN_TASK_INFO* t, int i)
{
    if (i < 0 || i >= static_cast<int>(gTasks.size()))
        return static_cast<int>(VTN_NO_MORE_ENTRIES);
    *t = gTasks[static_cast<size_t>(i)];
    return 0;
}

int SetTask(int, _VTN_TASK_INFO* t, uint8_t action)
{
    gSent.push_back({*t, action});
    for (size_t i = 0; i < gTasks.size(); ++i)
        if (V(gTasks[i].created) == V(t->created) && memcmp(gTasks[i].serial, t->serial, 60) == 0) {
            if (action == VTN_TASK_ACTION_DELETE)
                gTasks.erase(gTasks.begin() + static_cast<long>(i));
            else if (action == VTN_TASK_ACTION_MODIFY)
                gTasks[i] = *t;
            return 0;
        }
    if (action == VTN_TASK_ACTION_ADD) {
        t->created = t->modified = gServerTime;
        gTasks.push_back(*t);
        return 0;
    }
    return static_cast<int>(VTN_NO_SUCH_TASK);
}

int ServerInfo(int, _CS_SERVER_INFO* info)
{
    if (gServerInfoFails)
        return -1;
    *info = {};
    info->time = gServerTime;
    return 0;
}

// One RAID 1 "M" of two disks, the only array.
int LogicalDevices(int, unsigned int* ids, int max)
{
    if (max > 0)
        ids[0] = 7;
    return 1;
}

int DeviceInfo(int, unsigned int id, _LOGICAL_DEVICE_INFO_V2* info)
{
    *info = {};
    info->capacity = 1000000;
    if (id == 7) {
        info->type = VTN_DEVICE_ARRAY;
        info->parent = VTN_ID_NONE;
        CopyText(info->u.array.name, "M");
        info->u.array.raidType = VTN_RAID1;
        info->u.array.memberCount = 2;
        info->u.array.members[0] = 8;
        info->u.array.members[1] = 9;
        return 0;
    }
    if (id == 8 || id == 9) {
        info->type = VTN_DEVICE_DISK;
        info->parent = 7;
        return 0;
    }
    return -1;
}

class TaskDialogs : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        gTasks.clear();
        gSent.clear();
        gServerTime = T(2024, 5, 6, 10, 20, 30);
        gServerInfoFails = false;
        gFuncs.disconnect_system = [](int) -> int { return 0; };
        gFuncs.enum_tasks = EnumTasks;
        gFuncs.set_task = SetTask;
        gFuncs.get_server_info = ServerInfo;
        gFuncs.get_logical_devices = LogicalDevices;
        gFuncs.get_device_info = DeviceInfo;
        CMainWindow* win = StartMainWindow();
        // No tick may ask the made-up connection for events.
        g_source_remove(win->nTimerSource);
        win->nTimerSource = 0;
        handle = 0;
        win->bLoggedIn = true;
        CopyText(NewSys.szUserName, "admin");
    }
    void TearDown() override
    {
        handle = -1;
        GuiTest::TearDown();
        EXPECT_EQ(TaskSch.pTaskList, nullptr);
        EXPECT_EQ(TaskSch.pTaskNameEntry, nullptr);
        memset(&TaskSch, 0, sizeof TaskSch);
    }

    // Page 2 on kept (or a new task on array "M" when isNew), edited, read back.
    static bool ReadBack(bool isNew, const _VTN_TASK_INFO& kept, const std::function<void()>& edit,
                         _VTN_TASK_INFO* out, uint32_t type = 0)
    {
        TaskSch.KeptTask = isNew ? _VTN_TASK_INFO{} : kept;
        TaskSch.nTaskType = type;
        CopyText(TaskSch.szArrayName, "M");
        GtkWidget* window = BuildTaskWizard2(isNew);
        if (edit)
            edit();
        *out = TaskSch.KeptTask;
        const bool changed = GetTaskData(out, isNew);
        gtk_widget_destroy(window);
        return changed;
    }
};

// ---- widget hands ---------------------------------------------------------------------------------

void Spin(GtkWidget* spin, int value)
{
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), value);
}

void Date(GtkWidget* const* spins, int y, int m, int d)
{
    Spin(spins[0], y);
    Spin(spins[1], m);
    Spin(spins[2], d);
}

void Clock(GtkWidget* const* spins, int h, int m, int s)
{
    Spin(spins[0], h);
    Spin(spins[1], m);
    Spin(spins[2], s);
}

void Choose(GtkWidget* combo, const char* text)
{
    EXPECT_TRUE(ChooseText(combo, text)) << "no choice " << text;
}

void Toggle(GtkWidget* toggle, bool on = true)
{
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(toggle), on);
}

void Every(const char* unit, int n)
{
    Toggle(TaskSch.pEveryRadio);
    Choose(TaskSch.pUnitCombo, unit);
    Spin(TaskSch.pInterval, n);
}

std::string Hex(const _VTN_TASK_INFO& t)
{
    std::string out;
    const auto* b = reinterpret_cast<const uint8_t*>(&t);
    char buf[4];
    for (size_t i = 0; i < sizeof t; ++i) {
        snprintf(buf, sizeof buf, "%02x", b[i]);
        out += buf;
        out += (i % 16 == 15) ? "\n" : " ";
    }
    return out;
}

// ---- page 2 and the record -----------------------------------------------------------------------

struct MappingCase {
    const char* what;
    bool isNew;
    uint32_t type;                    // new tasks: 0 verify, 1 rebuild
    _VTN_TASK_INFO kept;              // changed tasks
    std::function<void()> edit;       // the hands on page 2; null: none
    std::function<void(_VTN_TASK_INFO*)> expect;  // from the kept task (zero for a new one)
    bool changed;
};

TEST_F(TaskDialogs, PageAndRecordRoundTrip)
{
    const _TIME_RECORD start = T(2024, 6, 1, 2, 3, 4);
    const uint32_t end = V(T(2024, 12, 31, 0, 0, 0));
    const uint32_t endWithTime = V(T(2025, 1, 1, 5, 6, 7));
    // A new task's fields that do not depend on its schedule.
    auto fresh = [](_VTN_TASK_INFO* t, uint8_t kind, const char* name) {
        CopyText(t->name, name);
        CopyText(t->creator, "admin");
        CopyText(t->arrayName, "M");
        t->kind = kind;
    };
    const MappingCase cases[] = {
        // Opened and left alone: every byte as it was, nothing to send.
        {"once", false, 0, Kept("a", 0x51, start, 0), nullptr, nullptr, false},
        {"once rebuild, disabled", false, 0, Kept("a", 0x21, start, 0), nullptr, nullptr, false},
        {"daily, end", false, 0, Kept("a", 0x52, start, end, 3, 0), nullptr, nullptr, false},
        {"daily, no end", false, 0, Kept("a", 0x52, start, kNoEnd, 3, 0), nullptr, nullptr, false},
        {"weekly, end", false, 0, Kept("a", 0x54, start, endWithTime, 5, 2), nullptr, nullptr, false},
        {"weekly, no end", false, 0, Kept("a", 0x54, start, kNoEnd, 0, 1), nullptr, nullptr, false},
        {"monthly, end", false, 0, Kept("a", 0x58, start, end, 31, 1), nullptr, nullptr, false},
        {"monthly, no end", false, 0, Kept("a", 0x58, start, kNoEnd, 15, 12), nullptr, nullptr, false},
        // Changed.
        {"daily: name", false, 0, Kept("a", 0x52, start, end, 3, 0),
         [] { gtk_entry_set_text(GTK_ENTRY(TaskSch.pTaskNameEntry), "Nightly"); },
         [](_VTN_TASK_INFO* t) {
             memset(t->name, 0, sizeof t->name);
             CopyText(t->name, "Nightly");
         },
         true},
        {"daily: interval and run time", false, 0, Kept("a", 0x52, start, kNoEnd, 3, 0),
         [] {
             Spin(TaskSch.pInterval, 7);
             Clock(TaskSch.pRunTime, 23, 59, 58);
         },
         [start](_VTN_TASK_INFO* t) {
             t->schedule.days = 7;
             t->start = start;
             t->start.hour = 23;
             t->start.minute = 59;
             t->start.second = 58;
         },
         true},
        {"daily: no end -> end date", false, 0, Kept("a", 0x52, start, kNoEnd, 3, 0),
         [] {
             Toggle(TaskSch.pEndRadio);
             Date(TaskSch.pEndDate, 2025, 3, 4);
         },
         [](_VTN_TASK_INFO* t) { t->end = T(2025, 3, 4, 0, 0, 0); }, true},
        {"weekly: end -> no end", false, 0, Kept("a", 0x54, start, endWithTime, 5, 2),
         [] { Toggle(TaskSch.pNoEndRadio); }, [](_VTN_TASK_INFO* t) { t->end = TimeRecordFromValue(kNoEnd); }, true},
        {"weekly: another end date keeps the end's time", false, 0, Kept("a", 0x54, start, endWithTime, 5, 2),
         [] { Date(TaskSch.pEndDate, 2025, 2, 2); },
         [](_VTN_TASK_INFO* t) { t->end = T(2025, 2, 2, 5, 6, 7); }, true},
        {"weekly: Tuesday, every 3", false, 0, Kept("a", 0x54, start, kNoEnd, 5, 2),
         [] {
             Choose(TaskSch.pWeekCombo, "Tuesday");
             Spin(TaskSch.pInterval, 3);
         },
         [](_VTN_TASK_INFO* t) {
             t->schedule.period.day = 2;
             t->schedule.period.every = 3;
         },
         true},
        {"monthly -> once", false, 0, Kept("a", 0x58, start, end, 15, 2),
         [] {
             Toggle(TaskSch.pOnceRadio);
             Date(TaskSch.pOnce, 2024, 7, 8);
             Clock(TaskSch.pOnce + 3, 9, 10, 11);
         },
         [](_VTN_TASK_INFO* t) {
             t->kind = 0x51;
             t->start = T(2024, 7, 8, 9, 10, 11);
         },
         true},
        {"once -> every 2 weeks on Friday", false, 0, Kept("a", 0x51, start, 0),
         [] {
             Every("Week(s)", 2);
             Choose(TaskSch.pWeekCombo, "Friday");
         },
         [](_VTN_TASK_INFO* t) {
             // The start date and run time were the server's; a once task opens with no end date.
             t->kind = 0x54;
             t->start = gServerTime;
             t->end = TimeRecordFromValue(kNoEnd);
             t->schedule.period.day = 5;
             t->schedule.period.every = 2;
         },
         true},
        {"daily: disabled", false, 0, Kept("a", 0x52, start, end, 3, 0), [] { Toggle(TaskSch.pEnableCheck, false); },
         [](_VTN_TASK_INFO* t) { t->kind = 0x12; }, true},
        {"disabled daily: enabled", false, 0, Kept("a", 0x12, start, end, 3, 0),
         [] { Toggle(TaskSch.pEnableCheck, true); }, [](_VTN_TASK_INFO* t) { t->kind = 0x52; }, true},
        // New tasks.
        {"new: as offered", true, 0, {}, nullptr,
         [&fresh](_VTN_TASK_INFO* t) {
             fresh(t, 0x51, "Verify M");
             t->start = gServerTime;
         },
         true},
        {"new rebuild: as offered", true, 1, {}, nullptr,
         [&fresh](_VTN_TASK_INFO* t) {
             fresh(t, 0x61, "Rebuild M");
             t->start = gServerTime;
         },
         true},
        {"new: every 3 days until the end of June at 23:00", true, 0, {},
         [] {
             Every("Day(s)", 3);
             Clock(TaskSch.pRunTime, 23, 0, 0);
             Toggle(TaskSch.pEndRadio);
             Date(TaskSch.pEndDate, 2024, 6, 30);
         },
         [&fresh](_VTN_TASK_INFO* t) {
             fresh(t, 0x52, "Verify M");
             t->start = T(2024, 5, 6, 23, 0, 0);
             t->end = T(2024, 6, 30);
             t->schedule.days = 3;
         },
         true},
        {"new: every 2 weeks on Friday from 2024-05-10, no end, disabled", true, 0, {},
         [] {
             Every("Week(s)", 2);
             Choose(TaskSch.pWeekCombo, "Friday");
             Date(TaskSch.pStartDate, 2024, 5, 10);
             Toggle(TaskSch.pEnableCheck, false);
             gtk_entry_set_text(GTK_ENTRY(TaskSch.pTaskNameEntry), "Weekly");
         },
         [&fresh](_VTN_TASK_INFO* t) {
             fresh(t, 0x14, "Weekly");
             t->start = T(2024, 5, 10, 10, 20, 30);
             t->end = TimeRecordFromValue(kNoEnd);
             t->schedule.period.day = 5;
             t->schedule.period.every = 2;
         },
         true},
        {"new: monthly on the 31st until 2031-12-31", true, 0, {},
         [] {
             Every("Month(s)", 1);
             Spin(TaskSch.pMonthDay, 31);
             Toggle(TaskSch.pEndRadio);
             Date(TaskSch.pEndDate, 2031, 12, 31);
         },
         [&fresh](_VTN_TASK_INFO* t) {
             fresh(t, 0x58, "Verify M");
             t->start = gServerTime;
             t->end = T(2031, 12, 31);
             t->schedule.period.day = 31;
             t->schedule.period.every = 1;
         },
         true},
    };
    for (const MappingCase& c : cases) {
        SCOPED_TRACE(c.what);
        _VTN_TASK_INFO want = c.isNew ? _VTN_TASK_INFO{} : c.kept;
        if (c.expect)
            c.expect(&want);
        want.arrayId = 7;  // the array "M" by its name, whatever the record held
        _VTN_TASK_INFO got{};
        EXPECT_EQ(ReadBack(c.isNew, c.kept, c.edit, &got, c.type), c.changed);
        EXPECT_EQ(Hex(got), Hex(want));
    }
}

TEST_F(TaskDialogs, PageShowsTheRecord)
{
    struct {
        _VTN_TASK_INFO kept;
        int frequency, duration;          // radios: 0 once / 1 every; 0 end date / 1 no end
        std::string unit, weekday;
        bool weekRow, dayRow;
        int interval, monthDay;
        int startDate[3], runTime[3], once[6], endDate[3];
    } cases[] = {
        {Kept("a", 0x51, T(2024, 6, 1, 2, 3, 4), 0), 0, 1, "Day(s)", "Sunday", false, false, 1, 1,
         {2024, 5, 6}, {10, 20, 30}, {2024, 6, 1, 2, 3, 4}, {2024, 5, 6}},
        {Kept("a", 0x52, T(2024, 6, 1, 2, 3, 4), V(T(2024, 12, 31)), 9, 0), 1, 0, "Day(s)", "Sunday", false, false,
         9, 1, {2024, 6, 1}, {2, 3, 4}, {2024, 5, 6, 10, 20, 30}, {2024, 12, 31}},
        {Kept("a", 0x54, T(2024, 6, 1, 2, 3, 4), kNoEnd, 6, 4), 1, 1, "Week(s)", "Saturday", true, false, 4, 1,
         {2024, 6, 1}, {2, 3, 4}, {2024, 5, 6, 10, 20, 30}, {2024, 5, 6}},
        // A weekday the list does not have shows no weekday.
        {Kept("a", 0x54, T(2024, 6, 1, 2, 3, 4), kNoEnd, 9, 1), 1, 1, "Week(s)", "", true, false, 1, 1,
         {2024, 6, 1}, {2, 3, 4}, {2024, 5, 6, 10, 20, 30}, {2024, 5, 6}},
        {Kept("a", 0x58, T(2031, 1, 2, 3, 4, 5), V(T(2031, 2, 3)), 28, 6), 1, 0, "Month(s)", "Sunday", false, true, 6,
         28, {2031, 1, 2}, {3, 4, 5}, {2024, 5, 6, 10, 20, 30}, {2031, 2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.kept));
        TaskSch.KeptTask = c.kept;
        GtkWidget* window = BuildTaskWizard2(false);
        gtk_widget_show_all(window);
        auto values = [](GtkWidget* const* spins, int n) {
            std::vector<int> out;
            for (int i = 0; i < n; ++i)
                out.push_back(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spins[i])));
            return out;
        };
        EXPECT_EQ(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(TaskSch.pEveryRadio)), c.frequency == 1);
        EXPECT_EQ(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(TaskSch.pNoEndRadio)), c.duration == 1);
        EXPECT_EQ(TaskSch.nFrequency, static_cast<uint32_t>(c.frequency));
        EXPECT_EQ(TaskSch.nDuration, static_cast<uint32_t>(c.duration));
        EXPECT_EQ(ComboText(TaskSch.pUnitCombo), c.unit);
        EXPECT_EQ(ComboText(TaskSch.pWeekCombo), c.weekday);
        EXPECT_EQ(gtk_widget_get_visible(TaskSch.pWeekRow), c.weekRow);
        EXPECT_EQ(gtk_widget_get_visible(TaskSch.pMonthDayRow), c.dayRow);
        EXPECT_EQ(values(&TaskSch.pInterval, 1), std::vector<int>{c.interval});
        EXPECT_EQ(values(&TaskSch.pMonthDay, 1), std::vector<int>{c.monthDay});
        EXPECT_EQ(values(TaskSch.pStartDate, 3), std::vector<int>(c.startDate, c.startDate + 3));
        EXPECT_EQ(values(TaskSch.pRunTime, 3), std::vector<int>(c.runTime, c.runTime + 3));
        EXPECT_EQ(values(TaskSch.pOnce, 6), std::vector<int>(c.once, c.once + 6));
        EXPECT_EQ(values(TaskSch.pEndDate, 3), std::vector<int>(c.endDate, c.endDate + 3));
        // Once: the schedule is off; every: the once row is.
        EXPECT_EQ(gtk_widget_get_sensitive(TaskSch.pOnce[0]), c.frequency == 0);
        EXPECT_EQ(gtk_widget_get_sensitive(TaskSch.pInterval), c.frequency == 1);
        EXPECT_EQ(gtk_widget_get_sensitive(TaskSch.pDurationBox), c.frequency == 1);
        EXPECT_EQ(gtk_widget_get_sensitive(TaskSch.pEndDate[0]), c.duration == 0);
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(TaskSch.pTimeLabel)),
                     "Connected System's Current Date-time: 2024-05-06 10:20:30");
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(TaskSch.pArrayLabel)), "Array Name: M");
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(TaskSch.pTypeLabel)), "Task Type: Verify");
        gtk_widget_destroy(window);
    }
}

TEST_F(TaskDialogs, SpinsHoldWhatTheServerCanRun)
{
    gServerTime = T(2031, 12, 31, 23, 59, 59);
    TaskSch.nTaskType = 1;
    CopyText(TaskSch.szArrayName, "M");
    GtkWidget* window = BuildTaskWizard2(true);
    struct {
        const char* what;
        GtkWidget* spin;
        double lo, hi;
    } spins[] = {
        {"once year", TaskSch.pOnce[0], 2000, 2031},      {"once month", TaskSch.pOnce[1], 1, 12},
        {"once day", TaskSch.pOnce[2], 1, 31},            {"once hour", TaskSch.pOnce[3], 0, 23},
        {"once minute", TaskSch.pOnce[4], 0, 59},         {"once second", TaskSch.pOnce[5], 0, 59},
        {"interval", TaskSch.pInterval, 1, 31},           {"day of month", TaskSch.pMonthDay, 1, 31},
        {"run hour", TaskSch.pRunTime[0], 0, 23},         {"run minute", TaskSch.pRunTime[1], 0, 59},
        {"run second", TaskSch.pRunTime[2], 0, 59},       {"start year", TaskSch.pStartDate[0], 2000, 2031},
        {"start month", TaskSch.pStartDate[1], 1, 12},    {"start day", TaskSch.pStartDate[2], 1, 31},
        {"end year", TaskSch.pEndDate[0], 2000, 2031},    {"end month", TaskSch.pEndDate[1], 1, 12},
        {"end day", TaskSch.pEndDate[2], 1, 31},
    };
    for (const auto& s : spins) {
        GtkAdjustment* adj = gtk_spin_button_get_adjustment(GTK_SPIN_BUTTON(s.spin));
        EXPECT_EQ(gtk_adjustment_get_lower(adj), s.lo) << s.what;
        EXPECT_EQ(gtk_adjustment_get_upper(adj), s.hi) << s.what;
    }
    // The last second the record can hold fills the page as it is.
    _VTN_TASK_INFO t{};
    EXPECT_TRUE(GetTaskData(&t, true));
    EXPECT_EQ(V(t.start), V(gServerTime));
    EXPECT_EQ(t.kind, 0x61);
    // A rebuild task is run once only.
    EXPECT_FALSE(gtk_widget_get_sensitive(TaskSch.pEveryRow));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(TaskSch.pEveryRadio), TRUE);
    EXPECT_FALSE(gtk_widget_get_sensitive(TaskSch.pEveryRow));
    gtk_widget_destroy(window);
}

TEST_F(TaskDialogs, NamesAreCutInBytesAtCharacterBoundaries)
{
    // Three-byte characters in the array name, two-byte ones in the user's: every field ends on a
    // character of its own.
    std::string array = "x";
    for (int i = 0; i < 30; ++i)
        array += "\xe2\x82\xac";  // the euro sign
    std::string creator = "uu";
    for (int i = 0; i < 40; ++i)
        creator += "\xc3\xa9";  // e acute
    CopyText(NewSys.szUserName, creator.c_str());
    _VTN_TASK_INFO t{};
    TaskSch.KeptTask = {};
    TaskSch.nTaskType = 0;
    CopyText(TaskSch.szArrayName, array.c_str());
    GtkWidget* window = BuildTaskWizard2(true);
    GetTaskData(&t, true);
    gtk_widget_destroy(window);
    EXPECT_EQ(std::string(t.arrayName), array.substr(0, 31));
    EXPECT_EQ(std::string(t.creator), creator.substr(0, 62));
    // "Verify x" and 24 euro signs fill the entry's 32 characters (80 bytes); 62 bytes of them fit.
    EXPECT_EQ(std::string(t.name), ("Verify " + array).substr(0, 62));
    for (const char* field : {t.arrayName, t.creator, t.name})
        EXPECT_TRUE(g_utf8_validate(field, -1, nullptr));
}

TEST_F(TaskDialogs, WeekdayNames)
{
    const char* const names[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    for (int d = 0; d < 7; ++d) {
        char text[VTN_WEEKDAY_TEXT_SIZE] = "x";
        int day = d;
        WeekToint(text, &day, false);
        EXPECT_STREQ(text, names[d]);
        day = -1;
        WeekToint(text, &day, true);
        EXPECT_EQ(day, d);
    }
    for (int day : {-1, 7, 255}) {
        char text[VTN_WEEKDAY_TEXT_SIZE] = "x";
        WeekToint(text, &day, false);
        EXPECT_STREQ(text, "") << day;
    }
    for (const char* text : {"", "sunday", "Sunday ", "Funday"}) {
        int day = 4;
        char buf[16];
        CopyText(buf, text);
        WeekToint(buf, &day, true);
        EXPECT_EQ(day, 4) << text;
    }
}

// ---- the list and what is sent -----------------------------------------------------------------------

std::function<void(GtkWidget*)> Select(int row, std::function<void()> then = nullptr)
{
    return [row, then](GtkWidget*) {
        ColumnListSelectRow(TaskSch.pTaskList, row);
        if (then)
            then();
    };
}

std::function<void(GtkWidget*)> Check(std::function<void()> check)
{
    return [check](GtkWidget*) { check(); };
}

TEST_F(TaskDialogs, ListRowsAndTheTaskEachStandsFor)
{
    gTasks = {Kept("Nightly", 0x52, T(2024, 6, 1, 2, 3, 4), kNoEnd, 1, 0),
              Kept("Repair", 0x61, T(2024, 6, 1, 2, 3, 4), 0),
              Kept("Both bits", 0x71, T(2024, 6, 1, 2, 3, 4), 0),
              Kept("No type", 0x41, T(2024, 6, 1, 2, 3, 4), 0)};
    // The same creation second on different arrays.
    memcpy(gTasks[1].serial, "SER-0002", 8);
    memcpy(gTasks[2].serial, "SER-0003", 8);
    gTasks[3].created = T(2030, 11, 12, 13, 14, 15);
    CopyText(gTasks[3].creator, "operator");
    const std::string made = "2024-04-01 09:00:00|2024-04-02 09:30:00|";
    Responder r({
        {kManage, "", Check([&] {
             EXPECT_EQ(TaskRows(), (std::vector<std::string>{"Nightly|Verify|" + made + "admin", "Repair|Rebuild|" + made + "admin",
                                                         "Both bits|Rebuild|" + made + "admin",
                                                         "No type||2030-11-12 13:14:15|2024-04-02 09:30:00|operator"}));
             std::vector<std::string> titles;
             for (int c = 0; c < 5; ++c)
                 titles.push_back(gtk_tree_view_column_get_title(gtk_tree_view_get_column(GTK_TREE_VIEW(TaskSch.pTaskList), c)));
             EXPECT_EQ(titles, (std::vector<std::string>{"Name", "Type", "Create date-time", "Last modify date-time",
                                                         "Create manager"}));
             EXPECT_EQ(TaskButtons(), "000");
             for (int row : {2, 1, 3}) {
                 ColumnListSelectRow(TaskSch.pTaskList, row);
                 EXPECT_EQ(Hex(TaskSch.KeptTask), Hex(gTasks[static_cast<size_t>(row)])) << row;
                 EXPECT_EQ(TaskButtons(), "111");
             }
             // A reload selects nothing, and nothing selected earlier is acted on.
             LoadTaskData();
             EXPECT_EQ(ColumnListSelectedRow(TaskSch.pTaskList), -1);
             EXPECT_EQ(TaskButtons(), "000");
             ModifyTask();
             DeleteTask();
             EXPECT_TRUE(gSent.empty());
             // A row whose task is gone, or whose index holds another task now, stands for none.
             gTasks.pop_back();
             ColumnListSelectRow(TaskSch.pTaskList, 3);
             EXPECT_EQ(ColumnListSelectedRow(TaskSch.pTaskList), -1);
             EXPECT_EQ(TaskButtons(), "000");
             ColumnListSelectRow(TaskSch.pTaskList, 0);
             EXPECT_EQ(TaskButtons(), "111");
             gTasks[1].created = T(2024, 4, 1, 9, 0, 1);
             ColumnListSelectRow(TaskSch.pTaskList, 1);
             EXPECT_EQ(TaskButtons(), "000");
             DeleteTask();
             EXPECT_TRUE(gSent.empty());
         })},
    });
    TaskManagement();
    EXPECT_TRUE(r.Done());
}

TEST_F(TaskDialogs, ChangesAreSentOnlyWhenThereAreAny)
{
    gTasks = {Kept("Nightly", 0x52, T(2024, 6, 1, 2, 3, 4), kNoEnd, 1, 0),
              Kept("Weekly", 0x54, T(2024, 6, 1, 2, 3, 4), kNoEnd, 3, 1)};
    memcpy(gTasks[1].serial, "SER-0002", 8);
    const _VTN_TASK_INFO weekly = gTasks[1];
    auto rename = [](GtkWidget*) { gtk_entry_set_text(GTK_ENTRY(TaskSch.pTaskNameEntry), "Thursdays"); };
    Responder r({
        // Opened and closed with OK: no question, nothing sent.
        {kManage, "Modify", Select(1)},
        {kDialog, "OK", Check([] { EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(TaskSch.pTaskNameEntry)), "Weekly"); })},
        // Details opens the same dialog; a change answered Cancel is not sent.
        {kManage, "Details", Select(1, [] { EXPECT_TRUE(gSent.empty()); })},
        {kDialog, "OK", rename},
        {"Confirmation", "Cancel"},
        // Answered OK it is, as a change of the selected task.
        {kManage, "Modify", Select(1, [] { EXPECT_TRUE(gSent.empty()); })},
        {kDialog, "OK", rename},
        {"Confirmation", "OK"},
        {kManage, "Delete", Select(0, [] { EXPECT_EQ(TaskButtons(), "111"); })},
        {"Confirmation", "Cancel"},
        // Cancel leaves the list as it was.
        {kManage, "Exit", Check([] {
             EXPECT_EQ(ColumnListSelectedRow(TaskSch.pTaskList), 0);
             EXPECT_EQ(gSent.size(), 1u);
         })},
    });
    TaskManagement();
    EXPECT_TRUE(r.Done());
    ASSERT_EQ(gSent.size(), 1u);
    _VTN_TASK_INFO want = weekly;
    memset(want.name, 0, sizeof want.name);
    CopyText(want.name, "Thursdays");
    want.arrayId = 7;
    EXPECT_EQ(gSent[0].second, VTN_TASK_ACTION_MODIFY);
    EXPECT_EQ(Hex(gSent[0].first), Hex(want));

    // Delete sends the selected row's task as it was enumerated.
    Responder d({{kManage, "Delete", Select(1)}, {"Confirmation", "OK"},
                 {kManage, "Exit", Check([] { EXPECT_EQ(TaskRows().size(), 1u); })}});
    TaskManagement();
    EXPECT_TRUE(d.Done());
    ASSERT_EQ(gSent.size(), 2u);
    EXPECT_EQ(gSent[1].second, VTN_TASK_ACTION_DELETE);
    EXPECT_EQ(Hex(gSent[1].first), Hex(want));
}

TEST_F(TaskDialogs, WizardChecksAndTheStartOfAnUntouchedOnceTask)
{
    auto later = [](GtkWidget*) { gServerTime = T(2024, 5, 6, 10, 25, 0); };
    auto everyEndingBefore = [](GtkWidget*) {
        Toggle(TaskSch.pEveryRadio);
        Toggle(TaskSch.pEndRadio);
        Date(TaskSch.pEndDate, 2024, 5, 5);
    };
    Responder r({
        {kManage, "New"},
        {kWizard, "Next>>", Check([] { EXPECT_EQ(ComboText(TaskSch.pArrayCombo), "M"); })},
        // An end before the start: a warning, and the page stays for another go.
        {kWizard, "Finish", everyEndingBefore},
        {"Warning", "OK",
         [](GtkWidget* w) {
             auto labels = FindWidgets(w, [](GtkWidget* x) { return GTK_IS_LABEL(x); });
             ASSERT_FALSE(labels.empty());
             EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(labels.front())),
                          "The end date can not be earlier than the start date!");
         }},
        {kWizard, "<<Back", Check([] { EXPECT_TRUE(gSent.empty()); })},
        // Back keeps the array; the once row left alone starts the task when it is sent.
        {kWizard, "Next>>", Check([] { EXPECT_EQ(ComboText(TaskSch.pArrayCombo), "M"); })},
        {kWizard, "Finish", later},
        {kManage, "New"},
        {kWizard, "Next>>"},
        // A once row that was changed keeps its time; Rebuild lists no array here.
        {kWizard, "Finish", [](GtkWidget*) { Spin(TaskSch.pOnce[4], 40); }},
        {kManage, "New"},
        {kWizard, "Next>>", [](GtkWidget* w) {
             auto radios = FindWidgets(w, [](GtkWidget* x) { return GTK_IS_RADIO_BUTTON(x); });
             ASSERT_EQ(radios.size(), 2u);
             Toggle(radios[1]);
             EXPECT_EQ(TaskSch.nTaskType, 1u);
         }},
        {"Warning", "OK"},
        {kWizard, "Cancel"},
        {kManage, "Exit"},
    });
    TaskManagement();
    EXPECT_TRUE(r.Done());
    ASSERT_EQ(gSent.size(), 2u);
    EXPECT_EQ(V(gSent[0].first.start), V(T(2024, 5, 6, 10, 25, 0)));
    EXPECT_EQ(V(gSent[1].first.start), V(T(2024, 5, 6, 10, 40, 0)));
    for (const auto& s : gSent) {
        EXPECT_EQ(s.second, VTN_TASK_ACTION_ADD);
        EXPECT_EQ(s.first.kind, 0x51);
        EXPECT_STREQ(s.first.creator, "admin");
    }
}

TEST_F(TaskDialogs, WithoutTheServersClockTheLocalOneServes)
{
    gServerInfoFails = true;
    TaskSch.KeptTask = {};
    CopyText(TaskSch.szArrayName, "M");
    const time_t before = time(nullptr);
    GtkWidget* window = BuildTaskWizard2(true);
    _VTN_TASK_INFO t{};
    GetTaskData(&t, true);
    const time_t after = time(nullptr);
    const time_t start = ConvertTimeRecord(t.start);
    EXPECT_GE(start, before);
    EXPECT_LE(start, after);
    gtk_widget_destroy(window);
}

TEST_F(TaskDialogs, NewWithoutAnArray)
{
    gFuncs.get_logical_devices = [](int, unsigned int*, int) -> int { return 0; };
    Responder r({{kManage, "New"},
                 {"Confirmation", "OK",
                  [](GtkWidget* w) {
                      auto labels = FindWidgets(w, [](GtkWidget* x) { return GTK_IS_LABEL(x); });
                      ASSERT_FALSE(labels.empty());
                      EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(labels.front())),
                                   "There is no valid array to be verified or rebuilt.\nYou can not add 'verify' or "
                                   "'rebuild' task schedule.");
                  }},
                 {kManage, "Exit"}});
    TaskManagement();
    EXPECT_TRUE(r.Done());
    EXPECT_TRUE(gSent.empty());
}

}  // namespace
