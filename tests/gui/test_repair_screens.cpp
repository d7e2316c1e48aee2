// Pictures of the repair dialogs and of the Spare Pool form for a person to look at (set
// VTN_SCREENSHOT_DIR to keep them). They read back what the screen shows, so they run on a
// display of their own: VTN_OWN_DISPLAY
#include "repairtest.h"

namespace {

using RepairScreens = ServerGuiTest;

TEST_F(RepairScreens, RepairDialogs)
{
    Start([](SimScene& s) {
        TwoControllers(s);
        s.Members("Stripe", VTN_RAID0, 2, 0, vtnsim::Op::None, 1);
        s.Mirror("Mirror", 0, vtnsim::Op::None, 1);
        s.Mirror("Waiting", VTN_ARRAY_NEED_REBUILD);
        s.Disk("WDC WD1600JD", 160);
        s.Disk("ST380013AS", 80);
        s.Disk("Maxtor 6Y060M0", 60);
    });
    gtk_window_move(GTK_WINDOW(window_->pWindow), 0, 0);
    RunScript({{"RAID Checking", "Cancel", ShotAnswer("repair-delete.png")},
               {"RAID Checking", "Cancel",
                [](GtkWidget* w) {
                    PickRows(ListIn(w), {"WDC WD1600JD"});
                    ShotAnswer("repair-add-disk.png")(w);
                }},
               {"RAID Checking", "Cancel", ShotAnswer("repair-rebuild.png")}},
              [this] { window_->ProbeArrayState(false, 0); });
}

TEST_F(RepairScreens, SparePoolForm)
{
    Start([](SimScene& s) {
        TwoControllers(s);
        s.Mirror("Mirror");
        s.Members("Parity", VTN_RAID5, 3);
        s.Disk("WDC WD1600JD", 160);
        s.Disk("ST380013AS", 80);
        s.Disk("WDC WD1200JD", 120, VTN_DISK_SPARE);
    });
    gtk_window_move(GTK_WINDOW(window_->pWindow), 0, 0);
    SparePool();
    ShotAnswer("spare-pool.png")(window_->pWindow);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(window_->pDedicatedRadio), TRUE);
    ShotAnswer("spare-dedicated.png")(window_->pWindow);
}

}  // namespace
