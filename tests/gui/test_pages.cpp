// The information pages against the real server on the simulated controller: for each kind of
// node the texts the page draws with their places, fonts and colours, the progress bar of a busy
// array and the disk feature buttons; the system page without a connection.
#include "guiserver.h"
#include "signfunc_array.h"

namespace {

using vtnsim::Op;

// "x,y font colour text" of every text of a page; a value's padding blanks at its end aside.
std::vector<std::string> PageLines(const std::vector<SPageText>& texts)
{
    std::vector<std::string> out;
    for (const SPageText& t : texts) {
        std::string text = t.text;
        if (t.colour == 2)
            text.erase(text.find_last_not_of(' ') + 1);
        out.push_back(std::to_string(t.x) + "," + std::to_string(t.y) + " " + std::to_string(t.font) +
                      std::to_string(t.colour) + " " + text);
    }
    return out;
}

struct Button {
    bool shown;
    const char* caption;
    int x, y;
};

void PageScene(SimScene& s)
{
    s.Controller("VTN SATA150 8-Port RAID Controller", 8, 1, VTN_BUS_ATA150, 10);
    s.Controller("VTN ATA133 RAID Controller", 2, 2, VTN_BUS_ATA133, 11);
    s.Controller("VTN SATA150 8-Port RAID Controller", 8, 1, VTN_BUS_ATA150, 12);
    s.Disk("single", 120);
    const uint32_t ncq = s.Disk("ncqonly");
    s.Model().FindDisk(ncq)->features = VTN_FEATURE_NCQ_SUPPORTED | VTN_FEATURE_NCQ_ON;
    s.Disk("nodev", 80, VTN_DISK_NO_DEVICE_NUMBER);
    const uint32_t mirror = s.Mirror("Mirror", 0, Op::Rebuild);
    s.Progress(mirror, 25);
    const uint32_t parity = s.Members("Parity", VTN_RAID5, 3, 0, Op::Init);
    s.Progress(parity, 40);
    const uint32_t pata = s.Disk("pata");
    s.Model().FindDisk(pata)->revision = "A1B2C3D4";
    s.Members("Stripe", VTN_RAID0, 2);
    s.Raid01("Combo");
    s.Raid10("Tens");
}

using Pages = ServerGuiTest;

TEST_F(Pages, EachKindOfNodeDrawsItsTextsAtTheirPlaces)
{
    CVTNTree::ResetRemain();
    Start(PageScene);
    ShowForms();
    const std::string os = NewSys.szOSName;
    struct Case {
        const char* label;
        bool controllerTree;
        std::vector<std::string> lines;
        double bar;                         // < 0: hidden
        std::vector<Button> buttons;        // write cache, read ahead, TCQ, NCQ; empty: all hidden
    } cases[] = {
        {"127.0.0.1", false,
         {"70,40 10 System Information", "30,100 01 Name", "160,100 02 127.0.0.1", "30,120 01 Status",
          "160,120 02 Connected", "30,140 01 System OS", "160,140 02 " + os, "30,160 01 GUI Version",
          "160,160 02 v3.06"},
         -1, {}},
        {"Mirror", false,
         {"70,40 10 Array Information", "30,100 01 Name", "160,100 02 Mirror", "30,120 01 Type", "160,120 02 RAID 1",
          "30,140 01 Capacity", "160,140 02 80.000GB", "30,160 01 Status", "160,160 02 Rebuilding",
          "30,200 01 Progress", "30,230 01 Remaining time", "160,230 02 --:--:--"},
         25, {}},
        {"Parity", false,
         {"70,40 10 Array Information", "30,100 01 Name", "160,100 02 Parity", "30,120 01 Type", "160,120 02 RAID 5",
          "30,140 01 Capacity", "160,140 02 160.000GB", "30,160 01 Status", "160,160 02 Initialize",
          "30,180 01 Block size", "160,180 02 64k", "30,200 01 Progress", "30,230 01 Remaining time",
          "160,230 02 --:--:--"},
         40, {}},
        {"Stripe", false,
         {"70,40 10 Array Information", "30,100 01 Name", "160,100 02 Stripe", "30,120 01 Type", "160,120 02 RAID 0",
          "30,140 01 Capacity", "160,140 02 160.000GB", "30,160 01 Status", "160,160 02 Normal",
          "30,180 01 Block size", "160,180 02 64k"},
         -1, {}},
        {"Combo", false,
         {"70,40 10 Array Information", "30,100 01 Name", "160,100 02 Combo", "30,120 01 Type",
          "160,120 02 RAID 0/1", "30,140 01 Capacity", "160,140 02 160.000GB", "30,160 01 Status",
          "160,160 02 Normal", "30,180 01 Block size", "160,180 02 64k"},
         -1, {}},
        // A member array has no name row.
        {"(RAID0)", false,
         {"70,40 10 Array Information", "30,120 01 Type", "160,120 02 RAID 0", "30,140 01 Capacity",
          "160,140 02 160.000GB", "30,160 01 Status", "160,160 02 Normal", "30,180 01 Block size",
          "160,180 02 64k"},
         -1, {}},
        {"Tens", false,
         {"70,40 10 Array Information", "30,100 01 Name", "160,100 02 Tens", "30,120 01 Type", "160,120 02 RAID 1/0",
          "30,140 01 Capacity", "160,140 02 160.000GB", "30,160 01 Status", "160,160 02 Normal",
          "30,180 01 Block size", "160,180 02 64k"},
         -1, {}},
        {"single", false,
         {"70,40 10 Device Information", "30,100 01 Name", "160,100 02 single", "30,120 01 Type",
          "160,120 02 Hard Disk", "30,140 01 Location", "160,140 02 Controller 1, Channel 1, Device 1",
          "30,160 01 Model", "160,160 02 single", "30,180 01 Revision", "160,180 02 V1.02", "30,200 01 Timing Mode",
          "160,200 02 ATA/150", "30,220 01 Capacity", "160,220 02 120.000GB", "30,240 01 Status",
          "160,240 02 Single Drive", "30,265 01 Write Cache", "160,265 02 Enabled", "30,290 01 Read Ahead",
          "160,290 02 Enabled", "30,315 01 TCQ", "160,315 02 Disabled", "30,340 01 NCQ", "160,340 02 Disabled"},
         -1,
         {{true, "Disable", 250, 249}, {true, "Disable", 250, 274}, {true, "Enable", 250, 299},
          {true, "Enable", 250, 324}}},
        // Only NCQ: its row and button take the first place.
        {"ncqonly", false,
         {"70,40 10 Device Information", "30,100 01 Name", "160,100 02 ncqonly", "30,120 01 Type",
          "160,120 02 Hard Disk", "30,140 01 Location", "160,140 02 Controller 1, Channel 2, Device 1",
          "30,160 01 Model", "160,160 02 ncqonly", "30,180 01 Revision", "160,180 02 V1.02", "30,200 01 Timing Mode",
          "160,200 02 ATA/150", "30,220 01 Capacity", "160,220 02 80.000GB", "30,240 01 Status",
          "160,240 02 Single Drive", "30,265 01 NCQ", "160,265 02 Enabled"},
         -1, {{false, "", 0, 0}, {false, "", 0, 0}, {false, "", 0, 0}, {true, "Disable", 250, 249}}},
        {"pata", false,
         {"70,40 10 Device Information", "30,100 01 Name", "160,100 02 pata", "30,120 01 Type",
          "160,120 02 Hard Disk", "30,140 01 Location", "160,140 02 Controller 2, Channel 1, Device 1",
          "30,160 01 Model", "160,160 02 pata", "30,180 01 Revision", "160,180 02 A1B2C3D4",
          "30,200 01 Timing Mode", "160,200 02 ATA/133", "30,220 01 Capacity", "160,220 02 80.000GB",
          "30,240 01 Status", "160,240 02 Single Drive", "30,265 01 Write Cache", "160,265 02 Enabled",
          "30,290 01 Read Ahead", "160,290 02 Enabled", "30,315 01 TCQ", "160,315 02 Disabled"},
         -1,
         {{true, "Disable", 250, 249}, {true, "Disable", 250, 274}, {true, "Enable", 250, 299}, {false, "", 0, 0}}},
        {"Mirror-a", false,
         {"70,40 10 Device Information", "30,100 01 Name", "160,100 02 Mirror-a", "30,120 01 Type",
          "160,120 02 Hard Disk", "30,140 01 Location", "160,140 02 Controller 1, Channel 4, Device 1",
          "30,160 01 Model", "160,160 02 Mirror-a", "30,180 01 Revision", "160,180 02 V1.02",
          "30,200 01 Timing Mode", "160,200 02 ATA/150", "30,220 01 Capacity", "160,220 02 80.000GB",
          "30,240 01 Status", "160,240 02 Member of Mirror(RAID 1)", "30,265 01 Write Cache", "160,265 02 Enabled",
          "30,290 01 Read Ahead", "160,290 02 Enabled", "30,315 01 TCQ", "160,315 02 Disabled", "30,340 01 NCQ",
          "160,340 02 Disabled"},
         -1,
         {{true, "Disable", 250, 249}, {true, "Disable", 250, 274}, {true, "Enable", 250, 299},
          {true, "Enable", 250, 324}}},
        {"Controller1", true,
         {"70,40 10 Controller Information", "30,100 01 Name", "230,100 02 VTN SATA150 8-Port RAID Controller",
          "30,120 01 Manufacturer ", "230,120 02 VTN Storage Systems", "30,140 01 Number of Channel",
          "230,140 02 8"},
         -1, {}},
        {"Controller2", true,
         {"70,40 10 Controller Information", "30,100 01 Name", "230,100 02 VTN ATA133 RAID Controller",
          "30,120 01 Manufacturer ", "230,120 02 VTN Storage Systems", "30,140 01 Number of Channel",
          "230,140 02 2"},
         -1, {}},
        {"Channel2", true,   // the first "Channel2" is the first controller's
         {"70,40 10 Channel Information", "30,100 01 Bus Type ", "180,100 02 ATA/150", "30,120 01 Interrupt Level",
          "180,120 02 10"},
         -1, {}},
        {"nodev", true,
         {"70,40 10 Device Information", "30,100 01 Name", "160,100 02 nodev", "30,120 01 Type",
          "160,120 02 Hard Disk", "30,140 01 Location", "160,140 02 Controller 1, Channel 3", "30,160 01 Model",
          "160,160 02 nodev", "30,180 01 Revision", "160,180 02 V1.02", "30,200 01 Timing Mode", "160,200 02 ATA/150",
          "30,220 01 Capacity", "160,220 02 80.000GB", "30,240 01 Status", "160,240 02 Single Drive",
          "30,265 01 Write Cache", "160,265 02 Enabled", "30,290 01 Read Ahead", "160,290 02 Enabled",
          "30,315 01 TCQ", "160,315 02 Disabled", "30,340 01 NCQ", "160,340 02 Disabled"},
         -1,
         {{true, "Disable", 250, 249}, {true, "Disable", 250, 274}, {true, "Enable", 250, 299},
          {true, "Enable", 250, 324}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ShowForm(c.controllerTree);
        GtkWidget* tree = c.controllerTree ? window_->pDeviceTree : window_->pArrayTree;
        CVTNTree* page = TreeObjectOf(tree);
        EXPECT_EQ(PageLines(PageOf(c.label, tree)), c.lines);
        // Only the Array Management form has a bar.
        if (c.controllerTree) {
            EXPECT_EQ(page->pProgressBar, nullptr);
        } else {
            EXPECT_EQ(gtk_widget_get_visible(page->pProgressBar), c.bar >= 0);
            if (c.bar >= 0) {
                EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(page->pProgressBar)), c.bar / 100);
                EXPECT_EQ(gtk_progress_bar_get_text(GTK_PROGRESS_BAR(page->pProgressBar)),
                          std::to_string(static_cast<int>(c.bar)) + "%");
            }
        }
        GtkWidget* buttons[4] = {page->pWriteCacheBtn, page->pReadAheadBtn, page->pTCQBtn, page->pNCQBtn};
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            const Button want = c.buttons.empty() ? Button{false, "", 0, 0} : c.buttons[static_cast<size_t>(i)];
            EXPECT_EQ(gtk_widget_get_visible(buttons[i]), want.shown);
            if (!want.shown)
                continue;
            EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(buttons[i])), want.caption);
            EXPECT_EQ(gtk_widget_get_margin_start(buttons[i]), want.x);
            EXPECT_EQ(gtk_widget_get_margin_top(buttons[i]), want.y);
            STreeItem item;
            ASSERT_TRUE(CVTNTree::SelectedItem(tree, &item));
            EXPECT_EQ(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(buttons[i]), "ID")), static_cast<uint32_t>(item.id));
        }
    }
}

TEST_F(Pages, BusyArrayPageAdvancesWithTheTimersRefresh)
{
    CVTNTree::ResetRemain();
    uint32_t mirror = 0;
    Start([&](SimScene& s) {
        s.Controller("VTN SATA150 4-Port RAID Controller", 4, 1);
        mirror = s.Mirror("Mirror", 0, Op::Rebuild);
        s.Progress(mirror, 10);
        s.Mirror("Idle");
    });
    ShowForms();
    ASSERT_TRUE(SelectLabel(window_->pArrayTree, "Mirror"));
    ASSERT_TRUE(window_->GetFresh(mirror));
    CVTNTree* page = Logical();
    auto valueAt = [page](int y) {
        for (const SPageText& t : page->PageTexts)
            if (t.y == y && t.colour == 2)
                return t.text;
        return std::string();
    };
    EXPECT_EQ(valueAt(230), "--:--:--");
    ASSERT_EQ(server_.Sim({"progress", std::to_string(mirror), "55"}), 0);
    // The refresh redraws the page of the selected busy array: the bar and an estimate follow.
    ASSERT_TRUE(PumpUntil(
        [&] {
            FreshArray();
            return gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(page->pProgressBar)) > 0.5 &&
                   valueAt(230) != "--:--:--";
        },
        20000));
    // An idle array is not redrawn by it.
    ASSERT_TRUE(SelectLabel(window_->pArrayTree, "Idle"));
    page->PageTexts.clear();
    FreshArray();
    EXPECT_TRUE(page->PageTexts.empty());
}

using PagesOffline = GuiTest;

TEST_F(PagesOffline, SystemPageSaysDisconnectedWithoutAConnection)
{
    StartMainWindow();
    ArrayManagement();
    CVTNTree* page = TreeObjectOf(window_->pArrayTree);
    ASSERT_TRUE(PumpUntil([page] { return PageReady(page); }));
    EXPECT_EQ(PageLines(page->PageTexts),
              (std::vector<std::string>{"70,40 10 System Information", "30,100 01 Name", "160,100 02 ",
                                        "30,120 01 Status", "160,120 02 Disconnected", "30,140 01 System OS",
                                        "160,140 02 ", "30,160 01 GUI Version", "160,160 02 v3.06"}));
    // The tree shows the root alone; the page is exactly the page's size.
    EXPECT_EQ(TreeRows(window_->pArrayTree).size(), 1u);
    EXPECT_EQ(cairo_image_surface_get_width(page->pBackPixmap), VTN_PAGE_WIDTH);
    EXPECT_EQ(cairo_image_surface_get_height(page->pBackPixmap), VTN_PAGE_HEIGHT);
    EXPECT_EQ(gtk_widget_get_allocated_width(page->pDrawArea), VTN_PAGE_WIDTH);
    EXPECT_EQ(gtk_widget_get_allocated_height(page->pDrawArea), VTN_PAGE_HEIGHT);
}

}  // namespace
