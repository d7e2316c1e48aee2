// GUI tests against the real vtnsvr on a simulated controller: a fixture that builds the
// controller's state in the test (simctl's edit API), starts the server under the test's VTN_ROOT
// and logs in through the client core as the default user; helpers that build scenes of disks
// and arrays and that read, find and select rows of the device trees.
#pragma once
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "harness.h"
#include "netfuncs.h"
#include "signfunc.h"
#include "simctl.h"
#include "simmodel.h"
#include "svrfixture.h"
#include "svrrec.h"
#include "textutil.h"
#include "vtntree.h"

// Builds a controller state: controllers, then disks in the next free place, then arrays.
class SimScene {
public:
    SimScene(vtnsim::Model& m, int64_t now) : m_(m), now_(now) {}

    void Controller(const std::string& name, uint8_t channels, uint8_t perChannel, uint8_t bus = VTN_BUS_ATA150,
                    uint8_t irq = 10)
    {
        m_.controllers.push_back(vtnsim::MakeController(name, channels, perChannel, bus, irq));
    }

    // A disk named model in the next free place; flags are its stored status bits.
    uint32_t Disk(const std::string& model, uint64_t gb = 80, uint32_t flags = 0, bool failed = false)
    {
        for (size_t c = 0; c < m_.controllers.size(); ++c)
            for (int ch = 0; ch < m_.controllers[c].channels; ++ch)
                for (int dev = 0; dev < m_.controllers[c].devicesPerChannel; ++dev) {
                    uint32_t id = 0;
                    std::string error;
                    if (!m_.PlugDisk(static_cast<int>(c), ch, dev, gb, now_, &id, &error))
                        continue;
                    vtnsim::Disk* d = m_.FindDisk(id);
                    d->model = model;
                    d->flags |= flags;
                    d->failed = failed;
                    return id;
                }
        ADD_FAILURE() << "no free place for disk " << model;
        return 0;
    }

    // An array over members (disks or arrays); op runs from now at rate 0 unless moved.
    uint32_t Array(const std::string& name, uint8_t type, const std::vector<uint32_t>& members, uint32_t flags = 0,
                   vtnsim::Op op = vtnsim::Op::None, uint8_t block = VTN_BLOCK_CODE_DEFAULT)
    {
        vtnsim::Array a;
        a.id = m_.nextId++;
        a.name = name;
        a.raidType = type;
        a.blockCode = type == VTN_JBOD || (type == VTN_RAID1 && !ArrayMembers(members)) ? 0 : block;
        a.members = members;
        a.flags = flags;
        uint64_t least = UINT64_MAX, sum = 0;
        for (uint32_t m : members) {
            uint64_t size = 0;
            if (vtnsim::Disk* d = m_.FindDisk(m)) {
                d->parent = a.id;
                size = d->capacity;
            } else if (vtnsim::Array* inner = m_.FindArray(m)) {
                inner->parent = a.id;
                size = inner->capacity;
            }
            least = std::min(least, size);
            sum += size;
        }
        const uint64_t n = members.size();
        a.capacity = type == VTN_RAID1 ? least : type == VTN_RAID5 ? least * (n - 1) : type == VTN_RAID0 ? least * n : sum;
        if (op != vtnsim::Op::None) {
            a.op = op;
            a.opStart = now_;
            if (op == vtnsim::Op::Rebuild || op == vtnsim::Op::Duplicate) {
                a.staleSlot = static_cast<int>(members.size()) - 1;
                a.pending = op;
            }
        }
        m_.arrays.push_back(a);
        return a.id;
    }

    // An array of n disks named name-0, name-1, ...; the first `failed` of them failed.
    uint32_t Members(const std::string& name, uint8_t type, int n, uint32_t flags = 0, vtnsim::Op op = vtnsim::Op::None,
                     int failed = 0)
    {
        std::vector<uint32_t> disks;
        for (int i = 0; i < n; ++i)
            disks.push_back(Disk(name + "-" + std::to_string(i), 80, 0, i < failed));
        return Array(name, type, disks, flags, op);
    }

    // A RAID 1 of the disks name-a and name-b, the first `failed` of them failed.
    uint32_t Mirror(const std::string& name, uint32_t flags = 0, vtnsim::Op op = vtnsim::Op::None, int failed = 0)
    {
        const uint32_t a = Disk(name + "-a", 80, 0, failed >= 1);
        const uint32_t b = Disk(name + "-b", 80, 0, failed >= 2);
        return Array(name, VTN_RAID1, {a, b}, flags, op);
    }

    // A mirror of two stripes (RAID 0/1): flags and operation on the mirror, failed disks of the
    // first stripe.
    uint32_t Raid01(const std::string& name, uint32_t flags = 0, vtnsim::Op op = vtnsim::Op::None, int failed = 0)
    {
        const uint32_t h0 = Members(name + "a", VTN_RAID0, 2, 0, vtnsim::Op::None, failed);
        const uint32_t h1 = Members(name + "b", VTN_RAID0, 2);
        return Array(name, VTN_RAID1, {h0, h1}, flags, op);
    }

    // A stripe of two mirrors (RAID 1/0), as the driver makes it from one request: the pairs
    // carry the parent's name and block size. The first pair's operation and failed disks.
    uint32_t Raid10(const std::string& name, uint32_t flags = 0, vtnsim::Op pairOp = vtnsim::Op::None, int failed = 0)
    {
        std::vector<uint32_t> d;
        for (int i = 0; i < 4; ++i)
            d.push_back(Disk(name + "-" + std::to_string(i), 80, 0, i < failed));
        const uint32_t p0 = Array(name, VTN_RAID1, {d[0], d[1]}, 0, pairOp);
        const uint32_t p1 = Array(name, VTN_RAID1, {d[2], d[3]});
        for (uint32_t pair : {p0, p1})
            m_.FindArray(pair)->blockCode = VTN_BLOCK_CODE_DEFAULT;
        return Array(name, VTN_RAID0, {p0, p1}, flags);
    }

    // A running operation at percent (0 to 100) of its work.
    void Progress(uint32_t array, double percent)
    {
        std::string error;
        EXPECT_TRUE(m_.SetProgress(array, percent, now_, &error)) << error;
    }

    vtnsim::Model& Model() { return m_; }

private:
    bool ArrayMembers(const std::vector<uint32_t>& members) const
    {
        return !members.empty() && m_.FindArray(members.front()) != nullptr;
    }

    vtnsim::Model& m_;
    int64_t now_;
};

// A row of a device tree as a table shows it.
struct TreeRow {
    std::string path;   // "0", "0:2", "0:2:1": positions from the root
    std::string icon;
    std::string label;
    int64_t id = -1;
    int controller = -1, channel = -1;
};

inline void CollectRows(GtkTreeModel* model, GtkTreeIter* parent, const std::string& prefix, std::vector<TreeRow>* out)
{
    GtkTreeIter iter;
    int n = 0;
    for (bool ok = gtk_tree_model_iter_children(model, &iter, parent); ok; ok = gtk_tree_model_iter_next(model, &iter)) {
        TreeRow row;
        row.path = prefix.empty() ? std::to_string(n) : prefix + ":" + std::to_string(n);
        gchar* icon = nullptr;
        gchar* label = nullptr;
        gint64 id = -1;
        gtk_tree_model_get(model, &iter, VTN_TREE_COL_ICON, &icon, VTN_TREE_COL_TEXT, &label, VTN_TREE_COL_ID, &id,
                           VTN_TREE_COL_CONTROLLER, &row.controller, VTN_TREE_COL_CHANNEL, &row.channel, -1);
        row.icon = icon ? icon : "";
        row.label = label ? label : "";
        // Driver texts are padded with blanks.
        row.label.erase(row.label.find_last_not_of(' ') + 1);
        row.id = id;
        g_free(icon);
        g_free(label);
        out->push_back(row);
        CollectRows(model, &iter, row.path, out);
        ++n;
    }
}

// Every row of a tree, depth first.
inline std::vector<TreeRow> TreeRows(GtkWidget* tree)
{
    std::vector<TreeRow> out;
    CollectRows(gtk_tree_view_get_model(GTK_TREE_VIEW(tree)), nullptr, "", &out);
    return out;
}

// Selects the first row with the label (blanks at its end aside; its parents expanded); false when
// there is none.
inline bool SelectLabel(GtkWidget* tree, const std::string& label)
{
    for (const TreeRow& row : TreeRows(tree)) {
        if (row.label != label)
            continue;
        GtkTreePath* path = gtk_tree_path_new_from_string(row.path.c_str());
        gtk_tree_view_expand_to_path(GTK_TREE_VIEW(tree), path);
        GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(tree));
        gtk_tree_selection_unselect_all(selection);
        gtk_tree_selection_select_path(selection, path);
        gtk_tree_path_free(path);
        return true;
    }
    return false;
}

// True once the page has its full-size backing surface and shows something.
inline bool PageReady(CVTNTree* page)
{
    return page && page->pBackPixmap && cairo_image_surface_get_width(page->pBackPixmap) == VTN_PAGE_WIDTH &&
           cairo_image_surface_get_height(page->pBackPixmap) == VTN_PAGE_HEIGHT && !page->PageTexts.empty();
}

// The tree object of a form's tree.
inline CVTNTree* TreeObjectOf(GtkWidget* tree)
{
    return static_cast<CVTNTree*>(g_object_get_data(G_OBJECT(tree), "POINT"));
}

inline void OnConnectionLost() {}

class ServerGuiTest : public GuiTest {
protected:
    void TearDown() override
    {
        GuiTest::TearDown();
        server_.Stop();
        SetClientWaitSeconds(VTN_CLIENT_WAIT_SECONDS);
    }

    // Whether the server was asked to reboot (under VTN_ROOT it leaves a marker file).
    bool RebootMarked() const { return FileExists(root_.Path("/var/run/vtn.reboot")); }

    // Replaces the controller's state by what scene builds (rate 0: nothing advances by itself).
    // The scene is the controller as it stands, not what happened to it: like a preset, it keeps
    // no event of the disks it put in, which a server would otherwise log and push at its next polls.
    static void BuildState(const std::function<void(SimScene&)>& scene)
    {
        std::string message;
        ASSERT_TRUE(VtnSimEdit(
            [&](vtnsim::Model& m, int64_t now, std::string*) {
                const uint32_t next = m.nextId;
                m = vtnsim::Model();
                m.nextId = next;
                m.caps.types = {{VTN_RAID0, 8}, {VTN_RAID1, 2},  {VTN_RAID5, 8},
                                {VTN_JBOD, 8},  {VTN_RAID01, 8}, {VTN_RAID10, 8}};
                m.rate = 0;
                SimScene s(m, now);
                scene(s);
                m.events.clear();
                return true;
            },
            &message))
            << message;
    }

    // Starts the server on the scene (or a preset), the main window, and logs in with rights;
    // lost is the connection's connection-broken callback.
    void Start(const std::function<void(SimScene&)>& scene, uint32_t rights = VTN_RIGHTS_ALL,
               const std::string& preset = "sata4", void (*lost)() = OnConnectionLost)
    {
        std::string message;
        ASSERT_TRUE(VtnSimInit(preset, &message)) << message;
        if (scene)
            BuildState(scene);
        ASSERT_TRUE(server_.Start(""));
        SetClientWaitSeconds(30);
        CMainWindow* win = StartMainWindow();
        // Events are taken in by the timer of a logged-in window; these tests look at the trees.
        win->bTimerOn = false;
        const int h = LoginTo(server_.Port(), kDefaultUser, kDefaultPassword, lost);
        ASSERT_GE(h, 0);
        handle = h;
        CopyText(NewSys.szAddress, "127.0.0.1");
        _CS_SERVER_INFO info{};
        ASSERT_EQ(cs_vtn_get_server_info(handle, &info), 0);
        CopyField(NewSys.szOSName, sizeof NewSys.szOSName, info.osName, sizeof info.osName);
        win->UserInfo.rights = rights;
        win->bLoggedIn = true;
        win->SupportPara.ProbeVersion();
    }

    // Builds both device forms and shows one, waiting for its page (a hidden form's page is
    // sized once it is shown).
    void ShowForms(bool deviceForm = false)
    {
        DeviceManagement();
        ArrayManagement();
        ShowForm(deviceForm);
    }
    void ShowForm(bool deviceForm)
    {
        if (deviceForm)
            DeviceManagement();
        else
            ArrayManagement();
        ASSERT_TRUE(PumpUntil([this, deviceForm] { return PageReady(deviceForm ? Controller() : Logical()); }));
    }

    CVTNTree* Logical() { return TreeObjectOf(window_->pArrayTree); }
    CVTNTree* Controller() { return TreeObjectOf(window_->pDeviceTree); }

    // Selects a row of the logical tree by label and returns its page's texts.
    std::vector<SPageText> PageOf(const std::string& label, GtkWidget* tree = nullptr)
    {
        GtkWidget* t = tree ? tree : window_->pArrayTree;
        EXPECT_TRUE(SelectLabel(t, label)) << label;
        return TreeObjectOf(t)->PageTexts;
    }

    nlohmann::json SimState()
    {
        std::string out;
        EXPECT_EQ(server_.Sim({"show", "--json"}, &out), 0);
        return nlohmann::json::parse(out, nullptr, false);
    }

    ServerProcess server_{root_};
};
