// The managed-systems list of the Remote Control form and its file, the login record, and the
// entry points of login and logout, the toolbar's array operations and the event-log view.
#pragma once
#include <cstdint>
#include <cstdio>
#include <gtk/gtk.h>
#include <string>

constexpr size_t VTN_SYS_FIELD_SIZE = 200;

// One system as the list file holds it: address, name, port text.
struct _SYSTEM_INFOR {
    char szAddress[VTN_SYS_FIELD_SIZE];
    char szName[VTN_SYS_FIELD_SIZE];
    char szPort[VTN_SYS_FIELD_SIZE];
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
};
extern _NEW_SYSTEM NewSys;

// The list file and its default line.
constexpr const char* kSystemsFile = "/usr/bin/vtnsys.log";

// Writes SysInfor as one line; nothing for a null file.
void SaveSystemInfor(FILE* file);
// Reads one line into SysInfor (each field at most 199 bytes, the rest of it skipped); false at
// the end of the list or for a null file.
bool LoadSystemInfor(FILE* file);
// Clears the list and fills it from the file, creating the file with the default system when it
// is missing; selects the first row.
void LoadSystem(GtkWidget* list);
// Replaces the file by the address, name and port of every row, in list order (through a
// temporary file; nothing happens when it cannot be written).
void SaveSystem(GtkWidget* list);
// True when a row's address is exactly text.
bool IsRepeatIP(const char* text);
// Texts of columns 0 to last of the current row, as the file holds them; false without one.
bool GetListData(GtkWidget* list, int last, std::string* texts);
// A typed address, name or port may hold no TAB and no line end (the file's separators); shows
// a "Warning" and returns false otherwise.
bool SystemFieldsValid(const char* address, const char* name, const char* port);
