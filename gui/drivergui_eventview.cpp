// Handlers of the Event View form: the severity filter and the sorts by a click on a column title.
#include "drivergui.h"
#include "drivergui_list.h"
#include "drivergui_loglist.h"
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
// the list keeps no sort, so rows appended later go last.
void SortByColumn(GtkWidget* list, int column)
{
    g_object_set_data(G_OBJECT(list), kSortColumnKey, GINT_TO_POINTER(column));
    LogListSort(list, column, SortDescending(list));
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
    // One read of the copy, then one pass per severity in file order.
    const SLogRows lines = ReadLocalLog();
    const char errorsFirst[] = {'E', 'W', 'I'};
    const char informationFirst[] = {'I', 'W', 'E'};
    const char* passes = win->bSortOrder == 0 ? errorsFirst : informationFirst;
    SLogRows rows;
    rows.bytes.reserve(lines.bytes.size());
    rows.rows.reserve(lines.Size());
    for (int pass = 0; pass < 3; ++pass)
        for (size_t r = 0; r < lines.Size(); ++r)
            if (lines.Severity(r) == passes[pass])
                rows.Add(lines.Severity(r), lines.Time(r), lines.Text(r));
    ShowLogRows(std::move(rows));
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
