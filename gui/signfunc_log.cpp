// The event log view: the local copy's lines, the rows of the event list, load, filter, clear and
// export.
#include <cstdlib>
#include <cstring>
#include <string>

#include "client.h"
#include "drivergui.h"
#include "drivergui_list.h"
#include "drivergui_loglist.h"
#include "drivergui_repair.h"
#include "fileio.h"
#include "locallog.h"
#include "paths.h"
#include "signfunc.h"
#include "textutil.h"

namespace {

void WriteField(FILE* file, const char* text)
{
    for (const char* p = text ? text : ""; *p; ++p)
        fputc(*p == '\n' || *p == '\r' ? ' ' : *p, file);
}

// The severity a row's column-0 word stands for.
char RowSeverity(const std::string& word)
{
    return word == "Warning" ? 'W' : word == "Critical" ? 'E' : 'I';
}

void OnFileResponse(GtkDialog* dialog, int response, gpointer)
{
    if (response == GTK_RESPONSE_ACCEPT)
        file_ok_sel(GTK_WIDGET(dialog), GTK_WIDGET(dialog));
    else
        gtk_widget_destroy(GTK_WIDGET(dialog));
}

void OnFileDestroy(GtkWidget* dialog, gpointer)
{
    if (CMainWindow* win = GetMainWindow(); win && win->pFileSel == dialog)
        win->pFileSel = nullptr;
}

// How often a long load lets the window draw and answer.
constexpr gint64 kLoadBreathUs = 100 * 1000;

}  // namespace

void ShowLogRows(SLogRows&& rows)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || win->pLogList == nullptr)
        return;
    win->nLogRows = static_cast<int>(rows.Size());
    LogListReplace(win->pLogList, std::move(rows));
    // A browse list selects its first row.
    if (win->nLogRows > 0)
        ColumnListSelectRow(win->pLogList, 0);
}

void SaveLogFile(FILE* file, char severity, const char* time, const char* text)
{
    if (file == nullptr)
        return;
    std::string line;
    FormatLogLine(&line, severity, time, text);
    fwrite(line.data(), 1, line.size(), file);
}

int LoadLogFile(FILE* file, char* severity, char* time, size_t timeSize, char* text, size_t textSize)
{
    if (file == nullptr)
        return 0;
    const int s = getc_unlocked(file);
    if (s == EOF)
        return 0;
    *severity = static_cast<char>(s);
    if (timeSize > 0)
        time[0] = 0;
    if (textSize > 0)
        text[0] = 0;
    // The TAB after the severity; a line that ends early leaves the rest empty.
    const int tab = s == '\n' ? '\n' : getc_unlocked(file);
    if (tab == '\n' || tab == EOF)
        return 1;
    if (ReadUntil(file, time, timeSize, '\t', true) == '\t')
        ReadUntil(file, text, textSize, EOF, true);
    return 1;
}

bool InFilter(char severity, const char*, const char*)
{
    CMainWindow* win = GetMainWindow();
    const uint32_t mask = win ? win->nLogMask : 0;
    switch (severity) {
    case 'I': return (mask & 1) != 0;
    case 'W': return (mask & 2) != 0;
    case 'E': return (mask & 4) != 0;
    default: return false;
    }
}

void LogTimeText(_TIME_RECORD t, char* buf, size_t size)
{
    FormatText(buf, size, "%02d/%02d/%d %02d:%02d:%02d", static_cast<int>(t.month), static_cast<int>(t.day),
               2000 + static_cast<int>(t.year), static_cast<int>(t.hour), static_cast<int>(t.minute),
               static_cast<int>(t.second));
}

void AddToClist(char severity, const char* time, const char* text)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || win->pLogList == nullptr)
        return;
    const int before = ColumnListRows(win->pLogList);
    LogListAppend(win->pLogList, severity, time, text);  // nothing for another severity
    if (ColumnListRows(win->pLogList) == before)
        return;
    ++win->nLogRows;
    // A browse list selects its first row.
    if (before == 0)
        ColumnListSelectRow(win->pLogList, 0);
}

void ClearLogList()
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || win->pLogList == nullptr)
        return;
    ColumnListClear(win->pLogList);
    win->nLogRows = 0;
}

SLogRows ReadLocalLog()
{
    SLogRows rows;
    // A copy that holds another content than this session's shows nothing.
    if (!LocalLogCurrent())
        return rows;
    FILE* file = fopen(VtnPath(kLocalLogFile).c_str(), "r");
    if (file == nullptr)
        return rows;
    char severity, time[VTN_LOG_TIME_SIZE], text[VTN_LOG_TEXT_SIZE];
    while (LoadLogFile(file, &severity, time, sizeof time, text, sizeof text))
        if (InFilter(severity, time, text))
            rows.Add(severity, time, text);
    fclose(file);
    return rows;
}

void FilterLog()
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || win->pLogList == nullptr)
        return;
    ShowLogRows(ReadLocalLog());
}

void LoadLog()
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || win->pLogList == nullptr || handle < 0)
        return;
    const SWindowStands stands(win);
    const int connected = stands.connection;

    // No event is both listed and pushed: the channel is off while the log is read.
    cs_vtn_enable_event_notify(connected, 0);
    SLogRows rows;
    long long leftOut = 0;
    gint64 breath = g_get_monotonic_time() + kLoadBreathUs;
    _VTN_LOG_EVENT event;
    for (int n = 0; stands() && cs_vtn_enum_event(connected, &event, n) == 0; ++n) {
        char when[VTN_LOG_TIME_SIZE];
        LogTimeText(event.time, when, sizeof when);
        event.text[sizeof event.text - 1] = 0;
        rows.Add(event.severity, when, event.text);
        // Only the newest are kept.
        if (rows.Size() > win->nLogLoadMax) {
            rows.DropFirst();
            ++leftOut;
        }
        if (g_get_monotonic_time() >= breath) {
            // A long load keeps the window drawn and lets the user leave (a logout ends it).
            while (gtk_events_pending() && stands())
                gtk_main_iteration_do(FALSE);
            breath = g_get_monotonic_time() + kLoadBreathUs;
        }
    }
    // Only an answer replaces what the list and the copy hold; a broken connection keeps them.
    if (!stands())
        return;
    const bool channelOn = cs_vtn_enable_event_notify(connected, 1) == 0;
    if (!stands())
        return;

    std::string copy;
    for (size_t r = 0; r < rows.Size(); ++r)
        FormatLogLine(&copy, rows.Severity(r), rows.Time(r), rows.Text(r));
    ShowLogRows(std::move(rows));
    ReplaceLocalLog(copy);  // a failure is told there
    if (!stands())
        return;
    if (leftOut > 0) {
        char message[256];
        FormatText(message, sizeof message,
                   "The event log holds more events than are shown:\nthe %lld oldest were left out.", leftOut);
        MessageBox(message, "Warning", false);
        if (!stands())
            return;
    }
    if (!channelOn)
        MessageBox("The event channel could not be opened.\nNew events will not be shown until\nyou connect "
                   "the system again.",
                   "Error", false);
}

void ClearLog()
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || win->pLogList == nullptr)
        return;
    // A question answered after the connection went sends nothing and says nothing more.
    const SWindowStands stands(win);
    if (MessageBox("Are you sure to clear the event log?", "Warning", true) != 1 || !stands())
        return;
    if (cs_vtn_clear_event_log(handle) != 0) {
        // A broken connection has its own box.
        if (stands())
            MessageBox("Failed to clear the event log!", "Error", false);
        return;
    }
    ClearLogList();
    ReplaceLocalLog("");
}

void SaveLog()
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || win->pLogList == nullptr)
        return;
    if (win->pFileSel) {
        gtk_window_present(GTK_WINDOW(win->pFileSel));
        return;
    }
    GtkWidget* dialog = gtk_file_chooser_dialog_new("File selection", GTK_WINDOW(win->pWindow),
                                                    GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel", GTK_RESPONSE_CANCEL,
                                                    "_OK", GTK_RESPONSE_ACCEPT, nullptr);
    win->pFileSel = dialog;
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_create_folders(chooser, FALSE);
    gchar* cwd = g_get_current_dir();
    gtk_file_chooser_set_current_folder(chooser, cwd);
    g_free(cwd);
    gtk_file_chooser_set_current_name(chooser, "raidlog.txt");
    g_signal_connect(dialog, "response", G_CALLBACK(OnFileResponse), nullptr);
    g_signal_connect(dialog, "destroy", G_CALLBACK(OnFileDestroy), nullptr);
    gtk_widget_show(dialog);
}

void file_ok_sel(GtkWidget*, GtkWidget* dialog)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || win->pLogList == nullptr || dialog == nullptr)
        return;
    gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    if (name == nullptr || *name == 0 || g_file_test(name, G_FILE_TEST_IS_DIR)) {
        g_free(name);
        return;  // no file named yet: the dialog stays
    }
    char* data = nullptr;
    size_t size = 0;
    bool saved = false;
    if (FILE* memory = open_memstream(&data, &size)) {
        GtkWidget* list = win->pLogList;
        for (int r = 0; r < ColumnListRows(list); ++r) {
            WriteField(memory, NewSys.szUserName);
            fputc('\t', memory);
            SaveLogFile(memory, RowSeverity(ColumnListText(list, r, 0)), ColumnListText(list, r, 1).c_str(),
                        ColumnListText(list, r, 2).c_str());
        }
        // Written whole or not at all: a file that was there keeps its bytes.
        saved = fclose(memory) == 0 && ReplaceFile(name, std::string(data, size), 0644, false);
        free(data);
    }
    gtk_widget_destroy(dialog);
    if (!saved) {
        const std::string text = std::string("The event log could not be saved\nto ") + name + ".";
        MessageBox(text.c_str(), "Error", false);
    }
    g_free(name);
}
