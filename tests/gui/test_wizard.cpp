// The RAID creation wizard over a fake of the driver calls: steps 1 and 2 as a state machine (next,
// back, close with Cancel and OK, kept values, a type change replacing a default name, option
// defaults per type) with the parameter rows; the name checks; the lists that fall back when a kept
// text is no longer offered; old drivers.
#include "wizardfake.h"

namespace {

const char* const kUsed = "The Name had been used, please input other name.";
const char* const kInvalid = "Array name can only contain\n '-','_',letters and numbers.";
const char* const kNoBuild =
    "This option is not recommended. It can only be used\n when the data and parity in the selected disks\n are in "
    "a consistent state. Continue?";
const char* const kClose = "Are you sure that you want to close RAID Creation Wizard?";

class Wizard : public WizardFake {
protected:
    void SetUp() override
    {
        WizardFake::SetUp();
        fake_->Disk(1, 0, 0, 0, 80, "Alpha");
        fake_->Disk(2, 0, 1, 0, 80, "Bravo");
        fake_->Disk(9, 0, 2, 0, 80, "m0", 0, false);
        fake_->Disk(10, 0, 3, 0, 80, "m1", 0, false);
        fake_->Array(20, "RAID_0_0", VTN_RAID0, {9, 10});
        fake_->Array(21, "Used", VTN_RAID1, {});
    }
};

TEST_F(Wizard, FreshStepOneShowsRaid0AndATypeChangeReplacesTheName)
{
    CreateArray();
    CCreateArray* w = Wiz();
    ASSERT_TRUE(AtStep1());
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w->pWizard)), "Vorathine RAID Management Software");
    int width = 0, height = 0;
    gtk_widget_get_size_request(w->pWizard, &width, &height);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 400);
    EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(w->pWizard)));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(w->pWizard)), GTK_WINDOW(window_->pWindow));
    std::vector<std::string> buttons;
    // Beside the list's titles and the combo's own button.
    for (GtkWidget* b : FindWidgets(w->pWizard, [](GtkWidget* x) {
             return GTK_IS_BUTTON(x) && !gtk_widget_get_ancestor(x, GTK_TYPE_TREE_VIEW) && !WidgetCaption(x).empty();
         }))
        buttons.push_back(WidgetCaption(b));
    EXPECT_EQ(buttons, (std::vector<std::string>{"Cancel", "<<Back", "Next>>", "Finish"}));
    EXPECT_FALSE(Sensitive(w->pBackBtn));
    EXPECT_TRUE(Shown(w->pNextBtn) && Sensitive(w->pNextBtn));
    EXPECT_FALSE(Shown(w->pFinishBtn));

    EXPECT_EQ(ComboTexts(w->pTypeCombo), (std::vector<std::string>{"RAID0", "RAID1", "JBOD", "RAID5", "RAID01", "RAID10"}));
    EXPECT_EQ(ComboText(w->pTypeCombo), "RAID0");
    EXPECT_EQ(NameText(), "RAID_0_1");   // RAID_0_0 exists
    EXPECT_EQ(ParamRows(), (std::vector<std::string>{"Array Type=RAID0", "Array Name=RAID_0_1"}));
    EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(w->pNameEntry)), 15);
    EXPECT_EQ(w->nBlockCode, 0u);
    EXPECT_STREQ(w->szBlockSize, "64K");

    // Typing follows into the list; a type change puts the type's default name back.
    TypeName("typed");
    EXPECT_EQ(ParamRows()[1], "Array Name=typed");
    struct Case {
        const char* type;
        const char* name;
        uint32_t code, option;
    } cases[] = {
        {"RAID1", "RAID_1_0", VTN_RAID1, VTN_OPTION_CREATE_ONLY}, {"RAID5", "RAID_5_0", VTN_RAID5, VTN_OPTION_ZERO_BUILD},
        {"JBOD", "JBOD___0", VTN_JBOD, VTN_OPTION_ZERO_BUILD},    // other types leave the option
        {"RAID01", "RAID01_0", VTN_RAID01, VTN_OPTION_ZERO_BUILD}, {"RAID10", "RAID10_0", VTN_RAID10, VTN_OPTION_ZERO_BUILD},
        {"RAID1", "RAID_1_0", VTN_RAID1, VTN_OPTION_CREATE_ONLY},  {"RAID0", "RAID_0_1", VTN_RAID0, VTN_OPTION_CREATE_ONLY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        ASSERT_TRUE(ChooseText(w->pTypeCombo, c.type));
        EXPECT_EQ(NameText(), c.name);
        EXPECT_EQ(ParamRows(), (std::vector<std::string>{std::string("Array Type=") + c.type,
                                                         std::string("Array Name=") + c.name}));
        EXPECT_EQ(w->nRaidCode, c.code);
        EXPECT_EQ(w->nCreateOption, c.option);
        TypeName("typed");
    }
}

// Per type: the default name, step 2's rows and what it offers, step 3's rows, and the way back.
TEST_F(Wizard, EachTypeWalksItsStepsAndBackWithItsValuesKept)
{
    using Rows = std::vector<std::string>;
    struct Case {
        const char* type;
        const char* name;
        Rows step2;           // empty: no step 2
        bool blockOn, optionOn;
        std::vector<std::pair<std::string, bool>> radios;
        Rows step3;
        uint32_t diskRow;
    } cases[] = {
        {"RAID0", "RAID_0_1", {"Block Size= "}, true, false, {},
         {"Block Size=64K", "Selected Disks= "}, 3},
        {"RAID1", "RAID_1_0", {"Creation Option= "}, false, true, {{"Create Only", true}, {"Create and Duplicate", false}},
         {"Creation Option=Create Only", "Selected Disks= "}, 3},
        {"RAID5", "RAID_5_0", {"Block Size= ", "Creation Option= "}, true, true,
         {{"Zero Build", true}, {"Scrub (build parity)", false}, {"No Build", false}},
         {"Block Size=64K", "Creation Option=Zero Build", "Selected Disks= "}, 4},
        {"JBOD", "JBOD___0", {}, false, false, {}, {"Selected Disks= "}, 2},
        {"RAID10", "RAID10_0", {"Block Size= "}, true, false, {}, {"Block Size=64K", "Selected Disks= "}, 3},
        {"RAID01", "RAID01_0", {"Block Size= "}, true, false, {}, {"Block Size=64K", "Selected Disks= "}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const Rows head = {std::string("Array Type=") + c.type, std::string("Array Name=") + c.name};
        auto with = [&head](const Rows& tail) {
            Rows all = head;
            all.insert(all.end(), tail.begin(), tail.end());
            return all;
        };
        CreateArray();
        ASSERT_TRUE(ChooseText(Wiz()->pTypeCombo, c.type));
        EXPECT_EQ(NameText(), c.name);
        Click(Wiz()->pNextBtn);
        const bool jbod = c.step2.empty();
        if (!jbod) {
            ASSERT_TRUE(AtStep2());
            EXPECT_EQ(ParamRows(), with(c.step2));
            EXPECT_EQ(Wiz()->pTypeCombo, nullptr);
            EXPECT_EQ(ComboTexts(Wiz()->pBlockCombo), (Rows{"128K", "64K", "32K", "16K", "8K"}));
            EXPECT_EQ(ComboText(Wiz()->pBlockCombo), "64K");
            EXPECT_EQ(Sensitive(Wiz()->pBlockCombo), c.blockOn);
            EXPECT_EQ(Sensitive(Wiz()->pOptionFrame), c.optionOn);
            EXPECT_EQ(Radios(), c.radios);
            EXPECT_TRUE(Sensitive(Wiz()->pBackBtn));
            EXPECT_TRUE(Shown(Wiz()->pNextBtn));
            EXPECT_FALSE(Shown(Wiz()->pFinishBtn));
            Click(Wiz()->pNextBtn);
        }
        ASSERT_TRUE(AtStep3());
        EXPECT_EQ(ParamRows(), with(c.step3));
        EXPECT_EQ(Wiz()->nDiskRowFirst, c.diskRow);
        EXPECT_EQ(Wiz()->nDiskRowEnd, c.diskRow);
        EXPECT_EQ(Wiz()->nBlockCode, 7u);
        EXPECT_FALSE(Shown(Wiz()->pNextBtn));
        EXPECT_TRUE(Shown(Wiz()->pFinishBtn));

        // Back: step 2 (JBOD: step 1); then step 1 with the kept type and name.
        Click(Wiz()->pBackBtn);
        if (!jbod) {
            ASSERT_TRUE(AtStep2());
            EXPECT_EQ(ParamRows(), with(c.step2));
            EXPECT_EQ(Radios(), c.radios);
            Click(Wiz()->pBackBtn);
        }
        ASSERT_TRUE(AtStep1());
        EXPECT_EQ(ComboText(Wiz()->pTypeCombo), c.type);
        EXPECT_EQ(NameText(), c.name);
        EXPECT_EQ(ParamRows(), head);
    }
}

TEST_F(Wizard, StepTwoKeepsItsChoicesUntilStepOneRunsTheTypeAgain)
{
    WalkToStep3("RAID5", "32K", "Scrub (build parity)", "Parity");
    EXPECT_EQ(ParamRows(), (std::vector<std::string>{"Array Type=RAID5", "Array Name=Parity", "Block Size=32K",
                                                     "Creation Option=Scrub (build parity)", "Selected Disks= "}));
    EXPECT_EQ(Wiz()->nBlockCode, 6u);
    Click(Wiz()->pBackBtn);
    ASSERT_TRUE(AtStep2());
    EXPECT_EQ(ComboText(Wiz()->pBlockCombo), "32K");
    EXPECT_EQ(ActiveOption(), "Scrub (build parity)");
    // The handlers write their rows once the form stands.
    ASSERT_TRUE(ChooseText(Wiz()->pBlockCombo, "128K"));
    ASSERT_TRUE(ChooseOption("Zero Build"));
    EXPECT_EQ(ParamRows(), (std::vector<std::string>{"Array Type=RAID5", "Array Name=Parity", "Block Size=128K",
                                                     "Creation Option=Zero Build"}));
    ASSERT_TRUE(ChooseOption("Scrub (build parity)"));
    // Back to step 1: the type and name stay, the option goes back to the type's default.
    Click(Wiz()->pBackBtn);
    ASSERT_TRUE(AtStep1());
    EXPECT_EQ(NameText(), "Parity");
    EXPECT_EQ(Wiz()->nCreateOption, static_cast<uint32_t>(VTN_OPTION_ZERO_BUILD));
    Click(Wiz()->pNextBtn);
    EXPECT_EQ(ActiveOption(), "Zero Build");
    // The block size is the one the last Next took.
    EXPECT_EQ(ComboText(Wiz()->pBlockCombo), "32K");

    // RAID 1: Create and Duplicate, back to step 1 and on: Create Only again.
    WalkToStep3("RAID1", "", "Create and Duplicate");
    EXPECT_EQ(ParamRows()[2], "Creation Option=Create and Duplicate");
    Click(Wiz()->pBackBtn);
    EXPECT_EQ(ActiveOption(), "Create and Duplicate");
    EXPECT_EQ(ParamRows()[2], "Creation Option= ");
    ASSERT_TRUE(ChooseOption("Create Only"));
    EXPECT_EQ(ParamRows()[2], "Creation Option=Create Only");
    ASSERT_TRUE(ChooseOption("Create and Duplicate"));
    Click(Wiz()->pBackBtn);
    Click(Wiz()->pNextBtn);
    EXPECT_EQ(ActiveOption(), "Create Only");
}

TEST_F(Wizard, NoBuildAsksOnceAndCancelTakesTheChoiceBack)
{
    WalkToStep3("RAID5", "", "Scrub (build parity)");
    Click(Wiz()->pBackBtn);
    ASSERT_TRUE(AtStep2());
    // Cancel: Scrub again.
    auto seen = Answering({{"Confirmation", "Cancel"}}, [] { ASSERT_TRUE(ChooseOption("No Build")); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(BoxText(seen[0]), kNoBuild);
    EXPECT_EQ(ActiveOption(), "Scrub (build parity)");
    EXPECT_EQ(Wiz()->nCreateOption, static_cast<uint32_t>(VTN_OPTION_SCRUB));
    EXPECT_EQ(ParamRows()[3], "Creation Option=Scrub (build parity)");
    // OK: No Build stays.
    Answering({{"Confirmation", "OK"}}, [] { ASSERT_TRUE(ChooseOption("No Build")); });
    EXPECT_EQ(ActiveOption(), "No Build");
    EXPECT_EQ(Wiz()->nCreateOption, static_cast<uint32_t>(VTN_OPTION_NO_BUILD));
    EXPECT_EQ(ParamRows()[3], "Creation Option=No Build");
    // Step 3 and back again: the form is built with No Build active and asks nothing.
    Answering({}, [] { Click(Wiz()->pNextBtn); });
    EXPECT_EQ(ParamRows()[3], "Creation Option=No Build");
    Answering({}, [] { Click(Wiz()->pBackBtn); });
    EXPECT_EQ(ActiveOption(), "No Build");
    EXPECT_EQ(Wiz()->pNoBuildRadio != nullptr, true);
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(Wiz()->pNoBuildRadio)));
}

TEST_F(Wizard, NextChecksTheName)
{
    struct Case {
        const char* typed;
        const char* warning;   // null: step 2 opens
        const char* stored;
    } cases[] = {
        {"  Data-1_x  ", nullptr, "Data-1_x"},
        {"used", nullptr, "used"},          // names compare with their case
        {"Used", kUsed, nullptr},
        {"RAID_0_0", kUsed, nullptr},       // a top-level array's name
        {"two words", kInvalid, nullptr},
        {"dot.ted", kInvalid, nullptr},
        {"   ", kInvalid, nullptr},         // nothing left after trimming
        {"", kInvalid, nullptr},
        {"na\xc3\xafve", kInvalid, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        CreateArray();
        TypeName(c.typed);
        std::vector<Answer> answers;
        if (c.warning)
            answers.push_back({"Warning", "OK"});
        auto seen = Answering(answers, [] { Click(Wiz()->pNextBtn); });
        if (c.warning) {
            ASSERT_EQ(seen.size(), 1u);
            EXPECT_EQ(BoxText(seen[0]), c.warning);
            ASSERT_TRUE(AtStep1());
            EXPECT_EQ(NameText(), c.typed);
        } else {
            ASSERT_TRUE(AtStep2());
            EXPECT_STREQ(Wiz()->szArrayName, c.stored);
            EXPECT_EQ(ParamRows()[1], std::string("Array Name=") + c.stored);
        }
    }
}

TEST_F(Wizard, CancelAndTheCloseBoxAskFirstAndANewCreateStartsFresh)
{
    struct Case {
        const char* how;
        const char* answer;
        bool closed;
    } cases[] = {
        {"close box", "Cancel", false}, {"Cancel", "Cancel", false}, {"close box", "OK", true}, {"Cancel", "OK", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.how) + " " + c.answer);
        WalkToStep3("RAID5", "32K", "", "Kept");
        Click(Wiz()->pBackBtn);
        GtkWidget* before = Wiz()->pWizard;
        auto seen = Answering({{"Confirmation", c.answer}}, [&] {
            if (std::string(c.how) == "Cancel") {
                auto cancel = FindWidgets(before, [](GtkWidget* x) { return GTK_IS_BUTTON(x) && WidgetCaption(x) == "Cancel"; });
                ASSERT_EQ(cancel.size(), 1u);
                Click(cancel[0]);
            } else {
                gtk_window_close(GTK_WINDOW(before));
            }
        });
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(BoxText(seen[0]), kClose);
        if (c.closed) {
            EXPECT_EQ(Wiz()->pWizard, nullptr);
            EXPECT_EQ(Wiz()->pBlockCombo, nullptr);
            EXPECT_EQ(TopWindows().size(), 1u);
            // The values stay in the object.
            EXPECT_STREQ(Wiz()->szArrayName, "Kept");
            EXPECT_STREQ(Wiz()->szBlockSize, "32K");
        } else {
            EXPECT_EQ(Wiz()->pWizard, before);
            ASSERT_TRUE(AtStep2());
            EXPECT_EQ(ComboText(Wiz()->pBlockCombo), "32K");
            EXPECT_EQ(ParamRows()[1], "Array Name=Kept");
        }
    }
    // "Create" again, with the wizard open or closed: a fresh step 1.
    for (bool open : {true, false}) {
        SCOPED_TRACE(open);
        WalkToStep3("RAID5", "32K", "", "Kept");
        if (!open)
            CloseCreateArray();
        CreateArray();
        ASSERT_TRUE(AtStep1());
        EXPECT_EQ(TopWindows().size(), 2u);
        EXPECT_EQ(ComboText(Wiz()->pTypeCombo), "RAID0");
        EXPECT_EQ(NameText(), "RAID_0_1");
        EXPECT_STREQ(Wiz()->szBlockSize, "64K");
        EXPECT_EQ(Wiz()->nCreateOption, 0u);
    }
}

TEST_F(Wizard, AKeptTextTheListNoLongerHoldsFallsBackToTheFirstEntry)
{
    // A fresh wizard whose driver offers no RAID 0 starts on the first kind offered.
    SetCaps({{VTN_RAID1, 2}, {VTN_RAID5, 8}});
    window_->SupportPara.ProbeVersion();
    CreateArray();
    EXPECT_EQ(ComboText(Wiz()->pTypeCombo), "RAID1");
    EXPECT_STREQ(Wiz()->szRaidType, "RAID1");
    EXPECT_EQ(NameText(), "RAID_1_0");

    // The kept RAID 5 is gone when step 1 opens again.
    WalkToStep3("RAID5", "128K", "", "Parity");
    Click(Wiz()->pBackBtn);
    SetCaps({{VTN_RAID0, 8}, {VTN_RAID1, 2}});
    fake_->caps.maxBlockCode = 7;
    window_->SupportPara.ProbeVersion();
    // Step 2 again: 128K is no longer offered.
    Click(Wiz()->pNextBtn);
    Click(Wiz()->pBackBtn);
    ASSERT_TRUE(AtStep2());
    EXPECT_EQ(ComboText(Wiz()->pBlockCombo), "64K");
    EXPECT_STREQ(Wiz()->szBlockSize, "64K");
    Click(Wiz()->pBackBtn);
    ASSERT_TRUE(AtStep1());
    EXPECT_EQ(ComboText(Wiz()->pTypeCombo), "RAID0");
    EXPECT_STREQ(Wiz()->szRaidType, "RAID0");
    EXPECT_EQ(ParamRows(), (std::vector<std::string>{"Array Type=RAID0", "Array Name=Parity"}));
    EXPECT_EQ(Wiz()->nRaidCode, static_cast<uint32_t>(VTN_RAID0));

    // No kind at all (the capabilities could not be read): nothing to go on with.
    fake_->capsFail = true;
    window_->SupportPara.ProbeVersion();
    CreateArray();
    EXPECT_TRUE(ComboTexts(Wiz()->pTypeCombo).empty());
    EXPECT_TRUE(ParamRows().empty());
    EXPECT_FALSE(Sensitive(Wiz()->pNextBtn));
}

TEST_F(Wizard, OldDriversOfferTheirFixedListsAndShortNames)
{
    fake_->version = 0x01000001;
    window_->SupportPara.ProbeVersion();
    CreateArray();
    EXPECT_EQ(ComboTexts(Wiz()->pTypeCombo), (std::vector<std::string>{"RAID0", "RAID1", "JBOD", "RAID01"}));
    EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(Wiz()->pNameEntry)), 8);
    TypeName("ABCDEFGHIJ");
    EXPECT_EQ(NameText(), "ABCDEFGH");
    Click(Wiz()->pNextBtn);
    ASSERT_TRUE(AtStep2());
    EXPECT_EQ(ComboTexts(Wiz()->pBlockCombo), (std::vector<std::string>{"64K", "32K", "16K"}));
}

TEST_F(Wizard, HandlersWriteOnlyRowsThatExist)
{
    // Step 2's rows are not there yet while its form is built; afterwards the list is shorter
    // than a handler's row.
    WalkToStep3("RAID0");
    Click(Wiz()->pBackBtn);
    ColumnListClear(Wiz()->pParamList);
    ASSERT_TRUE(ChooseText(Wiz()->pBlockCombo, "16K"));
    blockentry(Wiz()->pBlockCombo, nullptr);
    EXPECT_TRUE(ParamRows().empty());
    // With the wizard closed the handlers do nothing at all.
    CloseCreateArray();
    nameentry(nullptr, nullptr);
    blockentry(nullptr, nullptr);
    diskselect(nullptr);
    EXPECT_EQ(Wiz()->pWizard, nullptr);
}

}  // namespace
