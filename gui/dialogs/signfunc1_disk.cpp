// The disk feature buttons of the information page: each click switches one feature of the disk
// the button names to the opposite of the state the driver reports.
#include "drivergui.h"
#include "vtntree.h"

namespace {

// The page that shows the button is drawn again from the disk's real state.
void RedrawPageOf(GtkWidget* button)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr)
        return;
    for (GList* l = win->pTreeList; l; l = l->next) {
        auto* tree = static_cast<CVTNTree*>(l->data);
        if (button != tree->pWriteCacheBtn && button != tree->pReadAheadBtn && button != tree->pTCQBtn &&
            button != tree->pNCQBtn)
            continue;
        if (tree->pLogicalTree)
            CVTNTree::array_select_child(tree->pLogicalTree, nullptr, nullptr);
        else if (tree->pControllerTree)
            CVTNTree::controll_select_child(tree->pControllerTree, nullptr, nullptr);
        return;
    }
}

// onBit: the feature's "on" bit in the device record; which: its mask for SetInfo.
void SwitchFeature(GtkWidget* button, uint8_t onBit, int which)
{
    CMainWindow* win = GetMainWindow();
    if (button == nullptr || win == nullptr)
        return;
    CDisk disk;
    disk = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(button), "ID"));
    _LOGICAL_DEVICE_INFO_V2 info{};
    // Without the disk's state there is no opposite to ask for.
    if (disk.GetInfo(&info) != 0 || info.type != VTN_DEVICE_DISK)
        return;
    const int value = (info.u.disk.features & onBit) ? 0 : 1;
    const unsigned int connection = win->nConnectCount;
    const int result = disk.SetInfo(which, value);
    if (GetMainWindow() != win)
        return;
    gtk_button_set_label(GTK_BUTTON(button), "...");
    // A broken connection has its own box.
    if (result == 0 || win->nConnectCount != connection)
        return;
    MessageBox("Failed to change the disk setting!", "Error", false);
    if (GetMainWindow() == win)
        RedrawPageOf(button);
}

}  // namespace

void write_cache_clicked(GtkWidget* button, GdkEvent*, void*)
{
    SwitchFeature(button, VTN_FEATURE_WRITE_CACHE_ON, VTN_ALTER_WRITE_CACHE);
}

void read_ahead_clicked(GtkWidget* button, GdkEvent*, void*)
{
    SwitchFeature(button, VTN_FEATURE_READ_AHEAD_ON, VTN_ALTER_READ_AHEAD);
}

void tcq_clicked(GtkWidget* button, GdkEvent*, void*)
{
    SwitchFeature(button, VTN_FEATURE_TCQ_ON, VTN_ALTER_TCQ);
}

void ncq_clicked(GtkWidget* button, GdkEvent*, void*)
{
    SwitchFeature(button, VTN_FEATURE_NCQ_ON, VTN_ALTER_NCQ);
}
