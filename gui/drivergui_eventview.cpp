// Handlers of the Event View form: the severity filter and the sorts by a click on a column title.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "drivergui.h"
#include "drivergui_list.h"
#include "paths.h"
#include "signfunc.h"

namespace {

// The list's own sort state, kept on the list: column (0 at first) and direction (ascending).
const char* const kSortColumnKey = "vtn-sort-column";
const char* const kSortDescendingKey = "vtn-sort-descending";

int SortColumn(GtkWidget* list)
{
    return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(list), kSortColumnKey));
}

bool SortDescending(GtkWidget* list)
{
    return g_object_get_data(G_OBJECT(list), kSortDescendingKey) != nullptr;
}

void SetSortDescending(GtkWidget* list, bool descending)
{
    g_object_set_data(G_OBJECT(list), kSortDescendingKey, descending ? GINT_TO_POINTER(1) : nullptr);
}

// Sorts the rows once, stably, by the texts of column with strcmp in the list's direction;
// the store itself keeps no sort, so rows appended later go last.
void SortByColumn(GtkWidget* list, int column)
{
    g_object_set_data(G_OBJECT(list), kSortColumnKey, GINT_TO_POINTER(column));
    const int rows = ColumnListRows(list);
    std::vector<std::string> keys(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r)
        keys[static_cast<size_t>(r)] = ColumnListText(list, r, column);
    std::vector<int> order(static_cast<size_t>(rows));
    std::iota(order.begin(), order.end(), 0);
    const bool descending = SortDescending(list);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int c = strcmp(keys[static_cast<size_t>(a)].c_str(), keys[static_cast<size_t>(b)].c_str());
        return descending ? c > 0 : c < 0;
    });
    if (rows > 1)
        gtk_list_store_reorder(GTK_LIST_STORE(gtk_tree_view_get_model(GTK_TREE_VIEW(list))), order.data());
}

void Toggle(GtkWidget* button, uint32_t bit)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr)
        return;
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button)))
        win->nLogMask |= bit;
    else
        win->nLogMask &= ~bit;
    FilterLog();
}

}  // namespace

void log_toggle_regular(GtkWidget* button)
{
    Toggle(button, 1);
}

void log_toggle_warning(GtkWidget* button)
{
    Toggle(button, 2);
}

void log_toggle_critical(GtkWidget* button)
{
    Toggle(button, 4);
}

void log_sort_type()
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || win->pLogList == nullptr)
        return;
    ClearLogList();
    const std::vector<SLogLine> lines = ReadLocalLog();
    const char errorsFirst[] = {'E', 'W', 'I'};
    const char informationFirst[] = {'I', 'W', 'E'};
    const char* passes = win->bSortOrder == 0 ? errorsFirst : informationFirst;
    for (int pass = 0; pass < 3; ++pass)
        for (const SLogLine& l : lines)
            if (l.severity == passes[pass])
                AddToClist(l.severity, l.time.c_str(), l.text.c_str());
}

void log_sort_time()
{
    if (CMainWindow* win = GetMainWindow(); win && win->pLogList)
        SortByColumn(win->pLogList, 1);
}

void log_sort_desc()
{
    if (CMainWindow* win = GetMainWindow(); win && win->pLogList)
        SortByColumn(win->pLogList, 2);
}

void log_click_column(GtkWidget* list, int column, void*)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || list == nullptr)
        return;
    if (column != 0 && column == SortColumn(list))
        SetSortDescending(list, !SortDescending(list));
    if (column == 0)
        win->bSortOrder = win->bSortOrder == 1 ? 0 : 1;
    if (column == 0)
        log_sort_type();
    else if (column == 1)
        log_sort_time();
    else if (column == 2)
        log_sort_desc();
}
