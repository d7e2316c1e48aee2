// The main window under a user's keys and clicks, made by the X server (VTN_OWN_DISPLAY: the
// pointer and the keyboard are this program's alone): the keys it silences.
#include <string>
#include <vector>

#include "client.h"
#include "drivergui_list.h"
#include "harness.h"
#include "signfunc.h"

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
            PressKey(key);
            EXPECT_EQ(CursorRow(t.list), 1) << gdk_keyval_name(key);
            EXPECT_EQ(ColumnListSelectedRow(t.list), 1) << gdk_keyval_name(key);
        }
        EXPECT_EQ(TopWindows().size(), 1u);
        // The tree has the keys: End goes to its last row.
        EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(win->pWindow)), t.list);
        PressKey(GDK_KEY_End);
        EXPECT_EQ(ColumnListSelectedRow(t.list), 2);
    }

    // The focused "Save" button of the Event View opens no file dialog.
    GtkWidget* save = FindButton(win->GetCurrForm("Event View")->container, "Save");
    ASSERT_NE(save, nullptr);
    gtk_widget_grab_focus(save);
    for (guint key : silenced) {
        PressKey(key);
        EXPECT_EQ(win->pFileSel, nullptr) << gdk_keyval_name(key);
    }
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(win->pWindow)), save);
    EXPECT_EQ(TopWindows().size(), 1u);

    // The accelerators and the mnemonics still work.
    PressKey(GDK_KEY_a, GDK_CONTROL_MASK);
    EXPECT_STREQ(win->szCurrForm, "Array Management");
    PressKey(GDK_KEY_f, GDK_MOD1_MASK);
    EXPECT_TRUE(SubmenuShown(win, "/File"));
    PressKey(GDK_KEY_Escape);
    EXPECT_FALSE(SubmenuShown(win, "/File"));
}

}  // namespace
