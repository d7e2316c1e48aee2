// Pictures of the device forms for a person to look at (set VTN_SCREENSHOT_DIR to keep them): the
// system, array (busy, with its progress bar), disk, controller and channel pages beside both
// trees. They read back what the screen shows, so they run on a display of their own:
// VTN_OWN_DISPLAY
#include "guiserver.h"

namespace {

using vtnsim::Op;

void DemoScene(SimScene& s)
{
    s.Controller("VTN SATA150 4-Port RAID Controller", 4, 1, VTN_BUS_ATA150, 10);
    s.Controller("VTN SATA150 8-Port RAID Controller", 8, 1, VTN_BUS_ATA150, 11);
    s.Disk("ST380013AS", 80, VTN_DISK_BOOTABLE);
    const uint32_t mirror = s.Mirror("Mirror", 0, Op::Rebuild);
    s.Progress(mirror, 37.5);
    s.Members("Parity", VTN_RAID5, 3);
    s.Raid10("Tens");
    s.Disk("WDC WD1200JD", 120, VTN_DISK_SPARE);
    s.Disk("Maxtor 6Y160M0", 160, 0, true);
}

using ViewScreens = ServerGuiTest;

TEST_F(ViewScreens, PagesBesideTheTrees)
{
    CVTNTree::ResetRemain();
    Start(DemoScene);
    ShowForms();
    // Room for the whole page beside the tree, all of it on the screen (what lies outside reads
    // back black).
    gtk_window_move(GTK_WINDOW(window_->pWindow), 0, 0);
    gtk_window_resize(GTK_WINDOW(window_->pWindow), 1250, 960);
    EXPECT_TRUE(PumpUntil([this] {
        return gtk_widget_get_allocated_width(window_->pWindow) == 1250 &&
               gtk_widget_get_allocated_height(window_->pWindow) == 960;
    }));
    struct Shot {
        bool deviceForm;
        const char* label;
        const char* file;
    } shots[] = {
        {false, "127.0.0.1", "page-system.png"},
        {false, "Mirror", "page-array-busy.png"},
        {false, "Tens", "page-array-raid10.png"},
        {false, "ST380013AS", "page-disk.png"},
        {true, "Controller2", "page-controller.png"},
        {true, "Channel1", "page-channel.png"},
        {true, "WDC WD1200JD", "page-disk-device-form.png"},
    };
    for (const Shot& s : shots) {
        SCOPED_TRACE(s.file);
        ShowForm(s.deviceForm);
        GtkWidget* tree = s.deviceForm ? window_->pDeviceTree : window_->pArrayTree;
        gtk_tree_view_expand_all(GTK_TREE_VIEW(tree));
        ASSERT_TRUE(SelectLabel(tree, s.label));
        ExpectShot(window_->pWindow, s.file);
    }
}

}  // namespace
