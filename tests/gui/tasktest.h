// Helpers of the task window's tests: its rows as texts and the state of the buttons that act on
// the selected task. Header-only.
#pragma once
#include <string>
#include <vector>

#include "dialogs/signfunc1_task.h"
#include "drivergui_list.h"
#include "wizardtest.h"

// Each row as "Name|Type|Create date-time|Last modify date-time|Create manager".
inline std::vector<std::string> TaskRows()
{
    std::vector<std::string> out;
    GtkWidget* list = TaskSch.pTaskList;
    for (int r = 0; list && r < ColumnListRows(list); ++r) {
        std::string row;
        for (int c = 0; c < 5; ++c)
            row += (c ? "|" : "") + ColumnListText(list, r, c);
        out.push_back(row);
    }
    return out;
}

// Modify, Delete and Details as the user sees them: "1" sensitive, "0" not.
inline std::string TaskButtons()
{
    auto on = [](GtkWidget* w) { return w && gtk_widget_get_sensitive(w) ? "1" : "0"; };
    return std::string(on(TaskManageToolbar[1].button)) + on(TaskManageToolbar[2].button) + on(TaskSch.pDetailsBtn);
}
