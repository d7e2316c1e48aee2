// The array operations of the toolbars against the real server on the simulated controller:
// rescan, delete (its guards, the question, the reboot offer), rename (used name, bad characters,
// empty, failure, success with its sentence in the server's log), verify, rebuild, duplicate and
// abort, each seen in the controller's state; the abort question with a fake of the client's
// function table.
#include "fakedriver.h"
#include "guiserver.h"
#include "signfunc_array.h"

namespace {

using vtnsim::Op;

constexpr uint32_t kBoot = VTN_ARRAY_BOOTABLE;
constexpr uint32_t kNeed = VTN_ARRAY_NEED_REBUILD;

void OpsScene(SimScene& s)
{
    for (int c = 0; c < 3; ++c)
        s.Controller("VTN SATA150 8-Port RAID Controller", 8, 2);
    s.Mirror("R1");
    s.Mirror("Other");
    s.Mirror("BootR1", kBoot);
    s.Mirror("BootDead", kBoot, Op::None, 2);
    s.Mirror("Busy1", 0, Op::Rebuild);
    s.Members("Busy5", VTN_RAID5, 3, 0, Op::Rebuild);
    s.Raid01("Combo");
    s.Members("Need5", VTN_RAID5, 3, kNeed);
    s.Mirror("Need1", kNeed);
    s.Members("Verif", VTN_RAID5, 3, 0, Op::Verify);
    s.Members("Init5", VTN_RAID5, 3, 0, Op::Init);
    s.Disk("free1");
}

bool Shows(const SeenWindow& w, const std::string& text)
{
    for (const std::string& l : w.labels)
        if (l == text)
            return true;
    return false;
}

class Ops : public ServerGuiTest {
protected:
    void SetUp() override
    {
        ServerGuiTest::SetUp();
        Start(OpsScene, VTN_RIGHTS_ALL, "sata4", lost_);
        ShowForms();
    }

    // The connection's connection-broken callback.
    void (*lost_)() = OnConnectionLost;

    // The array record of the controller's state by name; null when there is none.
    nlohmann::json Array(const std::string& name)
    {
        nlohmann::json state = SimState();
        for (const auto& a : state["arrays"])
            if (a["name"] == name && a["parent"].is_null())
                return a;
        for (const auto& a : state["arrays"])
            if (a["name"] == name)
                return a;
        return nullptr;
    }

    bool Select(const std::string& label) { return SelectLabel(window_->pArrayTree, label); }
};

TEST_F(Ops, RescanRebuildsTheTreesAndLogsItsResult)
{
    ASSERT_EQ(server_.Sim({"plug", "2", "7", "1", "40"}), 0);
    ASSERT_TRUE(Select("R1"));
    Answering({}, ReScan);
    // The new disk is in the trees; System Information is selected again.
    bool found = false;
    for (const TreeRow& r : TreeRows(window_->pArrayTree))
        found = found || r.label == "VTNSIM HD40GP";
    EXPECT_TRUE(found);
    STreeItem item;
    ASSERT_TRUE(CVTNTree::SelectedItem(window_->pArrayTree, &item));
    EXPECT_EQ(item.id, 0);
    EXPECT_NE(server_.Log().find("\tRescan Succeeded!"), std::string::npos) << server_.Log();

    // A rescan the driver refuses.
    ASSERT_EQ(server_.Sim({"fail-next", "0xFF12"}), 0);
    Answering({}, ReScan);
    EXPECT_NE(server_.Log().find("\tRescan Failed!"), std::string::npos);

    // Without a connection nothing reaches a server; the event says so.
    static std::string sent;
    sent.clear();
    const auto save = gFuncs.save_log_event;
    gFuncs.save_log_event = [](int, _VTN_LOG_EVENT* e) -> int {
        sent = e->text;
        return -1;
    };
    const int h = handle;
    handle = -1;
    Answering({}, ReScan);
    handle = h;
    gFuncs.save_log_event = save;
    EXPECT_EQ(sent, "Rescan Failed!");
}

TEST_F(Ops, DeleteKeepsItsGuardsAsksAndOffersTheReboot)
{
    const std::string question = "All data on the array will be deleted!\nAre you sure you want to continue?";
    const std::string deleted =
        "Array has been deleted.\nThe deletion will not be completed \nuntil you reboot the system.\n"
        "Do you want to reboot now?";
    struct Case {
        const char* label;
        std::vector<Answer> answers;
        bool gone;
        bool reboot;
    } cases[] = {
        {"BootR1", {}, false, false},        // bootable and working: nothing is asked
        {"Busy1", {}, false, false},         // a rebuilding RAID 1
        {"(RAID0)", {}, false, false},       // a stripe inside a RAID 0/1
        {"R1-a", {}, false, false},          // not an array
        {"Busy5", {{"Warning", "Cancel"}}, false, false},   // a rebuilding RAID 5 may go, after the question
        {"R1", {{"Warning", "OK"}, {"Confirmation", "Cancel"}}, true, false},
        {"BootDead", {{"Warning", "OK"}, {"Confirmation", "OK"}}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(Select(c.label));
        auto seen = Answering(c.answers, DeleteArray);
        if (!seen.empty()) {
            EXPECT_TRUE(Shows(seen[0], question));
        }
        if (seen.size() > 1) {
            EXPECT_TRUE(Shows(seen[1], deleted));
        }
        if (std::string(c.label) != "(RAID0)" && std::string(c.label) != "R1-a") {
            EXPECT_EQ(Array(c.label).is_null(), c.gone);
        }
        EXPECT_EQ(RebootMarked(), c.reboot);
    }
    EXPECT_NE(server_.Log().find("\tDeleting RAID 1 (Mirroring) Array 'R1' succeeded."), std::string::npos);
    EXPECT_NE(server_.Log().find("\tDeleting RAID 1 (Mirroring) Array 'BootDead' succeeded."), std::string::npos);
    // The trees were rebuilt without the deleted arrays.
    for (const TreeRow& r : TreeRows(window_->pArrayTree))
        EXPECT_TRUE(r.label != "R1" && r.label != "BootDead") << r.label;

    // A deletion the driver refuses.
    ASSERT_EQ(server_.Sim({"fail-next", "0xFF07"}), 0);
    ASSERT_TRUE(Select("Other"));
    auto seen = Answering({{"Warning", "OK"}, {"Confirmation", "OK"}}, DeleteArray);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(Shows(seen[1], "Failed to delete the array!"));
    EXPECT_FALSE(Array("Other").is_null());
}

// Types a name into the open rename dialog.
std::function<void(GtkWidget*)> Type(const std::string& name)
{
    return [name](GtkWidget*) { gtk_entry_set_text(GTK_ENTRY(RenDia.pNameEntry), name.c_str()); };
}

TEST_F(Ops, RenameChecksTheNameAndLogsTheChange)
{
    const std::string used = "The Name had been used, please input other name.";
    const std::string invalid = "Array name can only contain\n '-','_',letters and numbers.";
    struct Case {
        const char* what;
        const char* label;
        std::vector<Answer> answers;
        const char* nameAfter;       // the array's name in the controller afterwards
        const char* sentence;        // expected in the server's log; null: none new
    } cases[] = {
        {"cancel", "R1", {{"Rename", "Cancel", Type("Nope")}}, "R1", nullptr},
        {"close box", "R1", {{"Rename", "", Type("Nope")}}, "R1", nullptr},
        {"empty after trimming", "R1", {{"Rename", "OK", Type("   ")}}, "R1", nullptr},
        {"used name, then bad characters, then a good one", "R1",
         {{"Rename", "OK", Type("Other")},
          {"Warning", "OK", [&](GtkWidget* w) { EXPECT_EQ(WidgetCaption(w), used); }},
          {"Rename", "OK", Type("bad name!")},
          {"Warning", "OK", [&](GtkWidget* w) { EXPECT_EQ(WidgetCaption(w), invalid); }},
          {"Rename", "OK", Type("  DATA  ")}},
         "DATA", "Rename array from original name 'R1'   to 'DATA' ."},
        // Keeping its own name passes the check and is sent.
        {"same name", "Other", {{"Rename", "OK", Type("Other")}}, "Other",
         "Rename array from original name 'Other'   to 'Other' ."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(Select(c.label));
        const size_t logBefore = server_.Log().size();
        auto seen = Answering(c.answers, RenameArray);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen[0].title, "Rename");
        EXPECT_TRUE(Shows(seen[0], "Please input a new name"));
        EXPECT_EQ(seen[0].width, 220);
        EXPECT_EQ(seen[0].height, 120);
        EXPECT_FALSE(Array(c.nameAfter).is_null());
        const std::string added = server_.Log().substr(logBefore);
        if (c.sentence)
            EXPECT_NE(added.find(std::string("\t") + c.sentence + "\n"), std::string::npos) << added;
        else
            EXPECT_EQ(added.find("Rename array"), std::string::npos) << added;
        EXPECT_EQ(RenDia.pNameEntry, nullptr);
    }
    // The local copy of the log has the sentence too.
    EXPECT_NE(ReadFileText(root_.Path("/usr/bin/log_loacl.txt")).find("to 'DATA' ."), std::string::npos);

    // A change the driver refuses: an error, and no sentence.
    ASSERT_EQ(server_.Sim({"fail-next", "0xFF10"}), 0);
    ASSERT_TRUE(Select("DATA"));
    const size_t logBefore = server_.Log().size();
    auto seen = Answering({{"Rename", "OK", Type("Fresh")}, {"Error", "OK"}}, RenameArray);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(Shows(seen[1], "Failed to rename the array!"));
    EXPECT_FALSE(Array("DATA").is_null());
    EXPECT_EQ(server_.Log().substr(logBefore).find("Rename array"), std::string::npos);
}

TEST_F(Ops, RenameTakesEnterFromTheEntry)
{
    ASSERT_TRUE(Select("R1"));
    auto press = [](GtkWidget* window, guint key) {
        GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
        event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
        event->key.keyval = key;
        gtk_widget_event(window, event);
        gdk_event_free(event);
    };
    // Keypad Enter in the entry is OK.
    Answering({{"Rename", "Cancel",
                [&](GtkWidget* w) {
                    Type("Keyed")(w);
                    gtk_window_set_focus(GTK_WINDOW(w), RenDia.pNameEntry);
                    press(w, GDK_KEY_KP_Enter);
                    EXPECT_EQ(oksele, 1);
                }}},
              RenameArray);
    EXPECT_FALSE(Array("Keyed").is_null());
}

TEST_F(Ops, VerifyRebuildAndDuplicateStartAtOnce)
{
    struct Case {
        const char* label;
        void (*op)();
        const char* running;
    } cases[] = {
        {"R1", VerifyArray, "verify"},
        {"Need5", RebuildArray, "rebuild"},
        {"Need1", RebuildArray, "duplicate"},   // a mirror is repaired by copying its good half
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(Select(c.label));
        Answering({}, c.op);
        EXPECT_EQ(Array(c.label)["op"], c.running);
    }
}

TEST_F(Ops, AbortAsksThenStopsTheRunningOperation)
{
    struct Case {
        const char* label;
        const char* answer;
        const char* question;   // null: nothing asked
        const char* opAfter;    // null: the array is gone
    } cases[] = {
        {"Busy1", "Cancel", "Are you sure to abort rebuilding  ?", "rebuild"},
        {"Busy1", "OK", "Are you sure to abort rebuilding  ?", "none"},
        {"Verif", "OK", "Are you sure to abort verifying  ?", "none"},
        {"Init5", "OK", "Are you sure to abort initializing  ?", nullptr},   // the driver drops the array
        {"R1", nullptr, nullptr, "none"},                                    // nothing runs
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label) + " " + (c.answer ? c.answer : ""));
        ASSERT_TRUE(Select(c.label));
        std::vector<Answer> answers;
        if (c.question)
            answers.push_back({"Warning", c.answer});
        auto seen = Answering(answers, AbortArray);
        if (c.question) {
            ASSERT_EQ(seen.size(), 1u);
            EXPECT_TRUE(Shows(seen[0], c.question));
        }
        if (c.opAfter)
            EXPECT_EQ(Array(c.label)["op"], c.opAfter);
        else
            EXPECT_TRUE(Array(c.label).is_null());
        window_->FreshTree();
    }
}

// ---- a break while a question or the rename dialog waits ------------------------------------------

struct BreakCase {
    const char* what;
    const char* label;     // the array selected
    void (*op)();
    const char* waits;     // the title of the window that waits for the answer
    bool timerFinds;       // the timer finds the break while it waits; else the request after OK
    const char* typed;     // typed into the rename dialog
};

std::ostream& operator<<(std::ostream& out, const BreakCase& c)
{
    return out << c.what;
}

const BreakCase kBreakCases[] = {
    {"delete question", "R1", DeleteArray, "Warning", true, nullptr},
    {"rename dialog", "R1", RenameArray, "Rename", true, "DATA"},
    {"abort question", "Busy1", AbortArray, "Warning", true, nullptr},
    {"delete question, the request finds the break", "R1", DeleteArray, "Warning", false, nullptr},
    {"rename dialog, the request finds the break", "R1", RenameArray, "Rename", false, "DATA"},
};

// The server is killed while the window waits. "Connection broken..." is said once; a break the
// timer finds closes the waiting window, and an answer OK whose request finds it shows nothing
// more. The controller, the server's log and the local copy stay as they were.
class OpsBreak : public Ops, public ::testing::WithParamInterface<BreakCase> {
protected:
    void SetUp() override
    {
        lost_ = ConnectOut;
        Ops::SetUp();
        // As after a login through the form: the timer reads the event channel.
        ASSERT_EQ(cs_vtn_enable_event_notify(handle, 1), 0);
    }
};

TEST_P(OpsBreak, AnAnswerAfterTheBreakSendsAndSaysNothing)
{
    const BreakCase& c = GetParam();
    const std::string broken = "Connection broken. You have to connect\n the system again.";
    ASSERT_TRUE(Select(c.label));
    const nlohmann::json array = Array(c.label);
    const std::string log = server_.Log();
    const std::string local = ReadFileText(root_.Path("/usr/bin/log_loacl.txt"));

    struct Killer {
        ServerProcess* server;
        const char* waits;
        bool done = false;
        void Kill()
        {
            server->Kill();
            done = true;
        }
    } killer{&server_, c.waits};
    unsigned watch = 0;
    std::vector<Answer> script;
    auto answer = [&c](GtkWidget* w) {
        if (c.typed)
            Type(c.typed)(w);
    };
    if (c.timerFinds) {
        window_->bTimerOn = true;
        watch = g_timeout_add(20, [](gpointer p) -> gboolean {
            auto* k = static_cast<Killer*>(p);
            if (!k->done && !TopWindows(k->waits).empty())
                k->Kill();
            return G_SOURCE_CONTINUE;
        }, &killer);
        // The window of the ended session goes with it, its question answered as Cancel.
        script = {{"Error", "OK"}};
    } else {
        script = {{c.waits, "OK", [&](GtkWidget* w) {
                       answer(w);
                       killer.Kill();
                   }},
                  {"Error", "OK"}};
    }
    auto seen = Answering(script, c.op, 60000);
    if (watch)
        g_source_remove(watch);
    EXPECT_TRUE(killer.done);
    ASSERT_EQ(seen.size(), c.timerFinds ? 1u : 2u);
    EXPECT_TRUE(TopWindows(c.waits).empty());
    const SeenWindow& error = seen[c.timerFinds ? 0 : 1];
    EXPECT_EQ(error.title, "Error");
    EXPECT_EQ(error.labels.front(), broken);
    EXPECT_EQ(handle, -1);
    EXPECT_EQ(Array(c.label), array) << "the controller as it was";
    EXPECT_EQ(server_.Log(), log);
    if (c.timerFinds) {
        EXPECT_EQ(ReadFileText(root_.Path("/usr/bin/log_loacl.txt")), local);
    }
}

INSTANTIATE_TEST_SUITE_P(Questions, OpsBreak, ::testing::ValuesIn(kBreakCases));

using AddDisk = ServerGuiTest;

// A disk added to a broken mirror from the toolbar: the tree shows the array as the controller
// now has it, waiting for its rebuild, and no longer broken.
TEST_F(AddDisk, TheTreeShowsTheRepairedArray)
{
    Start([](SimScene& s) {
        s.Controller("VTN SATA150 4-Port RAID Controller", 4, 1);
        s.Mirror("Dead1", 0, Op::None, 1);
        s.Disk("Free80", 80);
    });
    ShowForms();
    auto icon = [this] {
        for (const TreeRow& r : TreeRows(window_->pArrayTree))
            if (r.label == "Dead1")
                return r.icon;
        return std::string("no row");
    };
    EXPECT_EQ(icon(), "Array_1_Broken");
    ASSERT_TRUE(SelectLabel(window_->pArrayTree, "Dead1"));
    auto seen = Answering({{"RAID Checking", "Ok"}, {"Confirmation", "OK"}}, AddDiskArray);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(Shows(seen[1], "Changing Mirror Disk succeeded!"));
    EXPECT_EQ(icon(), "Array_1_Lock");
}

using OpsFake = GuiTest;

TEST_F(OpsFake, AbortTakesTheLastBusyBitAndNothingIsSentWithoutASelection)
{
    static std::vector<std::pair<uint32_t, uint32_t>> states;
    states.clear();
    FakeDriver f;
    f.Disk(1, 0, 0, 0, 80, "d1");
    f.Disk(2, 0, 1, 0, 80, "d2");
    f.Array(10, "Both", VTN_RAID5, {1, 2}, VTN_ARRAY_VERIFYING | VTN_ARRAY_INITIALIZING | VTN_ARRAY_REBUILDING);
    gFuncs.set_array_state = [](int, unsigned int id, unsigned int state) -> int {
        states.push_back({id, state});
        return 0;
    };
    StartMainWindow();
    ArrayManagement();
    ASSERT_TRUE(SelectLabel(window_->pArrayTree, "Both"));
    auto seen = Answering({{"Warning", "OK"}}, AbortArray);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(Shows(seen[0], "Are you sure to abort initializing  ?"));
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0], (std::pair<uint32_t, uint32_t>{10, VTN_STATE_ABORT_INITIALIZE}));
    // Verify and rebuild ask nothing.
    Answering({}, VerifyArray);
    Answering({}, RebuildArray);
    ASSERT_EQ(states.size(), 3u);
    EXPECT_EQ(states[1].second, VTN_STATE_START_VERIFY);
    EXPECT_EQ(states[2].second, VTN_STATE_START_REBUILD);
    // Nothing selected: nothing is sent.
    gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(GTK_TREE_VIEW(window_->pArrayTree)));
    for (auto op : {AbortArray, VerifyArray, RebuildArray, DeleteArray, RenameArray, AddDiskArray})
        Answering({}, op);
    EXPECT_EQ(states.size(), 3u);
}

}  // namespace
