// The managed-systems list of the Remote Control form and its file, the login record, and the
// entry points of login and logout, the toolbar's array operations and the event-log view.
#pragma once
#include <cstdint>
#include <cstdio>
#include <gtk/gtk.h>
#include <string>
#include <vector>

#include "drivergui_loglist.h"
#include "global_time.h"
#include "locallog.h"

constexpr size_t VTN_SYS_FIELD_SIZE = 200;

// One system as the list file holds it: address, name, port text.
struct _SYSTEM_INFOR {
    char szAddress[VTN_SYS_FIELD_SIZE];
    char szName[VTN_SYS_FIELD_SIZE];
    char szPort[VTN_SYS_FIELD_SIZE];
    // The bytes of each field (address, name, port), NULs included: a field read from the file
    // may hold one, and a rewrite keeps it.
    size_t nLength[3];
};
extern _SYSTEM_INFOR SysInfor;

// The system dialogs' entries and the login state.
struct _NEW_SYSTEM {
    GtkWidget* pAddressEntry;
    GtkWidget* pNameEntry;
    GtkWidget* pPortEntry;
    GtkWidget* pUserEntry;
    GtkWidget* pPasswordEntry;
    char szUserName[VTN_SYS_FIELD_SIZE];  // logged-in user; empty: nobody
    char szPassword[VTN_SYS_FIELD_SIZE];  // password used at login
    char szAddress[VTN_SYS_FIELD_SIZE];   // address of the last successful login
    char szOSName[VTN_SYS_FIELD_SIZE];    // the server's operating system
    uint8_t bLoginForm;                   // a login form was built
    // The dialog that is open, the row it was opened on (-1: none) and that row's address as the
    // file holds it.
    GtkWidget* pDialog;
    int nRow;
    char szRowAddress[VTN_SYS_FIELD_SIZE];
};
extern _NEW_SYSTEM NewSys;

// The list file and its default line.
constexpr const char* kSystemsFile = "/usr/bin/vtnsys.log";

// Writes SysInfor as one line, nLength bytes of each field; nothing for a null file.
void SaveSystemInfor(FILE* file);
// Reads one line into SysInfor (each field at most 199 bytes, the rest of it skipped); false at
// the end of the list or for a null file.
bool LoadSystemInfor(FILE* file);
// Clears the list and fills it from the file, creating the file with the default system when it
// is missing; selects the first row.
void LoadSystem(GtkWidget* list);
// Replaces the file by the address, name and port of every row, in list order, each row's fields
// with the bytes they were read with unless they were changed since (through a temporary file;
// false, and the file as it was, when it cannot be written).
bool SaveSystem(GtkWidget* list);
// True when a row's address is exactly text.
bool IsRepeatIP(const char* text);
// Texts of columns 0 to last of the current row, as the file holds them; false without one.
bool GetListData(GtkWidget* list, int last, std::string* texts);
// A typed address, name or port may hold no TAB and no line end (the file's separators); shows
// a "Warning" and returns false otherwise.
bool SystemFieldsValid(const char* address, const char* name, const char* port);

// ---- system dialogs, login and logout ------------------------------------------------------------

// Modal system dialog: 0 add, 1 modify, 2 login.
void BaseSystem(int mode);
// OK handlers of the three modes; true closes the dialog.
bool newsystemOK();
bool modsystemOK(GtkWidget* dialog);
bool logsystemOK(GtkWidget* dialog);
// Connection-broken callback of the connection: handle -1 at once, the rest from an idle.
void ConnectOut();
// The port a typed text names: empty is 7402; otherwise a decimal number 1..65535. False for
// anything else.
bool PortFromText(const char* text, uint16_t* port);
// True unless text has three dots and a digit in each of the four parts.
bool InvalidIP(const char* text);
// True when a digit stands strictly between from and to.
bool IsNum(const char* from, const char* to);

// ---- event log view -------------------------------------------------------------------------------

// Room for a time text and a message read from the copy ("/usr/bin/log_loacl.txt", locallog.h).
constexpr size_t VTN_LOG_TIME_SIZE = 32;
constexpr size_t VTN_LOG_TEXT_SIZE = 512;

// Reads characters up to stop (or, with stopAtLineEnd, a line feed) into field, keeping at most
// size - 1 of them. The character that ended the field: stop, '\n' or EOF.
int ReadUntil(FILE* file, char* field, size_t size, int stop, bool stopAtLineEnd);

// Appends "%c\t%s\t%s\n"; nothing for a null file. Line ends inside the texts become blanks.
void SaveLogFile(FILE* file, char severity, const char* time, const char* text);
// Reads one line (fields cut to their buffers); 0 at the end of the file or for a null file.
int LoadLogFile(FILE* file, char* severity, char* time, size_t timeSize, char* text, size_t textSize);
// True when the severity passes the window's mask; other characters never pass.
bool InFilter(char severity, const char* time, const char* text);
// The lines of the local log copy that pass InFilter, in file order (none without the file, or
// while it holds another content than this session's).
SLogRows ReadLocalLog();
// The time text of a time record: "%02d/%02d/%d %02d:%02d:%02d".
void LogTimeText(_TIME_RECORD t, char* buf, size_t size);
// Shows rows as the whole event list (taken over) and selects the first.
void ShowLogRows(SLogRows&& rows);
// Refills the event list from the local copy through the filter.
void FilterLog();
// Reloads the event list and the local copy from the server.
void LoadLog();
// The three sorts of the Event View: by severity (from the local copy), by time, by description.
void log_sort_type();
void log_sort_time();
void log_sort_desc();
// OK of the export dialog: writes the list to the chosen file, or says in an "Error" box that it
// could not (the file then keeps what it held).
void file_ok_sel(GtkWidget* w, GtkWidget* dialog);

// Change of one's own password (0) or another user's (gui/dialogs/signfunc_users.cpp).
void SetPassWd(int mode);
