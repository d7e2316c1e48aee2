// The repair dialogs with more candidates than their window shows: each keeps its size, its list
// shows a scroll bar, and real clicks (XTest) reach and pick the fifth and the sixth candidate,
// which are then repaired. Pictures of each dialog at the top and at the end of its list
// (VTN_SCREENSHOT_DIR). They click on the screen, so they run on a display of their own:
// VTN_OWN_DISPLAY
#include "layouttest.h"

namespace {

using RepairLists = LayoutTest;

// The answer to a dialog of six candidates: its size and scroll bar, a picture, a click on the
// fifth candidate, then one on the sixth (with Control where several can be picked), a picture;
// the captions selected after each click.
Answer PickFifthThenSixth(const std::string& shot, bool several, std::vector<std::string>* fifth,
                          std::vector<std::string>* sixth)
{
    return {"RAID Checking", "Ok", [=](GtkWidget* w) {
                GtkWidget* list = ListIn(w);
                ASSERT_NE(list, nullptr);
                ASSERT_EQ(ItemCount(list), kSix);
                EXPECT_EQ(WindowSize(w), (std::pair<int, int>{430, 250}));
                EXPECT_FALSE(InView(ItemAt(list, kSix - 1))) << "the sixth candidate fits without scrolling";
                EXPECT_EQ(Unreachable(ScrolledOf(list)), "");
                ExpectShot(w, shot + "-top.png");
                EXPECT_TRUE(ClickItemAt(list, 4)) << "the fifth candidate cannot be clicked";
                *fifth = SelectedCaptions(list);
                EXPECT_TRUE(ClickItemAt(list, 5, several)) << "the sixth candidate cannot be clicked";
                *sixth = SelectedCaptions(list);
                ExpectShot(w, shot + "-end.png");
            }};
}

TEST_F(RepairLists, RebuildDialogReachesItsSixthArray)
{
    StartOn([](SimScene& s) {
        for (int i = 1; i <= kSix; ++i)
            s.Mirror(Nth("Mirror", i), VTN_ARRAY_NEED_REBUILD);
    });
    std::vector<std::string> fifth, sixth;
    RunScript({PickFifthThenSixth("repair-rebuild-six", true, &fifth, &sixth)},
              [this] { window_->duplicatingarray(); });
    EXPECT_EQ(fifth, (std::vector<std::string>{"Mirror5"}));
    EXPECT_EQ(sixth, (std::vector<std::string>{"Mirror5", "Mirror6"}));
    for (int i = 1; i <= kSix; ++i)
        EXPECT_EQ(Array(Nth("Mirror", i))["op"], i >= 5 ? "duplicate" : "none") << i;
}

TEST_F(RepairLists, DeleteDialogReachesItsSixthArray)
{
    StartOn([](SimScene& s) {
        for (int i = 1; i <= kSix; ++i)
            s.Members(Nth("Stripe", i), VTN_RAID0, 2, 0, vtnsim::Op::None, 1);
    });
    std::vector<std::string> fifth, sixth;
    RunScript({PickFifthThenSixth("repair-delete-six", true, &fifth, &sixth),
               Box("Confirmation", "OK", "Disabled array 'Stripe5' is deleted  "),
               Box("Confirmation", "OK", "Disabled array 'Stripe6' is deleted  ")},
              [this] { window_->deletedisablearray(); });
    EXPECT_EQ(fifth, (std::vector<std::string>{"Stripe5"}));
    EXPECT_EQ(sixth, (std::vector<std::string>{"Stripe5", "Stripe6"}));
    for (int i = 1; i <= kSix; ++i)
        EXPECT_EQ(Array(Nth("Stripe", i)).is_null(), i >= 5) << i;
}

// Six mirrors each with a failed or removed member, and a disk plugged for one of them.
TEST_F(RepairLists, AddDiskDialogReachesItsSixthArray)
{
    StartOnSixBroken([](SimScene& s) { s.Disk("New disk", 80); });
    const uint32_t disk = DiskId("New disk");
    std::vector<std::string> fifth, sixth;
    bool added = false;
    RunScript({PickFifthThenSixth("repair-add-array-six", false, &fifth, &sixth),
               Box("Confirmation", "OK", "Changing Mirror Disk succeeded!")},
              [&] { added = window_->addtoarray(disk, true); });
    EXPECT_TRUE(added);
    EXPECT_EQ(fifth, (std::vector<std::string>{"Mirror5"}));
    EXPECT_EQ(sixth, (std::vector<std::string>{"Mirror6"}));
    const nlohmann::json m = Array("Mirror6");
    EXPECT_NE(std::find(m["members"].begin(), m["members"].end(), disk), m["members"].end()) << m.dump();
}

// A broken mirror and six free disks: the disk's location and capacity show below the list.
TEST_F(RepairLists, AddDiskDialogReachesItsSixthDisk)
{
    StartOn([](SimScene& s) {
        s.Mirror("Mirror");
        for (int i = 1; i <= kSix; ++i)
            s.Disk(Nth("Disk", i), 80 + 20 * i);
    });
    SimOn("fail", "Mirror-a");
    window_->FreshTree();
    const uint32_t mirror = Array("Mirror")["id"];
    std::vector<std::string> fifth, sixth;
    std::string info;
    Answer pick = PickFifthThenSixth("repair-add-disk-six", false, &fifth, &sixth);
    pick.before = [this, &info, first = pick.before](GtkWidget* w) {
        first(w);
        info = gtk_label_get_text(GTK_LABEL(window_->pCheckInfoLabel));
        EXPECT_GE(gtk_widget_get_allocated_width(window_->pCheckInfoLabel), 1);
    };
    bool added = false;
    RunScript({pick, Box("Confirmation", "OK", "Changing Mirror Disk succeeded!")},
              [&] { added = window_->addtoarray(mirror, false); });
    EXPECT_TRUE(added);
    EXPECT_EQ(fifth, (std::vector<std::string>{"Disk5"}));
    EXPECT_EQ(sixth, (std::vector<std::string>{"Disk6"}));
    EXPECT_EQ(info, Location(Find(SimState(), "disks", "model", "Disk6")) + " \nCapacity: 200.00 GB");
    EXPECT_EQ(Array("Mirror")["members"][0], DiskId("Disk6"));
}

// The demo's machine after a mirror lost a member and its RAID 5 two: the probe offers each
// dialog in turn.
TEST_F(RepairLists, EachDialogOnTheDemo)
{
    StartOnDemo();
    const nlohmann::json mirror = Array("Mirror"), parity = Array("Parity");
    for (uint32_t disk : {mirror["members"][0].get<uint32_t>(), parity["members"][0].get<uint32_t>(),
                          parity["members"][1].get<uint32_t>()})
        ASSERT_EQ(server_.Sim({"fail", std::to_string(disk)}), 0);
    window_->FreshTree();
    auto look = [](const std::string& shot) {
        return [shot](GtkWidget* w) {
            EXPECT_EQ(WindowSize(w), (std::pair<int, int>{430, 250})) << shot;
            EXPECT_EQ(Unreachable(ScrolledOf(ListIn(w))), "") << shot;
            ExpectShot(w, shot);
        };
    };
    RunScript({{"RAID Checking", "Cancel", look("repair-delete-demo.png")},
               {"RAID Checking", "Ok", look("repair-add-disk-demo.png")},
               Box("Confirmation", "OK", "Changing Mirror Disk succeeded!"),
               {"RAID Checking", "Cancel", look("repair-rebuild-demo.png")}},
              [this] { window_->ProbeArrayState(false, 0); });
}

}  // namespace
