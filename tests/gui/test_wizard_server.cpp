// The creation wizard against the real server on the simulated controller: every kind and option
// created through the wizard's own handlers and seen in the controller's state (members in the
// order chosen, block size, operation) and in the server's log; the reboot offer answered OK under
// VTN_ROOT; a logout, a broken connection and a new connection closing the wizard midway.
#include "guiserver.h"
#include "wizardtest.h"

namespace {

using Names = std::vector<std::string>;

// Disks by name on one controller of 8 channels with two devices each (no array may span
// controllers; RAID 1/0 needs the first controller to have 4 or 8 channels), the bootable one
// named "Boot". The model reads at most 20 top-level devices.
std::function<void(SimScene&)> DiskScene(const Names& names)
{
    return [names](SimScene& s) {
        s.Controller("VTN SATA150 8-Port RAID Controller", 8, 2);
        for (const std::string& n : names)
            s.Disk(n, 80, n == "Boot" ? VTN_DISK_BOOTABLE : 0);
    };
}

struct Case {
    const char* type;
    const char* option;
    const char* block;
    const char* name;
    Names disks;
    const char* answer;                   // the reboot offer's answer; null: a notice
    int raidType, blockCode;
    const char* op;
    std::vector<Names> halves;            // RAID 0/1 and RAID 1/0: the members' own disks
    const char* sentence;
};

class WizardServer : public ServerGuiTest {
protected:
    // The server on a controller holding the disks of the cases (or the names given).
    void StartWith(const std::vector<Case>& cases, Names more = {})
    {
        for (const Case& c : cases)
            more.insert(more.end(), c.disks.begin(), c.disks.end());
        Start(DiskScene(more));
        ShowForms();
    }
    void TearDown() override
    {
        CloseCreateArray();
        ServerGuiTest::TearDown();
    }

    // Each case through the wizard's own handlers, then the controller's state, the server's log
    // and the trees.
    void CreateEach(const std::vector<Case>& cases)
    {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            ASSERT_FALSE(RebootMarked());
            WalkToStep3(c.type, c.block, c.option, c.name);
            AddDisks(c.disks);
            EXPECT_EQ(DiskNames(Wiz()->pSelectedDisks), c.disks);
            const size_t logBefore = server_.Log().size();
            auto seen = Answering({{"Warning", "OK"}, {"Confirmation", c.answer ? c.answer : "OK"}},
                                  [] { Click(Wiz()->pFinishBtn); });
            // A notice turned the timer on; these tests look at the trees.
            window_->bTimerOn = false;
            ASSERT_EQ(seen.size(), 2u);
            EXPECT_EQ(BoxText(seen[1]).rfind(std::string("'") + c.name + "' (", 0), 0u) << BoxText(seen[1]);
            EXPECT_EQ(seen[1].buttons, c.answer ? (Names{"OK", "Cancel"}) : (Names{"OK"}));
            EXPECT_EQ(Wiz()->pWizard, nullptr);

            const nlohmann::json state = SimState();
            const nlohmann::json* a = TopArray(state, c.name);
            ASSERT_NE(a, nullptr);
            EXPECT_EQ((*a)["raid_type"], c.raidType);
            EXPECT_EQ((*a)["block"], c.blockCode);
            EXPECT_EQ((*a)["op"], c.op);
            if (c.halves.empty()) {
                EXPECT_EQ((*a)["members"].get<std::vector<uint32_t>>(), Ids(c.disks, state));
            } else {
                const auto members = (*a)["members"].get<std::vector<uint32_t>>();
                ASSERT_EQ(members.size(), c.halves.size());
                for (size_t i = 0; i < members.size(); ++i) {
                    const nlohmann::json* half = Array(state, members[i]);
                    ASSERT_NE(half, nullptr);
                    EXPECT_EQ((*half)["members"].get<std::vector<uint32_t>>(), Ids(c.halves[i], state));
                    EXPECT_EQ((*half)["block"], c.blockCode);
                }
            }
            const std::string added = server_.Log().substr(logBefore);
            EXPECT_NE(added.find(std::string("\t") + c.sentence), std::string::npos) << added;
            // The trees know the new array.
            bool listed = false;
            for (const TreeRow& r : TreeRows(window_->pArrayTree))
                listed = listed || r.label == c.name;
            EXPECT_TRUE(listed);
            EXPECT_EQ(RebootMarked(), c.answer && std::string(c.answer) == "OK");
        }
    }

    // Ids of the simulated disks by name, and the top-level array of a name.
    std::vector<uint32_t> Ids(const Names& names, const nlohmann::json& state)
    {
        std::vector<uint32_t> out;
        for (const std::string& n : names)
            for (const auto& d : state["disks"])
                if (d["model"] == n)
                    out.push_back(d["id"].get<uint32_t>());
        return out;
    }
    static const nlohmann::json* Array(const nlohmann::json& state, uint32_t id)
    {
        for (const auto& a : state["arrays"])
            if (a["id"] == id)
                return &a;
        return nullptr;
    }
    static const nlohmann::json* TopArray(const nlohmann::json& state, const std::string& name)
    {
        for (const auto& a : state["arrays"])
            if (a["name"] == name && a["parent"] == 0)
                return &a;
        return nullptr;
    }
};

TEST_F(WizardServer, EveryKindIsCreatedWithItsMembersInTheOrderChosen)
{
    const std::vector<Case> cases = {
        {"RAID0", "", "32K", "Stripe", {"S1", "S0"}, "Cancel", 1, 6, "none", {},
         "Creating RAID 0 (Striping) Array 'Stripe' succeeded.  "},
        {"RAID1", "Create and Duplicate", "", "Copy", {"Boot", "D1"}, nullptr, 2, 0, "duplicate", {},
         "Creating RAID 1 (Mirroring) Array 'Copy' succeeded. (Orignal disk:"},
        {"JBOD", "", "", "Span", {"J1", "J0"}, "Cancel", 7, 0, "none", {},
         "Creating JBOD (Volume) Array 'Span' succeeded.  "},
        {"RAID01", "", "8K", "Combo", {"C0", "C1", "C2", "C3"}, "Cancel", 2, 4, "none", {{"C0", "C1"}, {"C2", "C3"}},
         "Creating RAID 0/1 (Mirrored Striping) Array 'Combo' succeeded . "},
        {"RAID10", "", "128K", "Tens", {"T0", "T1", "T3", "T2"}, "Cancel", 1, 8, "none", {{"T0", "T1"}, {"T3", "T2"}},
         "Creating RAID 1/0 (Striped Mirroring) Array 'Tens' succeeded . "},
        // Answered OK: the server asks for the reboot, which under VTN_ROOT leaves its marker.
        {"RAID1", "Create Only", "", "Mirror", {"M1", "M0"}, "OK", 2, 0, "none", {},
         "Creating RAID 1 (Mirroring) Array 'Mirror' succeeded. (Orignal disk:"},
    };
    StartWith(cases);
    CreateEach(cases);
}

TEST_F(WizardServer, EachRaid5OptionIsCreatedAsChosen)
{
    const std::vector<Case> cases = {
        {"RAID5", "Zero Build", "16K", "ParZ", {"Z2", "Z0", "Z1"}, nullptr, 3, 5, "init", {},
         "Creating RAID 5  Array 'ParZ' succeeded.  "},
        {"RAID5", "Scrub (build parity)", "", "ParS", {"P0", "P1", "P2"}, nullptr, 3, 7, "init", {},
         "Creating RAID 5  Array 'ParS' succeeded.  "},
        {"RAID5", "No Build", "128K", "ParN", {"N0", "N2", "N1"}, "Cancel", 3, 8, "none", {},
         "Creating RAID 5  Array 'ParN' succeeded.  "},
    };
    StartWith(cases);
    CreateEach(cases);
}

TEST_F(WizardServer, ALogoutMidwayClosesTheWizardAndCreatesNothing)
{
    StartWith({}, {"X0", "X1"});
    WalkToStep3("RAID0", "", "", "Never");
    AddDisks({"X0", "X1"});
    const size_t arrays = SimState()["arrays"].size();
    Answering({{"Confirmation", "OK"}}, [] { EXPECT_TRUE(LogoutSystem()); });
    EXPECT_EQ(Wiz()->pWizard, nullptr);
    EXPECT_EQ(TopWindows().size(), 1u);
    EXPECT_STREQ(Wiz()->szArrayName, "Never");
    EXPECT_EQ(SimState()["arrays"].size(), arrays);
}

TEST_F(WizardServer, ABrokenOrReplacedConnectionClosesTheWizardAtItsNextStep)
{
    StartWith({}, {"X0", "X1"});
    // Broken: the handle goes at once, the box and the logout follow from an idle. A Finish in
    // between creates nothing.
    WalkToStep3("RAID0", "", "", "Never");
    AddDisks({"X0", "X1"});
    const int connected = handle;
    ConnectOut();
    auto seen = Answering({{"Error", "OK"}}, [] { Click(Wiz()->pFinishBtn); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(BoxText(seen[0]), "Connection broken. You have to connect\n the system again.");
    EXPECT_EQ(Wiz()->pWizard, nullptr);
    cs_vtn_disconnect_system(connected);
    EXPECT_TRUE(SimState()["arrays"].empty());

    // Replaced: a wizard opened on another connection goes at its next step.
    handle = LoginTo(server_.Port(), kDefaultUser, kDefaultPassword, OnConnectionLost);
    ASSERT_GE(handle, 0);
    WalkToStep3("RAID0");
    ++window_->nConnectCount;
    Answering({}, [] { Click(Wiz()->pBackBtn); });
    EXPECT_EQ(Wiz()->pWizard, nullptr);
    EXPECT_EQ(TopWindows().size(), 1u);
    cs_vtn_disconnect_system(handle);
    handle = -1;
}

}  // namespace
