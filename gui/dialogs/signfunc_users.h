// Users, rights and passwords: the User Management dialog with its list of the server's users, the
// Add New User dialog, the User Privilege View (check boxes over a rights word) and the password
// dialog. Every change is one set-user request, sent when it is made.
#pragma once
#include <cstdint>
#include <gtk/gtk.h>

#include "global_user.h"

// The User Management dialog.
struct _USER_MANAGE {
    GtkWidget* pUserList;
    GtkWidget* pUserAddBtn;
    GtkWidget* pUserDeleteBtn;
    GtkWidget* pUserPasswordBtn;
    GtkWidget* pUserPrivilegeBtn;
    _VTN_USER_INFO SelUser;   // the selected row's user; its rights word is the working one
    _VTN_USER_INFO OrigUser;  // SelUser as the privilege dialog found it
    uint8_t bEditSelected;    // 1: the privilege dialog edits SelUser, 0: AddUser.NewUser
};

// The Add New User dialog.
struct _ADD_USER {
    GtkWidget* pNewNameEntry;
    GtkWidget* pNewPassEntry;
    GtkWidget* pNewConfirmEntry;
    _VTN_USER_INFO NewUser;  // only its rights word: the working rights word while adding
    uint8_t bStandalone;     // always 1: users of the users file only
};

// The password dialog.
struct _SET_PASS {
    GtkWidget* pOldEntry;  // own password only
    GtkWidget* pNewEntry;
    GtkWidget* pConfirmEntry;
};

extern _USER_MANAGE UserMan;
extern _ADD_USER AddUser;
extern _SET_PASS SetPass;

// One check box of the privilege tree and the rights bits it stands for.
struct SPrivilegeItem {
    const char* label;
    uint32_t bits;     // 0: the "Array Management" branch, which has no check box
    bool underArray;   // an item of that branch
};
constexpr int VTN_PRIVILEGE_ITEMS = 13;
extern const SPrivilegeItem PrivilegeItems[VTN_PRIVILEGE_ITEMS];

void UserManageMent();
void LoadUser();
void usernameselection(GtkWidget* list, int row, int column, GdkEventButton* event, void* data);
void AddNewUser();
bool AddUserOK(GtkWidget* dialog);
void DeleteUser();
void SetPrivilege();
bool PrivilegeOK(GtkWidget* dialog);
// A check box with the label in tree, set from the working rights word; its clicks go to priviselect.
GtkWidget* AppendTreeItem(const char* label, GtkWidget* tree);
void priviselect(GtkWidget* button);
// read: *state = whether any of the label's bits is set in the working rights word; else the word
// takes *state for those bits. selected: SelUser's word, else NewUser's. Unknown labels do nothing.
void PriviANDCheck(const char* label, bool* state, bool read, bool selected);
void SubPriviANDCheck(unsigned int bits, bool* state, bool read, bool selected);
// 0: one's own password, 1: the selected user's.
void SetPassWd(int mode);
void SetUserPass();
void SetCurrentPass();
bool SetCurrPassOK(GtkWidget* dialog);
bool SetUserPassOK(GtkWidget* dialog);
// True for a name the dialog refuses: one the users file cannot hold (':', a line end, a leading
// '#', more than 63 bytes), or with a TAB or a blank at its start or end.
bool InvalidUserName(const char* name);
