// The Spare Pool form against the real server on the simulated controller: which disks each mode
// lists, the arrays that can take a dedicated spare, adding and removing spares with each warning
// and question answered both ways, the disk's spare bit and its array in the controller's state,
// the sentences in the server's log, refused requests and a refused reboot.
#include "drivergui_list.h"
#include "repairtest.h"

namespace {

constexpr uint32_t kSpare = VTN_DISK_SPARE;
constexpr const char* kLevels = "RAID 1 or RAID 0/1 or RAID 1/0 or RAID 5";

std::string TooSmall()
{
    return std::string("The spare disk may be invalid because its \ncapacity is too small. It can not be a member\n of "
                       "existing ") +
           kLevels + " array.\nDo you want to add it?";
}

std::string WillErase(const std::string& name)
{
    return "If the disk '" + name +
           "' is put into\n the spare pool, all data on it will be deleted.\n Do you want to continue?";
}

std::string PutIn(const std::string& name)
{
    return "'" + name +
           "' has been put into\n spare pool successfully.The spare pool's\n configuration has been changed.\n Do you "
           "want to reboot?";
}

std::string WillWeaken(const std::string& name)
{
    return "If the disk '" + name + "' is removed\n from the spare pool, it will weaken the security of\n " + kLevels +
           " array.\n Do you want to continue?";
}

std::string TakenOut(const std::string& name)
{
    return "'" + name +
           "' has been removed\n from spare pool successfully.\nIt will not be available until you reboot the "
           "system.\n Do you want to reboot?";
}

// Arrays of every kind that take a spare (each needing 80 GB of a spare) and some that do not,
// free disks of several sizes, a bootable and a failed disk, a pool spare, and a disk on the
// second controller.
void SpareScene(SimScene& s)
{
    TwoControllers(s);
    s.Mirror("M");
    s.Members("P", VTN_RAID5, 3);
    s.Raid10("T");
    s.Members("S0", VTN_RAID0, 2);
    s.Members("J", VTN_JBOD, 2);
    const uint32_t a = s.Disk("Big-a", 120), b = s.Disk("Big-b", 120);
    s.Array("Big", VTN_RAID1, {a, b});
    s.Disk("F160", 160);
    s.Disk("F100", 100);
    s.Disk("F60", 60);
    s.Disk("Boot", 80, VTN_DISK_BOOTABLE);
    s.Disk("Bad", 80, 0, true);
    s.Disk("S1", 120, kSpare);
    FarDisk(s, "Far", 200);
}

class Spare : public ServerGuiTest {
protected:
    void StartOn(const std::function<void(SimScene&)>& scene)
    {
        Start(scene);
        SparePool();
        ASSERT_STREQ(window_->szCurrForm, "Spare Pool");
    }

    nlohmann::json DiskRecord(const std::string& model) { return Find(SimState(), "disks", "model", model); }
    bool IsSpare(const std::string& model) { return (DiskRecord(model)["flags"].get<uint32_t>() & kSpare) != 0; }
    uint32_t ParentOf(const std::string& model) { return DiskRecord(model)["parent"].get<uint32_t>(); }
    uint32_t ArrayId(const std::string& name)
    {
        nlohmann::json a = Find(SimState(), "arrays", "name", name);
        return a.is_null() ? 0 : a["id"].get<uint32_t>();
    }
    std::vector<std::string> Avail() { return Captions(window_->pAvailList); }
    std::vector<std::string> Spares() { return Captions(window_->pSpareList); }
    std::string InfoRow()
    {
        return ColumnListText(window_->pDiskInfoList, 0, 0) + "|" + ColumnListText(window_->pDiskInfoList, 0, 1) +
               "|" + ColumnListText(window_->pDiskInfoList, 0, 2);
    }
    bool Sensitive(GtkWidget* w) { return gtk_widget_get_sensitive(w); }
    // The sentence of a spare request about the disk in the server's log.
    bool Logged(const std::string& start, const std::string& model, const char* result)
    {
        const std::string sentence = start + " (" + Location(DiskRecord(model)) + ") " +
                                     (start[0] == 'A' ? "to" : "from") + " spare pool " + result + ".  ";
        return server_.Log().find("\t" + sentence + "\n") != std::string::npos;
    }
    void Add(const std::string& model, std::vector<Answer> script)
    {
        PickRows(window_->pAvailList, {model});
        RunScript(std::move(script), [] { addsparepool(nullptr, nullptr, nullptr); });
    }
    void Remove(const std::string& model, std::vector<Answer> script)
    {
        PickRows(window_->pSpareList, {model});
        RunScript(std::move(script), [] { removesparepool(nullptr, nullptr, nullptr); });
    }
    void ChooseArray(const std::string& name)
    {
        ASSERT_TRUE(gtk_combo_box_set_active_id(GTK_COMBO_BOX(window_->pSpareCombo), name.c_str())) << name;
    }
    std::vector<std::string> ComboArrays()
    {
        std::vector<std::string> out;
        GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(window_->pSpareCombo));
        GtkTreeIter it;
        for (bool ok = gtk_tree_model_get_iter_first(model, &it); ok; ok = gtk_tree_model_iter_next(model, &it)) {
            gchar* text = nullptr;
            gtk_tree_model_get(model, &it, 0, &text, -1);
            out.push_back(text ? text : "");
            g_free(text);
        }
        return out;
    }
};

TEST_F(Spare, PoolModeListsFreeDisksBesideTheSpares)
{
    StartOn(SpareScene);
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(window_->pPoolRadio)));
    EXPECT_TRUE(Sensitive(window_->pPoolRadio));
    EXPECT_TRUE(Sensitive(window_->pDedicatedRadio));
    EXPECT_FALSE(Sensitive(window_->pSpareCombo));
    EXPECT_EQ(window_->nSpareMode, 0);
    // Neither members, nor a bootable or failed disk; the other controller's disk is a candidate.
    EXPECT_EQ(Avail(), (std::vector<std::string>{"F160", "F100", "F60", "Far"}));
    EXPECT_EQ(Spares(), (std::vector<std::string>{"S1"}));
    EXPECT_TRUE(Sensitive(window_->pAddSpareBtn));
    EXPECT_TRUE(Sensitive(window_->pRemoveSpareBtn));
    // The first available disk is selected and described.
    EXPECT_EQ(WidgetCaption(FirstSelectedItem(window_->pAvailList)), "F160");
    EXPECT_EQ(InfoRow(), "F160|160.000 GB|" + Location(DiskRecord("F160")));
    PickRows(window_->pSpareList, {"S1"});
    EXPECT_EQ(InfoRow(), "S1|120.000 GB|" + Location(DiskRecord("S1")));
    EXPECT_EQ(ColumnListRows(window_->pDiskInfoList), 1);
    // The form hides /Operation.
    EXPECT_FALSE(gtk_widget_get_visible(window_->MenuItem("/Operation")));
}

TEST_F(Spare, PoolAddAsksEachQuestionAndCancelKeepsEverything)
{
    StartOn(SpareScene);
    // Too small for a member of the smallest arrays (80 GB): warned, then asked, then done.
    Add("F60", {Box("Warning", "Cancel", TooSmall())});
    Add("F60", {Box("Warning", "OK", TooSmall()), Box("Warning", "Cancel", WillErase("F60"))});
    EXPECT_FALSE(IsSpare("F60"));
    EXPECT_EQ(Avail(), (std::vector<std::string>{"F160", "F100", "F60", "Far"}));
    EXPECT_FALSE(Logged("Add spare disk", "F60", "succeeded"));

    Add("F60", {Box("Warning", "OK", TooSmall()), Box("Warning", "OK", WillErase("F60")),
                Box("Confirmation", "Cancel", PutIn("F60"))});
    EXPECT_TRUE(IsSpare("F60"));
    EXPECT_EQ(ParentOf("F60"), 0u);
    EXPECT_EQ(Avail(), (std::vector<std::string>{"F160", "F100", "Far"}));
    EXPECT_EQ(Spares(), (std::vector<std::string>{"S1", "F60"}));
    EXPECT_EQ(WidgetCaption(FirstSelectedItem(window_->pAvailList)), "F160");
    EXPECT_TRUE(Logged("Add spare disk", "F60", "succeeded"));
    EXPECT_FALSE(RebootMarked());

    // Large enough: no warning; the reboot offer taken.
    Add("F160", {Box("Warning", "OK", WillErase("F160")), Box("Confirmation", "OK", PutIn("F160"))});
    EXPECT_TRUE(IsSpare("F160"));
    EXPECT_TRUE(RebootMarked());
}

TEST_F(Spare, PoolRemoveAsksAndRefusedRequestsAreTold)
{
    StartOn(SpareScene);
    Remove("S1", {Box("Warning", "Cancel", WillWeaken("S1"))});
    EXPECT_TRUE(IsSpare("S1"));
    EXPECT_EQ(Spares(), (std::vector<std::string>{"S1"}));
    Remove("S1", {Box("Warning", "OK", WillWeaken("S1")), Box("Confirmation", "Cancel", TakenOut("S1"))});
    EXPECT_FALSE(IsSpare("S1"));
    EXPECT_TRUE(Spares().empty());
    EXPECT_EQ(Avail(), (std::vector<std::string>{"F160", "F100", "F60", "Far", "S1"}));
    EXPECT_FALSE(Sensitive(window_->pRemoveSpareBtn)) << "the last spare went";
    EXPECT_TRUE(Sensitive(window_->pAddSpareBtn));
    EXPECT_TRUE(Logged("Delete spare disk", "S1", "succeeded"));

    // The driver refuses an add, then a remove: each is told, the lists stay, the log says so.
    ASSERT_EQ(server_.Sim({"fail-next", "0xFF0C"}), 0);
    Add("Far", {Box("Warning", "OK", WillErase("Far")), Box("Error", "OK", "Failed to add 'Far' to the spare pool!")});
    EXPECT_FALSE(IsSpare("Far"));
    EXPECT_TRUE(Logged("Add spare disk", "Far", "failed"));
    EXPECT_EQ(Avail(), (std::vector<std::string>{"F160", "F100", "F60", "Far", "S1"}));
    Add("Far", {Box("Warning", "OK", WillErase("Far")), Box("Confirmation", "Cancel", PutIn("Far"))});
    ASSERT_EQ(server_.Sim({"fail-next", "0xFF0D"}), 0);
    Remove("Far", {Box("Warning", "OK", WillWeaken("Far")),
                   Box("Error", "OK", "Failed to remove 'Far' from the spare pool!")});
    EXPECT_TRUE(IsSpare("Far"));
    EXPECT_EQ(Spares(), (std::vector<std::string>{"Far"}));
    EXPECT_TRUE(Logged("Delete spare disk", "Far", "failed"));
}

TEST_F(Spare, NoArrayToProtectIsAskedAboutAndTheArrowsFollowTheLists)
{
    StartOn([](SimScene& s) {
        TwoControllers(s);
        s.Members("S0", VTN_RAID0, 2);
        s.Disk("Only", 80);
    });
    const std::string neither = std::string("The spare disk may be invalid because \n there is neither ") + kLevels +
                                " array.\nDo you want to add it?";
    Add("Only", {Box("Warning", "Cancel", neither)});
    EXPECT_FALSE(IsSpare("Only"));
    Add("Only", {Box("Warning", "OK", neither), Box("Warning", "OK", WillErase("Only")),
                 Box("Confirmation", "Cancel", PutIn("Only"))});
    EXPECT_TRUE(IsSpare("Only"));
    EXPECT_FALSE(Sensitive(window_->pAddSpareBtn)) << "the last available disk went";
    EXPECT_TRUE(Sensitive(window_->pRemoveSpareBtn));
    // Nothing selected: the arrows do nothing.
    RunScript({}, [] { addsparepool(nullptr, nullptr, nullptr); });
    Remove("Only", {Box("Warning", "OK", WillWeaken("Only")), Box("Confirmation", "Cancel", TakenOut("Only"))});
    EXPECT_FALSE(Sensitive(window_->pRemoveSpareBtn));
    EXPECT_TRUE(Sensitive(window_->pAddSpareBtn));
    gtk_list_box_unselect_all(GTK_LIST_BOX(window_->pSpareList));
    RunScript({}, [] { removesparepool(nullptr, nullptr, nullptr); });
}

TEST_F(Spare, DedicatedModeFollowsTheChosenArray)
{
    StartOn(SpareScene);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(window_->pDedicatedRadio), TRUE);
    EXPECT_EQ(window_->nSpareMode, 1);
    EXPECT_TRUE(Sensitive(window_->pSpareCombo));
    // RAID 1 and RAID 5 arrays and the mirrors of a RAID 1/0 by their member names; never a RAID 0
    // or a JBOD.
    EXPECT_EQ(ComboArrays(), (std::vector<std::string>{"M", "P", "Member 1 of 'T'", "Member 2 of 'T'", "Big"}));
    // M (80 GB): disks of its controller that hold it; the pool spare is not M's.
    EXPECT_EQ(Avail(), (std::vector<std::string>{"F160", "F100"}));
    EXPECT_TRUE(Spares().empty());
    EXPECT_FALSE(Sensitive(window_->pRemoveSpareBtn));
    // Another array chosen: the lists follow at once.
    ChooseArray("Big");
    EXPECT_EQ(Avail(), (std::vector<std::string>{"F160"}));
    ChooseArray("P");
    EXPECT_EQ(Avail(), (std::vector<std::string>{"F160", "F100"}));

    ChooseArray("M");
    Add("F100", {Box("Warning", "OK", WillErase("F100")), Box("Confirmation", "Cancel", PutIn("F100"))});
    EXPECT_TRUE(IsSpare("F100"));
    EXPECT_EQ(ParentOf("F100"), ArrayId("M"));
    EXPECT_EQ(Spares(), (std::vector<std::string>{"F100"}));
    EXPECT_TRUE(Logged("Add spare disk", "F100", "succeeded"));
    ChooseArray("Big");
    EXPECT_TRUE(Spares().empty()) << "M's spare is not Big's";
    ChooseArray("M");
    EXPECT_EQ(Spares(), (std::vector<std::string>{"F100"}));

    // A second spare for M: the driver refuses; so does an injected failure for P.
    const std::string refused = "There is no available RAID1,\n fail to add F160 as spare disk!";
    Add("F160", {Box("Warning", "OK", WillErase("F160")), Box("Error", "OK", refused)});
    EXPECT_FALSE(IsSpare("F160"));
    ChooseArray("P");
    ASSERT_EQ(server_.Sim({"fail-next", "0xFF1B"}), 0);
    Add("F160", {Box("Warning", "OK", WillErase("F160")), Box("Error", "OK", refused)});
    EXPECT_FALSE(IsSpare("F160"));
    EXPECT_TRUE(Logged("Add spare disk", "F160", "failed"));

    // A dedicated spare goes back with the same request as a pool spare.
    ChooseArray("M");
    Remove("F100", {Box("Warning", "OK", WillWeaken("F100")), Box("Confirmation", "Cancel", TakenOut("F100"))});
    EXPECT_FALSE(IsSpare("F100"));
    EXPECT_EQ(ParentOf("F100"), 0u);
    EXPECT_EQ(Avail(), (std::vector<std::string>{"F160", "F100"}));

    // Back to the pool: every free disk again.
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(window_->pPoolRadio), TRUE);
    EXPECT_EQ(window_->nSpareMode, 0);
    EXPECT_FALSE(Sensitive(window_->pSpareCombo));
    EXPECT_EQ(Avail(), (std::vector<std::string>{"F160", "F100", "F60", "Far"}));
}

TEST_F(Spare, DriverWithoutThePoolOpensInDedicatedModeAndNothingGoesWithoutAnArray)
{
    StartOn([](SimScene& s) {
        TwoControllers(s);
        s.Members("S0", VTN_RAID0, 2);
        s.Members("J", VTN_JBOD, 2);
        s.Disk("Free", 80);
        s.Model().caps.sparePool = 0;
    });
    EXPECT_FALSE(Sensitive(window_->pPoolRadio));
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(window_->pDedicatedRadio)));
    EXPECT_EQ(window_->nSpareMode, 1);
    // No array takes a dedicated spare: empty lists that cannot be used.
    EXPECT_TRUE(ComboArrays().empty());
    EXPECT_FALSE(Sensitive(window_->pSpareBox));
    EXPECT_TRUE(Avail().empty());
    EXPECT_TRUE(Spares().empty());
    // Even called, the add asks nothing and sends nothing.
    const size_t calls = VtnSimCallLog().size();
    RunScript({}, [] { addsparepool(nullptr, nullptr, nullptr); });
    for (size_t i = calls; i < VtnSimCallLog().size(); ++i)
        EXPECT_NE(VtnSimCallLog()[i].code, 0xFF1Bu);
}

TEST_F(Spare, RefusedRebootIsTold)
{
    ASSERT_TRUE(raw::WriteSystemFile("/etc/vtnuser.dat", raw::UserLine(kDefaultUser, kDefaultPassword,
                                                                VTN_RIGHTS_ALL & ~VTN_RIGHT_REBOOT)));
    StartOn(SpareScene);
    Add("F160", {Box("Warning", "OK", WillErase("F160")), Box("Confirmation", "OK", PutIn("F160")),
                 Box("Error", "OK", "Failed to reboot the system!")});
    EXPECT_TRUE(IsSpare("F160"));
    EXPECT_FALSE(RebootMarked());
}

}  // namespace
