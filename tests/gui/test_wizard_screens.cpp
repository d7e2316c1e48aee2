// Pictures for a person to look at (set VTN_SCREENSHOT_DIR to keep them): each step of the creation
// wizard and a disk's page with its four feature buttons. They read back what the screen shows,
// so they run on a display of their own: VTN_OWN_DISPLAY
#include "guiserver.h"
#include "wizardtest.h"

namespace {

void Scene(SimScene& s)
{
    s.Controller("VTN SATA150 4-Port RAID Controller", 4, 1);
    s.Controller("VTN ATA133 RAID Controller", 2, 2, VTN_BUS_ATA133, 11);
    const uint32_t d = s.Disk("ST380013AS");
    s.Model().FindDisk(d)->features = VTN_FEATURE_WRITE_CACHE_SUPPORTED | VTN_FEATURE_WRITE_CACHE_ON |
                                      VTN_FEATURE_READ_AHEAD_SUPPORTED | VTN_FEATURE_TCQ_SUPPORTED |
                                      VTN_FEATURE_NCQ_SUPPORTED | VTN_FEATURE_NCQ_ON;
    s.Disk("WDC WD800JD", 80);
    s.Disk("Maxtor 6Y080M0", 80);
    s.Disk("ST3120026AS", 120);
    s.Mirror("Mirror");
}

using WizardScreens = ServerGuiTest;

TEST_F(WizardScreens, EachStepAndADiskPageWithItsButtons)
{
    Start(Scene);
    ShowForms();
    gtk_window_move(GTK_WINDOW(window_->pWindow), 0, 0);
    gtk_window_resize(GTK_WINDOW(window_->pWindow), 1250, 960);
    EXPECT_TRUE(PumpUntil([this] { return gtk_widget_get_allocated_width(window_->pWindow) == 1250; }));

    ASSERT_TRUE(SelectLabel(window_->pArrayTree, "ST380013AS"));
    ExpectShot(window_->pWindow, "page-disk-features.png");

    CreateArray();
    ExpectShot(Wiz()->pWizard, "wizard-step1.png");
    ASSERT_TRUE(ChooseText(Wiz()->pTypeCombo, "RAID1"));
    Click(Wiz()->pNextBtn);
    ExpectShot(Wiz()->pWizard, "wizard-step2-raid1.png");
    Click(Wiz()->pBackBtn);
    ASSERT_TRUE(ChooseText(Wiz()->pTypeCombo, "RAID5"));
    Click(Wiz()->pNextBtn);
    ASSERT_TRUE(ChooseText(Wiz()->pBlockCombo, "32K"));
    ASSERT_TRUE(ChooseOption("Scrub (build parity)"));
    ExpectShot(Wiz()->pWizard, "wizard-step2-raid5.png");
    Click(Wiz()->pNextBtn);
    AddDisks({"ST380013AS", "WDC WD800JD"});
    ASSERT_TRUE(SelectDisk(Wiz()->pAvailDisks, "ST3120026AS"));
    ExpectShot(Wiz()->pWizard, "wizard-step3.png");
    CloseCreateArray();
}

}  // namespace
