// Rights gating: the menu bar by the login and the user's rights, the Remote Control toolbar by
// the selected system, the Event Notification toolbar by the recipients list.
#include "drivergui.h"
#include "drivergui_list.h"

namespace {

// Rights bits the gating tests.
constexpr uint32_t kRightSpare = 0x10000 | 0x20000;
constexpr uint32_t kRightUsers = 0x100000;
constexpr uint32_t kRightMail = 0x200000;
constexpr uint32_t kRightClearEvents = 0x800000;
constexpr uint32_t kRightServerParams = 0x10000000;
constexpr uint32_t kRightTasks = 0x20000000;

}  // namespace

void SetRowSensitive(SToolbarButtonInfo& row, bool on)
{
    if (row.button)
        gtk_widget_set_sensitive(row.button, on);
    if (row.menuitem)
        gtk_widget_set_sensitive(row.menuitem, on);
}

void CMainWindow::FreshPrivilege()
{
    static const char* const kGated[] = {"/File/System Configuration", "/Management",  "/File/User Management",
                                         "/View",                      "/File/Password", "/Management/Event Notification"};
    if (!bLoggedIn) {
        for (const char* path : kGated)
            DisableMenu(path);
        return;
    }
    for (const char* path : kGated)
        EnableMenu(path);
    const uint32_t rights = UserInfo.rights;
    auto gate = [this](const char* path, bool on) { on ? EnableMenu(path) : DisableMenu(path); };
    gate("/File/User Management", rights & kRightUsers);
    if (GetCurrForm("Array Management") && pArrayTree)
        FreshArrayManTool(GetTreeSelectedID(pArrayTree));
    gate("/Management/Spare Pool", rights & kRightSpare);
    gate("/Management/Event Notification", rights & kRightMail);
    if (GetCurrForm("Event View") && pClearButton)
        gtk_widget_set_sensitive(pClearButton, (rights & kRightClearEvents) != 0);
    gate("/File/System Configuration", rights & kRightServerParams);
    gate("/Management/Task Schedule Management", rights & kRightTasks);
}

void CMainWindow::FreshRemoteConTool()
{
    if (pSysList == nullptr)
        return;
    // Row 0, "New System", always stays as it is.
    const int row = ColumnListSelectedRow(pSysList);
    if (ColumnListRows(pSysList) == 0 || row < 0) {
        for (int i = 1; i < VTN_REMOTECON_ROWS; ++i)
            SetRowSensitive(RemoteConToolbar[i], false);
        if (ColumnListRows(pSysList) > 0)
            FreshPrivilege();
        return;
    }
    const bool connected = ColumnListText(pSysList, row, 3) == "Connected";
    for (int i = 1; i <= 3; ++i)  // Modify, Delete, Connect
        SetRowSensitive(RemoteConToolbar[i], !connected);
    SetRowSensitive(RemoteConToolbar[4], connected);  // Disconnect
    FreshPrivilege();
}

void CMainWindow::FreshEventNotiTool()
{
    if (pRecipientList == nullptr)
        return;
    // "Setting" is never changed; "Add" only by its button.
    if (ColumnListRows(pRecipientList) > 0) {
        if (EventNotiToolbar[1].button)
            gtk_widget_set_sensitive(EventNotiToolbar[1].button, TRUE);
        const bool selected = ColumnListSelectedRow(pRecipientList) >= 0;
        for (int i = 2; i <= 4; ++i)
            SetRowSensitive(EventNotiToolbar[i], selected);
    } else {
        for (int i = 2; i <= 4; ++i)
            SetRowSensitive(EventNotiToolbar[i], false);
    }
}
