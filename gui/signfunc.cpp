// The managed-systems list and its file, the system dialogs, login and logout with the
// connection-broken callback, and the event log view: the local copy, load, filter, clear and export.
#include "signfunc.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <vector>

#include "client.h"
#include "drivergui.h"
#include "drivergui_list.h"
#include "drivergui_repair.h"
#include "fileio.h"
#include "paths.h"
#include "textutil.h"
#include "xpm_data.h"

_SYSTEM_INFOR SysInfor;
_NEW_SYSTEM NewSys;

int ReadUntil(FILE* file, char* field, size_t size, int stop, bool stopAtLineEnd)
{
    size_t n = 0;
    int c;
    // The GUI's one thread owns every file it reads.
    while ((c = getc_unlocked(file)) != EOF && c != stop && !(stopAtLineEnd && c == '\n'))
        if (n + 1 < size)
            field[n++] = static_cast<char>(c);
    if (size > 0)
        field[n] = 0;
    return c;
}

namespace {

void AppendSystemRow(GtkWidget* list)
{
    const char* row[] = {SysInfor.szAddress, SysInfor.szName, SysInfor.szPort, "Disconnected"};
    ColumnListAppend(list, row);
}

// ---- the systems list and its file -------------------------------------------------------------

// ReadUntil, with the number of bytes the field kept, NULs included, in *kept: taken from the
// stream's position, or the text's length where the stream cannot tell it.
int ReadSystemField(FILE* file, char* field, size_t size, int stop, bool stopAtLineEnd, size_t* kept)
{
    const long start = ftell(file);
    const int c = ReadUntil(file, field, size, stop, stopAtLineEnd);
    const long end = ftell(file);
    const size_t ended = c == EOF ? 0 : 1;
    if (size == 0)
        *kept = 0;
    else if (start < 0 || end < start + static_cast<long>(ended))
        *kept = strlen(field);
    else
        *kept = std::min(static_cast<size_t>(end - start) - ended, size - 1);
    return c;
}

// The fields of SysInfor in order: address, name, port.
char* SysField(int i)
{
    return i == 0 ? SysInfor.szAddress : i == 1 ? SysInfor.szName : SysInfor.szPort;
}

// A field of SysInfor as bytes, NULs included.
std::string SysFieldBytes(int i)
{
    return std::string(SysField(i), std::min(SysInfor.nLength[i], VTN_SYS_FIELD_SIZE - 1));
}

// Sets a field of SysInfor to the bytes, at most 199 of them, as a read keeps them.
void SetSysField(int i, const std::string& bytes)
{
    const size_t n = std::min(bytes.size(), VTN_SYS_FIELD_SIZE - 1);
    memcpy(SysField(i), bytes.data(), n);
    SysField(i)[n] = 0;
    SysInfor.nLength[i] = n;
}

// Beside each row of the systems list, its address, name and port as the file holds them: a
// cell shows a field only up to a NUL.
using SSystemBytes = std::array<std::string, 3>;
const char* const kSystemBytesKey = "vtn-system-bytes";

std::vector<SSystemBytes>* SystemBytes(GtkWidget* list)
{
    auto* rows = static_cast<std::vector<SSystemBytes>*>(g_object_get_data(G_OBJECT(list), kSystemBytesKey));
    if (rows == nullptr) {
        rows = new std::vector<SSystemBytes>;
        g_object_set_data_full(G_OBJECT(list), kSystemBytesKey, rows,
                               [](gpointer p) { delete static_cast<std::vector<SSystemBytes>*>(p); });
    }
    return rows;
}

// Appends the row of SysInfor, its bytes beside it.
void AppendReadRow(GtkWidget* list)
{
    AppendSystemRow(list);
    SystemBytes(list)->push_back({SysFieldBytes(0), SysFieldBytes(1), SysFieldBytes(2)});
}

// Appends a row of typed texts, "Disconnected".
void AppendTypedRow(GtkWidget* list, const std::string& address, const std::string& name, const std::string& port)
{
    const char* row[] = {address.c_str(), name.c_str(), port.c_str(), "Disconnected"};
    ColumnListAppend(list, row);
    SystemBytes(list)->push_back({address, name, port});
}

// Sets a field of a row to a typed text.
void SetSystemField(GtkWidget* list, int row, int column, const std::string& text)
{
    ColumnListSetText(list, row, column, text.c_str());
    std::vector<SSystemBytes>* rows = SystemBytes(list);
    if (row >= 0 && static_cast<size_t>(row) < rows->size())
        (*rows)[static_cast<size_t>(row)][static_cast<size_t>(column)] = text;
}

void RemoveSystemRow(GtkWidget* list, int row)
{
    ColumnListRemove(list, row);
    std::vector<SSystemBytes>* rows = SystemBytes(list);
    if (row >= 0 && static_cast<size_t>(row) < rows->size())
        rows->erase(rows->begin() + row);
}

// A field of a row to write: its bytes when the cell still shows them, else the cell's text.
std::string SystemFieldToWrite(GtkWidget* list, int row, int column)
{
    const std::string shown = ColumnListText(list, row, column);
    const std::vector<SSystemBytes>* rows = SystemBytes(list);
    if (rows->size() == static_cast<size_t>(ColumnListRows(list))) {
        const std::string& bytes = (*rows)[static_cast<size_t>(row)][static_cast<size_t>(column)];
        if (shown == bytes.c_str())
            return bytes;
    }
    return shown;
}

// The file of the rows given (of SysInfor without a list), written through a temporary file and a
// rename.
bool WriteSystems(const std::string& path, GtkWidget* list)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* memory = open_memstream(&data, &size);
    if (memory == nullptr)
        return false;
    const int rows = list ? ColumnListRows(list) : 1;
    for (int r = 0; r < rows; ++r) {
        for (int i = 0; list && i < 3; ++i)
            SetSysField(i, SystemFieldToWrite(list, r, i));
        SaveSystemInfor(memory);
    }
    fclose(memory);
    bool ok = ReplaceFile(path, std::string(data, size), 0644);
    free(data);
    return ok;
}

}  // namespace

void SaveSystemInfor(FILE* file)
{
    if (file == nullptr)
        return;
    for (int i = 0; i < 3; ++i) {
        const std::string bytes = SysFieldBytes(i);
        fwrite(bytes.data(), 1, bytes.size(), file);
        fputc(i < 2 ? '\t' : '\n', file);
    }
}

bool LoadSystemInfor(FILE* file)
{
    if (file == nullptr)
        return false;
    SysInfor.nLength[1] = SysInfor.nLength[2] = 0;
    if (ReadSystemField(file, SysInfor.szAddress, sizeof SysInfor.szAddress, '\t', false, &SysInfor.nLength[0]) ==
        EOF)
        return false;
    if (ReadSystemField(file, SysInfor.szName, sizeof SysInfor.szName, '\t', false, &SysInfor.nLength[1]) == EOF) {
        SysInfor.szPort[0] = 0;
        return true;
    }
    ReadSystemField(file, SysInfor.szPort, sizeof SysInfor.szPort, EOF, true, &SysInfor.nLength[2]);
    return true;
}

void LoadSystem(GtkWidget* list)
{
    if (list == nullptr)
        return;
    ColumnListBlockSelect(list, true);
    ColumnListClear(list);
    SystemBytes(list)->clear();
    const std::string path = VtnPath(kSystemsFile);
    FILE* file = fopen(path.c_str(), "r+");
    struct stat st;
    if (file == nullptr && stat(path.c_str(), &st) == 0) {
        // There but not writable: show it as it is rather than replace it.
        file = fopen(path.c_str(), "r");
    }
    if (file == nullptr) {
        SetSysField(0, "127.0.0.1");
        SetSysField(1, "127.0.0.1");
        SetSysField(2, "7402");
        // The default row is shown even when the file cannot be made.
        WriteSystems(VtnPathForWrite(kSystemsFile), nullptr);
        AppendReadRow(list);
    } else {
        while (LoadSystemInfor(file))
            AppendReadRow(list);
        fclose(file);
    }
    ColumnListBlockSelect(list, false);
    if (ColumnListRows(list) > 0)
        ColumnListSelectRow(list, 0);
}

bool SaveSystem(GtkWidget* list)
{
    return list && WriteSystems(VtnPathForWrite(kSystemsFile), list);
}

bool IsRepeatIP(const char* text)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || win->pSysList == nullptr || text == nullptr)
        return false;
    for (int r = 0; r < ColumnListRows(win->pSysList); ++r)
        if (ColumnListText(win->pSysList, r, 0) == text)
            return true;
    return false;
}

bool GetListData(GtkWidget* list, int last, std::string* texts)
{
    const int row = list ? ColumnListSelectedRow(list) : -1;
    if (row < 0)
        return false;
    for (int c = 0; c <= last && c < ColumnListColumns(list); ++c)
        texts[c] = ColumnListText(list, row, c);
    return true;
}

bool SystemFieldsValid(const char* address, const char* name, const char* port)
{
    for (const char* text : {address, name, port})
        if (text && strpbrk(text, "\t\r\n")) {
            MessageBox("The address, name and port of a system\ncan not contain a TAB or a line end.", "Warning",
                       false);
            return false;
        }
    return true;
}

// ---- system dialogs ----------------------------------------------------------------------------

namespace {

const char* const kDialogTitles[] = {"Add a new system", "Modify the system", "Login Form"};
const char* const kDefaultPort = "7402";
const char* const kDefaultUser = "RAID";
const char* const kDefaultPassword = "wqx";

void Warn(const char* fmt, const std::string& text)
{
    char message[512];
    FormatText(message, sizeof message, fmt, text.c_str());
    MessageBox(message, "Warning", false);
}

// The address the dialog acts on: the row's bytes when it was opened on a row, else as typed.
std::string DialogAddress()
{
    return NewSys.nRow >= 0 ? std::string(NewSys.szRowAddress) : EntryText(NewSys.pAddressEntry);
}

// The checks every dialog makes of what was typed; a "Warning" and false when one fails.
bool TypedSystemValid(const std::string& address, const std::string& name, const std::string& port, uint16_t* value)
{
    if (address.empty()) {
        Warn("'%s' is not valid IP address.", address);
        return false;
    }
    if (!SystemFieldsValid(address.c_str(), name.c_str(), port.c_str()))
        return false;
    if (!PortFromText(port.c_str(), value)) {
        Warn("'%s' is not a valid port.\nA port is a number from 1 to 65535.", port);
        return false;
    }
    return true;
}

// Saves the list; when the file cannot be written, says so and leaves the list as the user made
// it. False then.
bool SaveSystemSaying(GtkWidget* list)
{
    if (SaveSystem(list))
        return true;
    char text[256];
    FormatText(text, sizeof text, "The list of systems could not be saved\nto %s.", kSystemsFile);
    MessageBox(text, "Error", false);
    return false;
}

// Reloads the list from the file; the row of the system still connected keeps its mark.
void ReloadSystems(GtkWidget* list)
{
    LoadSystem(list);
    if (handle < 0)
        return;
    for (int r = 0; r < ColumnListRows(list); ++r)
        if (ColumnListText(list, r, 0) == NewSys.szAddress) {
            ColumnListSetText(list, r, 3, "Connected");
            break;
        }
}

// "destroy" of a system dialog, whoever destroys it: its widgets are no longer NewSys's.
void ForgetDialog(GtkWidget* dialog, gpointer)
{
    if (dialog && NewSys.pDialog == dialog) {
        NewSys.pDialog = nullptr;
        NewSys.pAddressEntry = NewSys.pNameEntry = NewSys.pPortEntry = nullptr;
        NewSys.pUserEntry = NewSys.pPasswordEntry = nullptr;
    }
}

// Closes the windows of the session and drops the connection; whatever waited on the old one
// sees it gone.
void Disconnect(CMainWindow* win)
{
    CloseSessionWindows();
    if (handle >= 0)
        cs_vtn_disconnect_system(handle);
    handle = -1;
    ++win->nConnectCount;
}

// Logout without its question: disconnected, every row "Disconnected", nobody logged in.
void LogoutSteps(CMainWindow* win)
{
    Disconnect(win);
    if (GtkWidget* list = win->pSysList) {
        for (int r = 0; r < ColumnListRows(list); ++r)
            if (ColumnListText(list, r, 3) == "Connected")
                ColumnListSetText(list, r, 3, "Disconnected");
        ColumnListSetText(list, ColumnListSelectedRow(list), 3, "Disconnected");
    }
    NewSys.szUserName[0] = 0;
    memset(NewSys.szPassword, 0, sizeof NewSys.szPassword);
    win->bLoggedIn = false;
    win->FreshRemoteConTool();
    win->FreshPrivilege();  // also when the list has no row to select
    win->FreshTree();
    win->PrintStatus("No system connected");
}

gboolean ConnectOutIdle(gpointer)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr)
        return G_SOURCE_REMOVE;
    win->nConnectOutSource = 0;
    // The box stands alone: nothing of the session that broke stays under it.
    CloseSessionWindows();
    MessageBox("Connection broken. You have to connect\n the system again.", "Error", false);
    if (GetMainWindow() != win)
        return G_SOURCE_REMOVE;
    LogoutSteps(win);
    RemoteControl();
    return G_SOURCE_REMOVE;
}

}  // namespace

bool PortFromText(const char* text, uint16_t* port)
{
    if (text == nullptr || *text == 0) {
        *port = VTN_DEFAULT_SERVER_PORT;
        return true;
    }
    unsigned long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(*p - '0');
        if (value > 65535)
            return false;
    }
    if (value < 1 || value > 65535)
        return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

bool IsNum(const char* from, const char* to)
{
    if (from == nullptr || to == nullptr)
        return false;
    for (const char* p = from + 1; p < to; ++p)
        if (*p >= '0' && *p <= '9')
            return true;
    return false;
}

bool InvalidIP(const char* text)
{
    if (text == nullptr)
        return true;
    const char* dots[3];
    int n = 0;
    for (const char* p = text; *p; ++p)
        if (*p == '.') {
            if (n == 3)
                return true;
            dots[n++] = p;
        }
    if (n != 3)
        return true;
    const char* end = text + strlen(text);
    return !(IsNum(text - 1, dots[0]) && IsNum(dots[0], dots[1]) && IsNum(dots[1], dots[2]) && IsNum(dots[2], end));
}

void BaseSystem(int mode)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || mode < 0 || mode > 2 || NewSys.pDialog)
        return;
    const bool login = mode == 2;
    GtkWidget* window = NewDialogWindow(kDialogTitles[mode], login ? 400 : 300, login ? 300 : 240, 5, false);
    // These dialogs edit the window's own list, and a login outlives the connection it replaces:
    // they stay when a session ends.
    LeaveSession(window);
    NewSys.pDialog = window;

    GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(window), outer);
    GtkWidget* body = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 10);
    gtk_box_pack_start(GTK_BOX(outer), body, TRUE, TRUE, 0);
    if (login)
        if (GdkPixbuf* picture = XpmPixbuf(xpm_d_Login))
            gtk_box_pack_start(GTK_BOX(body), gtk_image_new_from_pixbuf(picture), FALSE, FALSE, 0);
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 7);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 7);
    gtk_widget_set_valign(grid, GTK_ALIGN_CENTER);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 5);
    gtk_box_pack_start(GTK_BOX(body), grid, TRUE, TRUE, 0);
    NewSys.pAddressEntry = GridEntry(grid, 0, "IP Address", 64);
    NewSys.pNameEntry = GridEntry(grid, 1, "System Name", 64);
    if (login) {  // the login names no system: its row stays hidden
        gtk_widget_set_no_show_all(gtk_grid_get_child_at(GTK_GRID(grid), 0, 1), TRUE);
        gtk_widget_set_no_show_all(NewSys.pNameEntry, TRUE);
    }
    NewSys.pPortEntry = GridEntry(grid, 2, "Port", 8);
    gtk_entry_set_text(GTK_ENTRY(NewSys.pPortEntry), kDefaultPort);
    NewSys.pUserEntry = NewSys.pPasswordEntry = nullptr;
    if (login) {
        NewSys.pUserEntry = GridEntry(grid, 3, "User Name", 64);
        gtk_entry_set_text(GTK_ENTRY(NewSys.pUserEntry), kDefaultUser);
        NewSys.pPasswordEntry = GridEntry(grid, 4, "PassWord", 64, false);
        NewSys.bLoginForm = 1;
    }

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_end(GTK_BOX(outer), buttons, FALSE, FALSE, 5);
    GtkWidget* ok = InsertXPMItem("    OK    ", xpm_d_Yes, 0);
    g_signal_connect_swapped(ok, "clicked", G_CALLBACK(yes_mselect), window);
    gtk_box_pack_start(GTK_BOX(buttons), ok, TRUE, FALSE, 0);
    GtkWidget* cancel = InsertXPMItem("  Cancel  ", xpm_d_No, 0);
    g_signal_connect_swapped(cancel, "clicked", G_CALLBACK(no_mselect), window);
    gtk_box_pack_start(GTK_BOX(buttons), cancel, TRUE, FALSE, 0);
    gtk_widget_set_can_default(ok, TRUE);
    gtk_widget_grab_default(ok);

    // Modify and login act on the current row, whose address cannot be edited.
    NewSys.nRow = -1;
    NewSys.szRowAddress[0] = 0;
    if (mode != 0) {
        std::string texts[3];
        if (win->pSysList && GetListData(win->pSysList, 2, texts)) {
            NewSys.nRow = ColumnListSelectedRow(win->pSysList);
            CopyText(NewSys.szRowAddress, texts[0].c_str());
            SetEntryText(NewSys.pAddressEntry, texts[0].c_str());
            SetEntryText(NewSys.pNameEntry, texts[1].c_str());
            SetEntryText(NewSys.pPortEntry, texts[2].c_str());
        }
        gtk_widget_set_sensitive(NewSys.pAddressEntry, FALSE);
    }
    gtk_widget_show_all(window);
    if (login)
        gtk_widget_grab_focus(NewSys.pPasswordEntry);

    g_signal_connect(window, "destroy", G_CALLBACK(ForgetDialog), nullptr);
    RunDialog(window, [window, mode] {
        return mode == 0 ? newsystemOK() : mode == 1 ? modsystemOK(window) : logsystemOK(window);
    });
}

bool newsystemOK()
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || win->pSysList == nullptr)
        return true;
    const std::string address = EntryText(NewSys.pAddressEntry), name = EntryText(NewSys.pNameEntry),
                      port = EntryText(NewSys.pPortEntry);
    uint16_t value = 0;
    if (!TypedSystemValid(address, name, port, &value))
        return false;
    if (IsRepeatIP(address.c_str())) {
        MessageBox("This system has been added.", "Warning", false);
        return false;
    }
    GtkWidget* list = win->pSysList;
    AppendTypedRow(list, address, name, port);
    const bool saved = SaveSystemSaying(list);
    if (GetMainWindow() != win)
        return true;
    if (saved)
        ReloadSystems(list);
    win->FreshRemoteConTool();
    return true;
}

bool modsystemOK(GtkWidget*)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || win->pSysList == nullptr)
        return true;
    const std::string name = EntryText(NewSys.pNameEntry), port = EntryText(NewSys.pPortEntry);
    uint16_t value = 0;
    if (!TypedSystemValid(DialogAddress(), name, port, &value))
        return false;
    const int row = ColumnListSelectedRow(win->pSysList);
    if (row < 0)
        return true;
    GtkWidget* list = win->pSysList;
    SetSystemField(list, row, 1, name);
    SetSystemField(list, row, 2, port);
    const bool saved = SaveSystemSaying(list);
    if (GetMainWindow() != win)
        return true;
    if (saved) {
        ReloadSystems(list);
        ColumnListSelectRow(list, row);
    }
    win->FreshRemoteConTool();
    return true;
}

bool logsystemOK(GtkWidget* dialog)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr)
        return true;
    const std::string address = DialogAddress(), port = EntryText(NewSys.pPortEntry),
                      user = EntryText(NewSys.pUserEntry), password = EntryText(NewSys.pPasswordEntry);
    uint16_t portValue = 0;
    if (!TypedSystemValid(address, "", port, &portValue))
        return false;
    // The connection record holds 63 bytes of each: a longer address or name would be another one.
    _CS_CONNECTION_INFO info{};
    if (address.size() >= sizeof info.host) {
        Warn("'%s' is not valid IP address.", address);
        return false;
    }
    if (user.size() >= sizeof info.user) {
        MessageBox("Invalid user name or password.", "Error", false);
        return false;
    }
    const bool defaultPassword = user == kDefaultUser && password == kDefaultPassword;

    if (handle >= 0)
        Disconnect(win);
    CopyText(info.host, address.c_str());
    info.port = portValue;
    info.loginKind = NewSys.bLoginForm ? 0 : 1;
    CopyText(info.user, user.c_str());
    CopyText(info.password, password.c_str());
    info.callback = ConnectOut;
    handle = cs_vtn_connect_system(&info);
    memset(&info, 0, sizeof info);
    if (handle < 0) {
        const uint32_t status = static_cast<uint32_t>(handle);
        MessageBox(status == 0xC0000002u || status == 0xC0000003u ? "Invalid user name or password."
                                                                   : "System unreachable.",
                   "Error", false);
        return false;
    }

    // After every step that may wait or talk to the server: the connection must still stand.
    const SWindowStands stands(win);

    GtkWidget* list = win->pSysList;
    const int row = list ? ColumnListSelectedRow(list) : -1;
    if (row >= 0 && port != ColumnListText(list, row, 2)) {
        SetSystemField(list, row, 2, port);
        if (!SaveSystemSaying(list)) {
            if (!stands())
                return true;
        } else {
            LoadSystem(list);
            ColumnListSelectRow(list, row);
        }
    }
    if (row >= 0)
        ColumnListSetText(list, row, 3, "Connected");
    CopyText(NewSys.szUserName, user.c_str());
    CopyText(NewSys.szPassword, password.c_str());
    CopyText(NewSys.szAddress, address.c_str());

    _CS_SERVER_INFO server{};
    if (cs_vtn_get_server_info(handle, &server) == 0)
        CopyField(NewSys.szOSName, sizeof NewSys.szOSName, server.osName, sizeof server.osName);
    if (!stands())
        return true;
    _VTN_USER_INFO current{};
    if (cs_vtn_get_current_user(handle, &current) == 0) {
        win->bLoggedIn = true;
        win->UserInfo = current;
    }
    if (!stands())
        return true;
    if (dialog)
        gtk_widget_destroy(dialog);  // ForgetDialog lets NewSys go of it

    LoadLog();
    if (!stands())
        return true;
    if (defaultPassword) {
        MessageBox("You are using the default password to \nlogon. Please change it.", "Warning", false);
        if (!stands())
            return true;
        SetPassWd(0);
        if (!stands())
            return true;
    }
    win->SupportPara.ProbeVersion();
    if (!stands())
        return true;
    win->FreshRemoteConTool();
    win->FreshTree();
    if (!stands())
        return true;
    win->ProbeArrayState(false, 0);
    if (!stands())
        return true;
    ArrayManagement();
    if (!stands())
        return true;
    char status[512];
    FormatText(status, sizeof status, "Connected OS: %s System '%s' connected", NewSys.szOSName, NewSys.szAddress);
    win->PrintStatus(status);
    return true;
}

void NewSystem()
{
    BaseSystem(0);
}

void ModSystem()
{
    BaseSystem(1);
}

void DelSystem()
{
    CMainWindow* win = GetMainWindow();
    GtkWidget* list = win ? win->pSysList : nullptr;
    if (list == nullptr || ColumnListSelectedRow(list) < 0)
        return;
    char question[512];
    FormatText(question, sizeof question, "System '%s' will be deleted,\n do you want to continue?",
               ColumnListText(list, ColumnListSelectedRow(list), 0).c_str());
    if (MessageBox(question, "Warning", true) != 1 || GetMainWindow() != win)
        return;
    const int row = ColumnListSelectedRow(list);
    if (row < 0)
        return;
    RemoveSystemRow(list, row);
    const bool saved = SaveSystemSaying(list);
    if (GetMainWindow() != win)
        return;
    if (saved)
        ReloadSystems(list);
    win->FreshRemoteConTool();
}

void LogSystem()
{
    if (NewSys.szUserName[0] == 0 || LogoutSystem())
        BaseSystem(2);
}

bool LogoutSystem()
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr)
        return false;
    if (MessageBox("The system will be disconnected.\n Do you want to continue?", "Confirmation", true) != 1 ||
        GetMainWindow() != win)
        return false;
    LogoutSteps(win);
    return true;
}

void ConnectOut()
{
    // Called from inside a failing request: only the handle changes now; the box and the widgets
    // wait for an idle, outside every wait that may still use them.
    handle = -1;
    CMainWindow* win = GetMainWindow();
    if (win == nullptr)
        return;
    ++win->nConnectCount;
    if (win->nConnectOutSource == 0)
        win->nConnectOutSource = win->AddIdle(ConnectOutIdle, nullptr);
}
