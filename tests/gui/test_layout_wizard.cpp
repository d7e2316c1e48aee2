// Step 3 of the creation wizard as a person works it, with real clicks (XTest) on the disk rows
// and the arrow buttons: the information row describes the highlighted disk, or nothing when no
// disk is highlighted; and every text of the step can be read whole in a window of its own size,
// on the demo and on six mirrors that lost a member. Pictures (VTN_SCREENSHOT_DIR). They click on
// the screen, so they run on a display of their own: VTN_OWN_DISPLAY
#include <cstdio>

#include "layouttest.h"
#include "wizardtest.h"

namespace {

class WizardLayout : public LayoutTest {
protected:
    void TearDown() override
    {
        CloseCreateArray();
        LayoutTest::TearDown();
    }

    // What the information row shows for a disk: its name, capacity and location as the
    // controller has them.
    std::vector<std::string> Describes(uint32_t id)
    {
        const nlohmann::json state = SimState();
        for (const auto& d : state["disks"])
            if (d["id"] == id) {
                char capacity[32];
                snprintf(capacity, sizeof capacity, "%.3f GB", d["capacity"].get<double>() / 2097152.0);
                return {d["model"], capacity, Location(d)};
            }
        return {};
    }

    // The information row, the blanks that pad a driver's text aside.
    static std::vector<std::string> Info()
    {
        std::vector<std::string> row = InfoRow();
        for (std::string& cell : row)
            if (cell.find_first_not_of(' ') != std::string::npos)
                cell.erase(cell.find_last_not_of(' ') + 1);
        return row;
    }

    // The disk of a list's row.
    static uint32_t IdAt(GtkWidget* list, int index) { return ItemId(ItemAt(list, index)); }

    // A real click on an arrow; true once the selected list holds count disks.
    static bool ClickArrow(GtkWidget* arrow, int count)
    {
        return PointerClick(arrow) && PumpUntil([count] { return ItemCount(Wiz()->pSelectedDisks) == count; }, 5000);
    }

    // The texts of step 3 that cannot be read whole, each with where it is.
    static std::vector<std::string> Unreadable()
    {
        std::vector<std::string> out;
        for (GtkWidget* list : {Wiz()->pParamList, Wiz()->pDiskInfo}) {
            for (const std::string& cut : CutTexts(list))
                out.push_back(cut);
            if (std::string u = Unreachable(ScrolledOf(list)); !u.empty())
                out.push_back(std::string(gtk_tree_view_column_get_title(gtk_tree_view_get_column(GTK_TREE_VIEW(list), 0))) +
                              " list: " + u);
        }
        for (GtkWidget* list : {Wiz()->pAvailDisks, Wiz()->pSelectedDisks})
            if (std::string u = Unreachable(ScrolledOf(list)); !u.empty())
                out.push_back("disk list: " + u);
        return out;
    }

    // Step 3 of a RAID 5 with the longest option, two disks selected and the third highlighted:
    // the window at its size, every text readable; pictures as it opens and scrolled to the
    // end of its texts.
    void LookAtStep3(const std::string& shot)
    {
        WalkToStep3("RAID5", "", "Scrub (build parity)");
        for (int n = 1; n <= 2; ++n)
            ASSERT_TRUE(ClickArrow(Wiz()->pAddArrow, n));
        // Measured as drawn.
        ExpectShot(Wiz()->pWizard, shot + ".png");
        EXPECT_EQ(WindowSize(Wiz()->pWizard), (std::pair<int, int>{640, 400}));
        EXPECT_EQ(Unreadable(), std::vector<std::string>{});
        for (GtkWidget* list : {Wiz()->pParamList, Wiz()->pDiskInfo})
            ScrollToEnd(ScrolledOf(list), GTK_ORIENTATION_HORIZONTAL);
        ExpectShot(Wiz()->pWizard, shot + "-scrolled.png");
    }
};

TEST_F(WizardLayout, InformationRowDescribesTheHighlightedDisk)
{
    StartOnDemo();
    WalkToStep3("RAID0");
    ASSERT_TRUE(PumpUntil([] { return gtk_widget_get_mapped(Wiz()->pWizard); }));
    GtkWidget* avail = Wiz()->pAvailDisks;
    GtkWidget* chosen = Wiz()->pSelectedDisks;
    ASSERT_GE(ItemCount(avail), 3);
    const uint32_t first = IdAt(avail, 0), second = IdAt(avail, 1);
    EXPECT_EQ(Info(), Describes(first)) << "as the step opens";

    ASSERT_TRUE(ClickItemAt(avail, 1));
    EXPECT_EQ(Info(), Describes(second)) << "a click on the second disk";
    ASSERT_TRUE(ClickArrow(Wiz()->pAddArrow, 1));
    EXPECT_EQ(IdAt(chosen, 0), second);
    EXPECT_EQ(Info(), Describes(first)) << "the first disk is highlighted after the move";
    ASSERT_TRUE(ClickItemAt(chosen, 0));
    EXPECT_EQ(Info(), Describes(second)) << "a click on the selected disk";
    ExpectShot(Wiz()->pWizard, "wizard-info-before-back.png");

    // The last selected disk goes back: the first available disk, still highlighted, is described.
    ASSERT_TRUE(ClickArrow(Wiz()->pRemoveArrow, 0));
    ASSERT_NE(FirstSelectedItem(avail), nullptr);
    EXPECT_EQ(ItemId(FirstSelectedItem(avail)), first);
    EXPECT_EQ(FirstSelectedItem(chosen), nullptr);
    EXPECT_EQ(Info(), Describes(first)) << "after the last selected disk went back";
    ExpectShot(Wiz()->pWizard, "wizard-info-after-back.png");

    // Control and Space on the highlighted disk take the highlight away: nothing is described.
    PointerClick(ItemAt(avail, 0));   // the focus to the highlighted row (a button had it)
    ASSERT_TRUE(PumpUntil([&] { return gtk_window_get_focus(GTK_WINDOW(Wiz()->pWizard)) == ItemAt(avail, 0); }, 5000));
    PressKey(GDK_KEY_space, {GDK_KEY_Control_L});
    ASSERT_TRUE(PumpUntil([&] { return FirstSelectedItem(avail) == nullptr; }, 5000));
    EXPECT_EQ(FirstSelectedItem(chosen), nullptr);
    EXPECT_EQ(Info(), (std::vector<std::string>{" ", " ", " "})) << "with no disk highlighted";
    ASSERT_TRUE(ClickItemAt(avail, ItemCount(avail) - 1));
    EXPECT_EQ(Info(), Describes(second)) << "the disk that went back, clicked at the end of the list";
}

TEST_F(WizardLayout, Step3TextsCanBeReadOnTheDemo)
{
    StartOnDemo();
    LookAtStep3("wizard-step3-demo");
}

TEST_F(WizardLayout, Step3TextsCanBeReadBesideSixBrokenMirrors)
{
    StartOnSixBroken([](SimScene& s) {
        s.Disk("WDC WD2500JD-00HBB0", 250);
        s.Disk("Maxtor 6Y160M0", 160);
        s.Disk("ST3160827AS", 160);
    });
    LookAtStep3("wizard-step3-six");
}

}  // namespace
