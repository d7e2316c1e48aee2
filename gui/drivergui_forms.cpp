// Forms of the main window: the form list, switching, the toolbar tables with their toolbars and
// /Operation items, the menu-bar callbacks that switch forms, and the fresh list.
#include <cstring>

#include "dialogs/createarray.h"
#include "drivergui.h"
#include "drivergui_list.h"
#include "drivergui_loglist.h"
#include "signfunc.h"
#include "textutil.h"
#include "xpm_data.h"

SToolbarButtonInfo RemoteConToolbar[VTN_REMOTECON_ROWS] = {
    {"New System", "New System", xpm_d_addhost, NewSystem, 1, "", nullptr, nullptr},
    {"Modify", "Modify", xpm_d_ModifyHost, ModSystem, 1, "", nullptr, nullptr},
    {"Delete", "Delete", xpm_d_delete, DelSystem, 1, "", nullptr, nullptr},
    {"Connect", "Connect", xpm_d_connect, LogSystem, 1, "", nullptr, nullptr},
    {"Disconnect", "Disconnect", xpm_d_disconnect, [] { LogoutSystem(); }, 1, "", nullptr, nullptr},
};

SToolbarButtonInfo EventNotiToolbar[VTN_EVENTNOTI_ROWS] = {
    {"Setting", "Setting", xpm_d_setmail, SMTPServerSet, 1, "", nullptr, nullptr},
    {"Add", "Add", xpm_d_addmail, AddRecipient, 1, "", nullptr, nullptr},
    {"Modify", "Modify", xpm_d_modmail, ModRecipient, 1, "", nullptr, nullptr},
    {"Delete", "Delete", xpm_d_delmail, DelRecipient, 1, "", nullptr, nullptr},
    {"Test", "Test", xpm_d_testmail, TestRecipient, 1, "", nullptr, nullptr},
};

SToolbarButtonInfo ArrayMenageToolbar[VTN_ARRAYMANAGE_ROWS] = {
    {"Create", "Create", xpm_d_createarray, CreateArray, 1, "", nullptr, nullptr},
    {"Delete", "Delete", xpm_d_delarray, DeleteArray, 1, "", nullptr, nullptr},
    {"Rename", "Rename", xpm_d_renarray, RenameArray, 1, "", nullptr, nullptr},
    {"Add Disk", "Add Disk", xpm_d_addarray, AddDiskArray, 1, "", nullptr, nullptr},
    {"Verify", "Verify", xpm_d_veriarray, VerifyArray, 1, "", nullptr, nullptr},
    {"Rebuild", "Rebuild", xpm_d_rebuiarray, RebuildArray, 1, "", nullptr, nullptr},
    {"Abort", "Abort", xpm_d_abortarray, AbortArray, 1, "", nullptr, nullptr},
};

SToolbarButtonInfo DeviceMenageToolbar[VTN_DEVICEMANAGE_ROWS] = {
    {"Rescan Devices", "Rescan Devices", xpm_d_rescandevice, ReScan, 1, "", nullptr, nullptr},
};

SToolbarButtonInfo TaskManageToolbar[VTN_TASKMANAGE_ROWS] = {
    {"New", "New", xpm_d_Newtask, AddNewTask, 1, "", nullptr, nullptr},
    {"Modify", "Modify", xpm_d_Modifytask, ModifyTask, 1, "", nullptr, nullptr},
    {"Delete", "Delete", xpm_d_deleteTask, DeleteTask, 1, "", nullptr, nullptr},
};

SToolbarButtonInfo SparePoolToolbar[VTN_SPAREPOOL_ROWS] = {
    {"", "", nullptr, nullptr, 1, "", nullptr, nullptr},
    {"", "", nullptr, nullptr, 1, "", nullptr, nullptr},
};

static const char* const RemoteConListTitles[] = {"IP Address", "System Name", "Port", "Status"};
static const char* const EventNotiListTitles[] = {"Name", "E-mail", "Event Level"};
static const char* const EventViewListTitles[] = {"Icon", "Time", "Description"};
static const char* const IconViewListTitles[] = {"Icons", "Description"};

// ---- form list ---------------------------------------------------------------------------------

SFormInfo* CMainWindow::GetCurrForm(const char* name)
{
    for (GList* l = pFormList; l; l = l->next) {
        auto* form = static_cast<SFormInfo*>(l->data);
        if (name && strcmp(form->name, name) == 0)
            return form;
    }
    return nullptr;
}

int CMainWindow::AddNewForm(const char* name, GtkWidget* container)
{
    auto* form = new (std::nothrow) SFormInfo;
    if (form == nullptr)
        return 0;
    CopyText(form->name, name);
    form->container = container;
    pFormList = g_list_append(pFormList, form);
    return 1;
}

void CMainWindow::HideCurrForm()
{
    if (SFormInfo* form = GetCurrForm(szCurrForm))
        gtk_widget_hide(form->container);
}

// Steps common to every form: nothing for the form already shown; else hide the current one,
// build this one on first use or show it again, make it current and mirror its toolbar in
// /Operation. False when nothing changed (the caller then skips its refresh).
bool CMainWindow::SwitchForm(const char* name, void (CMainWindow::*build)(GtkWidget* box), SToolbarButtonInfo* rows,
                             int n)
{
    if (strcmp(szCurrForm, name) == 0)
        return false;
    HideCurrForm();
    if (SFormInfo* form = GetCurrForm(name)) {
        gtk_widget_show(form->container);
    } else {
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_box_pack_start(GTK_BOX(pVBox), box, TRUE, TRUE, 0);
        (this->*build)(box);
        // Widgets a form keeps hidden are marked no-show-all by their builder.
        gtk_widget_show_all(box);
        if (!AddNewForm(name, box)) {
            gtk_widget_destroy(box);
            return false;
        }
    }
    CopyText(szCurrForm, name);
    AddMainMenu(rows, n);
    return true;
}

// ---- toolbars and /Operation -------------------------------------------------------------------

namespace {

void OnToolbarClicked(GtkToolButton*, gpointer row)
{
    if (auto callback = static_cast<SToolbarButtonInfo*>(row)->callback)
        callback();
}

void OnOperationActivate(GtkMenuItem*, gpointer row)
{
    if (auto callback = static_cast<SToolbarButtonInfo*>(row)->callback)
        callback();
}

// A row never keeps a widget that is gone.
void OnToolbarButtonDestroy(GtkWidget* widget, gpointer row)
{
    auto* r = static_cast<SToolbarButtonInfo*>(row);
    if (r->button == widget)
        r->button = nullptr;
}

void OnOperationItemDestroy(GtkWidget* widget, gpointer row)
{
    auto* r = static_cast<SToolbarButtonInfo*>(row);
    if (r->menuitem == widget)
        r->menuitem = nullptr;
}

}  // namespace

void CMainWindow::CreateToolBar(GtkWidget* container, SToolbarButtonInfo* rows, int n)
{
    GtkWidget* toolbar = gtk_toolbar_new();
    gtk_toolbar_set_style(GTK_TOOLBAR(toolbar), GTK_TOOLBAR_BOTH);
    gtk_toolbar_set_show_arrow(GTK_TOOLBAR(toolbar), FALSE);
    gtk_container_set_border_width(GTK_CONTAINER(toolbar), 5);
    for (int i = 0; i < n; ++i) {
        GtkWidget* image = rows[i].xpm ? gtk_image_new_from_pixbuf(XpmPixbuf(rows[i].xpm)) : nullptr;
        GtkToolItem* item = gtk_tool_button_new(image, rows[i].text);
        gtk_widget_set_tooltip_text(GTK_WIDGET(item), rows[i].tooltip);
        g_signal_connect(item, "clicked", G_CALLBACK(OnToolbarClicked), &rows[i]);
        g_signal_connect(item, "destroy", G_CALLBACK(OnToolbarButtonDestroy), &rows[i]);
        gtk_toolbar_insert(GTK_TOOLBAR(toolbar), item, -1);
        rows[i].button = GTK_WIDGET(item);
    }
    if (GTK_IS_BOX(container))
        gtk_box_pack_start(GTK_BOX(container), toolbar, FALSE, FALSE, 0);
    else
        gtk_container_add(GTK_CONTAINER(container), toolbar);
    gtk_widget_show_all(toolbar);
}

void CMainWindow::AddMainMenu(SToolbarButtonInfo* rows, int n)
{
    GtkWidget* operation = MenuItem("/Operation");
    GtkWidget* submenu = operation ? gtk_menu_item_get_submenu(GTK_MENU_ITEM(operation)) : nullptr;
    for (int i = 0; pOperTable && i < nOperCount; ++i)
        if (GtkWidget* item = pOperTable[i].menuitem) {
            pOperTable[i].menuitem = nullptr;
            gtk_widget_destroy(item);
        }
    if (rows == nullptr || submenu == nullptr) {
        pOperTable = nullptr;
        nOperCount = 0;
        HideMenu("/Operation");
        return;
    }
    ShowMenu("/Operation");
    pOperTable = rows;
    nOperCount = n;
    for (int i = 0; i < n; ++i) {
        GtkWidget* item = gtk_menu_item_new_with_mnemonic(rows[i].text);
        g_signal_connect(item, "activate", G_CALLBACK(OnOperationActivate), &rows[i]);
        g_signal_connect(item, "destroy", G_CALLBACK(OnOperationItemDestroy), &rows[i]);
        gtk_menu_shell_insert(GTK_MENU_SHELL(submenu), item, i);
        gtk_widget_show(item);
        rows[i].menuitem = item;
    }
}

// ---- the forms ---------------------------------------------------------------------------------

void CMainWindow::ShowRemoteCon(const char* name)
{
    if (SwitchForm(name, &CMainWindow::BuildRemoteCon, RemoteConToolbar, VTN_REMOTECON_ROWS))
        FreshRemoteConTool();
}

void CMainWindow::BuildRemoteCon(GtkWidget* box)
{
    CreateToolBar(box, RemoteConToolbar, VTN_REMOTECON_ROWS);
    GtkWidget* list = NewColumnList(4, RemoteConListTitles);
    ColumnListSetWidth(list, 0, 100);
    ColumnListSetWidth(list, 1, 200);
    ColumnListSetWidth(list, 2, 150);
    ColumnListOnSelectRow(list, syslistselect, nullptr);
    GtkWidget* scrolled = ScrolledColumnList(list);
    gtk_widget_set_size_request(scrolled, 220, 320);
    gtk_box_pack_start(GTK_BOX(box), scrolled, TRUE, TRUE, 0);
    pSysList = list;
    LoadSystem(pSysList);
    // Nobody is logged in on a freshly built list.
    NewSys.szUserName[0] = 0;
    NewSys.szPassword[0] = 0;
}

void syslistselect(GtkWidget*, int, int, GdkEventButton*, void*)
{
    if (CMainWindow* win = GetMainWindow())
        win->FreshRemoteConTool();
}

void CMainWindow::ShowEventNotifi(const char* name)
{
    if (SwitchForm(name, &CMainWindow::BuildEventNotifi, EventNotiToolbar, VTN_EVENTNOTI_ROWS))
        LoadReceiver();
}

void CMainWindow::BuildEventNotifi(GtkWidget* box)
{
    CreateToolBar(box, EventNotiToolbar, VTN_EVENTNOTI_ROWS);
    GtkWidget* list = NewColumnList(3, EventNotiListTitles);
    ColumnListSetWidth(list, 0, 100);
    ColumnListSetWidth(list, 1, 100);
    ColumnListOnSelectRow(list, ReceiverSelect, nullptr);
    GtkWidget* scrolled = ScrolledColumnList(list);
    gtk_widget_set_size_request(scrolled, 220, 320);
    gtk_box_pack_start(GTK_BOX(box), scrolled, TRUE, TRUE, 0);
    pRecipientList = list;
}

void CMainWindow::ShowArrayManage(const char* name)
{
    if (SwitchForm(name, &CMainWindow::BuildArrayManage, ArrayMenageToolbar, VTN_ARRAYMANAGE_ROWS))
        FocusWindow(nullptr, nullptr);
}

void CMainWindow::ShowDeviceManage(const char* name)
{
    if (SwitchForm(name, &CMainWindow::BuildDeviceManage, DeviceMenageToolbar, VTN_DEVICEMANAGE_ROWS)) {
        FreshPrivilege();
        FocusWindow(nullptr, nullptr);
    }
}

void CMainWindow::ShowEventView(const char* name)
{
    SwitchForm(name, &CMainWindow::BuildEventView, nullptr, 0);
}

void CMainWindow::BuildEventView(GtkWidget* box)
{
    GtkWidget* top = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_start(GTK_BOX(box), top, FALSE, FALSE, 0);

    GtkWidget* frame = gtk_frame_new("Filter");
    gtk_container_set_border_width(GTK_CONTAINER(frame), 5);
    gtk_box_pack_start(GTK_BOX(top), frame, FALSE, FALSE, 0);
    GtkWidget* checks = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_container_add(GTK_CONTAINER(frame), checks);
    const struct {
        const char* label;
        void (*handler)(GtkWidget*);
    } filters[] = {{"Information", log_toggle_regular}, {"Warning", log_toggle_warning}, {"Error", log_toggle_critical}};
    for (const auto& f : filters) {
        GtkWidget* check = gtk_check_button_new_with_label(f.label);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), TRUE);
        g_signal_connect(check, "clicked", G_CALLBACK(+[](GtkButton* b, gpointer h) {
                             reinterpret_cast<void (*)(GtkWidget*)>(h)(GTK_WIDGET(b));
                         }),
                         reinterpret_cast<gpointer>(f.handler));
        gtk_box_pack_start(GTK_BOX(checks), check, TRUE, FALSE, 0);
    }

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 10);
    gtk_container_set_border_width(GTK_CONTAINER(buttons), 10);
    gtk_box_pack_start(GTK_BOX(top), buttons, TRUE, TRUE, 0);
    pClearButton = CreateButton("Clear");
    g_signal_connect(pClearButton, "clicked", G_CALLBACK(+[](GtkButton*, gpointer) { ClearLog(); }), nullptr);
    gtk_box_pack_start(GTK_BOX(buttons), pClearButton, FALSE, FALSE, 0);
    GtkWidget* save = CreateButton("Save");
    g_signal_connect(save, "clicked", G_CALLBACK(+[](GtkButton*, gpointer) { SaveLog(); }), nullptr);
    gtk_box_pack_start(GTK_BOX(buttons), save, FALSE, FALSE, 0);

    GtkWidget* list = NewLogList(EventViewListTitles);
    ColumnListOnClickColumn(list, log_click_column, nullptr);
    gtk_box_pack_start(GTK_BOX(box), ScrolledColumnList(list), TRUE, TRUE, 0);
    pLogList = list;
    nLogMask = 1 | 2 | 4;
    // The first click on "Icon" shows the errors first.
    bSortOrder = 1;
}

void CMainWindow::ShowIconView(const char* name)
{
    SwitchForm(name, &CMainWindow::BuildIconView, nullptr, 0);
}

void CMainWindow::BuildIconView(GtkWidget* box)
{
    GtkWidget* list = NewColumnList(2, IconViewListTitles);
    ColumnListSetWidth(list, 1, 0);
    ColumnListTextOnly(list, 1);
    // The long descriptions are reached by a scroll bar that shows.
    gtk_box_pack_start(GTK_BOX(box), ScrolledColumnList(list), TRUE, TRUE, 0);
    pIconList = list;
    LoadIcons();
}

// ---- menu-bar callbacks ------------------------------------------------------------------------

void RemoteControl()
{
    if (CMainWindow* win = GetMainWindow())
        win->ShowRemoteCon("Remote Control");
}

void EventNotification()
{
    if (CMainWindow* win = GetMainWindow())
        win->ShowEventNotifi("Event Notification");
}

void ArrayManagement()
{
    if (CMainWindow* win = GetMainWindow())
        win->ShowArrayManage("Array Management");
}

void DeviceManagement()
{
    if (CMainWindow* win = GetMainWindow())
        win->ShowDeviceManage("Device Management");
}

void SparePool()
{
    if (CMainWindow* win = GetMainWindow())
        win->ShowSparePool("Spare Pool");
}

void EventView()
{
    if (CMainWindow* win = GetMainWindow())
        win->ShowEventView("Event View");
}

void IconView()
{
    if (CMainWindow* win = GetMainWindow())
        win->ShowIconView("Icon View");
}

void CreateArray()
{
    GetCreateArray()->bKeepValues = 0;
    GetCreateArray()->CreateRAIDStep1();
}

// ---- fresh list --------------------------------------------------------------------------------

int CMainWindow::AddFresh(uint32_t id)
{
    if (GetFresh(id))
        return 0;
    // The list holds VTN_FRESH_SLOTS ids; a further one is refused.
    if (nFreshCount >= VTN_FRESH_SLOTS)
        return 0;
    nFreshIds[nFreshCount++] = id;
    return 1;
}

bool CMainWindow::GetFresh(uint32_t id) const
{
    for (int i = 0; i < nFreshCount; ++i)
        if (nFreshIds[i] == id)
            return true;
    return false;
}

int CMainWindow::DelFreshs()
{
    nFreshCount = 0;
    return 1;
}

int CMainWindow::DelFresh(uint32_t id)
{
    for (int i = 0; i < nFreshCount; ++i)
        if (nFreshIds[i] == id) {
            for (int j = i + 1; j < nFreshCount; ++j)
                nFreshIds[j - 1] = nFreshIds[j];
            --nFreshCount;
            break;
        }
    return 1;
}
