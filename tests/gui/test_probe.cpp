// The array-health probes and the repair dialogs against the real server on the simulated
// controller: the detectors' lists, each kind of broken array given a disk (with the size rules,
// a refused add, a second disk), disabled arrays deleted, rebuilds started, Cancel changing
// nothing; the whole probe through a login, the offer of a plugged disk through the timer, and a
// box and a second dialog that the timer opens on top of a waiting dialog.
#include "repairtest.h"

namespace {

using vtnsim::Op;

constexpr uint32_t kNeed = VTN_ARRAY_NEED_REBUILD;
constexpr const char* kAddedAgain =
    "Disk has been added to array successfully.\nPlease select another to add to this array!";
constexpr const char* kBrokenPrompt = "Array '%s' is broken,\nDo you want to add one of the following disks to it?";

std::string BrokenPrompt(const std::string& name)
{
    char text[256];
    FormatText(text, sizeof text, kBrokenPrompt, name.c_str());
    return text;
}

void FreeDisks(SimScene& s)
{
    s.Disk("Free-small", 40);
    s.Disk("Free-mid", 60);
    s.Disk("Free-big", 160);
    s.Disk("Free-big2", 160);
    FarDisk(s, "Far", 160);
}

bool Has(const std::vector<std::string>& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class Probe : public SceneTest {
protected:
    nlohmann::json State() { return SimState(); }
    // The top-level array of that name (the state writes 0 for no parent).
    nlohmann::json Top(const std::string& name)
    {
        const nlohmann::json state = State();
        for (const auto& a : state["arrays"])
            if (a["name"] == name && a["parent"] == 0)
                return a;
        return nullptr;
    }
    // A member array (position from 0) of a top-level array.
    nlohmann::json MemberOf(const std::string& name, int position)
    {
        nlohmann::json top = Top(name);
        if (top.is_null())
            return nullptr;
        const uint32_t id = top["members"][position];
        const nlohmann::json state = State();
        for (const auto& a : state["arrays"])
            if (a["id"] == id)
                return a;
        return nullptr;
    }
    // The full probe, as the login runs it, on the trees as they are now.
    void ProbeAnswering(std::vector<Answer> script)
    {
        window_->FreshTree();
        RunScript(std::move(script), [this] { window_->ProbeArrayState(false, 0); });
    }
    // The event channel on and the timer taking its events in.
    void TimerOn()
    {
        ASSERT_EQ(cs_vtn_enable_event_notify(handle, 1), 0);
        window_->bTimerOn = true;
    }
};

TEST_F(Probe, NothingToRepairOpensNoDialog)
{
    StartOn([](SimScene& s) {
        s.Mirror("M");
        FreeDisks(s);
    });
    EXPECT_FALSE(window_->HaveDisabledArray());
    EXPECT_FALSE(window_->HaveBrokenArray());
    EXPECT_FALSE(window_->HaveNeedbuildingArray());
    ProbeAnswering({});
    // A disk given with no broken array to take it: no dialog either.
    RunScript({}, [this] { window_->ProbeArrayState(true, DiskId("Free-big")); });
    EXPECT_FALSE(window_->addtoarray(DiskId("Free-big"), true));
    // Nor for an array that is not broken.
    EXPECT_FALSE(window_->addtoarray(Top("M")["id"], false));
}

TEST_F(Probe, DetectorsListWhatEachRepairConcerns)
{
    StartOn([](SimScene& s) {
        s.Raid10("U", 0, Op::None, 3);          // disabled RAID 1/0: its broken mirror is not listed
        s.Raid10("T", 0, Op::None, 1);          // its first mirror broken
        s.Mirror("B", kNeed, Op::None, 1);      // broken and waiting for a rebuild: repair list only
        s.Mirror("R", 0, Op::Rebuild);          // already rebuilding
        s.Mirror("N", kNeed);
        const uint32_t v0 = s.Disk("V-0"), v1 = s.Disk("V-1");
        const uint32_t v2 = s.Disk("V-2", 80, 0, true), v3 = s.Disk("V-3", 80, 0, true);
        const uint32_t p0 = s.Array("V", VTN_RAID1, {v0, v1}, kNeed);
        const uint32_t p1 = s.Array("V", VTN_RAID1, {v2, v3});
        s.Array("V", VTN_RAID0, {p0, p1});      // disabled, its first mirror waiting for a rebuild
        s.Members("Z", VTN_RAID0, 2, 0, Op::None, 1);
    });
    auto ids = [](const uint32_t* list, int n) { return std::vector<uint32_t>(list, list + n); };
    auto id = [](const nlohmann::json& a) { return a["id"].get<uint32_t>(); };

    ASSERT_TRUE(window_->HaveDisabledArray());
    EXPECT_EQ(ids(window_->nProbeIds1, window_->nProbeCount1),
              (std::vector<uint32_t>{id(Top("U")), id(Top("V")), id(Top("Z"))}));
    ASSERT_TRUE(window_->HaveBrokenArray());
    EXPECT_EQ(ids(window_->nProbeIds1, window_->nProbeCount1),
              (std::vector<uint32_t>{id(MemberOf("T", 0)), id(Top("B"))}));
    // The list is refilled whole: the slots after the count are empty again.
    for (int i = window_->nProbeCount1; i < VTN_PROBE_SLOTS; ++i)
        EXPECT_EQ(window_->nProbeIds1[i], VTN_ID_NONE) << i;
    ASSERT_TRUE(window_->HaveNeedbuildingArray());
    EXPECT_EQ(ids(window_->nProbeIds2, window_->nProbeCount2),
              (std::vector<uint32_t>{id(Top("N")), id(MemberOf("V", 0))}));
}

TEST_F(Probe, BrokenMirrorTakesADiskThatFitsThenItsDuplicationStarts)
{
    StartOn([](SimScene& s) {
        s.Mirror("M");
        FreeDisks(s);
    });
    SimOn("fail", "M-a");
    const std::string where = Location(Find(State(), "disks", "model", "Free-small"));
    SeenDialog add, rebuild;
    std::string info;
    ProbeAnswering({
        {"RAID Checking", "Ok",
         [&](GtkWidget* w) {
             add = {Prompts(w), Captions(ListIn(w))};
             PickRows(ListIn(w), {"Free-small"});
             info = gtk_label_get_text(GTK_LABEL(window_->pCheckInfoLabel));
         }},
        Box("Warning", "OK", "The capacity of selected disk must be larger than \n or equal to the RAID1 Array."),
        Checking("Ok", {"Free-big"}),
        Box("Confirmation", "OK", "Changing Mirror Disk succeeded!"),
        Checking("Ok", {"M"}, &rebuild),
    });
    ASSERT_FALSE(add.prompts.empty());
    EXPECT_EQ(add.prompts.front(), BrokenPrompt("M"));
    // Free disks of the array's controller; not the failed member, nor the disk on the other one.
    EXPECT_EQ(add.items, (std::vector<std::string>{"Free-small", "Free-mid", "Free-big", "Free-big2"}));
    EXPECT_EQ(info, where + " \nCapacity: 40.00 GB");
    EXPECT_EQ(rebuild.prompts, (std::vector<std::string>{"The following array(s) need to be rebuilt. Please ",
                                                         "Select array(s) you want to rebuild by highlight it.",
                                                         "(Press CTRL to select multiple items)"}));
    EXPECT_EQ(rebuild.items, (std::vector<std::string>{"M"}));
    const nlohmann::json m = Top("M");
    EXPECT_EQ(m["members"][0], DiskId("Free-big"));
    EXPECT_EQ(m["op"], "duplicate");
    EXPECT_EQ(window_->pCheckList, nullptr) << "the dialog's widgets are forgotten with it";
}

TEST_F(Probe, BrokenRaid5RefusedAddIsToldAndTheNextProbeRepairsIt)
{
    StartOn([](SimScene& s) {
        s.Members("P", VTN_RAID5, 3);
        FreeDisks(s);
    });
    SimOn("pull", "P-0");
    // 60 GB passes the dialog's rule (a third of 160 GB) but not the driver's (80 GB).
    ProbeAnswering({
        Checking("Ok", {"Free-small"}),
        Box("Warning", "OK", "The capacity of selected disk must be larger than \n or equal to 1/3 of RAID5 Array."),
        Checking("Ok", {"Free-mid"}),
        Box("Error", "OK", "Failed to add the disk to the array!"),
    });
    EXPECT_EQ(Top("P")["op"], "none");
    SeenDialog rebuild;
    ProbeAnswering({
        Checking("Ok", {"Free-big"}),
        Box("Confirmation", "OK", "Changing RAID 5 Disk succeeded!"),
        Checking("Ok", {"P"}, &rebuild),
    });
    EXPECT_EQ(rebuild.items, (std::vector<std::string>{"P"}));
    const nlohmann::json p = Top("P");
    EXPECT_EQ(p["members"][0], DiskId("Free-big"));
    EXPECT_EQ(p["op"], "rebuild");
    EXPECT_EQ(DiskId("P-0"), 0u) << "the pulled disk left with its slot";
}

TEST_F(Probe, BrokenRaid01AndRaid10MirrorTakeDisksAndCancelLeavesTheRebuild)
{
    StartOn([](SimScene& s) {
        s.Raid01("C");
        s.Raid10("T");
        FreeDisks(s);
    });
    SimOn("fail", "Ca-0");
    SimOn("fail", "T-0");
    SeenDialog c, t, rebuild;
    ProbeAnswering({
        Checking("Ok", {"Free-small"}, &c),
        Box("Warning", "OK",
            "The capacity of selected disk must be larger than \n or equal to the half capacity of RAID0/1 Array."),
        Checking("Ok", {"Free-big"}),
        Box("Confirmation", "OK", "Changing RAID 0/1 Disk succeeded!"),
        Checking("Ok", {"Free-big2"}, &t),
        Box("Confirmation", "OK", "Changing Mirror Disk succeeded!"),
        Checking("Cancel", {}, &rebuild),
    });
    ASSERT_FALSE(c.prompts.empty());
    EXPECT_EQ(c.prompts.front(), BrokenPrompt("C"));
    ASSERT_FALSE(t.prompts.empty());
    EXPECT_EQ(t.prompts.front(), BrokenPrompt("Member 1 of 'T'"));
    EXPECT_EQ(rebuild.items, (std::vector<std::string>{"C", "Member 1 of 'T'"}));
    EXPECT_EQ(MemberOf("C", 0)["members"][0], DiskId("Free-big"));
    EXPECT_EQ(MemberOf("T", 0)["members"][0], DiskId("Free-big2"));
    EXPECT_EQ(Top("C")["op"], "none");
    EXPECT_EQ(MemberOf("T", 0)["op"], "none");
}

TEST_F(Probe, ArrayThatStaysBrokenIsOfferedOnceMore)
{
    StartOn([](SimScene& s) {
        const uint32_t a = s.Disk("W-0"), b = s.Disk("W-1"), c = s.Disk("W-2");
        s.Array("W", VTN_RAID1, {a, b, c});   // three copies: two lost leave it broken, not disabled
        FreeDisks(s);
    });
    SimOn("fail", "W-0");
    SimOn("fail", "W-1");
    SeenDialog second;
    ProbeAnswering({
        Checking("Ok", {"Free-big"}),
        Box("Confirmation", "OK", kAddedAgain),
        Checking("Ok", {"Free-big2"}, &second),
        Box("Confirmation", "OK", "Changing Mirror Disk succeeded!"),
        Checking("Cancel", {"W"}),
    });
    ASSERT_FALSE(second.prompts.empty());
    EXPECT_EQ(second.prompts.front(), BrokenPrompt("W"));
    EXPECT_FALSE(Has(second.items, "Free-big")) << "the first disk is a member now";
    const nlohmann::json w = Top("W");
    EXPECT_EQ(w["members"][0], DiskId("Free-big"));
    EXPECT_EQ(w["members"][1], DiskId("Free-big2"));

}

TEST_F(Probe, DisabledArraysAreDeletedInTheOrderPickedEvenAfterAFailure)
{
    StartOn([](SimScene& s) {
        s.Members("Z", VTN_RAID0, 2);
        s.Mirror("D");
        s.Mirror("H");
        s.Members("J", VTN_JBOD, 2);
    });
    SimOn("fail", "Z-0");
    SimOn("fail", "D-a");
    SimOn("fail", "D-b");
    SimOn("pull", "J-1");
    ASSERT_EQ(server_.Sim({"fail-next", "0xFF07"}), 0);
    SeenDialog seen;
    ProbeAnswering({
        Checking("Ok", {}, &seen),
        Box("Warning", "OK", "You must select a disabled array to delete!"),
        Checking("Ok", {"D", "J", "Z"}),
        Box("Confirmation", "Cancel", "Failed to delete disabled array 'D'  "),
        Box("Confirmation", "OK", "Disabled array 'J' is deleted  "),
        Box("Confirmation", "OK", "Disabled array 'Z' is deleted  "),
    });
    EXPECT_EQ(seen.prompts, (std::vector<std::string>{"The following array(s) can not be used,do you want to",
                                                      "delete them?(Press CTRL to select multiple items)"}));
    EXPECT_EQ(seen.items, (std::vector<std::string>{"Z", "D", "J"}));
    EXPECT_TRUE(Top("Z").is_null());
    EXPECT_TRUE(Top("J").is_null());
    EXPECT_FALSE(Top("D").is_null()) << "the refused deletion";
    EXPECT_FALSE(Top("H").is_null());
    const std::string log = server_.Log();
    EXPECT_NE(log.find("\tDeleting RAID 0 (Striping) Array 'Z' succeeded."), std::string::npos) << log;
    EXPECT_NE(log.find("\tDeleting JBOD (Volume) Array 'J' succeeded."), std::string::npos) << log;
    EXPECT_NE(log.find("\tDeleting RAID 1 (Mirroring) Array 'D' failed."), std::string::npos) << log;
    // The trees no longer show them.
    for (const TreeRow& r : TreeRows(window_->pArrayTree))
        EXPECT_TRUE(r.label != "Z" && r.label != "J") << r.label;
}

TEST_F(Probe, RebuildIsOfferedOnlyToArraysWaitingForIt)
{
    StartOn([](SimScene& s) {
        s.Mirror("N", kNeed);
        s.Mirror("R", kNeed, Op::Rebuild);
        s.Members("P5", VTN_RAID5, 3, kNeed);
        s.Mirror("Late", kNeed | VTN_ARRAY_NOT_AVAILABLE);
        s.Raid10("T", 0, Op::None, 0);
    });
    SeenDialog seen;
    ProbeAnswering({
        Checking("Ok", {}, &seen),
        Box("Warning", "OK", "You must select an Array to be duplicated."),
        Checking("Ok", {"P5", "N"}),
    });
    EXPECT_EQ(seen.items, (std::vector<std::string>{"N", "P5"}));
    EXPECT_EQ(Top("N")["op"], "duplicate");
    EXPECT_EQ(Top("P5")["op"], "rebuild");
    EXPECT_EQ(Top("R")["op"], "rebuild");
    EXPECT_EQ(Top("Late")["op"], "none");
}

TEST_F(Probe, CancelOrTheCloseBoxChangesNothing)
{
    StartOn([](SimScene& s) {
        s.Members("Z", VTN_RAID0, 2);
        s.Mirror("M");
        s.Mirror("N", kNeed);
        FreeDisks(s);
    });
    SimOn("fail", "Z-0");
    SimOn("fail", "M-a");
    const nlohmann::json before = State();
    ProbeAnswering({
        Checking("Cancel", {"Z"}),
        Checking("", {"Free-big"}),   // the close box
        Checking("Cancel", {"N"}),
    });
    const nlohmann::json after = State();
    EXPECT_EQ(before["arrays"], after["arrays"]);
    EXPECT_EQ(before["disks"], after["disks"]);
}

// ---- through the login and the timer --------------------------------------------------------------

TEST_F(Probe, LoginBringsEveryRepairInTurn)
{
    std::string message;
    ASSERT_TRUE(VtnSimInit("sata4", &message)) << message;
    BuildState([](SimScene& s) {
        TwoControllers(s);
        s.Members("Z", VTN_RAID0, 2);
        s.Mirror("M");
        s.Members("P", VTN_RAID5, 3);
        s.Raid01("C");
        s.Raid10("T");
        s.Mirror("N", kNeed);
        FreeDisks(s);
        s.Disk("Free-big3", 160);
        s.Disk("Free-big4", 160);
    });
    for (auto [command, model] : {std::pair{"fail", "Z-0"}, {"fail", "M-a"}, {"pull", "P-1"}, {"fail", "Cb-1"},
                                  {"fail", "T-2"}})
        SimOn(command, model);
    // What happened before the login is not pushed to it.
    ASSERT_TRUE(VtnSimEdit([](vtnsim::Model& m, int64_t, std::string*) {
        m.events.clear();
        return true;
    }, &message)) << message;
    ASSERT_TRUE(raw::WriteSystemFile("/etc/vtnuser.dat", raw::UserLine("admin", "secret1", 0xFFFFFFFFu)));
    ASSERT_TRUE(server_.Start(""));
    ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log", "127.0.0.1\tlocal\t" + std::to_string(server_.Port()) + "\n"));
    SetClientWaitSeconds(30);
    StartMainWindow();

    SeenDialog del, m, p, c, t, rebuild;
    RunScript({{"Login Form", "OK",
                [](GtkWidget*) {
                    gtk_entry_set_text(GTK_ENTRY(NewSys.pUserEntry), "admin");
                    gtk_entry_set_text(GTK_ENTRY(NewSys.pPasswordEntry), "secret1");
                }},
               Checking("Ok", {"Z"}, &del),
               Box("Confirmation", "OK", "Disabled array 'Z' is deleted  "),
               Checking("Ok", {"Free-big"}, &m),
               Box("Confirmation", "OK", "Changing Mirror Disk succeeded!"),
               Checking("Ok", {"Free-big2"}, &p),
               Box("Confirmation", "OK", "Changing RAID 5 Disk succeeded!"),
               Checking("Ok", {"Free-big3"}, &c),
               Box("Confirmation", "OK", "Changing RAID 0/1 Disk succeeded!"),
               Checking("Ok", {"Free-big4"}, &t),
               Box("Confirmation", "OK", "Changing Mirror Disk succeeded!"),
               {"RAID Checking", "Ok",
                [&](GtkWidget* w) {
                    // The rebuilds' events would bring boxes of their own; this test is about the dialogs.
                    window_->bTimerOn = false;
                    rebuild = {Prompts(w), Captions(ListIn(w))};
                    PickRows(ListIn(w), {"M", "P", "C", "Member 2 of 'T'", "N"});
                }}},
              LogSystem);
    EXPECT_EQ(del.items, (std::vector<std::string>{"Z"}));
    for (auto [dialog, name] : {std::pair{&m, "M"}, {&p, "P"}, {&c, "C"}, {&t, "Member 2 of 'T'"}}) {
        ASSERT_FALSE(dialog->prompts.empty()) << name;
        EXPECT_EQ(dialog->prompts.front(), BrokenPrompt(name));
    }
    EXPECT_EQ(rebuild.items, (std::vector<std::string>{"M", "P", "C", "Member 2 of 'T'", "N"}));
    EXPECT_TRUE(Top("Z").is_null());
    EXPECT_EQ(Top("M")["op"], "duplicate");
    EXPECT_EQ(Top("P")["op"], "rebuild");
    EXPECT_EQ(Top("C")["op"], "duplicate");
    EXPECT_EQ(MemberOf("T", 1)["op"], "duplicate");
    EXPECT_EQ(Top("N")["op"], "duplicate");
    EXPECT_STREQ(window_->szCurrForm, "Array Management");
}

TEST_F(Probe, PluggedDiskIsOfferedToTheBrokenArrays)
{
    StartOn([](SimScene& s) {
        s.Mirror("M", 0, Op::None, 1);
        s.Members("P", VTN_RAID5, 3, 0, Op::None, 1);
        s.Raid01("C", 0, Op::None, 1);
        s.Raid10("T", 0, Op::None, 1);
        s.Mirror("H");
    });
    TimerOn();
    struct Case {
        const char* target;
        const char* changed;
        int channel;
    } cases[] = {
        {"M", "Mirror", 15},
        {"P", "RAID 5", 14},
        {"C", "RAID 0/1", 13},
        {"Member 1 of 'T'", "Mirror", 12},
    };
    std::vector<std::string> broken = {"M", "P", "C", "Member 1 of 'T'"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        SeenDialog seen;
        Responder r({{"Warning", "OK"},
                     Checking("Ok", {c.target}, &seen),
                     Box("Confirmation", "OK", std::string("Changing ") + c.changed + " Disk succeeded!")},
                    120000);
        ASSERT_EQ(server_.Sim({"plug", "0", std::to_string(c.channel), "1", "160"}), 0);
        ASSERT_TRUE(r.WaitDone(120000));
        ASSERT_FALSE(seen.prompts.empty());
        EXPECT_EQ(seen.prompts.front(), "Do you want to add the disk to an array?");
        EXPECT_EQ(seen.items, broken);
        broken.erase(std::find(broken.begin(), broken.end(), c.target));
        // The new disk (the last one plugged) sits in the array or in its failed half.
        const nlohmann::json disk = State()["disks"].back();
        EXPECT_EQ(disk["model"], "VTNSIM HD160GP");
        EXPECT_NE(disk["parent"], 0);
    }
    window_->bTimerOn = false;
}

TEST_F(Probe, TimerBoxAndASecondDialogOnTopOfAWaitingDialogAreAnsweredInOrder)
{
    StartOn([](SimScene& s) {
        s.Mirror("M1", 0, Op::None, 1);
        s.Mirror("M2", 0, Op::None, 1);
        s.Disk("F1", 80);
    });
    TimerOn();
    // The plugged disk's event waits for the timer while the probe's first dialog is open.
    ASSERT_EQ(server_.Sim({"plug", "0", "7", "1", "80"}), 0);
    GtkWidget* firstList = nullptr;
    std::vector<std::string> firstPrompts, secondPrompts;
    window_->FreshTree();
    RunScript(
        {{"Warning", "OK",
          [&](GtkWidget*) {
              auto dialogs = TopWindows("RAID Checking");
              ASSERT_EQ(dialogs.size(), 1u);
              firstList = ListIn(dialogs.front());
              firstPrompts = Prompts(dialogs.front());
          }},
         {"RAID Checking", "Ok",
          [&](GtkWidget* w) {
              EXPECT_EQ(TopWindows("RAID Checking").size(), 2u);
              EXPECT_NE(ListIn(w), firstList);
              EXPECT_EQ(window_->pCheckList, ListIn(w));
              secondPrompts = Prompts(w);
              PickRows(ListIn(w), {"M2"});
          }},
         Box("Confirmation", "OK", "Changing Mirror Disk succeeded!"),
         {"RAID Checking", "Ok",
          [&](GtkWidget* w) {
              // The dialog beneath is whole again, and the window's fields name it.
              EXPECT_EQ(ListIn(w), firstList);
              EXPECT_EQ(window_->pCheckList, firstList);
              EXPECT_EQ(Prompts(w).front(), firstPrompts.front());
              PickRows(ListIn(w), {"F1"});
          }},
         Box("Confirmation", "OK", "Changing Mirror Disk succeeded!"),
         // M2 was repaired meanwhile: no dialog for it; then the rebuilds.
         Checking("Cancel", {})},
        [this] { window_->ProbeArrayState(false, 0); });
    window_->bTimerOn = false;
    ASSERT_FALSE(firstPrompts.empty());
    EXPECT_EQ(firstPrompts.front(), BrokenPrompt("M1"));
    ASSERT_FALSE(secondPrompts.empty());
    EXPECT_EQ(secondPrompts.front(), "Do you want to add the disk to an array?");
    EXPECT_EQ(Top("M1")["members"][0], DiskId("F1"));
    EXPECT_EQ(Top("M2")["members"][0], DiskId("VTNSIM HD80GP"));
}

}  // namespace
