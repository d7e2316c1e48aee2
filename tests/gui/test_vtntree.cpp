// The device trees: against the real server on the simulated controller, the icon and place of
// every kind of array and state, the counters and the fresh list, the controller tree; with a
// fake of the client's function table, what the network may name (loops, deep nesting, failing
// controller reads); the remaining-time estimator with an injected clock.
#include <algorithm>
#include <set>

#include "fakedriver.h"
#include "guiserver.h"

namespace {

using vtnsim::Op;

struct Expect {
    const char* path;
    const char* icon;
    const char* label;
};

struct Counters {
    int phy, spare, mirror, stripe, span;
    bool operator==(const Counters&) const = default;
};

std::ostream& operator<<(std::ostream& o, const Counters& c)
{
    return o << "phy " << c.phy << " spare " << c.spare << " mirror " << c.mirror << " stripe " << c.stripe
             << " span " << c.span;
}

Counters Current()
{
    return {g_phydiskcount, g_sparediskcount, g_mirrordiskcount, g_stripediskcount, g_spandiskcount};
}

// "path icon label" of every row whose path has at most maxParts parts.
std::vector<std::string> Lines(GtkWidget* tree, size_t maxParts)
{
    std::vector<std::string> out;
    for (const TreeRow& r : TreeRows(tree))
        if (static_cast<size_t>(std::count(r.path.begin(), r.path.end(), ':')) < maxParts)
            out.push_back(r.path + " " + r.icon + " " + r.label);
    return out;
}

std::vector<std::string> Lines(const std::vector<Expect>& rows)
{
    std::vector<std::string> out;
    for (const Expect& e : rows)
        out.push_back(std::string(e.path) + " " + e.icon + " " + e.label);
    return out;
}

// Labels of the arrays on the window's fresh list.
std::set<std::string> FreshLabels(CMainWindow* win)
{
    std::set<std::string> out;
    for (const TreeRow& r : TreeRows(win->pArrayTree))
        if (r.id > 0 && win->GetFresh(static_cast<uint32_t>(r.id)))
            out.insert(r.label);
    return out;
}

// ---- scenes --------------------------------------------------------------------------------------

constexpr uint32_t kBoot = VTN_ARRAY_BOOTABLE;
constexpr uint32_t kNeed = VTN_ARRAY_NEED_REBUILD;

// Mirrors in every state and single disks of every kind.
void MirrorScene(SimScene& s)
{
    s.Controller("VTN ATA133 8-Channel RAID Controller", 8, 2, VTN_BUS_ATA133, 11);
    s.Controller("VTN ATA133 8-Channel RAID Controller", 8, 2, VTN_BUS_ATA133, 12);
    s.Disk("free");
    s.Disk("boot", 80, VTN_DISK_BOOTABLE);
    s.Disk("spare", 80, VTN_DISK_SPARE);
    s.Disk("dead", 80, 0, true);
    s.Disk("deadboot", 80, VTN_DISK_BOOTABLE, true);
    s.Mirror("M_boot", kBoot, Op::None, 0);
    s.Mirror("M_rebuild", 0, Op::Rebuild, 0);
    s.Mirror("M_bootdup", kBoot, Op::Duplicate, 0);
    s.Mirror("M_verify", 0, Op::Verify, 0);
    s.Mirror("M_lock", kNeed, Op::None, 0);
    s.Mirror("M_broken", 0, Op::None, 1);
    s.Mirror("M_bbroken", kBoot, Op::None, 1);
    s.Mirror("M_dead", 0, Op::None, 2);
    s.Mirror("M_bdead", kBoot, Op::None, 2);
    s.Mirror("M_bverify", kBoot, Op::Verify, 0);
    s.Mirror("M_block", kBoot | kNeed, Op::None, 0);
}

// RAID 5, RAID 0 and JBOD arrays in their states.
void ParityScene(SimScene& s)
{
    for (int c = 0; c < 3; ++c)
        s.Controller("VTN SATA150 8-Port RAID Controller", 8, 2);
    s.Members("P", VTN_RAID5, 3, 0, Op::None, 0);
    s.Members("P_init", VTN_RAID5, 3, 0, Op::Init, 0);
    s.Members("P_initbroken", VTN_RAID5, 3, 0, Op::Init, 1);
    s.Members("P_initdead", VTN_RAID5, 3, 0, Op::Init, 2);
    s.Members("P_boot", VTN_RAID5, 3, kBoot, Op::None, 0);
    s.Members("P_verify", VTN_RAID5, 3, 0, Op::Verify, 0);
    s.Members("P_rebuild", VTN_RAID5, 3, 0, Op::Rebuild, 0);
    s.Members("P_broken", VTN_RAID5, 3, 0, Op::None, 1);
    s.Members("P_lock", VTN_RAID5, 3, kNeed, Op::None, 0);
    s.Members("P_bdead", VTN_RAID5, 3, kBoot, Op::None, 2);
    s.Members("S", VTN_RAID0, 2, 0, Op::None, 0);
    s.Members("S_boot", VTN_RAID0, 2, kBoot, Op::None, 0);
    s.Members("S_dead", VTN_RAID0, 2, 0, Op::None, 1);
    s.Members("S_bdead", VTN_RAID0, 2, kBoot, Op::None, 1);
    s.Members("J", VTN_JBOD, 2, 0, Op::None, 0);
    s.Members("J_boot", VTN_JBOD, 2, kBoot, Op::None, 0);
    s.Members("J_dead", VTN_JBOD, 2, 0, Op::None, 1);
}

void NestedScene(SimScene& s)
{
    for (int c = 0; c < 3; ++c)
        s.Controller("VTN SATA150 8-Port RAID Controller", 8, 2);
    s.Raid01("O", 0, Op::None, 0);
    s.Raid01("O_verify", 0, Op::Verify, 0);
    s.Raid01("O_broken", 0, Op::None, 1);
    s.Raid01("O_boot", kBoot, Op::None, 0);
    s.Raid10("T", 0, Op::None, 0);
    s.Raid10("T_rebuild", 0, Op::Rebuild, 0);
    s.Raid10("T_boot", kBoot, Op::None, 0);
    s.Raid10("T_broken", 0, Op::None, 1);
    s.Raid10("T_dead", 0, Op::None, 2);
}

using Trees = ServerGuiTest;

TEST_F(Trees, EveryKindOfArrayAndStateHasItsIconPlaceAndCounters)
{
    struct Scene {
        const char* name;
        void (*build)(SimScene&);
        size_t depth;                    // parts of the paths compared
        std::vector<Expect> rows;
        Counters counters;
        std::set<std::string> fresh;
    } scenes[] = {
        {"mirrors and disks", MirrorScene, 2,
         {{"0", "host", "127.0.0.1"},
          {"0:0", "Array_1_Boot", "M_boot"},       // plain bootable items go first, the last one first
          {"0:1", "Disk_Boot", "boot"},
          {"0:2", "Disk", "free"},
          {"0:3", "Disk_Spare", "spare"},
          {"0:4", "Disk_Error", "dead"},
          {"0:5", "Disk_BError", "deadboot"},
          {"0:6", "Array_1_Building", "M_rebuild"},
          {"0:7", "Array_1_BBuilding", "M_bootdup"},  // a busy bootable array keeps its place
          {"0:8", "Array_1_Verify", "M_verify"},
          {"0:9", "Array_1_Lock", "M_lock"},
          {"0:10", "Array_1_Broken", "M_broken"},
          {"0:11", "Array_1_BBroken", "M_bbroken"},
          {"0:12", "Array_1_Error", "M_dead"},
          {"0:13", "Array_1_BError", "M_bdead"},
          {"0:14", "Array_1_BVerify", "M_bverify"},
          {"0:15", "Array_1_BLock", "M_block"}},
         {3, 1, 11, 0, 0},
         {"M_rebuild", "M_bootdup", "M_verify", "M_bverify"}},
        {"parity, stripes and spans", ParityScene, 2,
         {{"0", "host", "127.0.0.1"},
          {"0:0", "Array_0_Boot", "S_boot"},
          {"0:1", "Array_5", "P"},
          {"0:2", "Array_5_Init", "P_init"},
          {"0:3", "Array_5_Init", "P_initbroken"},  // initialising is tested before broken
          {"0:4", "Array_5_Error", "P_initdead"},   // disabled before initialising
          {"0:5", "Array_5_Boot", "P_boot"},        // not a plain bootable icon of the front
          {"0:6", "Array_5_Verify", "P_verify"},
          {"0:7", "Array_5_Building", "P_rebuild"},
          {"0:8", "Array_5_Broken", "P_broken"},
          {"0:9", "Array_5_Lock", "P_lock"},
          {"0:10", "Array_5_BError", "P_bdead"},
          {"0:11", "Array_0", "S"},
          {"0:12", "Array_0_Error", "S_dead"},
          {"0:13", "Array_0_BError", "S_bdead"},
          {"0:14", "Array_JBOD", "J"},
          {"0:15", "Array_JBOD_Boot", "J_boot"},
          {"0:16", "Array_JBOD_Error", "J_dead"}},
         {0, 0, 0, 4, 3},
         {"P_init", "P_initbroken", "P_verify", "P_rebuild"}},
        {"nested arrays", NestedScene, 4,
         {{"0", "host", "127.0.0.1"},
          {"0:0", "Array_10_Boot", "T_boot"},
          {"0:0:0", "Array_1", "Member 1 of 'T_boot'"},
          {"0:0:0:0", "Disk", "T_boot-0"},
          {"0:0:0:1", "Disk", "T_boot-1"},
          {"0:0:1", "Array_1", "Member 2 of 'T_boot'"},
          {"0:0:1:0", "Disk", "T_boot-2"},
          {"0:0:1:1", "Disk", "T_boot-3"},
          {"0:1", "Array_01_Boot", "O_boot"},
          {"0:1:0", "Array_0", "(RAID0)"},
          {"0:1:0:0", "Disk", "O_boota-0"},
          {"0:1:0:1", "Disk", "O_boota-1"},
          {"0:1:1", "Array_0", "(RAID0)"},
          {"0:1:1:0", "Disk", "O_bootb-0"},
          {"0:1:1:1", "Disk", "O_bootb-1"},
          {"0:2", "Array_01", "O"},
          {"0:2:0", "Array_0", "(RAID0)"},
          {"0:2:0:0", "Disk", "Oa-0"},
          {"0:2:0:1", "Disk", "Oa-1"},
          {"0:2:1", "Array_0", "(RAID0)"},
          {"0:2:1:0", "Disk", "Ob-0"},
          {"0:2:1:1", "Disk", "Ob-1"},
          {"0:3", "Array_01_Verify", "O_verify"},
          {"0:3:0", "Array_0", "(RAID0)"},
          {"0:3:0:0", "Disk", "O_verifya-0"},
          {"0:3:0:1", "Disk", "O_verifya-1"},
          {"0:3:1", "Array_0", "(RAID0)"},
          {"0:3:1:0", "Disk", "O_verifyb-0"},
          {"0:3:1:1", "Disk", "O_verifyb-1"},
          {"0:4", "Array_01_Broken", "O_broken"},
          {"0:4:0", "Array_0_Error", "(RAID0)"},
          {"0:4:0:0", "Disk_Error", "O_brokena-0"},
          {"0:4:0:1", "Disk", "O_brokena-1"},
          {"0:4:1", "Array_0", "(RAID0)"},
          {"0:4:1:0", "Disk", "O_brokenb-0"},
          {"0:4:1:1", "Disk", "O_brokenb-1"},
          {"0:5", "Array_10", "T"},
          {"0:5:0", "Array_1", "Member 1 of 'T'"},
          {"0:5:0:0", "Disk", "T-0"},
          {"0:5:0:1", "Disk", "T-1"},
          {"0:5:1", "Array_1", "Member 2 of 'T'"},
          {"0:5:1:0", "Disk", "T-2"},
          {"0:5:1:1", "Disk", "T-3"},
          {"0:6", "Array_10_Building", "T_rebuild"},  // never on the fresh list; its pair is
          {"0:6:0", "Array_1_Building", "Member 1 of 'T_rebuild'"},
          {"0:6:0:0", "Disk", "T_rebuild-0"},
          {"0:6:0:1", "Disk", "T_rebuild-1"},
          {"0:6:1", "Array_1", "Member 2 of 'T_rebuild'"},
          {"0:6:1:0", "Disk", "T_rebuild-2"},
          {"0:6:1:1", "Disk", "T_rebuild-3"},
          {"0:7", "Array_10_Broken", "T_broken"},
          {"0:7:0", "Array_1_Broken", "Member 1 of 'T_broken'"},
          {"0:7:0:0", "Disk_Error", "T_broken-0"},
          {"0:7:0:1", "Disk", "T_broken-1"},
          {"0:7:1", "Array_1", "Member 2 of 'T_broken'"},
          {"0:7:1:0", "Disk", "T_broken-2"},
          {"0:7:1:1", "Disk", "T_broken-3"},
          {"0:8", "Array_10_Error", "T_dead"},
          {"0:8:0", "Array_1_Error", "Member 1 of 'T_dead'"},
          {"0:8:0:0", "Disk_Error", "T_dead-0"},
          {"0:8:0:1", "Disk_Error", "T_dead-1"},
          {"0:8:1", "Array_1", "Member 2 of 'T_dead'"},
          {"0:8:1:0", "Disk", "T_dead-2"},
          {"0:8:1:1", "Disk", "T_dead-3"}},
         {0, 0, 14, 5, 0},
         {"O_verify", "Member 1 of 'T_rebuild'"}},
    };
    Start(nullptr);
    ShowForms();
    for (const Scene& scene : scenes) {
        SCOPED_TRACE(scene.name);
        BuildState(scene.build);
        window_->FreshTree();
        EXPECT_EQ(Lines(window_->pArrayTree, scene.depth), Lines(scene.rows));
        EXPECT_EQ(Current(), scene.counters);
        EXPECT_EQ(FreshLabels(window_), scene.fresh);
        // Every rebuild leaves the root expanded and System Information selected.
        STreeItem item;
        ASSERT_TRUE(CVTNTree::SelectedItem(window_->pArrayTree, &item));
        EXPECT_EQ(item.id, 0);
        EXPECT_EQ(Logical()->PageTexts.front().text, "System Information");
        GtkTreePath* first = gtk_tree_path_new_from_string("0:0");
        EXPECT_FALSE(gtk_tree_view_row_expanded(GTK_TREE_VIEW(window_->pArrayTree), first));
        gtk_tree_path_free(first);
    }
}

TEST_F(Trees, ControllerTreeHoldsControllersChannelsAndTheirDisks)
{
    Start(MirrorScene);
    ShowForms();
    const std::vector<TreeRow> rows = TreeRows(window_->pDeviceTree);
    // Root, two controllers of eight channels, the disks that sit at device 0 or 1.
    ASSERT_GE(rows.size(), 1u + 2 + 16);
    EXPECT_EQ(rows[0].icon, "host");
    EXPECT_EQ(rows[0].id, 0);
    struct Case {
        const char* path;
        const char* icon;
        const char* label;
        int controller, channel;
    } cases[] = {
        {"0:0", "Adapter", "Controller1", 1, -1}, {"0:0:0", "Channel", "Channel1", 0, 1},
        {"0:0:0:0", "Disk", "free", -1, -1},     {"0:0:0:1", "Disk", "boot", -1, -1},  // no bootable variant here
        {"0:0:1:0", "Disk_Spare", "spare", -1, -1}, {"0:0:1:1", "Disk_Error", "dead", -1, -1},
        {"0:0:7", "Channel", "Channel8", 0, 8},  {"0:1", "Adapter", "Controller2", 2, -1},
        {"0:1:0", "Channel", "Channel1", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        auto it = std::find_if(rows.begin(), rows.end(), [&](const TreeRow& r) { return r.path == c.path; });
        ASSERT_NE(it, rows.end());
        EXPECT_EQ(it->icon, c.icon);
        EXPECT_EQ(it->label, c.label);
        EXPECT_EQ(it->controller, c.controller);
        EXPECT_EQ(it->channel, c.channel);
    }
    // 27 disks at two places per channel; the spare counts once.
    const auto disks = std::count_if(rows.begin(), rows.end(), [](const TreeRow& r) { return r.id > 0; });
    EXPECT_EQ(disks, 27);
    EXPECT_EQ(g_sparediskcount, 1);
}

// The seven Array Management buttons as '1' (sensitive) and '0', in toolbar order; the
// /Operation items must agree.
std::string ToolbarState()
{
    std::string out;
    for (int i = 0; i < VTN_ARRAYMANAGE_ROWS; ++i) {
        const bool on = gtk_widget_get_sensitive(ArrayMenageToolbar[i].button);
        out += on ? '1' : '0';
        if (ArrayMenageToolbar[i].menuitem && gtk_widget_get_sensitive(ArrayMenageToolbar[i].menuitem) != on)
            out += '!';
    }
    return out;
}

TEST_F(Trees, ToolbarFollowsTheSelectedDeviceTheRightsAndTheFreeDisks)
{
    constexpr uint32_t kAll = VTN_RIGHTS_ALL;
    struct Case {
        const char* label;
        uint32_t rights;
        int freeDisks;
        const char* state;   // Create Delete Rename AddDisk Verify Rebuild Abort
    };
    struct Scene {
        void (*build)(SimScene&);
        std::vector<Case> cases;
    } scenes[] = {
        {MirrorScene,
         {{"127.0.0.1", kAll, 3, "0000000"},     // nothing selected: even Create is off
          {"M_rebuild", kAll, 3, "1000001"},     // busy: only Abort (and Create)
          {"M_verify", kAll, 3, "1000001"},
          {"M_boot", kAll, 3, "1010100"},        // bootable: not deleted while it works
          {"M_bdead", kAll, 3, "1100000"},       // ... but once it is disabled
          {"M_lock", kAll, 3, "1110010"},
          {"M_broken", kAll, 3, "1101000"},
          {"M_broken", 0, 3, "0001000"},         // Add Disk needs no right
          {"M_broken", 0, 0, "0000000"},         // ... but a free disk
          {"M_boot", VTN_RIGHT_RENAME_ARRAY, 3, "0010000"},
          {"M_lock", VTN_RIGHT_REBUILD, 3, "0000010"},
          {"M_lock", kAll & ~VTN_RIGHT_REBUILD, 3, "1110000"},
          {"M_rebuild", 0, 3, "0000001"},        // Abort needs no right
          {"free", kAll, 1, "0000000"},          // Create wants two free disks
          {"free", kAll, 2, "1000000"},
          {"free", kAll & ~VTN_RIGHT_CREATE_ARRAY, 2, "0000000"},
          {"M_lock-a", kAll, 3, "1000000"}}},
        {ParityScene,
         {{"P", kAll, 2, "1110100"},
          {"P_init", kAll, 2, "1000001"},
          {"P_initbroken", kAll, 2, "1001001"},
          {"P_rebuild", kAll, 2, "1000001"},
          {"P_lock", kAll, 2, "1110010"},
          {"P_broken", kAll, 2, "1101000"},
          {"P_initdead", kAll, 2, "1000001"},    // disabled, but still busy
          {"S", kAll, 2, "1110000"},
          {"S_boot", kAll, 2, "1010000"},
          {"J", kAll, 2, "1110000"}}},
        {NestedScene,
         {{"O", kAll, 2, "1110100"},
          {"(RAID0)", kAll, 2, "1000000"},      // a member array is neither deleted nor renamed
          {"O_broken", kAll, 2, "1101000"},
          {"T", kAll, 2, "1110000"},
          {"T_rebuild", kAll, 2, "1000000"},    // a RAID 1/0 is never aborted
          {"Member 1 of 'T_rebuild'", kAll, 2, "1000001"},
          {"Member 1 of 'T'", kAll, 2, "1000100"},
          {"T_broken", kAll, 2, "1100000"}}},
    };
    Start(nullptr);
    ShowForms();
    for (const Scene& scene : scenes) {
        BuildState(scene.build);
        window_->FreshTree();
        for (const Case& c : scene.cases) {
            SCOPED_TRACE(std::string(c.label) + " rights " + std::to_string(c.rights) + " free " +
                         std::to_string(c.freeDisks));
            window_->UserInfo.rights = c.rights;
            g_phydiskcount = c.freeDisks;
            ASSERT_TRUE(SelectLabel(window_->pArrayTree, c.label));
            EXPECT_EQ(ToolbarState(), c.state);
        }
    }
    // Another form current: the buttons follow, the /Operation items are the other form's.
    DeviceManagement();
    window_->UserInfo.rights = kAll;
    window_->FreshArrayManTool(VTN_ID_NONE);
    EXPECT_EQ(ToolbarState(), "0000000");
    EXPECT_EQ(ArrayMenageToolbar[0].menuitem, nullptr);
}

// ---- what the network may name ------------------------------------------------------------------

// The fake's function table with the controller reads a table test needs.
struct ControllerFake {
    int count = 1;
    int failController = -1;            // this controller's read fails
    std::pair<int, int> failChannel{-1, -1};
    _CONTROLLER_INFO info{};
    std::vector<std::array<uint32_t, 2>> channels;   // ids of controller 0's channels

    static ControllerFake*& Current()
    {
        static ControllerFake* current = nullptr;
        return current;
    }
    ControllerFake()
    {
        Current() = this;
        gFuncs.get_controller_count = [](int) -> int { return Current()->count; };
        gFuncs.get_controller_info = [](int, int c, _CONTROLLER_INFO* out) -> int {
            if (c == Current()->failController || c >= Current()->count)
                return -1;
            *out = Current()->info;
            out->channels = static_cast<uint8_t>(Current()->channels.size());
            return 0;
        };
        gFuncs.get_channel_info = [](int, int c, int ch, _CHANNEL_INFO* out) -> int {
            if (std::make_pair(c, ch) == Current()->failChannel || static_cast<size_t>(ch) >= Current()->channels.size())
                return -1;
            memset(out, 0, sizeof *out);
            out->devices[0] = Current()->channels[static_cast<size_t>(ch)][0];
            out->devices[1] = Current()->channels[static_cast<size_t>(ch)][1];
            return 0;
        };
    }
    ~ControllerFake() { Current() = nullptr; }
};

using TreeLimits = GuiTest;

TEST_F(TreeLimits, FailingControllerOrChannelReadsEndTheBuildKeepingWhatWasBuilt)
{
    struct Case {
        const char* name;
        int count, failController;
        std::pair<int, int> failChannel;
        std::vector<std::string> lines;
    } cases[] = {
        {"second controller fails", 2, 1, {-1, -1},
         {"0 host ", "0:0 Adapter Controller1", "0:0:0 Channel Channel1", "0:0:0:0 Disk d1", "0:0:1 Channel Channel2",
          "0:0:2 Channel Channel3", "0:0:2:0 Disk_Spare d2", "0:0:2:1 Disk_Error d3"}},
        {"second channel fails", 2, -1, {0, 1},
         {"0 host ", "0:0 Adapter Controller1", "0:0:0 Channel Channel1", "0:0:0:0 Disk d1",
          "0:0:1 Channel Channel2"}},
        {"count fails", -1, -1, {-1, -1}, {"0 host "}},
    };
    FakeDriver f;
    f.Disk(1, 0, 0, 0, 80, "d1");
    f.Disk(2, 0, 2, 0, 80, "d2", VTN_DISK_SPARE);
    f.Disk(3, 0, 2, 1, 80, "d3", VTN_DISK_DISABLED);
    StartMainWindow();
    ControllerFake fake;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.count = c.count;
        fake.failController = c.failController;
        fake.failChannel = c.failChannel;
        // Both ids 0 or both absent: no disk.
        fake.channels = {{1, VTN_ID_NONE}, {0, 0}, {2, 3}};
        if (window_->pDeviceTree == nullptr)
            DeviceManagement();
        else
            window_->FreshTree();
        EXPECT_EQ(Lines(window_->pDeviceTree, 9), c.lines);
    }
    EXPECT_EQ(g_sparediskcount, 0);   // the last build found no disk
}

TEST_F(TreeLimits, MemberListsThatLoopOrNestDeeplyAreCutOff)
{
    FakeDriver f;
    f.Disk(1, 0, 0, 0, 80, "d1", 0, false);
    f.Disk(2, 0, 1, 0, 80, "d2", 0, false);
    // An array naming itself among its members.
    f.Array(10, "Loop", VTN_RAID1, {1});
    f.devices[10].u.array.members[1] = 10;
    f.devices[10].u.array.memberCount = 2;
    // Arrays nested four deep.
    f.Array(23, "L4", VTN_RAID0, {2}, 0, 7, false);
    f.Array(22, "L3", VTN_RAID0, {23}, 0, 7, false);
    f.Array(21, "L2", VTN_RAID0, {22}, 0, 7, false);
    f.Array(20, "Deep", VTN_RAID0, {21});
    StartMainWindow();
    ArrayManagement();
    EXPECT_EQ(Lines(window_->pArrayTree, 9),
              (std::vector<std::string>{"0 host ", "0:0 Array_1 Loop", "0:0:0 Disk d1", "0:1 Array_10 Deep",
                                        "0:1:0 Array_10 (RAID0)", "0:1:0:0 Array_10 (RAID0)"}));
}

TEST_F(TreeLimits, DriverTextsAreBoundedAndShownValid)
{
    FakeDriver f;
    f.Disk(1, 0, 0, 0, 80, "caf\xe9");
    StartMainWindow();
    ControllerFake fake;
    fake.channels = {{1, VTN_ID_NONE}};
    // Both texts fill their fields without a terminator; the vendor ends in a byte that is no UTF-8.
    memset(fake.info.name, 'N', sizeof fake.info.name);
    memset(fake.info.manufacturer, 'M', sizeof fake.info.manufacturer);
    fake.info.manufacturer[sizeof fake.info.manufacturer - 1] = '\xff';
    DeviceManagement();
    CVTNTree* page = TreeObjectOf(window_->pDeviceTree);
    ASSERT_TRUE(PumpUntil([page] { return PageReady(page); }));
    const std::string replacement = "\xef\xbf\xbd";
    ASSERT_TRUE(SelectLabel(window_->pDeviceTree, "Controller1"));
    ASSERT_EQ(page->PageTexts.size(), 7u);
    EXPECT_EQ(page->PageTexts[2].text, std::string(36, 'N'));
    EXPECT_EQ(page->PageTexts[4].text, std::string(35, 'M') + replacement);
    ASSERT_TRUE(SelectLabel(window_->pDeviceTree, "caf" + replacement));
    ASSERT_GE(page->PageTexts.size(), 3u);
    EXPECT_EQ(page->PageTexts[2].text, "caf" + replacement);
}

// ---- remaining time ---------------------------------------------------------------------------

double gNow = 0;
double TestClock()
{
    return gNow;
}

TEST(RemainingTime, EstimatesCountsDownAndRestarts)
{
    CVTNTree::ResetRemain();
    double (*clock)() = CVTNTree::pClock;
    CVTNTree::pClock = TestClock;
    struct Step {
        const char* what;
        double now;
        uint32_t id, status, progress;
        bool busy;
        double percent;
        const char* text;
    } steps[] = {
        {"first look", 100, 7, VTN_ARRAY_REBUILDING, 1000, true, 10, "--:--:--"},
        {"no progress yet", 110, 7, VTN_ARRAY_REBUILDING, 1000, true, 10, "--:--:--"},
        // 1000 in 20 s: 8000 more take 160 s.
        {"estimate", 120, 7, VTN_ARRAY_REBUILDING, 2000, true, 20, "00:02:40"},
        // Above a minute and within 30 s of the last calculation: counts down by 10 s.
        {"count-down", 130, 7, VTN_ARRAY_REBUILDING, 2100, true, 21, "00:02:30"},
        {"count-down again", 145, 7, VTN_ARRAY_REBUILDING, 2200, true, 22, "00:02:15"},
        // More than 30 s after the last calculation: 3000 in 55 s, 6000 more take 110 s.
        {"recalculated", 155, 7, VTN_ARRAY_REBUILDING, 4000, true, 40, "00:01:50"},
        {"progress going back changes nothing", 160, 7, VTN_ARRAY_REBUILDING, 900, true, 9, "00:01:50"},
        {"verify after rebuild restarts", 170, 7, VTN_ARRAY_VERIFYING, 5000, true, 50, "--:--:--"},
        {"under a minute", 180, 7, VTN_ARRAY_VERIFYING, 7500, true, 75, "00:00:10"},
        // Under a minute every look calculates: 4000 in 15 s, 1000 more take 3.75 s.
        {"under a minute again", 185, 7, VTN_ARRAY_VERIFYING, 9000, true, 90, "00:00:03"},
        {"another array restarts", 181, 8, VTN_ARRAY_VERIFYING, 7600, true, 76, "--:--:--"},
        {"progress past the end is clamped", 191, 8, VTN_ARRAY_VERIFYING, 20000, true, 100, "--:--:--"},
        {"idle", 192, 8, 0, 5000, false, 0, "--:--:--"},
        {"busy again restarts", 200, 8, VTN_ARRAY_INITIALIZING | VTN_ARRAY_NEED_REBUILD, 0, true, 0, "--:--:--"},
        // 2000 in 931.35 s: 8000 more take 3725.4 s.
        {"hours", 1131.35, 8, VTN_ARRAY_INITIALIZING, 2000, true, 20, "01:02:05"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        gNow = s.now;
        double percent = -1;
        EXPECT_EQ(CVTNTree::EstimateRemain(s.id, s.status, s.progress, &percent), s.busy);
        EXPECT_DOUBLE_EQ(percent, s.percent);
        EXPECT_EQ(CVTNTree::RemainText(), s.text);
    }
    CVTNTree::ResetRemain();
    EXPECT_EQ(CVTNTree::RemainText(), "--:--:--");
    CVTNTree::pClock = clock;
}

}  // namespace
