// The managed-systems list and its file. The system dialogs, login and logout, the toolbar's array
// operations and the event-log view come with their own work; their entry points are here.
#include "signfunc.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "drivergui.h"
#include "drivergui_list.h"
#include "fileio.h"
#include "paths.h"
#include "textutil.h"

_SYSTEM_INFOR SysInfor;
_NEW_SYSTEM NewSys;

namespace {

// Reads characters up to stop (or, with stopAtLineEnd, a line feed) into field, keeping at most
// size - 1 of them. The character that ended the field: stop, '\n' or EOF.
int ReadUntil(FILE* file, char* field, size_t size, int stop, bool stopAtLineEnd)
{
    size_t n = 0;
    int c;
    while ((c = fgetc(file)) != EOF && c != stop && !(stopAtLineEnd && c == '\n'))
        if (n + 1 < size)
            field[n++] = static_cast<char>(c);
    field[n] = 0;
    return c;
}

void AppendSystemRow(GtkWidget* list)
{
    const char* row[] = {SysInfor.szAddress, SysInfor.szName, SysInfor.szPort, "Disconnected"};
    ColumnListAppend(list, row);
}

// The file of the rows given, written through a temporary file and a rename.
bool WriteSystems(const std::string& path, GtkWidget* list)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* memory = open_memstream(&data, &size);
    if (memory == nullptr)
        return false;
    const int rows = list ? ColumnListRows(list) : 1;
    for (int r = 0; r < rows; ++r) {
        if (list) {
            CopyText(SysInfor.szAddress, ColumnListText(list, r, 0).c_str());
            CopyText(SysInfor.szName, ColumnListText(list, r, 1).c_str());
            CopyText(SysInfor.szPort, ColumnListText(list, r, 2).c_str());
        }
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
    if (file)
        fprintf(file, "%s\t%s\t%s\n", SysInfor.szAddress, SysInfor.szName, SysInfor.szPort);
}

bool LoadSystemInfor(FILE* file)
{
    if (file == nullptr)
        return false;
    if (ReadUntil(file, SysInfor.szAddress, sizeof SysInfor.szAddress, '\t', false) == EOF)
        return false;
    if (ReadUntil(file, SysInfor.szName, sizeof SysInfor.szName, '\t', false) == EOF) {
        SysInfor.szPort[0] = 0;
        return true;
    }
    ReadUntil(file, SysInfor.szPort, sizeof SysInfor.szPort, EOF, true);
    return true;
}

void LoadSystem(GtkWidget* list)
{
    if (list == nullptr)
        return;
    ColumnListBlockSelect(list, true);
    ColumnListClear(list);
    const std::string path = VtnPath(kSystemsFile);
    FILE* file = fopen(path.c_str(), "r+");
    struct stat st;
    if (file == nullptr && stat(path.c_str(), &st) == 0) {
        // There but not writable: show it as it is rather than replace it.
        file = fopen(path.c_str(), "r");
    }
    if (file == nullptr) {
        CopyText(SysInfor.szAddress, "127.0.0.1");
        CopyText(SysInfor.szName, "127.0.0.1");
        CopyText(SysInfor.szPort, "7402");
        // The default row is shown even when the file cannot be made.
        WriteSystems(VtnPathForWrite(kSystemsFile), nullptr);
        AppendSystemRow(list);
    } else {
        while (LoadSystemInfor(file))
            AppendSystemRow(list);
        fclose(file);
    }
    ColumnListBlockSelect(list, false);
    if (ColumnListRows(list) > 0)
        ColumnListSelectRow(list, 0);
}

void SaveSystem(GtkWidget* list)
{
    if (list)
        WriteSystems(VtnPathForWrite(kSystemsFile), list);
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

// ---- entry points of the dialogs and operations that come with their own work ---------------------

void NewSystem()
{
}

void ModSystem()
{
}

void DelSystem()
{
}

void LogSystem()
{
}

bool LogoutSystem()
{
    return false;
}

void AddToClist(char, const char*, const char*)
{
}

void ClearLogList()
{
}

void ClearLog()
{
}

void SaveLog()
{
}
