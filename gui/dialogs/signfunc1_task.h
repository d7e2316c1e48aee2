// Scheduled tasks: the Task Management window with its list of the server's tasks, the two-page
// wizard that makes a verify or rebuild task, its second page as the dialog of an existing task,
// and the mapping between that page and the task record.
#pragma once
#include <cstddef>
#include <cstdint>
#include <gtk/gtk.h>

#include "global_task.h"

constexpr size_t VTN_TASK_TEXT_SIZE = 200;
// Room for the longest weekday name.
constexpr size_t VTN_WEEKDAY_TEXT_SIZE = 10;

// The state the task list and its dialogs share; the widgets of a window are null while it is closed.
struct _TASK_SCH {
    GtkWidget* pTaskList;
    uint32_t nTaskType;                    // 0 verify, 1 rebuild
    char szArrayName[VTN_TASK_TEXT_SIZE];  // as the array list shows it
    GtkWidget* pArrayCombo;                // page 1
    GtkWidget* pTaskNameEntry;
    char szTaskName[VTN_TASK_TEXT_SIZE];
    GtkWidget* pTimeLabel;                 // the connected system's date and time
    GtkWidget* pArrayLabel;
    GtkWidget* pTypeLabel;
    GtkWidget* pOnce[6];                   // year, month, day, hour, minute, second of "Occurs once on"
    GtkWidget* pInterval;                  // N of "Occurs every"
    GtkWidget* pUnitCombo;                 // "Day(s)", "Week(s)", "Month(s)"
    GtkWidget* pEveryRow;
    GtkWidget* pWeekCombo;
    GtkWidget* pWeekRow;
    GtkWidget* pMonthDay;
    GtkWidget* pMonthDayRow;
    GtkWidget* pRunTime[3];                // hour, minute, second
    uint32_t nFrequency;                   // 0 once, 1 every
    GtkWidget* pOnceRadio;
    GtkWidget* pEveryRadio;
    GtkWidget* pDurationBox;
    GtkWidget* pStartDate[3];              // year, month, day
    GtkWidget* pEndDate[3];
    uint32_t nDuration;                    // 0 end date, 1 no end date
    GtkWidget* pEndRadio;
    GtkWidget* pNoEndRadio;
    GtkWidget* pEnableCheck;
    GtkWidget* pDetailsBtn;
    _VTN_TASK_INFO KeptTask;               // the selected row's task; zero for a new one
    uint32_t nWizardChoice;                // 0 back, 1 finish
    uint8_t bKeptValid;                    // KeptTask is the task of the row selected now
    _TIME_RECORD OnceShown;                // the once row as a new task's page was filled
};
extern _TASK_SCH TaskSch;

// The task list.
void TaskManagement();
void LoadTaskData();
void FreshTaskClist();
void TaskSelect(GtkWidget* list, int row, int column, GdkEventButton* event, void* data);
void AddNewTask();
void ModifyTask();
void DeleteTask();
// The "Type" text of kind flags: "Rebuild", "Verify" or "".
const char* TaskTypeText(uint8_t kind);

// The wizard and the task dialog.
void AddNewTaskWizard1();
// Page 2 on a new task (wizard) or on the kept task (dialog). After "<<Back" the wizard choice is 0.
void AddNewTaskWizard2(bool isNew);
// Builds page 2, fills it and returns its window, not yet shown (the dialog runs it).
GtkWidget* BuildTaskWizard2(bool isNew);
void tasktype0(GtkWidget* radio);
void tasktype1(GtkWidget* radio);
void frequencytype0(GtkWidget* radio);
void frequencytype1(GtkWidget* radio);
void durationtype0(GtkWidget* radio);
void durationtype1(GtkWidget* radio);
void EnableFrequOntime(bool on);
void EnableFrequEvery(bool on);
void EnableDuraEndDate(bool on);
void everytype(GtkWidget* unit, GtkWidget* data);
// toNumber false: the name of *day (0 Sunday .. 6 Saturday) into text, "" outside that range.
// toNumber true: *day from an exact name; any other text leaves *day as it was.
void WeekToint(char* text, int* day, bool toNumber, size_t size = VTN_WEEKDAY_TEXT_SIZE);
void SetNewTaskData();
void SetTaskData();
// Writes page 2 into task (a copy of the kept task); true when anything differs from the kept task.
bool GetTaskData(_VTN_TASK_INFO* task, bool isNew);
// False (after a "Warning") when page 2 asks for an end date before its start.
bool TaskDatesValid();
void AddNewTaskData();
void ModTaskData();
void TaskWizard2Back(GtkWidget* window);
void TaskWizard2Finish(GtkWidget* window);
