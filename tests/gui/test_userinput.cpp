// The main window under a user's keys and clicks, made by the X server (VTN_OWN_DISPLAY: the
// pointer and the keyboard are this program's alone): the keys it silences, and the gating of the
// menu bar and the Remote Control toolbar while nobody is logged in.
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "client.h"
#include "drivergui_list.h"
#include "fakedriver.h"
#include "harness.h"
#include "signfunc.h"
#include "textutil.h"

namespace {

bool SubmenuShown(CMainWindow* win, const char* branch)
{
    return gtk_widget_get_mapped(gtk_menu_item_get_submenu(GTK_MENU_ITEM(win->MenuItem(branch)))) != FALSE;
}

// The row of a list's cursor, -1 without one.
int CursorRow(GtkWidget* list)
{
    GtkTreePath* path = nullptr;
    gtk_tree_view_get_cursor(GTK_TREE_VIEW(list), &path, nullptr);
    const int row = path ? gtk_tree_path_get_indices(path)[0] : -1;
    if (path)
        gtk_tree_path_free(path);
    return row;
}

// A real key press with the modifier keys held, handled on return.
void Press(guint key, const std::vector<guint>& held = {})
{
    PressKey(key, held);
    HandleXEvents();
}

void PutCursor(GtkWidget* list, int row)
{
    GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(list), path, nullptr, FALSE);
    gtk_tree_path_free(path);
}

using WindowKeys = GuiTest;

TEST_F(WindowKeys, EnterSpaceUpAndDownDoNothingWhileOtherKeysWork)
{
    ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log",
                                     "10.0.0.1\tone\t7402\n10.0.0.2\ttwo\t7402\n10.0.0.3\tthree\t7402\n"));
    CMainWindow* win = StartMainWindow();
    for (const char* text : {"first", "second", "third"})
        AddToClist('I', "01/02/2024 10:00:00", text);
    // Every right: the menus let their accelerators through.
    win->bLoggedIn = true;
    win->UserInfo.rights = 0xFFFFFFFFu;
    win->FreshPrivilege();
    FocusX(win->pWindow);

    const guint silenced[] = {GDK_KEY_Up, GDK_KEY_Down, GDK_KEY_Return, GDK_KEY_KP_Enter, GDK_KEY_space};
    struct Tree {
        void (*show)();
        GtkWidget* list;
    } trees[] = {{RemoteControl, win->pSysList}, {EventView, win->pLogList}};
    for (const Tree& t : trees) {
        t.show();
        SCOPED_TRACE(win->szCurrForm);
        ASSERT_EQ(ColumnListRows(t.list), 3);
        gtk_widget_grab_focus(t.list);
        PutCursor(t.list, 1);
        for (guint key : silenced) {
            Press(key);
            EXPECT_EQ(CursorRow(t.list), 1) << gdk_keyval_name(key);
            EXPECT_EQ(ColumnListSelectedRow(t.list), 1) << gdk_keyval_name(key);
        }
        EXPECT_EQ(TopWindows().size(), 1u);
        // The tree has the keys: End goes to its last row.
        EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(win->pWindow)), t.list);
        Press(GDK_KEY_End);
        EXPECT_EQ(ColumnListSelectedRow(t.list), 2);
    }

    // The focused "Save" button of the Event View opens no file dialog.
    GtkWidget* save = FindButton(win->GetCurrForm("Event View")->container, "Save");
    ASSERT_NE(save, nullptr);
    gtk_widget_grab_focus(save);
    for (guint key : silenced) {
        Press(key);
        EXPECT_EQ(win->pFileSel, nullptr) << gdk_keyval_name(key);
    }
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(win->pWindow)), save);
    EXPECT_EQ(TopWindows().size(), 1u);

    // The accelerators and the mnemonics still work.
    Press(GDK_KEY_a, {GDK_KEY_Control_L});
    EXPECT_STREQ(win->szCurrForm, "Array Management");
    Press(GDK_KEY_f, {GDK_KEY_Alt_L});
    EXPECT_TRUE(SubmenuShown(win, "/File"));
    Press(GDK_KEY_Escape);
    EXPECT_FALSE(SubmenuShown(win, "/File"));
}

// ---- nobody logged in --------------------------------------------------------------------------

struct Start {
    const char* what;
    const char* systems;  // the systems file; null: none
    bool rows;            // the list starts with a row selected
    bool logout;          // the list emptied while logged in, then a logout
};

void PrintTo(const Start& s, std::ostream* os)
{
    *os << s.what;
}

class LoggedOut : public GuiTest, public ::testing::WithParamInterface<Start> {};

// What a click on each Remote Control button opens: the window title, or null for none.
std::vector<const char*> ButtonWindows(bool rows)
{
    return {"Add a new system", rows ? "Modify the system" : nullptr, rows ? "Warning" : nullptr,
            rows ? "Login Form" : nullptr, nullptr};
}

TEST_P(LoggedOut, OnlyWhatNeedsNoLoginCanBeUsed)
{
    const Start& c = GetParam();
    if (c.systems) {
        ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log", c.systems));
    }
    std::unique_ptr<FakeDriver> driver;
    if (c.logout) {
        // Logged in as a user with every right, the one row deleted, then the logout.
        driver = std::make_unique<FakeDriver>();
        gFuncs.disconnect_system = [](int) -> int { return 0; };
    }
    CMainWindow* win = StartMainWindow();
    if (c.logout) {
        CopyText(NewSys.szUserName, "admin");
        win->bLoggedIn = true;
        win->UserInfo.rights = 0xFFFFFFFFu;
        win->FreshRemoteConTool();
        Answering({{"Warning", "OK"}}, [] { DelSystem(); });
        ASSERT_EQ(ColumnListRows(win->pSysList), 0);
        Answering({{"Confirmation", "OK"}}, [] { EXPECT_TRUE(LogoutSystem()); });
        ASSERT_LT(handle, 0);
    }
    FocusX(win->pWindow);

    // The accelerators of /Management do nothing.
    for (guint key : {GDK_KEY_a, GDK_KEY_d, GDK_KEY_s, GDK_KEY_r}) {
        Press(key, {GDK_KEY_Control_L});
        EXPECT_STREQ(win->szCurrForm, "Remote Control") << "Ctrl+" << gdk_keyval_name(key);
    }
    // Neither /Management nor /View opens; /File does.
    for (const char* branch : {"/Management", "/View"}) {
        ClickWidget(win->MenuItem(branch));
        EXPECT_FALSE(SubmenuShown(win, branch)) << branch;
    }
    ClickWidget(win->MenuItem("/File"));
    ASSERT_TRUE(SubmenuShown(win, "/File"));
    // In it, what acts on a server is not there to choose; Remote Control is.
    static std::vector<std::string> chosen;
    chosen.clear();
    const char* const file[] = {"/File/System Configuration", "/File/User Management", "/File/Password",
                                "/File/Remote Control"};
    auto choose = +[](GtkMenuItem* item, gpointer) { chosen.push_back(gtk_menu_item_get_label(item)); };
    for (const char* path : file)
        g_signal_connect(win->MenuItem(path), "activate", G_CALLBACK(choose), nullptr);
    for (const char* path : file)
        if (SubmenuShown(win, "/File"))
            ClickWidget(win->MenuItem(path));
    EXPECT_EQ(chosen, std::vector<std::string>{"_Remote Control"});
    EXPECT_FALSE(SubmenuShown(win, "/File"));

    // The toolbar: each button opens its window, or nothing.
    const std::vector<const char*> opens = ButtonWindows(c.rows);
    for (int i = 0; i < VTN_REMOTECON_ROWS; ++i) {
        SCOPED_TRACE(RemoteConToolbar[i].text);
        std::vector<Answer> script;
        if (opens[i])
            script.push_back({opens[i], "Cancel"});
        Answering(script, [i] { ClickWidget(RemoteConToolbar[i].button); }, 10000);
    }
    EXPECT_EQ(TopWindows().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    SystemsFiles, LoggedOut,
    ::testing::Values(Start{"missing", nullptr, true, false}, Start{"empty", "", false, false},
                      Start{"rows", "10.0.0.1\tone\t7402\n10.0.0.2\ttwo\t7402\n", true, false},
                      Start{"emptied_then_logout", "10.0.0.1\tone\t7402\n", false, true}),
    [](const ::testing::TestParamInfo<Start>& info) { return std::string(info.param.what); });

}  // namespace
