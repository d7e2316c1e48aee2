// Users, rights and passwords: the User Management dialog, adding and deleting users, the
// privilege tree over a rights word, and password changes.
#include "signfunc_users.h"

#include <cstring>
#include <string>

#include "client.h"
#include "drivergui.h"
#include "drivergui_list.h"
#include "signfunc.h"
#include "textutil.h"
#include "xpm_data.h"

_USER_MANAGE UserMan;
_ADD_USER AddUser;
_SET_PASS SetPass;

const SPrivilegeItem PrivilegeItems[VTN_PRIVILEGE_ITEMS] = {
    {"User Management", VTN_RIGHT_USERS, false},
    {"Array Management", 0, false},
    {"Create RAID", VTN_RIGHT_CREATE_ARRAY, true},
    {"Delete RAID", VTN_RIGHT_DELETE_ARRAY, true},
    {"Rename RAID", VTN_RIGHT_RENAME_ARRAY, true},
    {"Duplicate RAID", VTN_RIGHT_DUPLICATE, true},
    {"Rebuild RAID", VTN_RIGHT_REBUILD, true},
    {"Verify RAID", VTN_RIGHT_VERIFY, true},
    {"Spare Management", VTN_RIGHT_REMOVE_SPARE | VTN_RIGHT_ADD_SPARE, false},
    {"Notification E-mail setting", VTN_RIGHT_MAIL, false},
    {"Clear events", VTN_RIGHT_CLEAR_EVENTS, false},
    {"Configure server parameters", VTN_RIGHT_SERVER_PARAM, false},
    {"Task management", VTN_RIGHT_TASKS, false},
};

namespace {

const char* const UserManageListTitles[] = {"User Name"};
// More users than any users file holds; a server that never ends the list cannot hold the GUI.
constexpr int kMaxUsers = 10000;

const char* const kPasswordsDiffer = "Two passwords you input do not match.";
const char* const kBadUserName = "The user name can not contain ':', a TAB or a line end,\nbegin or end with a "
                                 "blank, begin with '#'\nor be longer than 63 bytes.";

bool IsSystemAccount(const _VTN_USER_INFO& u)
{
    return (u.flags & VTN_USER_SYSTEM) != 0;
}

// The logged-in user: the same name and kind as the window's record of it.
bool IsCurrentUser(const _VTN_USER_INFO& u)
{
    CMainWindow* win = GetMainWindow();
    return win && win->bLoggedIn && strncmp(u.name, win->UserInfo.name, sizeof u.name) == 0 &&
           IsSystemAccount(u) == IsSystemAccount(win->UserInfo);
}

const char** UserIcon(const _VTN_USER_INFO& u)
{
    if (IsSystemAccount(u))
        return IsCurrentUser(u) ? xpm_d_currinteg : xpm_d_integrated;
    return IsCurrentUser(u) ? xpm_d_currstand : xpm_d_standalone;
}

// The new password and its confirmation are the same; otherwise the box says they differ.
bool PasswordsMatch(GtkWidget* password, GtkWidget* confirm)
{
    if (EntryText(password) == EntryText(confirm))
        return true;
    MessageBox(kPasswordsDiffer, "Error", false);
    return false;
}

void ShowNamed(const char* fmt, const char* name, const char* title)
{
    char text[512];
    FormatText(text, sizeof text, fmt, name);
    MessageBox(text, title, false);
}

// The name of the list's selected row as the server sent it; empty without a selection.
std::string SelectedName()
{
    GtkWidget* list = UserMan.pUserList;
    const int row = list ? ColumnListSelectedRow(list) : -1;
    return row < 0 ? "" : ColumnListText(list, row, 0);
}

// A dialog's widgets are not used once it is gone, however it went.
void ForgetUserManWidgets(GtkWidget*, gpointer)
{
    UserMan.pUserList = UserMan.pUserAddBtn = UserMan.pUserDeleteBtn = nullptr;
    UserMan.pUserPasswordBtn = UserMan.pUserPrivilegeBtn = nullptr;
}

void ForgetAddUserWidgets(GtkWidget*, gpointer)
{
    AddUser.pNewNameEntry = AddUser.pNewPassEntry = AddUser.pNewConfirmEntry = nullptr;
}

void ForgetSetPassWidgets(GtkWidget*, gpointer)
{
    SetPass.pOldEntry = SetPass.pNewEntry = SetPass.pConfirmEntry = nullptr;
}

GtkWidget* EntryGrid(GtkWidget* box)
{
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 7);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 7);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 7);
    gtk_box_pack_start(GTK_BOX(box), grid, TRUE, TRUE, 0);
    return grid;
}

GtkWidget* BottomRow(GtkWidget* box, GtkWidget* window)
{
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_end(GTK_BOX(box), row, FALSE, FALSE, 5);
    PackOkCancel(row, window);
    return row;
}

}  // namespace

bool InvalidUserName(const char* name)
{
    if (name == nullptr || strlen(name) > 63 || strpbrk(name, ":\t\r\n"))
        return true;
    // A blank at either end would make a name that looks like another one (or like none).
    const size_t n = strlen(name);
    return n > 0 && (name[0] == ' ' || name[n - 1] == ' ' || name[0] == '#');
}

// ---- the User Management dialog -----------------------------------------------------------------

void UserManageMent()
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || handle < 0 || UserMan.pUserList)
        return;
    GtkWidget* window = NewDialogWindow("User Management", 400, 240, 5, false);
    g_signal_connect(window, "destroy", G_CALLBACK(ForgetUserManWidgets), nullptr);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 10);
    gtk_container_add(GTK_CONTAINER(window), row);

    GtkWidget* list = NewColumnList(1, UserManageListTitles);
    // No row is selected after a reload.
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(list)), GTK_SELECTION_SINGLE);
    ColumnListSetWidth(list, 0, 100);
    ColumnListOnSelectRow(list, usernameselection, nullptr);
    GtkWidget* scrolled = ScrolledColumnList(list);
    gtk_widget_set_size_request(scrolled, 200, 200);
    gtk_box_pack_start(GTK_BOX(row), scrolled, TRUE, TRUE, 0);

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
    gtk_box_pack_start(GTK_BOX(row), buttons, FALSE, FALSE, 0);
    UserMan.pUserAddBtn = HandlerButton("Add", AddNewUser);
    UserMan.pUserDeleteBtn = HandlerButton("Delete", DeleteUser);
    UserMan.pUserPasswordBtn = HandlerButton("Password", SetUserPass);
    UserMan.pUserPrivilegeBtn = HandlerButton("Privilege", SetPrivilege);
    for (GtkWidget* b : {UserMan.pUserAddBtn, UserMan.pUserDeleteBtn, UserMan.pUserPasswordBtn,
                         UserMan.pUserPrivilegeBtn})
        gtk_box_pack_start(GTK_BOX(buttons), b, FALSE, FALSE, 0);
    GtkWidget* ok = CreateButton("    OK    ");
    g_signal_connect_swapped(ok, "clicked", G_CALLBACK(yes_mselect), window);
    gtk_box_pack_end(GTK_BOX(buttons), ok, FALSE, FALSE, 0);

    UserMan.pUserList = list;
    UserMan.bEditSelected = 1;
    LoadUser();
    // A list that takes the focus selects its first row: the focus starts on OK instead.
    gtk_widget_grab_focus(ok);
    gtk_widget_show_all(window);
    // Every change was sent when it was made: nothing is left to save.
    RunDialog(window);
}

void LoadUser()
{
    GtkWidget* list = UserMan.pUserList;
    if (list == nullptr)
        return;
    ColumnListBlockSelect(list, true);
    ColumnListClear(list);
    _VTN_USER_INFO u{};
    for (int i = 0; i < kMaxUsers && handle >= 0 && cs_vtn_enum_user(handle, &u, i) == 0; ++i) {
        u.name[sizeof u.name - 1] = 0;
        const char* texts[] = {u.name};
        const int r = ColumnListAppend(list, texts);
        ColumnListSetPixbuf(list, r, 0, XpmPixbuf(UserIcon(u)));
    }
    ColumnListBlockSelect(list, false);
    usernameselection(list, -1, 0, nullptr, nullptr);
}

void usernameselection(GtkWidget*, int, int, GdkEventButton*, void*)
{
    GtkWidget* list = UserMan.pUserList;
    if (list == nullptr)
        return;
    SetSensitive(UserMan.pUserAddBtn, true);
    const int row = ColumnListSelectedRow(list);
    bool found = false;
    if (row >= 0) {
        const std::string name = ColumnListText(list, row, 0);
        GdkPixbuf* icon = ColumnListPixbuf(list, row, 0);
        const bool system = icon == XpmPixbuf(xpm_d_integrated) || icon == XpmPixbuf(xpm_d_currinteg);
        _VTN_USER_INFO u{};
        for (int i = 0; i < kMaxUsers && handle >= 0 && cs_vtn_enum_user(handle, &u, i) == 0; ++i) {
            u.name[sizeof u.name - 1] = 0;
            if (name == u.name && IsSystemAccount(u) == system) {
                UserMan.SelUser = u;
                found = true;
                break;
            }
        }
    }
    if (!found) {
        // Nothing selected, or the user is gone from the server: nothing to act on.
        memset(&UserMan.SelUser, 0, sizeof UserMan.SelUser);
        if (row >= 0) {
            ColumnListUnselectQuietly(list);
        }
        for (GtkWidget* b : {UserMan.pUserDeleteBtn, UserMan.pUserPasswordBtn, UserMan.pUserPrivilegeBtn})
            SetSensitive(b, false);
        return;
    }
    SetSensitive(UserMan.pUserDeleteBtn, !IsCurrentUser(UserMan.SelUser));
    SetSensitive(UserMan.pUserPasswordBtn, !IsSystemAccount(UserMan.SelUser));
    SetSensitive(UserMan.pUserPrivilegeBtn, true);
}

// ---- adding and deleting -------------------------------------------------------------------------

void AddNewUser()
{
    if (GetMainWindow() == nullptr || handle < 0 || AddUser.pNewNameEntry)
        return;
    GtkWidget* window = NewDialogWindow("Add New User", 300, 240, 5, false);
    g_signal_connect(window, "destroy", G_CALLBACK(ForgetAddUserWidgets), nullptr);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    GtkWidget* grid = EntryGrid(box);
    // The server keeps 63 bytes of a name.
    AddUser.pNewNameEntry = GridEntry(grid, 0, "Name", 63);
    AddUser.pNewPassEntry = GridEntry(grid, 1, "Password", 64, false);
    AddUser.pNewConfirmEntry = GridEntry(grid, 2, "Confirm", 64, false);
    GtkWidget* privilegeRow = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_container_set_border_width(GTK_CONTAINER(privilegeRow), 7);
    gtk_box_pack_start(GTK_BOX(box), privilegeRow, FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(privilegeRow), HandlerButton("Privilege", SetPrivilege), FALSE, FALSE, 0);
    BottomRow(box, window);

    AddUser.bStandalone = 1;
    UserMan.bEditSelected = 0;
    AddUser.NewUser.rights = 0;
    gtk_widget_show_all(window);
    RunDialog(window, [window] { return AddUserOK(window); });
    UserMan.bEditSelected = 1;
}

bool AddUserOK(GtkWidget*)
{
    const std::string name = EntryText(AddUser.pNewNameEntry);
    if (name.empty()) {
        MessageBox("Please input user's name.", "Warning", false);
        return false;
    }
    if (InvalidUserName(name.c_str())) {
        MessageBox(kBadUserName, "Warning", false);
        return false;
    }
    if (!PasswordsMatch(AddUser.pNewPassEntry, AddUser.pNewConfirmEntry))
        return false;
    // One request adds the user with its password and rights: the file never holds it without them.
    _VTN_USER_INFO r{};
    CopyEntryText(r.name, sizeof r.name, AddUser.pNewNameEntry);
    CopyEntryText(r.password, sizeof r.password, AddUser.pNewPassEntry);
    r.flags = AddUser.bStandalone ? 0 : VTN_USER_SYSTEM;
    r.rights = AddUser.NewUser.rights;
    const uint32_t st = static_cast<uint32_t>(cs_vtn_set_user(handle, &r, VTN_USER_ADD));
    memset(r.password, 0, sizeof r.password);
    if (st == VTN_EXISTS) {
        MessageBox("User already exists.", "Error", false);
        return false;
    }
    if (st != VTN_SUCCESS)
        return RequestFailed("Failed to add the user.");
    MessageBox("New user has been added.", "Confirmation", false);
    LoadUser();
    return true;
}

void DeleteUser()
{
    GtkWidget* list = UserMan.pUserList;
    if (list == nullptr || ColumnListSelectedRow(list) < 0 || UserMan.SelUser.name[0] == 0)
        return;
    // Nobody deletes the user they are logged in as.
    if (IsCurrentUser(UserMan.SelUser))
        return;
    _VTN_USER_INFO r = UserMan.SelUser;
    char text[512];
    FormatText(text, sizeof text, "User '%s' will be deleted,\n do you want to continue?", r.name);
    if (MessageBox(text, "Warning", true) != 1 || UserMan.pUserList != list)
        return;
    if (cs_vtn_set_user(handle, &r, VTN_USER_DELETE) != 0) {
        if (handle >= 0)
            ShowNamed("Failed to delete user '%s'.", r.name, "Error");
        return;
    }
    ColumnListRemove(list, ColumnListSelectedRow(list));
    ShowNamed("User '%s' has been deleted.", r.name, "Confirmation");
    if (UserMan.pUserList == list)
        ColumnListSelectRow(list, 0);
}

// ---- rights -----------------------------------------------------------------------------------------

void SubPriviANDCheck(unsigned int bits, bool* state, bool read, bool selected)
{
    if (state == nullptr)
        return;
    uint32_t& word = selected ? UserMan.SelUser.rights : AddUser.NewUser.rights;
    if (read)
        *state = (word & bits) != 0;
    else if (*state)
        word |= bits;
    else
        word &= ~bits;
}

void PriviANDCheck(const char* label, bool* state, bool read, bool selected)
{
    if (label == nullptr)
        return;
    for (const SPrivilegeItem& item : PrivilegeItems)
        if (item.bits != 0 && strcmp(item.label, label) == 0) {
            SubPriviANDCheck(item.bits, state, read, selected);
            return;
        }
}

void priviselect(GtkWidget* button)
{
    bool state = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button));
    PriviANDCheck(gtk_button_get_label(GTK_BUTTON(button)), &state, false, UserMan.bEditSelected != 0);
}

GtkWidget* AppendTreeItem(const char* label, GtkWidget* tree)
{
    GtkWidget* check = gtk_check_button_new_with_label(label);
    bool state = false;
    PriviANDCheck(label, &state, true, UserMan.bEditSelected != 0);
    // Set before the handler is connected: only the user's clicks change the word.
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), state);
    g_signal_connect(check, "clicked", G_CALLBACK(+[](GtkButton* b, gpointer) { priviselect(GTK_WIDGET(b)); }),
                     nullptr);
    gtk_box_pack_start(GTK_BOX(tree), check, FALSE, FALSE, 0);
    return check;
}

void SetPrivilege()
{
    const bool selected = UserMan.bEditSelected != 0;
    if (GetMainWindow() == nullptr || (selected && (UserMan.pUserList == nullptr || UserMan.SelUser.name[0] == 0)))
        return;
    GtkWidget* window = NewDialogWindow("User Privilege View", 300, 350, 5, false);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_widget_set_size_request(scrolled, 300, 300);
    // The whole tree shows where the theme's rows are taller than 300 pixels allow.
    gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scrolled), TRUE);
    gtk_box_pack_start(GTK_BOX(box), scrolled, TRUE, TRUE, 0);
    GtkWidget* tree = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    gtk_container_set_border_width(GTK_CONTAINER(tree), 5);
    gtk_container_add(GTK_CONTAINER(scrolled), tree);
    GtkWidget* branch = nullptr;
    for (const SPrivilegeItem& item : PrivilegeItems) {
        if (item.bits == 0) {
            GtkWidget* expander = InsertXPMItem(item.label, xpm_d_priviselect, 1);
            gtk_expander_set_expanded(GTK_EXPANDER(expander), TRUE);
            branch = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
            gtk_widget_set_margin_start(branch, 20);
            gtk_container_add(GTK_CONTAINER(expander), branch);
            gtk_box_pack_start(GTK_BOX(tree), expander, FALSE, FALSE, 0);
            continue;
        }
        AppendTreeItem(item.label, item.underArray && branch ? branch : tree);
    }
    BottomRow(box, window);

    uint32_t& word = selected ? UserMan.SelUser.rights : AddUser.NewUser.rights;
    const uint32_t opened = word;
    if (selected)
        UserMan.OrigUser = UserMan.SelUser;
    gtk_widget_show_all(window);
    // Cancel leaves the rights as they were when the dialog opened.
    if (RunDialog(window, [window] { return PrivilegeOK(window); }) == 0)
        word = opened;
}

bool PrivilegeOK(GtkWidget*)
{
    // While adding, the rights wait for the new user's OK.
    if (!UserMan.bEditSelected)
        return true;
    if (UserMan.SelUser.rights == UserMan.OrigUser.rights)
        return true;
    const std::string name = SelectedName();
    char text[512];
    FormatText(text, sizeof text, "The privilege of '%s' has been changed.\n Do you you want to save it?",
               name.c_str());
    if (MessageBox(text, "Confirmation", true) != 1) {
        UserMan.SelUser.rights = UserMan.OrigUser.rights;
        return true;
    }
    _VTN_USER_INFO r = UserMan.SelUser;
    if (cs_vtn_set_user(handle, &r, VTN_USER_SET_RIGHTS) != 0) {
        if (handle < 0) {
            UserMan.SelUser.rights = UserMan.OrigUser.rights;
            return true;
        }
        ShowNamed("Failed to modify the privilege of '%s'.", name.c_str(), "Error");
        return false;
    }
    UserMan.OrigUser = UserMan.SelUser;
    ShowNamed("The privilege of '%s' has been modified successfully.", name.c_str(), "Warning");
    CMainWindow* win = GetMainWindow();
    if (win && IsCurrentUser(r)) {
        win->UserInfo.rights = r.rights;
        win->FreshPrivilege();
    }
    return true;
}

// ---- passwords --------------------------------------------------------------------------------------

void SetPassWd(int mode)
{
    if (GetMainWindow() == nullptr || handle < 0 || SetPass.pNewEntry || mode < 0 || mode > 1)
        return;
    if (mode == 1 && (UserMan.pUserList == nullptr || ColumnListSelectedRow(UserMan.pUserList) < 0 ||
                      UserMan.SelUser.name[0] == 0))
        return;
    GtkWidget* window = NewDialogWindow("Please enter new password", 280, mode == 0 ? 220 : 200, 5, false);
    g_signal_connect(window, "destroy", G_CALLBACK(ForgetSetPassWidgets), nullptr);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    GtkWidget* grid = EntryGrid(box);
    int row = 0;
    if (mode == 0)
        SetPass.pOldEntry = GridEntry(grid, row++, "Old Password", 64, false);
    SetPass.pNewEntry = GridEntry(grid, row++, "New Password", 64, false);
    SetPass.pConfirmEntry = GridEntry(grid, row++, "Confirm", 64, false);
    BottomRow(box, window);
    gtk_widget_show_all(window);
    RunDialog(window, [window, mode] { return mode == 0 ? SetCurrPassOK(window) : SetUserPassOK(window); });
}

void SetUserPass()
{
    SetPassWd(1);
}

void SetCurrentPass()
{
    SetPassWd(0);
}

namespace {

// Sends the new password of r; on success the box, and the login password follows when r is the
// logged-in user (so the next change asks for it as the old one).
bool SendPassword(_VTN_USER_INFO* r)
{
    const std::string password = EntryText(SetPass.pNewEntry);
    CopyEntryText(r->password, sizeof r->password, SetPass.pNewEntry);
    const int st = cs_vtn_set_user(handle, r, VTN_USER_SET_PASSWORD);
    memset(r->password, 0, sizeof r->password);
    if (st != 0)
        return RequestFailed("Failed to modify the password.");
    if (IsCurrentUser(*r))
        CopyText(NewSys.szPassword, password.c_str());
    MessageBox("Password has been modified successfully.", "Confirmation", false);
    return true;
}

}  // namespace

bool SetCurrPassOK(GtkWidget*)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr)
        return true;
    if (EntryText(SetPass.pOldEntry) != NewSys.szPassword) {
        MessageBox("Old password is wrong.", "Error", false);
        return false;
    }
    if (!PasswordsMatch(SetPass.pNewEntry, SetPass.pConfirmEntry))
        return false;
    _VTN_USER_INFO r = win->UserInfo;
    return SendPassword(&r);
}

bool SetUserPassOK(GtkWidget*)
{
    if (!PasswordsMatch(SetPass.pNewEntry, SetPass.pConfirmEntry))
        return false;
    _VTN_USER_INFO r = UserMan.SelUser;
    CopyText(r.name, SelectedName().c_str());
    return SendPassword(&r);
}
