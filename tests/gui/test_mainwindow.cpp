// The main window: start-up state, the menu bar, form switching with toolbars and /Operation,
// the timer's gate, the fresh list and the teardown.
#include <cstring>
#include <string>
#include <vector>

#include "client.h"
#include "drivergui_list.h"
#include "fakedriver.h"
#include "harness.h"
#include "signfunc.h"
#include "vtntree.h"

namespace {

std::vector<std::string> OperationItems(CMainWindow* win)
{
    std::vector<std::string> out;
    GtkWidget* submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(win->MenuItem("/Operation")));
    GList* children = gtk_container_get_children(GTK_CONTAINER(submenu));
    for (GList* l = children; l; l = l->next)
        if (gtk_widget_get_visible(GTK_WIDGET(l->data)))
            out.push_back(gtk_menu_item_get_label(GTK_MENU_ITEM(l->data)));
    g_list_free(children);
    return out;
}

std::vector<std::string> ToolbarCaptions(SToolbarButtonInfo* rows, int n)
{
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i)
        out.push_back(rows[i].button ? gtk_tool_button_get_label(GTK_TOOL_BUTTON(rows[i].button)) : "<none>");
    return out;
}

// The accelerator of a menu item (0 and no modifiers without one).
void ItemAccel(GtkWidget* item, guint* key, GdkModifierType* mods)
{
    *key = 0;
    *mods = static_cast<GdkModifierType>(0);
    GList* closures = gtk_widget_list_accel_closures(item);
    for (GList* l = closures; l; l = l->next) {
        auto* closure = static_cast<GClosure*>(l->data);
        GtkAccelGroup* group = gtk_accel_group_from_accel_closure(closure);
        GtkAccelKey* k = group ? gtk_accel_group_find(
                                     group, [](GtkAccelKey*, GClosure* c, gpointer data) -> gboolean { return c == data; },
                                     closure)
                               : nullptr;
        if (k) {
            *key = k->accel_key;
            *mods = k->accel_mods;
        }
    }
    g_list_free(closures);
}

bool OperationShown(CMainWindow* win)
{
    return gtk_widget_get_visible(win->MenuItem("/Operation"));
}

using MainWindow = GuiTest;

TEST_F(MainWindow, StartsOnRemoteControlWithEventViewBuiltAndTimer)
{
    CMainWindow* win = StartMainWindow();
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(win->pWindow)), "Vorathine RAID Management Software");
    EXPECT_STREQ(win->szCurrForm, "Remote Control");
    ASSERT_NE(win->GetCurrForm("Event View"), nullptr);
    EXPECT_FALSE(gtk_widget_get_visible(win->GetCurrForm("Event View")->container));
    EXPECT_TRUE(gtk_widget_get_visible(win->GetCurrForm("Remote Control")->container));
    EXPECT_EQ(g_list_length(win->pFormList), 2u);
    EXPECT_NE(win->pLogList, nullptr);
    EXPECT_NE(win->pClearButton, nullptr);
    EXPECT_EQ(win->nLogMask, 7u);
    EXPECT_EQ(handle, -1);
    EXPECT_FALSE(win->bLoggedIn);
    EXPECT_TRUE(win->bTimerOn);
    EXPECT_NE(win->nTimerSource, 0u);
    EXPECT_NE(win->nDrainSource, 0u);
    EXPECT_NE(win->pFont[0], nullptr);
    EXPECT_NE(win->pFont[1], nullptr);
    for (GdkPixbuf* p : win->pPixmap) {
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(gdk_pixbuf_get_width(p), 24);
        EXPECT_EQ(gdk_pixbuf_get_height(p), 24);
    }
    GtkStatusbar* bar = GTK_STATUSBAR(win->pStatusBar);
    GtkWidget* area = gtk_statusbar_get_message_area(bar);
    auto labels = FindWidgets(area, [](GtkWidget* w) { return GTK_IS_LABEL(w); });
    ASSERT_FALSE(labels.empty());
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(labels.front())), "No system connected");
    win->PrintStatus("Second");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(labels.front())), "Second");
    // The Event View's filter boxes all start checked.
    auto checks = FindWidgets(win->GetCurrForm("Event View")->container,
                              [](GtkWidget* w) { return GTK_IS_CHECK_BUTTON(w); });
    ASSERT_EQ(checks.size(), 3u);
    for (GtkWidget* c : checks)
        EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c)));
}

TEST_F(MainWindow, MenuPathsHaveTheirItemsAcceleratorsAndCallbacks)
{
    CMainWindow* win = StartMainWindow();
    struct Case {
        const char* path;
        const char* accelerator;  // null: none
        void (*callback)();
    } cases[] = {
        {"/File/Remote Control", nullptr, RemoteControl},
        {"/File/System Configuration", nullptr, SetSysConfig},
        {"/File/User Management", nullptr, UserManageMent},
        {"/File/Password", nullptr, SetCurrentPass},
        {"/File/Exit", nullptr, MainExit},
        {"/Management/Array Management", "<control>A", ArrayManagement},
        {"/Management/Device Management", "<control>D", DeviceManagement},
        {"/Management/Spare Pool", "<control>S", SparePool},
        {"/Management/Event Notification", nullptr, EventNotification},
        {"/Management/Task Schedule Management", nullptr, TaskManagement},
        {"/Management/Refresh", "<control>R", ReScan},
        {"/View/Event View", nullptr, EventView},
        {"/View/Icon View", nullptr, IconView},
        {"/Help/Help Topics", nullptr, HelpTop},
        {"/Help/About", nullptr, AboutBox},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        GtkWidget* item = win->MenuItem(c.path);
        ASSERT_NE(item, nullptr);
        // Before a login the rights gating turns off what needs a logged-in user.
        const bool gated = strcmp(c.path, "/File/System Configuration") == 0 ||
                           strcmp(c.path, "/File/User Management") == 0 || strcmp(c.path, "/File/Password") == 0 ||
                           strcmp(c.path, "/Management/Event Notification") == 0;
        EXPECT_EQ(gtk_widget_get_sensitive(item), !gated);
        guint key = 0;
        GdkModifierType mods;
        ItemAccel(item, &key, &mods);
        guint wantKey = 0;
        GdkModifierType wantMods = static_cast<GdkModifierType>(0);
        if (c.accelerator)
            gtk_accelerator_parse(c.accelerator, &wantKey, &wantMods);
        EXPECT_EQ(key, wantKey);
        EXPECT_EQ(mods, wantMods);
        // The table row of the path names the callback.
        int rows = 0;
        for (const SMenuEntry& e : mainmenu_items) {
            std::string p;
            for (const char* s = e.path; *s; ++s)
                if (*s != '_')
                    p += *s;
            if (p == c.path) {
                ++rows;
                EXPECT_EQ(e.callback, c.callback);
            }
        }
        EXPECT_EQ(rows, 1);
    }
    EXPECT_EQ(nItemNum, 28);
    for (const char* branch : {"/File", "/Management", "/View", "/Operation", "/Help"}) {
        ASSERT_NE(win->MenuItem(branch), nullptr) << branch;
        EXPECT_NE(gtk_menu_item_get_submenu(GTK_MENU_ITEM(win->MenuItem(branch))), nullptr);
    }
    // Paths as the table writes them find the same items; an unknown path changes nothing.
    EXPECT_EQ(win->MenuItem("/File/E_xit"), win->MenuItem("/File/Exit"));
    win->DisableMenu("/No/Such/Item");
    win->HideMenu("/No/Such/Item");
    win->DisableMenu("/File/Password");
    EXPECT_FALSE(gtk_widget_get_sensitive(win->MenuItem("/File/Password")));
    win->EnableMenu("/File/Password");
    EXPECT_TRUE(gtk_widget_get_sensitive(win->MenuItem("/File/Password")));
}

TEST_F(MainWindow, MenuItemsAndAcceleratorsSwitchForms)
{
    CMainWindow* win = StartMainWindow();
    // A user with every right: nothing gates the menu (an insensitive menu blocks its accelerators).
    win->bLoggedIn = true;
    win->UserInfo.rights = 0xFFFFFFFF;
    win->FreshPrivilege();
    struct Case {
        const char* path;
        guint key;  // with Control; 0: the item is activated
        const char* form;
    } cases[] = {
        {"/Management/Array Management", GDK_KEY_a, "Array Management"},
        {"/Management/Device Management", GDK_KEY_d, "Device Management"},
        {"/Management/Spare Pool", GDK_KEY_s, "Spare Pool"},
        {"/Management/Event Notification", 0, "Event Notification"},
        {"/View/Event View", 0, "Event View"},
        {"/View/Icon View", 0, "Icon View"},
        {"/File/Remote Control", 0, "Remote Control"},
        {"/Management/Array Management", 0, "Array Management"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        if (c.key)
            EXPECT_TRUE(gtk_accel_groups_activate(G_OBJECT(win->pWindow), c.key, GDK_CONTROL_MASK));
        else
            gtk_menu_item_activate(GTK_MENU_ITEM(win->MenuItem(c.path)));
        EXPECT_STREQ(win->szCurrForm, c.form);
    }
}

TEST_F(MainWindow, EachFormShowsItsToolbarAndOperationItems)
{
    CMainWindow* win = StartMainWindow();
    struct Case {
        void (*show)();
        const char* form;
        SToolbarButtonInfo* rows;
        int n;
        std::vector<std::string> captions;
    } cases[] = {
        {ArrayManagement, "Array Management", ArrayMenageToolbar, VTN_ARRAYMANAGE_ROWS,
         {"Create", "Delete", "Rename", "Add Disk", "Verify", "Rebuild", "Abort"}},
        {EventView, "Event View", nullptr, 0, {}},
        {DeviceManagement, "Device Management", DeviceMenageToolbar, VTN_DEVICEMANAGE_ROWS, {"Rescan Devices"}},
        {EventNotification, "Event Notification", EventNotiToolbar, VTN_EVENTNOTI_ROWS,
         {"Setting", "Add", "Modify", "Delete", "Test"}},
        {SparePool, "Spare Pool", nullptr, 0, {}},
        {IconView, "Icon View", nullptr, 0, {}},
        {RemoteControl, "Remote Control", RemoteConToolbar, VTN_REMOTECON_ROWS,
         {"New System", "Modify", "Delete", "Connect", "Disconnect"}},
        {ArrayManagement, "Array Management", ArrayMenageToolbar, VTN_ARRAYMANAGE_ROWS,
         {"Create", "Delete", "Rename", "Add Disk", "Verify", "Rebuild", "Abort"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.form);
        c.show();
        EXPECT_STREQ(win->szCurrForm, c.form);
        // Exactly one form is shown.
        int shown = 0;
        for (GList* l = win->pFormList; l; l = l->next)
            shown += gtk_widget_get_visible(static_cast<SFormInfo*>(l->data)->container) ? 1 : 0;
        EXPECT_EQ(shown, 1);
        EXPECT_TRUE(gtk_widget_get_visible(win->GetCurrForm(c.form)->container));
        EXPECT_EQ(OperationShown(win), c.rows != nullptr);
        EXPECT_EQ(win->pOperTable, c.rows);
        EXPECT_EQ(win->nOperCount, c.n);
        if (c.rows == nullptr)
            continue;
        EXPECT_EQ(ToolbarCaptions(c.rows, c.n), c.captions);
        EXPECT_EQ(OperationItems(win), c.captions);
        for (int i = 0; i < c.n; ++i) {
            ASSERT_NE(c.rows[i].menuitem, nullptr);
            EXPECT_EQ(gtk_widget_get_tooltip_text(c.rows[i].button), std::string(c.rows[i].text));
            // The toolbar button sits inside this form.
            EXPECT_TRUE(gtk_widget_is_ancestor(c.rows[i].button, win->GetCurrForm(c.form)->container));
        }
    }
    // Forms hidden before keep their toolbars; only the current form's rows hold menu items.
    for (int i = 0; i < VTN_REMOTECON_ROWS; ++i) {
        EXPECT_NE(RemoteConToolbar[i].button, nullptr);
        EXPECT_EQ(RemoteConToolbar[i].menuitem, nullptr);
    }
    EXPECT_EQ(g_list_length(win->pFormList), 7u);
}

TEST_F(MainWindow, TheFormAlreadyShownIsLeftAlone)
{
    CMainWindow* win = StartMainWindow();
    ArrayManagement();
    std::vector<GtkWidget*> items;
    for (auto& row : ArrayMenageToolbar)
        items.push_back(row.menuitem);
    ArrayManagement();
    gtk_menu_item_activate(GTK_MENU_ITEM(win->MenuItem("/Management/Array Management")));
    for (int i = 0; i < VTN_ARRAYMANAGE_ROWS; ++i)
        EXPECT_EQ(ArrayMenageToolbar[i].menuitem, items[i]) << "the /Operation items were rebuilt";
    EXPECT_EQ(OperationItems(win).size(), 7u);
}

TEST_F(MainWindow, FormWidgetsAndRowsSurviveASwitchAwayAndBack)
{
    ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log", "10.0.0.1\tone\t7402\n10.0.0.2\ttwo\t7403\n"));
    CMainWindow* win = StartMainWindow();
    GtkWidget* list = win->pSysList;
    ASSERT_EQ(ColumnListRows(list), 2);
    ColumnListSelectRow(list, 1);
    GtkWidget* logList = win->pLogList;
    auto checks = FindWidgets(win->GetCurrForm("Event View")->container,
                              [](GtkWidget* w) { return GTK_IS_CHECK_BUTTON(w); });
    ASSERT_EQ(checks.size(), 3u);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(checks[1]), FALSE);
    // The file changes meanwhile: the built form keeps what it shows.
    ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log", ""));
    for (auto show : {EventView, ArrayManagement, SparePool, RemoteControl}) {
        show();
        EXPECT_EQ(win->pSysList, list);
        EXPECT_EQ(win->pLogList, logList);
    }
    EXPECT_EQ(ColumnListRows(list), 2);
    EXPECT_EQ(ColumnListText(list, 1, 1), "two");
    EXPECT_EQ(ColumnListSelectedRow(list), 1);
    EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(checks[1])));
    EXPECT_EQ(g_list_length(win->pFormList), 4u);
}

TEST_F(MainWindow, TimerActsOnlyWhenConnectedWithEventViewAndTimerOn)
{
    CMainWindow* win = StartMainWindow();
    struct Case {
        int handle;
        bool timerOn;
        int result;
    } cases[] = {{-1, true, -1}, {-1, false, -1}, {0, false, -1}, {0, true, 1}, {1, true, 1}};
    for (const Case& c : cases) {
        handle = c.handle;
        win->bTimerOn = c.timerOn;
        EXPECT_EQ(CMainWindow::SysTimer(nullptr), c.result) << c.handle << " " << c.timerOn;
    }
    handle = -1;
    win->bTimerOn = true;
}

TEST_F(MainWindow, FreshListKeepsTwentyIdsWithoutDuplicates)
{
    CMainWindow* win = StartMainWindow();
    for (uint32_t id = 1; id <= 20; ++id)
        EXPECT_EQ(win->AddFresh(id * 10), 1);
    EXPECT_EQ(win->AddFresh(30), 0);   // present
    EXPECT_EQ(win->AddFresh(999), 0);  // a 21st
    EXPECT_EQ(win->nFreshCount, 20);
    EXPECT_FALSE(win->GetFresh(999));
    EXPECT_TRUE(win->GetFresh(200));
    EXPECT_EQ(win->DelFresh(30), 1);
    EXPECT_EQ(win->nFreshCount, 19);
    EXPECT_EQ(win->nFreshIds[1], 20u);
    EXPECT_EQ(win->nFreshIds[2], 40u);
    EXPECT_EQ(win->DelFresh(12345), 1);
    EXPECT_EQ(win->nFreshCount, 19);
    EXPECT_EQ(win->AddFresh(999), 1);
    EXPECT_EQ(win->DelFreshs(), 1);
    EXPECT_EQ(win->nFreshCount, 0);
    EXPECT_FALSE(win->GetFresh(200));
}

TEST_F(MainWindow, ExitDisconnectsReleasesAndRemovesItsSources)
{
    FakeDriver f;  // handle 0: connected
    static int disconnects;
    disconnects = 0;
    gFuncs.disconnect_system = [](int h) -> int {
        EXPECT_EQ(h, 0);
        ++disconnects;
        return 0;
    };
    CMainWindow* win = StartMainWindow();
    win->AddNewTree(new CVTNTree);
    static int idleRuns;
    idleRuns = 0;
    win->AddIdle([](gpointer) -> gboolean { return ++idleRuns, G_SOURCE_REMOVE; }, nullptr);
    const unsigned timer = win->nTimerSource, drain = win->nDrainSource;
    ASSERT_NE(g_main_context_find_source_by_id(nullptr, timer), nullptr);
    ASSERT_NE(g_main_context_find_source_by_id(nullptr, drain), nullptr);

    MainExit();
    EXPECT_EQ(GetMainWindow(), nullptr);
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(handle, -1);
    EXPECT_EQ(g_main_context_find_source_by_id(nullptr, timer), nullptr);
    EXPECT_EQ(g_main_context_find_source_by_id(nullptr, drain), nullptr);
    EXPECT_EQ(win->pTreeList, nullptr);
    EXPECT_EQ(win->pFormList, nullptr);
    EXPECT_EQ(win->pFont[0], nullptr);
    EXPECT_EQ(win->pPixmap[0], nullptr);
    EXPECT_EQ(win->pWindow, nullptr);
    EXPECT_EQ(win->pOperTable, nullptr);
    PumpFor(50);
    EXPECT_EQ(idleRuns, 0);
    for (auto& row : RemoteConToolbar) {
        EXPECT_EQ(row.button, nullptr);
        EXPECT_EQ(row.menuitem, nullptr);
    }
    // Callbacks that come after the window is gone find no window and do nothing.
    RemoteControl();
    EXPECT_EQ(CMainWindow::SysTimer(nullptr), -1);
    EXPECT_FALSE(CMainWindow::FocusWindow(nullptr, nullptr));
}

TEST_F(MainWindow, IdlesThatRanOrRunOnAreRemovedOnce)
{
    CMainWindow* win = StartMainWindow();
    static int once, repeats;
    once = repeats = 0;
    win->AddIdle([](gpointer) -> gboolean { return ++once, G_SOURCE_REMOVE; }, nullptr);
    const unsigned again = win->AddIdle([](gpointer) -> gboolean { return ++repeats, G_SOURCE_CONTINUE; }, nullptr);
    ASSERT_TRUE(PumpUntil([] { return once == 1 && repeats >= 2; }));
    EXPECT_EQ(g_list_length(win->pIdleSources), 1u);
    // A done idle is not removed again (which GLib would report as a critical).
    MainExit();
    EXPECT_EQ(g_main_context_find_source_by_id(nullptr, again), nullptr);
    const int seen = repeats;
    PumpFor(30);
    EXPECT_EQ(repeats, seen);
    EXPECT_EQ(once, 1);
}

TEST_F(MainWindow, ClosingWhileDisconnectedSendsNothing)
{
    static int disconnects;
    disconnects = 0;
    gFuncs.disconnect_system = [](int) -> int { return ++disconnects, 0; };
    StartMainWindow();
    MainExit();
    EXPECT_EQ(disconnects, 0);
}

TEST_F(MainWindow, FocusSelectsTheFirstItemOfEachBuiltTree)
{
    CMainWindow* win = StartMainWindow();
    ArrayManagement();
    GtkTreeStore* store = gtk_tree_store_new(1, G_TYPE_STRING);
    GtkTreeIter root, child;
    gtk_tree_store_append(store, &root, nullptr);
    gtk_tree_store_set(store, &root, 0, "system", -1);
    gtk_tree_store_append(store, &child, &root);
    gtk_tree_store_set(store, &child, 0, "disk", -1);
    GtkWidget* tree = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    gtk_box_pack_start(GTK_BOX(win->GetCurrForm("Array Management")->container), tree, TRUE, TRUE, 0);
    gtk_widget_show(tree);
    win->pArrayTree = tree;
    static int changes;
    changes = 0;
    g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(tree)), "changed",
                     G_CALLBACK(+[](GtkTreeSelection*, gpointer) { ++changes; }), nullptr);
    CMainWindow::FocusWindow(nullptr, nullptr);
    GtkTreePath* first = gtk_tree_path_new_first();
    EXPECT_TRUE(gtk_tree_view_row_expanded(GTK_TREE_VIEW(tree), first));
    EXPECT_TRUE(gtk_tree_selection_path_is_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(tree)), first));
    gtk_tree_path_free(first);
    EXPECT_GE(changes, 1);
    // Selecting again runs the handler again.
    const int before = changes;
    win->FreshTree();
    EXPECT_GT(changes, before);
}

}  // namespace

TEST(SelectionHandlers, BlockedHandlersOfTreesAndItemListsRunNoMore)
{
    static int calls;
    calls = 0;
    auto count = G_CALLBACK(+[](gpointer, gpointer) { ++calls; });

    GtkListStore* store = gtk_list_store_new(1, G_TYPE_STRING);
    for (const char* text : {"a", "b"})
        gtk_list_store_insert_with_values(store, nullptr, -1, 0, text, -1);
    GtkWidget* tree = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_ref_sink(tree);
    g_object_unref(store);
    GtkWidget* items = gtk_list_box_new();
    g_object_ref_sink(items);
    for (const char* text : {"a", "b"})
        gtk_container_add(GTK_CONTAINER(items), gtk_label_new(text));

    ConnectSelectionHandler(tree, "changed", count, nullptr);
    ConnectSelectionHandler(items, "row-selected", count, nullptr);
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(tree));
    GtkTreePath* first = gtk_tree_path_new_from_indices(0, -1);
    GtkTreePath* second = gtk_tree_path_new_from_indices(1, -1);
    gtk_tree_selection_select_path(selection, first);
    gtk_list_box_select_row(GTK_LIST_BOX(items), gtk_list_box_get_row_at_index(GTK_LIST_BOX(items), 0));
    EXPECT_EQ(calls, 2);

    BlockSelectionHandlers(tree);
    BlockSelectionHandlers(items);
    gtk_tree_selection_select_path(selection, second);
    gtk_list_box_select_row(GTK_LIST_BOX(items), gtk_list_box_get_row_at_index(GTK_LIST_BOX(items), 1));
    EXPECT_EQ(calls, 2) << "a blocked handler ran";

    gtk_tree_path_free(first);
    gtk_tree_path_free(second);
    gtk_widget_destroy(tree);
    gtk_widget_destroy(items);
    g_object_unref(tree);
    g_object_unref(items);
}
