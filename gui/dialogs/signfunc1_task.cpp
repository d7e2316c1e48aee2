// Scheduled tasks: the Task Management window and its list, the wizard that makes a task (page 1:
// type and array; page 2: name, schedule, duration), page 2 alone as the dialog of an existing
// task, and the mapping between page 2 and the task record in both directions.
#include "signfunc1_task.h"

#include <cstring>
#include <ctime>
#include <string>

#include "client.h"
#include "dam.h"
#include "drivergui.h"
#include "drivergui_list.h"
#include "signfunc.h"
#include "textutil.h"
#include "vtnstatus.h"

_TASK_SCH TaskSch;

namespace {

const char* const TaskManListTitles[] = {"Name", "Type", "Create date-time", "Last modify date-time",
                                         "Create manager"};
const int kColumnWidths[] = {100, 100, 150, 150, 0};
const char* const kWeekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kUnits[] = {"Day(s)", "Week(s)", "Month(s)"};
const char* const kWizardTitle = "New task schedule wizard";
const char* const kNoArray = "There is no valid array to be verified or rebuilt.\nYou can not add 'verify' or "
                             "'rebuild' task schedule.";
const char* const kEndBeforeStart = "The end date can not be earlier than the start date!";
constexpr uint32_t kNoEnd = 0xFFFFFFFFu;
// More tasks than any task file holds; a server that never ends the list cannot hold the GUI.
constexpr int kMaxTasks = 10000;
// The task name entry takes this many characters.
constexpr int kNameChars = 32;

// ---- spins and time records ----------------------------------------------------------------------

enum TimeField { kYear, kMonth, kDay, kHour, kMinute, kSecond };

// The ranges the server can run: years as the time record holds them (2000 + 5 bits).
struct SpinRule {
    int lo, hi, built;
    bool wrap;
    int page, chars;
};
const SpinRule kYearSpin{2000, 2031, 2000, false, 100, 4};
const SpinRule kMonthSpin{1, 12, 1, true, 5, 2};
const SpinRule kDaySpin{1, 31, 1, true, 5, 2};
const SpinRule kHourSpin{0, 23, 0, true, 5, 2};
const SpinRule kMinuteSpin{0, 59, 0, true, 5, 2};
const SpinRule kIntervalSpin{1, 31, 1, true, 5, 2};

int FieldOf(const _TIME_RECORD& t, TimeField f)
{
    switch (f) {
    case kYear: return static_cast<int>(t.year) + 2000;
    case kMonth: return static_cast<int>(t.month);
    case kDay: return static_cast<int>(t.day);
    case kHour: return static_cast<int>(t.hour);
    case kMinute: return static_cast<int>(t.minute);
    default: return static_cast<int>(t.second);
    }
}

void SetFieldOf(_TIME_RECORD* t, TimeField f, int v)
{
    const auto u = static_cast<uint32_t>(v);
    switch (f) {
    case kYear: t->year = static_cast<uint32_t>(v - 2000) & 0x1F; break;
    case kMonth: t->month = u & 0xF; break;
    case kDay: t->day = u & 0x1F; break;
    case kHour: t->hour = u & 0x3F; break;
    case kMinute: t->minute = u & 0x3F; break;
    default: t->second = u & 0x3F; break;
    }
}

// Compact spins: the page places a whole date and time in one row.
void SpinStyle(GtkWidget* spin)
{
    static GtkCssProvider* css = nullptr;
    StyleWidget(spin, &css,
                "spinbutton.vtn-task-spin entry { min-width: 0; padding: 0 2px; }\n"
                "spinbutton.vtn-task-spin button { min-width: 0; min-height: 0; padding: 0 2px; }\n",
                "vtn-task-spin");
}

GtkWidget* Spin(const SpinRule& r)
{
    GtkAdjustment* adj = gtk_adjustment_new(r.built, r.lo, r.hi, 1, r.page, 0);
    GtkWidget* spin = gtk_spin_button_new(adj, 1, 0);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(spin), TRUE);
    gtk_spin_button_set_wrap(GTK_SPIN_BUTTON(spin), r.wrap);
    gtk_entry_set_width_chars(GTK_ENTRY(spin), r.chars);
    gtk_entry_set_max_width_chars(GTK_ENTRY(spin), r.chars);
    SpinStyle(spin);
    return spin;
}

int SpinValue(GtkWidget* spin)
{
    if (spin == nullptr)
        return 0;
    gtk_spin_button_update(GTK_SPIN_BUTTON(spin));
    return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin));
}

// A value outside the spin's range is held at the nearer bound.
void SetSpin(GtkWidget* spin, int value)
{
    if (spin)
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), value);
}

// Spins that show fields of a time record, from field `first` on.
void ShowFields(GtkWidget* const* spins, int n, TimeField first, const _TIME_RECORD& t)
{
    for (int i = 0; i < n; ++i)
        SetSpin(spins[i], FieldOf(t, static_cast<TimeField>(first + i)));
}

// Writes the spins into their fields of *t; a field that differs from the same field of kept raises
// *changed.
void ReadFields(GtkWidget* const* spins, int n, TimeField first, _TIME_RECORD* t, const _TIME_RECORD& kept,
                bool* changed)
{
    for (int i = 0; i < n; ++i) {
        const auto f = static_cast<TimeField>(first + i);
        SetFieldOf(t, f, SpinValue(spins[i]));
        if (FieldOf(*t, f) != FieldOf(kept, f))
            *changed = true;
    }
}

// The server's current time; the local time when it cannot be read.
_TIME_RECORD ServerNow()
{
    _CS_SERVER_INFO info{};
    if (handle >= 0 && cs_vtn_get_server_info(handle, &info) == 0)
        return info.time;
    return ConvertTimeT(time(nullptr));
}

// ---- texts -----------------------------------------------------------------------------------------

// What the task name entry shows for a name field: valid UTF-8, at most the entry's characters.
std::string ShownName(const char* field, size_t size)
{
    char name[VTN_TASK_TEXT_SIZE];
    CopyField(name, sizeof name, field, size);
    gchar* valid = g_utf8_make_valid(name, -1);
    gchar* cut = g_utf8_substring(valid, 0, std::min<glong>(g_utf8_strlen(valid, -1), kNameChars));
    std::string out = cut;
    g_free(cut);
    g_free(valid);
    return out;
}

// Writes text into a name field (cut at a character boundary) unless the field holds it already, so
// that an unchanged field keeps its bytes.
void PutText(char* field, size_t size, const char* text)
{
    char value[VTN_TASK_TEXT_SIZE] = {};
    CopyUtf8Text(value, size < sizeof value ? size : sizeof value, text);
    if (strncmp(field, value, size) != 0) {
        memset(field, 0, size);
        memcpy(field, value, strlen(value));
    }
}

void SetLabel(GtkWidget* label, const char* fmt, const char* text)
{
    char buf[512];
    FormatText(buf, sizeof buf, fmt, text);
    gchar* shown = g_utf8_make_valid(buf, -1);
    gtk_label_set_text(GTK_LABEL(label), shown);
    g_free(shown);
}

// ---- small widgets ---------------------------------------------------------------------------------

GtkWidget* Row(GtkWidget* box, int spacing = 4)
{
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, spacing);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
    return row;
}

GtkWidget* Text(GtkWidget* row, const char* text)
{
    GtkWidget* label = gtk_label_new(text);
    gtk_box_pack_start(GTK_BOX(row), label, FALSE, FALSE, 0);
    return label;
}

GtkWidget* Pack(GtkWidget* row, GtkWidget* w)
{
    gtk_box_pack_start(GTK_BOX(row), w, FALSE, FALSE, 0);
    return w;
}

// Three spins into row, sep between them.
void ThreeSpins(GtkWidget* row, GtkWidget** spins, const SpinRule& a, const SpinRule& b, const SpinRule& c,
                const char* sep)
{
    spins[0] = Pack(row, Spin(a));
    Text(row, sep);
    spins[1] = Pack(row, Spin(b));
    Text(row, sep);
    spins[2] = Pack(row, Spin(c));
}

void DateSpins(GtkWidget* row, GtkWidget** spins)
{
    ThreeSpins(row, spins, kYearSpin, kMonthSpin, kDaySpin, "-");
}

void TimeSpins(GtkWidget* row, GtkWidget** spins)
{
    ThreeSpins(row, spins, kHourSpin, kMinuteSpin, kMinuteSpin, ":");
}

GtkWidget* Button(GtkWidget* row, const char* caption, void (*handler)(GtkWidget*), GtkWidget* window)
{
    GtkWidget* button = CreateButton(caption);
    g_signal_connect_swapped(button, "clicked", G_CALLBACK(handler), window);
    gtk_box_pack_end(GTK_BOX(row), button, FALSE, FALSE, 0);
    return button;
}

// Radio handlers run for the radio that became active (GTK emits "toggled" for the one left too).
template <void (*Handler)(GtkWidget*)>
void OnRadio(GtkToggleButton* radio, gpointer)
{
    if (gtk_toggle_button_get_active(radio))
        Handler(GTK_WIDGET(radio));
}

void OnUnitChanged(GtkComboBox* combo, gpointer)
{
    everytype(GTK_WIDGET(combo), nullptr);
}

// ---- the list --------------------------------------------------------------------------------------

void ForgetListWidgets(GtkWidget*, gpointer)
{
    TaskSch.pTaskList = TaskSch.pDetailsBtn = nullptr;
    TaskSch.bKeptValid = 0;
}

bool HasSelectedTask()
{
    return TaskSch.pTaskList && ColumnListSelectedRow(TaskSch.pTaskList) >= 0 && TaskSch.bKeptValid;
}

void ShowTask(GtkWidget* list, const _VTN_TASK_INFO& t)
{
    char name[sizeof t.name + 1], creator[sizeof t.creator + 1], created[32], modified[32];
    CopyField(name, sizeof name, t.name, sizeof t.name);
    CopyField(creator, sizeof creator, t.creator, sizeof t.creator);
    TimeRecToStr(t.created, created, sizeof created);
    TimeRecToStr(t.modified, modified, sizeof modified);
    const char* row[] = {name, TaskTypeText(t.kind), created, modified, creator};
    ColumnListAppend(list, row);
}

// ---- the wizard's pages --------------------------------------------------------------------------

void ForgetPage1Widgets(GtkWidget*, gpointer)
{
    TaskSch.pArrayCombo = nullptr;
}

void ForgetPage2Widgets(GtkWidget*, gpointer)
{
    TaskSch.pTaskNameEntry = TaskSch.pTimeLabel = TaskSch.pArrayLabel = TaskSch.pTypeLabel = nullptr;
    for (GtkWidget*& w : TaskSch.pOnce)
        w = nullptr;
    for (GtkWidget*& w : TaskSch.pRunTime)
        w = nullptr;
    for (GtkWidget*& w : TaskSch.pStartDate)
        w = nullptr;
    for (GtkWidget*& w : TaskSch.pEndDate)
        w = nullptr;
    TaskSch.pInterval = TaskSch.pUnitCombo = TaskSch.pEveryRow = TaskSch.pWeekCombo = TaskSch.pWeekRow = nullptr;
    TaskSch.pMonthDay = TaskSch.pMonthDayRow = TaskSch.pOnceRadio = TaskSch.pEveryRadio = nullptr;
    TaskSch.pDurationBox = TaskSch.pEndRadio = TaskSch.pNoEndRadio = TaskSch.pEnableCheck = nullptr;
}

// The arrays of the task type into page 1's combo, the first one chosen; one empty choice when
// there is none.
void FillArrayCombo(bool notNeedRebuild)
{
    GtkWidget* combo = TaskSch.pArrayCombo;
    if (combo == nullptr)
        return;
    gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(combo));
    GList* names = CMainWindow::LoadArrayCom(nullptr, notNeedRebuild, false);
    for (GList* l = names; l; l = l->next) {
        const char* name = static_cast<char*>(l->data);
        gchar* shown = g_utf8_make_valid(name, -1);
        gtk_combo_box_text_append(GTK_COMBO_BOX_TEXT(combo), name, shown);
        g_free(shown);
    }
    if (names == nullptr)
        gtk_combo_box_text_append(GTK_COMBO_BOX_TEXT(combo), "", "");
    FreeArrayCom(names);
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), 0);
}

// Page 1; true after "Next>>" with an array chosen.
bool RunTaskWizard1()
{
    GtkWidget* window = NewDialogWindow(kWizardTitle, 400, 300, 5, false);
    g_signal_connect(window, "destroy", G_CALLBACK(ForgetPage1Widgets), nullptr);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
    gtk_container_add(GTK_CONTAINER(window), box);
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_box_pack_start(GTK_BOX(box), frame, TRUE, TRUE, 0);
    GtkWidget* inner = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
    gtk_container_set_border_width(GTK_CONTAINER(inner), 10);
    gtk_container_add(GTK_CONTAINER(frame), inner);

    GtkWidget* caption = Text(Row(inner), "Please select task type:");
    gtk_label_set_xalign(GTK_LABEL(caption), 0.0f);
    GtkWidget* types = Row(inner, 30);
    gtk_widget_set_margin_start(types, 20);
    GtkWidget* verify = Pack(types, gtk_radio_button_new_with_label(nullptr, "Verify"));
    GtkWidget* rebuild = Pack(types, gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(verify), "Rebuild"));
    Text(Row(inner), "Please select a array that you want to verify or rebuild");
    GtkWidget* arrays = Row(inner, 10);
    Text(arrays, "Available arrays:");
    TaskSch.pArrayCombo = gtk_combo_box_text_new();
    gtk_box_pack_start(GTK_BOX(arrays), TaskSch.pArrayCombo, TRUE, TRUE, 0);

    gtk_box_pack_start(GTK_BOX(box), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL), FALSE, FALSE, 0);
    GtkWidget* buttons = Row(box, 5);
    Button(buttons, "  Cancel  ", no_mselect, window);
    GtkWidget* next = Button(buttons, "Next>>", yes_mselect, window);

    // The kept type is set before the handlers listen; then its handler runs once.
    const bool isRebuild = TaskSch.nTaskType == 1;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(isRebuild ? rebuild : verify), TRUE);
    g_signal_connect(verify, "toggled", G_CALLBACK(OnRadio<tasktype0>), nullptr);
    g_signal_connect(rebuild, "toggled", G_CALLBACK(OnRadio<tasktype1>), nullptr);
    if (isRebuild)
        tasktype1(rebuild);
    else
        tasktype0(verify);
    // Back from page 2: the array chosen before stays chosen.
    if (TaskSch.szArrayName[0])
        gtk_combo_box_set_active_id(GTK_COMBO_BOX(TaskSch.pArrayCombo), TaskSch.szArrayName);

    gtk_widget_set_can_default(next, TRUE);
    gtk_widget_grab_default(next);
    gtk_widget_show_all(window);
    return RunDialog(window, [] {
               const char* id = gtk_combo_box_get_active_id(GTK_COMBO_BOX(TaskSch.pArrayCombo));
               CopyText(TaskSch.szArrayName, id ? id : "");
               if (TaskSch.szArrayName[0] == 0) {
                   MessageBox("Please select an array!", "Warning", false);
                   return false;
               }
               return true;
           }) == 1;
}

// The spins of "Occurs once on" as a time record.
_TIME_RECORD OnceRow()
{
    _TIME_RECORD t{};
    bool changed = false;
    ReadFields(TaskSch.pOnce, 6, kYear, &t, t, &changed);
    return t;
}

// Page 2's widgets into TaskSch (not yet filled).
GtkWidget* BuildPage2(bool isNew)
{
    GtkWidget* window = NewDialogWindow(isNew ? kWizardTitle : "Task Schedule", 450, 380, 5, false);
    g_signal_connect(window, "destroy", G_CALLBACK(ForgetPage2Widgets), nullptr);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_container_add(GTK_CONTAINER(window), box);
    for (GtkWidget** label : {&TaskSch.pTimeLabel, &TaskSch.pArrayLabel, &TaskSch.pTypeLabel}) {
        *label = Text(Row(box), "");
        gtk_label_set_xalign(GTK_LABEL(*label), 0.0f);
    }
    gtk_box_pack_start(GTK_BOX(box), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL), FALSE, FALSE, 2);

    GtkWidget* nameRow = Row(box, 10);
    Text(nameRow, "Task Name:");
    TaskSch.pTaskNameEntry = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(TaskSch.pTaskNameEntry), kNameChars);
    gtk_box_pack_start(GTK_BOX(nameRow), TaskSch.pTaskNameEntry, TRUE, TRUE, 0);

    GtkWidget* frequency = gtk_frame_new("Frequency");
    gtk_box_pack_start(GTK_BOX(box), frequency, FALSE, FALSE, 0);
    GtkWidget* rows = gtk_box_new(GTK_ORIENTATION_VERTICAL, 3);
    gtk_container_set_border_width(GTK_CONTAINER(rows), 5);
    gtk_container_add(GTK_CONTAINER(frequency), rows);
    GtkWidget* once = Row(rows);
    TaskSch.pOnceRadio = Pack(once, gtk_radio_button_new_with_label(nullptr, "Occurs once on"));
    DateSpins(once, TaskSch.pOnce);
    Text(once, "at");
    TimeSpins(once, TaskSch.pOnce + 3);
    TaskSch.pEveryRow = Row(rows);
    TaskSch.pEveryRadio = Pack(
        TaskSch.pEveryRow, gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(TaskSch.pOnceRadio), "Occurs every"));
    TaskSch.pInterval = Pack(TaskSch.pEveryRow, Spin(kIntervalSpin));
    GtkWidget* unitRow = Row(rows, 6);
    gtk_widget_set_margin_start(unitRow, 24);
    TaskSch.pUnitCombo = Pack(unitRow, gtk_combo_box_text_new());
    for (const char* unit : kUnits)
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(TaskSch.pUnitCombo), unit);
    gtk_combo_box_set_active(GTK_COMBO_BOX(TaskSch.pUnitCombo), 0);
    // Hidden until the unit asks for them: their children are shown, the rows are not.
    TaskSch.pWeekRow = Pack(unitRow, gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4));
    gtk_widget_show(Text(TaskSch.pWeekRow, "on"));
    TaskSch.pWeekCombo = Pack(TaskSch.pWeekRow, gtk_combo_box_text_new());
    for (const char* day : kWeekdays)
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(TaskSch.pWeekCombo), day);
    gtk_combo_box_set_active(GTK_COMBO_BOX(TaskSch.pWeekCombo), 0);
    gtk_widget_show(TaskSch.pWeekCombo);
    TaskSch.pMonthDayRow = Pack(unitRow, gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4));
    gtk_widget_show(Text(TaskSch.pMonthDayRow, "on"));
    TaskSch.pMonthDay = Pack(TaskSch.pMonthDayRow, Spin(kDaySpin));
    gtk_widget_show(TaskSch.pMonthDay);
    gtk_widget_set_no_show_all(TaskSch.pWeekRow, TRUE);
    gtk_widget_set_no_show_all(TaskSch.pMonthDayRow, TRUE);
    g_signal_connect(TaskSch.pUnitCombo, "changed", G_CALLBACK(OnUnitChanged), nullptr);
    GtkWidget* runRow = Row(rows);
    gtk_widget_set_margin_start(runRow, 24);
    Text(runRow, "at");
    TimeSpins(runRow, TaskSch.pRunTime);

    GtkWidget* duration = gtk_frame_new("Duration");
    gtk_box_pack_start(GTK_BOX(box), duration, FALSE, FALSE, 0);
    TaskSch.pDurationBox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 3);
    gtk_container_set_border_width(GTK_CONTAINER(TaskSch.pDurationBox), 5);
    gtk_container_add(GTK_CONTAINER(duration), TaskSch.pDurationBox);
    GtkWidget* startRow = Row(TaskSch.pDurationBox);
    GtkWidget* startCaption = Text(startRow, "Start Date:");
    DateSpins(startRow, TaskSch.pStartDate);
    GtkWidget* endRow = Row(TaskSch.pDurationBox);
    TaskSch.pEndRadio = Pack(endRow, gtk_radio_button_new_with_label(nullptr, "End Date"));
    DateSpins(endRow, TaskSch.pEndDate);
    // The start and end dates line up.
    GtkSizeGroup* group = gtk_size_group_new(GTK_SIZE_GROUP_HORIZONTAL);
    gtk_size_group_add_widget(group, startCaption);
    gtk_size_group_add_widget(group, TaskSch.pEndRadio);
    g_object_unref(group);
    gtk_label_set_xalign(GTK_LABEL(startCaption), 0.0f);
    TaskSch.pNoEndRadio = Pack(Row(TaskSch.pDurationBox),
                               gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(TaskSch.pEndRadio), "No end date"));

    TaskSch.pEnableCheck = Pack(Row(box), gtk_check_button_new_with_label("Enable the task"));
    gtk_box_pack_start(GTK_BOX(box), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL), FALSE, FALSE, 2);
    GtkWidget* buttons = Row(box, 5);
    Button(buttons, "  Cancel  ", no_mselect, window);
    GtkWidget* finish = Button(buttons, isNew ? "Finish" : "    OK    ", TaskWizard2Finish, window);
    if (isNew)
        Button(buttons, "<<Back", TaskWizard2Back, window);
    gtk_widget_set_can_default(finish, TRUE);
    gtk_widget_grab_default(finish);
    return window;
}

// The radios of the choices made active, their handlers run once, and only then listening.
void ConnectPage2Handlers()
{
    GtkWidget* frequency = TaskSch.nFrequency == 0 ? TaskSch.pOnceRadio : TaskSch.pEveryRadio;
    GtkWidget* duration = TaskSch.nDuration == 0 ? TaskSch.pEndRadio : TaskSch.pNoEndRadio;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(frequency), TRUE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(duration), TRUE);
    g_signal_connect(TaskSch.pOnceRadio, "toggled", G_CALLBACK(OnRadio<frequencytype0>), nullptr);
    g_signal_connect(TaskSch.pEveryRadio, "toggled", G_CALLBACK(OnRadio<frequencytype1>), nullptr);
    g_signal_connect(TaskSch.pEndRadio, "toggled", G_CALLBACK(OnRadio<durationtype0>), nullptr);
    g_signal_connect(TaskSch.pNoEndRadio, "toggled", G_CALLBACK(OnRadio<durationtype1>), nullptr);
    if (TaskSch.nFrequency == 0)
        frequencytype0(frequency);
    else
        frequencytype1(frequency);
    if (TaskSch.nDuration == 0)
        durationtype0(duration);
    else
        durationtype1(duration);
}

}  // namespace

const char* TaskTypeText(uint8_t kind)
{
    return (kind & VTN_TASK_REBUILD) ? "Rebuild" : (kind & VTN_TASK_VERIFY) ? "Verify" : "";
}

// ---- the Task Management window ----------------------------------------------------------------------

void TaskManagement()
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || handle < 0 || TaskSch.pTaskList)
        return;
    GtkWidget* window = NewDialogWindow("Task Management", 480, 320, 5, false);
    g_signal_connect(window, "destroy", G_CALLBACK(ForgetListWidgets), nullptr);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    win->CreateToolBar(box, TaskManageToolbar, VTN_TASKMANAGE_ROWS);
    gtk_box_pack_start(GTK_BOX(box), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL), FALSE, FALSE, 0);

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
    gtk_container_set_border_width(GTK_CONTAINER(row), 5);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
    Text(row, "Task schedule list");
    GtkWidget* exit = CreateButton("Exit");
    g_signal_connect_swapped(exit, "clicked", G_CALLBACK(yes_mselect), window);
    gtk_box_pack_end(GTK_BOX(row), exit, FALSE, FALSE, 0);
    TaskSch.pDetailsBtn = CreateButton("Details");
    g_signal_connect(TaskSch.pDetailsBtn, "clicked", G_CALLBACK(OnClicked), reinterpret_cast<gpointer>(ModifyTask));
    gtk_box_pack_end(GTK_BOX(row), TaskSch.pDetailsBtn, FALSE, FALSE, 0);

    GtkWidget* list = NewColumnList(5, TaskManListTitles);
    // No row is selected after a reload.
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(list)), GTK_SELECTION_SINGLE);
    // Each column at least its width, wider where its title or a text needs it; a scroll bar
    // reaches what the window cannot show.
    for (int i = 0; i < 5; ++i) {
        ColumnListSetMinWidth(list, i, kColumnWidths[i]);
        ColumnListTextOnly(list, i);
    }
    ColumnListOnSelectRow(list, TaskSelect, nullptr);
    GtkWidget* scrolled = ScrolledColumnList(list);
    // The list takes the height the window leaves, so the window keeps its size.
    gtk_widget_set_size_request(scrolled, 220, -1);
    gtk_box_pack_start(GTK_BOX(box), scrolled, TRUE, TRUE, 0);
    TaskSch.pTaskList = list;

    // A list that takes the focus selects its first row: the focus starts on Exit instead.
    gtk_widget_grab_focus(exit);
    gtk_widget_show_all(window);
    LoadTaskData();
    // Every change was sent when it was made: nothing is left to save.
    RunDialog(window);
}

void LoadTaskData()
{
    GtkWidget* list = TaskSch.pTaskList;
    if (list == nullptr)
        return;
    ColumnListBlockSelect(list, true);
    ColumnListClear(list);
    _VTN_TASK_INFO t{};
    for (int i = 0; i < kMaxTasks && handle >= 0 && cs_vtn_enum_tasks(handle, &t, i) == 0; ++i)
        ShowTask(list, t);
    ColumnListBlockSelect(list, false);
    TaskSch.bKeptValid = 0;
    FreshTaskClist();
}

void FreshTaskClist()
{
    const bool on = HasSelectedTask();
    for (GtkWidget* w : {TaskManageToolbar[1].button, TaskManageToolbar[2].button, TaskSch.pDetailsBtn})
        SetSensitive(w, on);
}

void TaskSelect(GtkWidget*, int, int, GdkEventButton*, void*)
{
    GtkWidget* list = TaskSch.pTaskList;
    if (list == nullptr)
        return;
    // The row is the task enumerated at its index; it still has to show that task.
    const int row = ColumnListSelectedRow(list);
    _VTN_TASK_INFO t{};
    bool found = false;
    if (row >= 0 && handle >= 0 && cs_vtn_enum_tasks(handle, &t, row) == 0) {
        char name[sizeof t.name + 1], created[32];
        CopyField(name, sizeof name, t.name, sizeof t.name);
        TimeRecToStr(t.created, created, sizeof created);
        found = ColumnListText(list, row, 0) == name && ColumnListText(list, row, 2) == created;
    }
    if (found) {
        TaskSch.KeptTask = t;
        TaskSch.bKeptValid = 1;
    } else {
        TaskSch.bKeptValid = 0;
        if (row >= 0) {
            ColumnListUnselectQuietly(list);
        }
    }
    FreshTaskClist();
}

void AddNewTask()
{
    if (GetMainWindow() == nullptr || handle < 0)
        return;
    GList* names = CMainWindow::LoadArrayCom(nullptr, true, true);
    const bool none = names == nullptr;
    FreeArrayCom(names);
    if (none) {
        MessageBox(kNoArray, "Confirmation", false);
        return;
    }
    TaskSch.nTaskType = 0;
    TaskSch.szArrayName[0] = 0;
    AddNewTaskWizard1();
}

void ModifyTask()
{
    if (GetMainWindow() == nullptr || handle < 0 || !HasSelectedTask())
        return;
    AddNewTaskWizard2(false);
}

void DeleteTask()
{
    if (GetMainWindow() == nullptr || handle < 0 || !HasSelectedTask())
        return;
    if (MessageBox("Are you sure to delete the task?", "Confirmation", true) != 1 || !HasSelectedTask())
        return;
    _VTN_TASK_INFO t = TaskSch.KeptTask;
    // A refused delete shows in the reloaded list, where the task is still there.
    cs_vtn_set_task(handle, &t, VTN_TASK_ACTION_DELETE);
    LoadTaskData();
}

// ---- the wizard ------------------------------------------------------------------------------------------

void AddNewTaskWizard1()
{
    CMainWindow* win = GetMainWindow();
    while (win && GetMainWindow() == win && handle >= 0 && RunTaskWizard1()) {
        TaskSch.nWizardChoice = 1;
        AddNewTaskWizard2(true);
        if (TaskSch.nWizardChoice != 0)
            return;
    }
}

GtkWidget* BuildTaskWizard2(bool isNew)
{
    GtkWidget* window = BuildPage2(isNew);
    if (isNew)
        SetNewTaskData();
    else
        SetTaskData();
    const char* type = TaskSch.nTaskType == 1 ? "Rebuild" : "Verify";
    SetLabel(TaskSch.pArrayLabel, "Array Name: %s", TaskSch.szArrayName);
    SetLabel(TaskSch.pTypeLabel, "Task Type: %s", type);
    if (isNew)
        FormatText(TaskSch.szTaskName, sizeof TaskSch.szTaskName, "%s %s", type, TaskSch.szArrayName);
    SetEntryText(TaskSch.pTaskNameEntry, TaskSch.szTaskName);
    ConnectPage2Handlers();
    return window;
}

void AddNewTaskWizard2(bool isNew)
{
    if (GetMainWindow() == nullptr || handle < 0)
        return;
    GtkWidget* window = BuildTaskWizard2(isNew);
    gtk_widget_show_all(window);
    RunDialog(window, [isNew] {
        if (isNew && TaskSch.nWizardChoice == 0)
            return true;
        if (!TaskDatesValid())
            return false;
        if (isNew)
            AddNewTaskData();
        else
            ModTaskData();
        return true;
    });
}

void tasktype0(GtkWidget*)
{
    TaskSch.nTaskType = 0;
    FillArrayCombo(true);
}

void tasktype1(GtkWidget*)
{
    TaskSch.nTaskType = 1;
    FillArrayCombo(false);
}

void EnableFrequOntime(bool on)
{
    for (GtkWidget* w : TaskSch.pOnce)
        SetSensitive(w, on);
}

void EnableFrequEvery(bool on)
{
    for (GtkWidget* w : {TaskSch.pInterval, TaskSch.pUnitCombo, TaskSch.pWeekCombo, TaskSch.pMonthDay})
        SetSensitive(w, on);
    for (GtkWidget* w : TaskSch.pRunTime)
        SetSensitive(w, on);
}

void EnableDuraEndDate(bool on)
{
    for (GtkWidget* w : TaskSch.pEndDate)
        SetSensitive(w, on);
}

namespace {

// 0 once, 1 every: the widgets of the other choice are off. A rebuild task can only be scheduled
// once.
void ChooseFrequency(uint32_t choice)
{
    EnableFrequOntime(choice == 0);
    EnableFrequEvery(choice == 1);
    SetSensitive(TaskSch.pDurationBox, choice == 1);
    TaskSch.nFrequency = choice;
    SetSensitive(TaskSch.pEveryRow, TaskSch.nTaskType != 1);
}

}  // namespace

void frequencytype0(GtkWidget*)
{
    ChooseFrequency(0);
}

void frequencytype1(GtkWidget*)
{
    ChooseFrequency(1);
}

void durationtype0(GtkWidget*)
{
    EnableDuraEndDate(true);
    TaskSch.nDuration = 0;
}

void durationtype1(GtkWidget*)
{
    EnableDuraEndDate(false);
    TaskSch.nDuration = 1;
}

void everytype(GtkWidget* unit, GtkWidget*)
{
    if (unit == nullptr || TaskSch.pWeekRow == nullptr || TaskSch.pMonthDayRow == nullptr)
        return;
    const std::string text = ComboActiveText(unit);
    if (text == kUnits[0]) {
        gtk_widget_hide(TaskSch.pWeekRow);
        gtk_widget_hide(TaskSch.pMonthDayRow);
    } else if (text == kUnits[1]) {
        gtk_widget_show(TaskSch.pWeekRow);
        gtk_widget_hide(TaskSch.pMonthDayRow);
    } else if (text == kUnits[2]) {
        gtk_widget_hide(TaskSch.pWeekRow);
        gtk_widget_show(TaskSch.pMonthDayRow);
    }
}

void WeekToint(char* text, int* day, bool toNumber, size_t size)
{
    if (text == nullptr || day == nullptr)
        return;
    if (!toNumber) {
        CopyText(text, size, *day >= 0 && *day <= 6 ? kWeekdays[*day] : "");
        return;
    }
    for (int i = 0; i < 7; ++i)
        if (strcmp(text, kWeekdays[i]) == 0) {
            *day = i;
            return;
        }
}

// ---- page 2 and the record ----------------------------------------------------------------------------

namespace {

// The first label and the server's time that both fills start from.
_TIME_RECORD FillTimeLabel()
{
    const _TIME_RECORD now = ServerNow();
    char text[32];
    TimeRecToStr(now, text, sizeof text);
    SetLabel(TaskSch.pTimeLabel, "Connected System's Current Date-time: %s", text);
    return now;
}

}  // namespace

void SetNewTaskData()
{
    const _TIME_RECORD now = FillTimeLabel();
    TaskSch.nFrequency = 0;
    ShowFields(TaskSch.pOnce, 6, kYear, now);
    ShowFields(TaskSch.pStartDate, 3, kYear, now);
    ShowFields(TaskSch.pRunTime, 3, kHour, now);
    ShowFields(TaskSch.pEndDate, 3, kYear, now);
    TaskSch.nDuration = 1;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(TaskSch.pEnableCheck), TRUE);
    // Untouched, the once row follows the server's clock up to Finish.
    TaskSch.OnceShown = OnceRow();
}

void SetTaskData()
{
    const _TIME_RECORD now = FillTimeLabel();
    const _VTN_TASK_INFO& t = TaskSch.KeptTask;
    CopyField(TaskSch.szArrayName, sizeof TaskSch.szArrayName, t.arrayName, sizeof t.arrayName);
    CopyField(TaskSch.szTaskName, sizeof TaskSch.szTaskName, t.name, sizeof t.name);
    TaskSch.nTaskType = (t.kind & VTN_TASK_REBUILD) ? 1 : 0;
    if (t.kind & VTN_TASK_ONCE) {
        ShowFields(TaskSch.pOnce, 6, kYear, t.start);
        ShowFields(TaskSch.pStartDate, 3, kYear, now);
        ShowFields(TaskSch.pRunTime, 3, kHour, now);
        ShowFields(TaskSch.pEndDate, 3, kYear, now);
        TaskSch.nFrequency = 0;
        // Made repeating in this dialog, the task gets no end date unless one is chosen.
        TaskSch.nDuration = 1;
    } else {
        ShowFields(TaskSch.pStartDate, 3, kYear, t.start);
        ShowFields(TaskSch.pRunTime, 3, kHour, t.start);
        ShowFields(TaskSch.pOnce, 6, kYear, now);
        if (TimeRecordValue(t.end) != kNoEnd) {
            ShowFields(TaskSch.pEndDate, 3, kYear, t.end);
            TaskSch.nDuration = 0;
        } else {
            ShowFields(TaskSch.pEndDate, 3, kYear, now);
            TaskSch.nDuration = 1;
        }
        if (t.kind & VTN_TASK_DAYS) {
            gtk_combo_box_set_active(GTK_COMBO_BOX(TaskSch.pUnitCombo), 0);  // kUnits order
            SetSpin(TaskSch.pInterval, t.schedule.days);
        }
        if (t.kind & VTN_TASK_WEEKS) {
            gtk_combo_box_set_active(GTK_COMBO_BOX(TaskSch.pUnitCombo), 1);
            // kWeekdays order; a day out of range leaves nothing active.
            const int day = t.schedule.period.day;
            gtk_combo_box_set_active(GTK_COMBO_BOX(TaskSch.pWeekCombo), day <= 6 ? day : -1);
            SetSpin(TaskSch.pInterval, t.schedule.period.every);
        }
        if (t.kind & VTN_TASK_MONTHS) {
            gtk_combo_box_set_active(GTK_COMBO_BOX(TaskSch.pUnitCombo), 2);
            SetSpin(TaskSch.pMonthDay, t.schedule.period.day);
            SetSpin(TaskSch.pInterval, t.schedule.period.every);
        }
        TaskSch.nFrequency = 1;
    }
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(TaskSch.pEnableCheck), (t.kind & VTN_TASK_ENABLED) != 0);
}

bool GetTaskData(_VTN_TASK_INFO* task, bool isNew)
{
    if (task == nullptr || TaskSch.pTaskNameEntry == nullptr)
        return false;
    const _VTN_TASK_INFO& kept = TaskSch.KeptTask;
    bool changed = false;
    task->kind = 0;
    PutText(task->arrayName, sizeof task->arrayName, TaskSch.szArrayName);
    task->arrayId = GetRAIDID(TaskSch.szArrayName);

    const char* typed = gtk_entry_get_text(GTK_ENTRY(TaskSch.pTaskNameEntry));
    if (typed != ShownName(task->name, sizeof task->name)) {
        memset(task->name, 0, sizeof task->name);
        CopyUtf8Text(task->name, sizeof task->name, typed);
        changed = true;
    }
    task->kind |= TaskSch.nTaskType == 1 ? VTN_TASK_REBUILD : VTN_TASK_VERIFY;

    uint8_t frequency = 0;
    if (TaskSch.nFrequency == 1) {
        ReadFields(TaskSch.pStartDate, 3, kYear, &task->start, kept.start, &changed);
        ReadFields(TaskSch.pRunTime, 3, kHour, &task->start, kept.start, &changed);
        if (TaskSch.nDuration == 1) {
            if (TimeRecordValue(task->end) != kNoEnd) {
                task->end = TimeRecordFromValue(kNoEnd);
                changed = true;
            }
        } else {
            // An end date chosen in place of none ends at 00:00:00 of its day.
            if (TimeRecordValue(task->end) == kNoEnd) {
                task->end = TimeRecordFromValue(0);
                changed = true;
            }
            ReadFields(TaskSch.pEndDate, 3, kYear, &task->end, kept.end, &changed);
        }
        const std::string unit = ComboActiveText(TaskSch.pUnitCombo);
        const int n = SpinValue(TaskSch.pInterval);
        if (unit == kUnits[0]) {
            task->schedule.days = static_cast<uint16_t>(n);
            changed |= task->schedule.days != kept.schedule.days;
            frequency = VTN_TASK_DAYS;
        } else if (unit == kUnits[1] || unit == kUnits[2]) {
            int day = kept.schedule.period.day;
            if (unit == kUnits[1]) {
                std::string name = ComboActiveText(TaskSch.pWeekCombo);
                WeekToint(name.data(), &day, true, name.size() + 1);
                frequency = VTN_TASK_WEEKS;
            } else {
                day = SpinValue(TaskSch.pMonthDay);
                frequency = VTN_TASK_MONTHS;
            }
            task->schedule.period.day = static_cast<uint8_t>(day);
            task->schedule.period.every = static_cast<uint8_t>(n);
            changed |= task->schedule.period.day != kept.schedule.period.day ||
                       task->schedule.period.every != kept.schedule.period.every;
        }
    } else {
        ReadFields(TaskSch.pOnce, 6, kYear, &task->start, kept.start, &changed);
        frequency = VTN_TASK_ONCE;
    }
    task->kind |= frequency;
    if (frequency && !(kept.kind & frequency))
        changed = true;

    const bool enabled = ToggleActive(TaskSch.pEnableCheck);
    if (enabled)
        task->kind |= VTN_TASK_ENABLED;
    if (enabled != ((kept.kind & VTN_TASK_ENABLED) != 0))
        changed = true;
    if (isNew)
        PutText(task->creator, sizeof task->creator, NewSys.szUserName);
    return changed;
}

bool TaskDatesValid()
{
    if (TaskSch.nFrequency != 1 || TaskSch.nDuration != 0)
        return true;
    auto date = [](GtkWidget* const* spins) {
        return SpinValue(spins[0]) * 10000 + SpinValue(spins[1]) * 100 + SpinValue(spins[2]);
    };
    if (date(TaskSch.pEndDate) >= date(TaskSch.pStartDate))
        return true;
    MessageBox(kEndBeforeStart, "Warning", false);
    return false;
}

void AddNewTaskData()
{
    memset(&TaskSch.KeptTask, 0, sizeof TaskSch.KeptTask);
    TaskSch.bKeptValid = 0;
    _VTN_TASK_INFO t{};
    GetTaskData(&t, true);
    // A once row left as it was filled means "now": the task is due when it is sent.
    if ((t.kind & VTN_TASK_ONCE) && TimeRecordValue(t.start) == TimeRecordValue(TaskSch.OnceShown))
        t.start = ServerNow();
    // A refused add shows in the reloaded list, where the task is missing.
    cs_vtn_set_task(handle, &t, VTN_TASK_ACTION_ADD);
    LoadTaskData();
}

void ModTaskData()
{
    _VTN_TASK_INFO t = TaskSch.KeptTask;
    if (GetTaskData(&t, false) && MessageBox("Save task schedule change?", "Confirmation", true) == 1 && handle >= 0)
        // A refused change shows in the reloaded list, where the task is as it was.
        cs_vtn_set_task(handle, &t, VTN_TASK_ACTION_MODIFY);
    LoadTaskData();
}

void TaskWizard2Back(GtkWidget* window)
{
    TaskSch.nWizardChoice = 0;
    yes_mselect(window);
}

void TaskWizard2Finish(GtkWidget* window)
{
    TaskSch.nWizardChoice = 1;
    yes_mselect(window);
}
