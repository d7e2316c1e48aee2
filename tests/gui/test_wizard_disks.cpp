// Step 3 of the creation wizard and Finish over a fake of the driver calls: the disks offered per
// kind and option, the rules of adding and removing with their warnings and the parameter rows,
// the counts and controllers Finish refuses, the creation requests with the reboot offer or the
// notice per kind and option, a failed creation, and a connection that breaks while Finish asks.
#include "signfunc.h"
#include "wizardfake.h"
#include "xpm_data.h"

namespace {

constexpr uint32_t kBoot = VTN_DISK_BOOTABLE;
const char* const kErase = "All data on the selected disks will be erased.\nAre you sure you want to continue?";
const char* const kCopy = "All data on the original disk will be copied to the mirror disk.\nAre you sure you want to continue?";
const char* const kCapacity = "Mirror's capacity is less than original's capacity.";
const char* const kTarget = "Bootable disk is not allowed to be selected as target disk!";
const char* const kCreatedOnly = "Bootable disk can not be an array member when using 'created only' option.";
const char* const kCross = "Creating array with cross-controller disks is not supported!";

using Names = std::vector<std::string>;

class WizardDisks : public WizardFake {
protected:
    void SetUp() override
    {
        WizardFake::SetUp();
        fake_->Disk(1, 0, 0, 0, 80, "Alpha");
        fake_->Disk(2, 0, 1, 0, 80, "Bravo");
        fake_->Disk(3, 0, 2, 0, 40, "Small");
        fake_->Disk(4, 0, 3, 0, 120, "Big");
        fake_->Disk(5, 0, 0, 1, 80, "Boot", kBoot);
        fake_->Disk(6, 0, 1, 1, 80, "Dead", VTN_DISK_DISABLED);
        fake_->Disk(7, 1, 0, 0, 80, "Other");
        fake_->Disk(8, 0, 2, 1, 80, "Spare", VTN_DISK_SPARE);
        fake_->Disk(11, 0, 3, 1, 80, "Foxtrot");
        fake_->Disk(12, 0, 0, 2, 80, "Golf");
        fake_->Disk(13, 0, 1, 2, 80, "Hotel");
        fake_->Disk(14, 0, 2, 2, 80, "India");
        fake_->Disk(15, 0, 3, 2, 80, "m0", 0, false);
        fake_->Disk(16, 0, 3, 3, 80, "m1", 0, false);
        fake_->Array(20, "Set", VTN_RAID0, {15, 16});
    }

    // The step 3 rows after the head rows of the kind (type, name and what step 2 chose).
    static Names DiskRowsOfParams()
    {
        Names all = ParamRows();
        return Names(all.begin() + Wiz()->nDiskRowFirst, all.end());
    }
};

const std::vector<uint32_t> kTopLevel = {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 20};
const Names kOrdinary = {"Alpha", "Bravo", "Small", "Big", "Other", "Spare", "Foxtrot", "Golf", "Hotel", "India"};

TEST_F(WizardDisks, OfferedDisksFollowTheKindAndTheOption)
{
    struct Case {
        const char* type;
        const char* option;
        Names offered;
    } cases[] = {
        {"RAID0", "", kOrdinary},
        {"RAID1", "Create Only", kOrdinary},
        // Only a duplication may take the bootable disk, as its source.
        {"RAID1", "Create and Duplicate",
         {"Alpha", "Bravo", "Small", "Big", "Boot", "Other", "Spare", "Foxtrot", "Golf", "Hotel", "India"}},
        {"RAID5", "No Build", kOrdinary},
        {"JBOD", "", kOrdinary},
        {"RAID10", "", kOrdinary},
        {"RAID01", "", kOrdinary},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.option);
        WalkToStep3(c.type, "", c.option);
        EXPECT_EQ(DiskNames(Wiz()->pAvailDisks), c.offered);
        EXPECT_TRUE(DiskNames(Wiz()->pSelectedDisks).empty());
        for (GtkListBoxRow* row : DiskRows(Wiz()->pAvailDisks)) {
            auto images = FindWidgets(GTK_WIDGET(row), [](GtkWidget* w) { return GTK_IS_IMAGE(w); });
            ASSERT_EQ(images.size(), 1u);
            const bool boot = WidgetCaption(GTK_WIDGET(row)) == "Boot";
            EXPECT_EQ(gtk_image_get_pixbuf(GTK_IMAGE(images[0])), XpmPixbuf(boot ? xpm_d_Disk_Boot : xpm_d_Disk));
        }
        // The first disk is selected and described.
        EXPECT_EQ(SelectedDisk(Wiz()->pAvailDisks), "Alpha");
        EXPECT_EQ(InfoRow(), (Names{"Alpha", "80.000 GB", "Location : Controller 1, Channel 1, Device 1"}));
        EXPECT_TRUE(Sensitive(Wiz()->pAddArrow));
        EXPECT_FALSE(Sensitive(Wiz()->pRemoveArrow));
        // Selecting another disk describes it.
        ASSERT_TRUE(SelectDisk(Wiz()->pAvailDisks, "Big"));
        EXPECT_EQ(InfoRow(), (Names{"Big", "120.000 GB", "Location : Controller 1, Channel 4, Device 1"}));
    }
}

TEST_F(WizardDisks, AddingKeepsTheMirrorAndControllerRules)
{
    struct Add {
        const char* disk;
        const char* warning;   // null: it moves
    };
    struct Case {
        const char* what;
        const char* type;
        const char* option;
        int raid1Max;
        bool crossController;
        std::vector<Add> adds;
        Names selected;
    } cases[] = {
        {"a smaller mirror is refused, an equal one taken", "RAID1", "Create Only", 2, false,
         {{"Alpha", nullptr}, {"Small", kCapacity}, {"Bravo", nullptr}}, {"Alpha", "Bravo"}},
        {"every disk after the first is a target", "RAID1", "Create Only", 3, false,
         {{"Alpha", nullptr}, {"Bravo", nullptr}, {"Small", kCapacity}, {"Big", nullptr}}, {"Alpha", "Bravo", "Big"}},
        {"the bootable disk is a source only", "RAID1", "Create and Duplicate", 2, false,
         {{"Alpha", nullptr}, {"Boot", kTarget}, {"Bravo", nullptr}}, {"Alpha", "Bravo"}},
        {"the bootable source of a duplication", "RAID1", "Create and Duplicate", 2, false,
         {{"Boot", nullptr}, {"Alpha", nullptr}}, {"Boot", "Alpha"}},
        {"the bootable disk is no third disk either", "RAID1", "Create and Duplicate", 3, false,
         {{"Alpha", nullptr}, {"Bravo", nullptr}, {"Boot", kTarget}}, {"Alpha", "Bravo"}},
        {"one controller", "RAID0", "", 2, false, {{"Alpha", nullptr}, {"Other", kCross}, {"Bravo", nullptr}},
         {"Alpha", "Bravo"}},
        {"a driver that spans controllers", "RAID0", "", 2, true, {{"Alpha", nullptr}, {"Other", nullptr}},
         {"Alpha", "Other"}},
        {"sizes do not matter beyond RAID 1", "RAID5", "", 2, false,
         {{"Big", nullptr}, {"Small", nullptr}, {"Alpha", nullptr}}, {"Big", "Small", "Alpha"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetCaps({{VTN_RAID0, 8}, {VTN_RAID1, static_cast<uint8_t>(c.raid1Max)}, {VTN_RAID5, 8}});
        fake_->caps.crossController = c.crossController ? 1 : 0;
        window_->SupportPara.ProbeVersion();
        WalkToStep3(c.type, "", c.option);
        for (const Add& a : c.adds) {
            SCOPED_TRACE(a.disk);
            const Names before = DiskNames(Wiz()->pSelectedDisks);
            const Names rows = ParamRows();
            std::vector<Answer> answers;
            if (a.warning)
                answers.push_back({"Warning", "OK"});
            auto seen = Answering(answers, [&] { AddDisks({a.disk}); });
            if (a.warning) {
                ASSERT_EQ(seen.size(), 1u);
                EXPECT_EQ(BoxText(seen[0]), a.warning);
                // Nothing moved.
                EXPECT_EQ(DiskNames(Wiz()->pSelectedDisks), before);
                EXPECT_EQ(ParamRows(), rows);
                EXPECT_EQ(SelectedDisk(Wiz()->pAvailDisks), a.disk);
            }
        }
        EXPECT_EQ(DiskNames(Wiz()->pSelectedDisks), c.selected);
        Names rows;
        for (size_t i = 0; i < c.selected.size(); ++i)
            rows.push_back((i == 0 ? "Selected Disks=" : " =") + c.selected[i]);
        EXPECT_EQ(DiskRowsOfParams(), rows);
        // A disk the state read after the list was filled shows bootable is refused for Create Only.
    }
    SetCaps({{VTN_RAID1, 2}});
    window_->SupportPara.ProbeVersion();
    WalkToStep3("RAID1", "", "Create Only");
    fake_->devices[1].u.disk.status = kBoot;
    auto seen = Answering({{"Warning", "OK"}}, [] { AddDisks({"Alpha"}); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(BoxText(seen[0]), kCreatedOnly);
}

TEST_F(WizardDisks, ArrowsAndDiskRowsFollowAddAndRemove)
{
    // RAID 1 takes two disks: the right arrow goes off at the second and on again after a removal.
    WalkToStep3("RAID1", "", "Create Only", "Mirror");
    AddDisks({"Alpha"});
    EXPECT_TRUE(Sensitive(Wiz()->pAddArrow));
    EXPECT_TRUE(Sensitive(Wiz()->pRemoveArrow));
    EXPECT_EQ(SelectedDisk(Wiz()->pAvailDisks), "Bravo");   // the first left
    AddDisks({"Bravo"});
    EXPECT_FALSE(Sensitive(Wiz()->pAddArrow));
    EXPECT_EQ(SelectedDisk(Wiz()->pSelectedDisks), "Alpha");
    EXPECT_EQ(InfoRow()[0], "Alpha");
    EXPECT_EQ(ParamRows(), (Names{"Array Type=RAID1", "Array Name=Mirror", "Creation Option=Create Only",
                                  "Selected Disks=Alpha", " =Bravo"}));
    Click(Wiz()->pRemoveArrow);   // Alpha
    EXPECT_TRUE(Sensitive(Wiz()->pAddArrow));
    EXPECT_EQ(DiskNames(Wiz()->pSelectedDisks), (Names{"Bravo"}));
    EXPECT_EQ(DiskNames(Wiz()->pAvailDisks).back(), "Alpha");   // at the end of the list
    EXPECT_EQ(DiskRowsOfParams(), (Names{"Selected Disks=Bravo"}));
    Click(Wiz()->pRemoveArrow);   // Bravo, the only one: the row stays with an empty value
    EXPECT_EQ(DiskRowsOfParams(), (Names{"Selected Disks="}));
    EXPECT_FALSE(Sensitive(Wiz()->pRemoveArrow));
    EXPECT_EQ(SelectedDisk(Wiz()->pAvailDisks), "Small");
    EXPECT_EQ(Wiz()->nDiskRowEnd, Wiz()->nDiskRowFirst);
    // The left arrow with nothing selected changes nothing.
    Click(Wiz()->pRemoveArrow);
    EXPECT_EQ(DiskRowsOfParams(), (Names{"Selected Disks="}));

    // Three disks: removing the first keeps the label on the first row; removing the last drops it.
    WalkToStep3("RAID0");
    AddDisks({"Alpha", "Bravo", "Golf"});
    EXPECT_EQ(DiskRowsOfParams(), (Names{"Selected Disks=Alpha", " =Bravo", " =Golf"}));
    ASSERT_TRUE(SelectDisk(Wiz()->pSelectedDisks, "Alpha"));
    Click(Wiz()->pRemoveArrow);
    EXPECT_EQ(DiskRowsOfParams(), (Names{"Selected Disks=Golf", " =Bravo"}));
    ASSERT_TRUE(SelectDisk(Wiz()->pSelectedDisks, "Bravo"));
    Click(Wiz()->pRemoveArrow);
    EXPECT_EQ(DiskRowsOfParams(), (Names{"Selected Disks=Golf"}));
    AddDisks({"Hotel"});
    EXPECT_EQ(DiskRowsOfParams(), (Names{"Selected Disks=Golf", " =Hotel"}));
    EXPECT_EQ(DiskNames(Wiz()->pSelectedDisks), (Names{"Golf", "Hotel"}));

    // Back drops the selection; the next step 3 starts from the devices again.
    Click(Wiz()->pBackBtn);
    Click(Wiz()->pNextBtn);
    EXPECT_TRUE(DiskNames(Wiz()->pSelectedDisks).empty());
    EXPECT_EQ(DiskNames(Wiz()->pAvailDisks), kOrdinary);

    // The last available disk taken: the right arrow goes off.
    for (uint32_t id : {2u, 3u, 4u, 7u, 8u, 11u, 12u, 13u, 14u})
        fake_->devices[id].u.disk.status = VTN_DISK_DISABLED;
    WalkToStep3("JBOD");
    EXPECT_EQ(DiskNames(Wiz()->pAvailDisks), (Names{"Alpha"}));
    AddDisks({"Alpha"});
    EXPECT_FALSE(Sensitive(Wiz()->pAddArrow));

    // No disk qualifies: an empty list, a blank information row; the arrow goes off when pressed.
    fake_->devices[1].u.disk.status = VTN_DISK_DISABLED;
    WalkToStep3("JBOD");
    EXPECT_TRUE(DiskNames(Wiz()->pAvailDisks).empty());
    EXPECT_EQ(InfoRow(), (Names{" ", " ", " "}));
    EXPECT_TRUE(Sensitive(Wiz()->pAddArrow));
    Click(Wiz()->pAddArrow);
    EXPECT_FALSE(Sensitive(Wiz()->pAddArrow));
    EXPECT_TRUE(DiskNames(Wiz()->pSelectedDisks).empty());
}

TEST_F(WizardDisks, FinishRefusesWhatTheModelWouldRefuseAndAsksOtherwise)
{
    const Names six = {"Alpha", "Bravo", "Foxtrot", "Golf", "Hotel", "India"};
    struct Case {
        const char* type;
        const char* option;
        int channels;
        int n;
        const char* message;   // the warning, or the question that comes when nothing is refused
    } cases[] = {
        {"RAID0", "", 4, 1, "You must select at least two disks\n to create a RAID 0 (Striping) Array."},
        {"RAID0", "", 4, 2, kErase},
        {"RAID1", "Create Only", 4, 1, "You must select a Source disk and a Target disk."},
        {"RAID1", "Create Only", 4, 2, kErase},
        {"RAID1", "Create and Duplicate", 4, 2, kCopy},
        {"RAID5", "", 4, 2, "You must select at least three disks\n to create a RAID 5 Array."},
        {"RAID5", "", 4, 3, kErase},
        {"JBOD", "", 4, 1, "You must select at least two disks\n to create a JBOD (Volume) Array."},
        {"JBOD", "", 4, 2, kErase},
        {"RAID10", "", 4, 3, "You must select at least four disks to create \na RAID 1/0 (Striped Mirroring) Array."},
        {"RAID10", "", 4, 5, "You must select even disks to create \na RAID 1/0 (Striped Mirroring) Array."},
        {"RAID10", "", 2, 4,
         "A RAID 1/0 (Striped Mirroring) Array can only be\n created on a controller with 4 or 8 channels."},
        {"RAID10", "", 4, 4, kErase},
        {"RAID10", "", 8, 6, kErase},
        {"RAID01", "", 4, 3, "You must select four disks to create \na RAID 0/1 (Mirrored Striping) Array."},
        {"RAID01", "", 2, 6, "You must select four disks to create \na RAID 0/1 (Mirrored Striping) Array."},
        {"RAID01", "", 4, 5, "You must select even disks to create \na RAID 0/1 (Mirrored Striping) Array."},
        {"RAID01", "", 2, 4, kErase},
        {"RAID01", "", 4, 6, kErase},
    };
    SetCaps({{VTN_RAID0, 8}, {VTN_RAID1, 2}, {VTN_RAID5, 8}, {VTN_JBOD, 8}, {VTN_RAID01, 8}, {VTN_RAID10, 8}});
    window_->SupportPara.ProbeVersion();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.option + " n=" + std::to_string(c.n) + " channels=" +
                     std::to_string(c.channels));
        fake_->channels = c.channels;
        WalkToStep3(c.type, "", c.option);
        AddDisks(Names(six.begin(), six.begin() + c.n));
        const bool asked = c.message == kErase || c.message == kCopy;
        auto seen = Answering({{"Warning", asked ? "Cancel" : "OK"}}, [] { Click(Wiz()->pFinishBtn); });
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(BoxText(seen[0]), c.message);
        EXPECT_EQ(seen[0].buttons, asked ? (Names{"OK", "Cancel"}) : (Names{"OK"}));
        // The wizard stays at step 3 with its selection; nothing was sent.
        ASSERT_TRUE(AtStep3());
        EXPECT_EQ(DiskNames(Wiz()->pSelectedDisks).size(), static_cast<size_t>(c.n));
        EXPECT_TRUE(fake_->creates.empty());
    }
}

TEST_F(WizardDisks, FinishCreatesAndOffersTheRebootOrTellsWhatHappens)
{
    const std::string reboot =
        "\nThe array will not be available until you reboot the system.\nDo you want to reboot the system now?";
    struct Request {
        uint8_t type, count, block, option;
        std::vector<uint32_t> members;
        const char* name;
    };
    struct Case {
        const char* type;
        const char* block;
        const char* option;
        Names disks;
        std::string box;           // the text after the creation
        bool offer;                // a reboot offer (OK and Cancel) rather than a notice
        std::vector<Request> sent;
        const char* sentence;      // the start of the sentence logged
    } cases[] = {
        {"RAID0", "32K", "", {"Alpha", "Bravo"},
         "'Made' (RAID 0 array) has been created.\nBlock size is 32K.\nThe array capacity is 160.000 GB." + reboot, true,
         {{1, 2, 6, 0, {1, 2}, "Made"}}, "Creating RAID 0 (Striping) Array 'Made' succeeded.  "},
        {"RAID1", "", "Create Only", {"Bravo", "Alpha"},
         "'Made' (RAID 1 array) has been created.\nThe array capacity is 80.000 GB." + reboot, true,
         {{2, 2, 0, 0, {2, 1}, "Made"}}, "Creating RAID 1 (Mirroring) Array 'Made' succeeded."},
        {"RAID1", "", "Create and Duplicate", {"Boot", "Alpha"},
         "'Made' (RAID 1 array) has been created.\nThe array capacity is 80.000 GB.\nThe array will not be "
         "available until you \nfinish synchronizing.",
         false, {{2, 2, 0, 1, {5, 1}, "Made"}}, "Creating RAID 1 (Mirroring) Array 'Made' succeeded."},
        {"RAID5", "16K", "Zero Build", {"Alpha", "Bravo", "Golf"},
         "'Made' (RAID 5 array) has been created.\nBlock size is 16K.Type is Zero Build.\nThe array capacity is "
         "160.000 GB.",
         false, {{3, 3, 5, 2, {1, 2, 12}, "Made"}}, "Creating RAID 5  Array 'Made' succeeded.  "},
        {"RAID5", "", "Scrub (build parity)", {"Alpha", "Bravo", "Golf"},
         "'Made' (RAID 5 array) has been created.\nBlock size is 64K.Type is Scrub (build parity).\nThe array "
         "capacity is 160.000 GB.",
         false, {{3, 3, 7, 4, {1, 2, 12}, "Made"}}, "Creating RAID 5  Array 'Made' succeeded.  "},
        {"RAID5", "", "No Build", {"Golf", "Alpha", "Bravo"},
         "'Made' (RAID 5 array) has been created.\nBlock size is 64K.Type is No Build.\nThe array capacity is "
         "160.000 GB." + reboot,
         true, {{3, 3, 7, 1, {12, 1, 2}, "Made"}}, "Creating RAID 5  Array 'Made' succeeded.  "},
        {"JBOD", "", "", {"Alpha", "Big"},
         "'Made' (JBOD array) has been created.\nThe array capacity is 200.000 GB." + reboot, true,
         {{7, 2, 0, 0, {1, 4}, "Made"}}, "Creating JBOD (Volume) Array 'Made' succeeded.  "},
        {"RAID10", "128K", "", {"Alpha", "Bravo", "Golf", "Hotel"},
         "'Made' (RAID 1/0 array) has been created.\nBlock size is 128K.\nThe array capacity is 160.000 GB." + reboot,
         true, {{2, 4, 8, 0, {1, 2, 12, 13}, "Made"}}, "Creating RAID 1/0 (Striped Mirroring) Array 'Made' succeeded . "},
        {"RAID01", "8K", "", {"Alpha", "Bravo", "Golf", "Hotel"},
         "'Made' (RAID 0/1 array) has been created.\nBlock size is 8K.\nThe array capacity is 160.000 GB." + reboot,
         true,
         {{1, 2, 4, 0, {1, 2}, "RAID_0_0"}, {1, 2, 4, 0, {12, 13}, "RAID_0_1"}, {2, 2, 4, 0, {100, 101}, "Made"}},
         "Creating RAID 0/1 (Mirrored Striping) Array 'Made' succeeded . "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.option);
        fake_->creates.clear();
        fake_->savedLog.clear();
        fake_->nextId = 100;
        window_->bTimerOn = true;
        WalkToStep3(c.type, c.block, c.option, "Made");
        AddDisks(c.disks);
        std::vector<Answer> answers = {{"Warning", "OK"}};
        if (c.offer)
            answers.push_back({"Confirmation", "Cancel", [this](GtkWidget*) { EXPECT_TRUE(window_->bTimerOn); }});
        else
            answers.push_back({"Confirmation", "OK", [this](GtkWidget*) { EXPECT_FALSE(window_->bTimerOn); }});
        auto seen = Answering(answers, [] { Click(Wiz()->pFinishBtn); });
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(BoxText(seen[1]), c.box);
        EXPECT_EQ(seen[1].buttons, c.offer ? (Names{"OK", "Cancel"}) : (Names{"OK"}));
        EXPECT_TRUE(window_->bTimerOn);
        EXPECT_EQ(fake_->rebootCalls, 0);
        // The requests, their members in the chosen order.
        ASSERT_EQ(fake_->creates.size(), c.sent.size());
        for (size_t i = 0; i < c.sent.size(); ++i) {
            SCOPED_TRACE(i);
            const _CREATE_ARRAY_PARAMS_V2& p = fake_->creates[i];
            const Request& want = c.sent[i];
            EXPECT_EQ(p.raidType, want.type);
            EXPECT_EQ(p.memberCount, want.count);
            EXPECT_EQ(p.blockCode, want.block);
            EXPECT_EQ(p.option, want.option);
            EXPECT_EQ(std::vector<uint32_t>(p.members, p.members + want.members.size()), want.members);
            EXPECT_STREQ(p.name, want.name);
        }
        ASSERT_EQ(fake_->savedLog.size(), 1u);
        EXPECT_EQ(std::string(fake_->savedLog[0].text).rfind(c.sentence, 0), 0u) << fake_->savedLog[0].text;
        // Closed, values kept.
        EXPECT_EQ(Wiz()->pWizard, nullptr);
        EXPECT_EQ(TopWindows().size(), 1u);
        EXPECT_STREQ(Wiz()->szArrayName, "Made");
        // The disks free again for the next kind.
        for (uint32_t id = 100; id < fake_->nextId; ++id)
            fake_->devices.erase(id);
        fake_->top = kTopLevel;
    }
}

TEST_F(WizardDisks, AFailedCreationHasTheModelsErrorAndClosesTheWizard)
{
    fake_->failCreate = {0};
    WalkToStep3("RAID0");
    AddDisks({"Alpha", "Bravo"});
    auto seen = Answering({{"Warning", "OK"}, {"Error", "OK"}}, [] { Click(Wiz()->pFinishBtn); });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(BoxText(seen[1]), "Creating RAID 0 (Striping) Array failed.  ");
    EXPECT_EQ(Wiz()->pWizard, nullptr);
    EXPECT_EQ(fake_->creates.size(), 1u);
}

TEST_F(WizardDisks, AConnectionBrokenWhileFinishAsksCreatesNothing)
{
    WalkToStep3("RAID0");
    AddDisks({"Alpha", "Bravo"});
    // The connection breaks while the question is open; its logout closes the wizard.
    auto seen = Answering({{"Warning", "OK", [](GtkWidget*) { ConnectOut(); }}, {"Error", "OK"}},
                          [] { Click(Wiz()->pFinishBtn); });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(BoxText(seen[1]), "Connection broken. You have to connect\n the system again.");
    EXPECT_EQ(Wiz()->pWizard, nullptr);
    EXPECT_TRUE(fake_->creates.empty());
    EXPECT_EQ(fake_->rebootCalls, 0);
}

}  // namespace
