// The device trees and the information pages: building the logical and the controller tree from
// the server's device data, the icon of every device, the counters and the fresh list, and the
// pages drawn with cairo into the backing surface of each form's drawing area.
#include "vtntree.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "client.h"
#include "dam.h"
#include "drivergui.h"
#include "drivergui_list.h"
#include "signfunc.h"
#include "textutil.h"
#include "xpm_data.h"

int g_phydiskcount = 0;
int g_sparediskcount = 0;
int g_mirrordiskcount = 0;
int g_stripediskcount = 0;
int g_spandiskcount = 0;

namespace {

const char* const kPointKey = "POINT";
const char* const kIdKey = "ID";

// Levels of the logical tree below the root; a deeper member list is not followed.
constexpr size_t kMaxTreeLevels = 3;
// More controllers than this are not asked for.
constexpr int kMaxControllers = 256;
// Page layout: label column, value column, font size.
constexpr int kLabelX = 30;
constexpr int kValueX = 160;
constexpr double kFontSize = 15.0;

double MonotonicSeconds()
{
    return static_cast<double>(g_get_monotonic_time()) / 1e6;
}

CVTNTree* TreeObject(GtkWidget* widget)
{
    return widget ? static_cast<CVTNTree*>(g_object_get_data(G_OBJECT(widget), kPointKey)) : nullptr;
}

// The name of a known icon (the table's own text), or "Unknown".
const char* IconName(const std::string& name)
{
    for (int i = 0; i < VTN_ICON_COUNT; ++i)
        if (name == VtnIcons[i].name)
            return VtnIcons[i].name;
    return "Unknown";
}

GdkPixbuf* IconPixbuf(const char* name)
{
    for (int i = 0; i < VTN_ICON_COUNT; ++i)
        if (strcmp(name, VtnIcons[i].name) == 0)
            return XpmPixbuf(VtnIcons[i].data);
    return XpmPixbuf(xpm_d_Unknown);
}

bool PlainBootIcon(const char* icon)
{
    for (const char* boot : {"Array_0_Boot", "Array_1_Boot", "Array_01_Boot", "Array_10_Boot", "Disk_Boot"})
        if (strcmp(icon, boot) == 0)
            return true;
    return false;
}

// Sets one row's columns; the label is shown as valid UTF-8.
void SetRow(GtkTreeStore* store, GtkTreeIter* iter, const char* label, const char* icon, int64_t id, int controller,
            int channel)
{
    gchar* shown = g_utf8_make_valid(label ? label : "", -1);
    gtk_tree_store_set(store, iter, VTN_TREE_COL_PIXBUF, IconPixbuf(icon), VTN_TREE_COL_TEXT, shown, VTN_TREE_COL_ID,
                       static_cast<gint64>(id), VTN_TREE_COL_CONTROLLER, controller, VTN_TREE_COL_CHANNEL, channel,
                       VTN_TREE_COL_ICON, icon, -1);
    g_free(shown);
}

GtkTreeStore* TreeStore(GtkWidget* tree)
{
    return GTK_TREE_STORE(gtk_tree_view_get_model(GTK_TREE_VIEW(tree)));
}

void OnSelectionChanged(GtkTreeSelection*, gpointer data)
{
    GtkWidget* tree = GTK_WIDGET(data);
    CVTNTree* self = TreeObject(tree);
    if (self == nullptr)
        return;
    if (tree == self->pLogicalTree)
        CVTNTree::array_select_child(tree, nullptr, nullptr);
    else
        CVTNTree::controll_select_child(tree, nullptr, nullptr);
}

void ConnectSelection(GtkWidget* tree)
{
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(tree));
    if (g_signal_handler_find(selection, static_cast<GSignalMatchType>(G_SIGNAL_MATCH_FUNC | G_SIGNAL_MATCH_DATA), 0, 0, nullptr,
                              reinterpret_cast<gpointer>(OnSelectionChanged), tree) == 0)
        ConnectSelectionHandler(tree, "changed", G_CALLBACK(OnSelectionChanged), tree);
}

}  // namespace

CVTNTree::SRemainState CVTNTree::Remain = {};
double (*CVTNTree::pClock)() = MonotonicSeconds;

CVTNTree::CVTNTree()
    : pLogicalTree(nullptr), pControllerTree(nullptr), pDrawArea(nullptr), pBackPixmap(nullptr),
      pTilePixmap(nullptr), pLastConfigure(nullptr), pProgressBar(nullptr), pWriteCacheBtn(nullptr),
      pReadAheadBtn(nullptr), pTCQBtn(nullptr), pNCQBtn(nullptr)
{
}

// The widgets belong to their form; the surfaces and the event copy are the object's own.
CVTNTree::~CVTNTree()
{
    if (pBackPixmap)
        cairo_surface_destroy(pBackPixmap);
    if (pTilePixmap)
        cairo_surface_destroy(pTilePixmap);
    if (pLastConfigure)
        gdk_event_free(reinterpret_cast<GdkEvent*>(pLastConfigure));
}

GtkWidget* CVTNTree::NewTreeView()
{
    GtkTreeStore* store = gtk_tree_store_new(VTN_TREE_COLUMNS, GDK_TYPE_PIXBUF, G_TYPE_STRING, G_TYPE_INT64, G_TYPE_INT,
                                             G_TYPE_INT, G_TYPE_STRING);
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(view), FALSE);
    gtk_tree_view_set_enable_search(GTK_TREE_VIEW(view), FALSE);
    GtkTreeViewColumn* column = gtk_tree_view_column_new();
    GtkCellRenderer* picture = gtk_cell_renderer_pixbuf_new();
    gtk_tree_view_column_pack_start(column, picture, FALSE);
    gtk_tree_view_column_add_attribute(column, picture, "pixbuf", VTN_TREE_COL_PIXBUF);
    GtkCellRenderer* text = gtk_cell_renderer_text_new();
    gtk_tree_view_column_pack_start(column, text, TRUE);
    gtk_tree_view_column_add_attribute(column, text, "text", VTN_TREE_COL_TEXT);
    gtk_tree_view_append_column(GTK_TREE_VIEW(view), column);
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), GTK_SELECTION_SINGLE);
    return view;
}

// ---- building ----------------------------------------------------------------------------------

bool CVTNTree::CreateLogical(GtkWidget* tree)
{
    pLogicalTree = tree;
    g_object_set_data(G_OBJECT(tree), kPointKey, this);
    ConnectSelection(tree);
    FreshTree(0);
    return true;
}

bool CVTNTree::CreateController(GtkWidget* tree)
{
    pControllerTree = tree;
    g_object_set_data(G_OBJECT(tree), kPointKey, this);
    ConnectSelection(tree);
    FreshTree(1);
    return true;
}

void CVTNTree::FreshTree(int mode)
{
    switch (mode) {
    case 0: BuildDiskTree(); break;
    case 1: BuildController(); break;
    case 2:
        BuildController();
        BuildDiskTree();
        break;
    default: break;
    }
}

bool CVTNTree::SetDrawArea(GtkWidget* area)
{
    pDrawArea = area;
    return true;
}

bool CVTNTree::SetProcessBar(GtkWidget* bar)
{
    pProgressBar = bar;
    return true;
}

bool CVTNTree::SetDiskFeatureButtons(GtkWidget* writeCache, GtkWidget* readAhead, GtkWidget* tcq, GtkWidget* ncq)
{
    pWriteCacheBtn = writeCache;
    pReadAheadBtn = readAhead;
    pTCQBtn = tcq;
    pNCQBtn = ncq;
    return true;
}

void CVTNTree::ClearAllTree(GtkWidget* tree)
{
    if (tree)
        gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(GTK_TREE_VIEW(tree)));
}

// While a tree is rebuilt its selection handler stays quiet: rows come and go in between.
void CVTNTree::BlockSelection(GtkWidget* tree, bool block)
{
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(tree));
    if (block)
        g_signal_handlers_block_by_func(selection, reinterpret_cast<gpointer>(OnSelectionChanged), tree);
    else
        g_signal_handlers_unblock_by_func(selection, reinterpret_cast<gpointer>(OnSelectionChanged), tree);
}

void CVTNTree::CreateConnect(GtkWidget* tree, bool, GtkTreeIter* root)
{
    GtkTreeStore* store = TreeStore(tree);
    gtk_tree_store_clear(store);
    gtk_tree_store_append(store, root, nullptr);
    SetRow(store, root, NewSys.szAddress, "host", 0, -1, -1);
}

void CVTNTree::BuildDiskTree()
{
    if (pLogicalTree == nullptr)
        return;
    g_phydiskcount = g_mirrordiskcount = g_stripediskcount = g_spandiskcount = 0;
    BlockSelection(pLogicalTree, true);
    ClearAllTree(pLogicalTree);
    if (CMainWindow* win = GetMainWindow())
        win->DelFreshs();
    GtkTreeIter root;
    CreateConnect(pLogicalTree, true, &root);
    BuildDiskSubTree(VTN_ID_SYSTEM, &root);
    BlockSelection(pLogicalTree, false);
}

void CVTNTree::BuildDiskSubTree(unsigned int parent, GtkTreeIter* subtree)
{
    std::vector<unsigned int> path;
    BuildLevel(parent, subtree, path);
}

// path: the ids from the top down to parent. Ids come from the network: a member list that names
// an array on the path, or nesting deeper than the driver makes, is not followed.
void CVTNTree::BuildLevel(unsigned int parent, GtkTreeIter* subtree, std::vector<unsigned int>& path)
{
    if (pLogicalTree == nullptr)
        return;
    GtkTreeStore* store = TreeStore(pLogicalTree);
    CMainWindow* win = GetMainWindow();
    path.push_back(parent);
    for (ClDiskArrayIterator it(parent); it; ++it) {
        const unsigned int id = **it;
        if (std::find(path.begin(), path.end(), id) != path.end())
            continue;
        CDiskArray device;
        device = id;
        char name[VTN_DISK_NAME_SIZE];
        device.GetName(name, sizeof name);
        const uint32_t status = device.nStatus;   // what GetWorkStatus reports for a loaded object
        const bool isDisk = device.nType == VTN_DEVICE_DISK;
        const bool isArray = device.nType == VTN_DEVICE_ARRAY;
        const uint8_t code = isArray ? device.Info.u.array.raidType : 0;
        if (parent == VTN_ID_SYSTEM && isDisk && !(status & VTN_DISK_DISABLED))
            ++g_phydiskcount;
        if (parent == VTN_ID_SYSTEM && code == VTN_RAID0)
            ++g_stripediskcount;
        if (code == VTN_RAID1)
            ++g_mirrordiskcount;
        if (code == VTN_JBOD)
            ++g_spandiskcount;

        bool fresh = false;
        const char* icon = ChooseIcon(device, &fresh);
        if (fresh && win)
            win->AddFresh(id);
        const bool spare = isDisk && (status & VTN_DISK_SPARE);
        GtkTreeIter item;
        if (!spare && PlainBootIcon(icon))
            gtk_tree_store_prepend(store, &item, subtree);
        else
            gtk_tree_store_append(store, &item, subtree);
        SetRow(store, &item, name, icon, id, -1, -1);
        if (spare || path.size() >= kMaxTreeLevels)
            continue;
        if (ClDiskArrayIterator children(id); children)
            BuildLevel(id, &item, path);
    }
    path.pop_back();
}

const char* CVTNTree::ChooseIcon(CDiskArray& device, bool* fresh)
{
    *fresh = false;
    const uint32_t s = device.nStatus;
    if (device.nType == VTN_DEVICE_DISK) {
        const bool boot = s & VTN_DISK_BOOTABLE;
        if (s & VTN_DISK_DISABLED)
            return boot ? "Disk_BError" : "Disk_Error";
        if (s & VTN_DISK_SPARE)
            return "Disk_Spare";
        return boot ? "Disk_Boot" : "Disk";
    }
    if (device.nType != VTN_DEVICE_ARRAY)
        return "Unknown";
    std::string kind;
    switch (device.Info.u.array.raidType) {
    case VTN_RAID1: kind = device.IsRAID01() ? "01" : "1"; break;
    case VTN_RAID0: kind = device.IsRAID10() ? "10" : "0"; break;
    case VTN_RAID5: kind = "5"; break;
    case VTN_JBOD: kind = "JBOD"; break;
    default: return "Unknown";
    }
    const bool boot = s & VTN_ARRAY_BOOTABLE;
    const std::string base = "Array_" + kind;
    auto pick = [&](const char* plain, const char* bootable) { return IconName(base + (boot ? bootable : plain)); };
    if (s & VTN_ARRAY_DISABLED)
        return pick("_Error", "_BError");
    if (kind == "0" || kind == "JBOD")
        return pick("", "_Boot");
    const bool watched = kind != "10";
    if (kind == "5" && (s & VTN_ARRAY_INITIALIZING)) {
        *fresh = true;
        return "Array_5_Init";
    }
    if (s & VTN_ARRAY_BROKEN)
        return pick("_Broken", "_BBroken");
    if (s & VTN_ARRAY_VERIFYING) {
        *fresh = watched;
        return pick("_Verify", "_BVerify");
    }
    if (s & VTN_ARRAY_REBUILDING) {
        *fresh = watched;
        return pick("_Building", "_BBuilding");
    }
    if (s & VTN_ARRAY_NEED_REBUILD)
        return pick("_Lock", "_BLock");
    return pick("", "_Boot");
}

void CVTNTree::BuildController()
{
    if (pControllerTree == nullptr)
        return;
    g_sparediskcount = 0;
    BlockSelection(pControllerTree, true);
    ClearAllTree(pControllerTree);
    GtkTreeStore* store = TreeStore(pControllerTree);
    GtkTreeIter root;
    CreateConnect(pControllerTree, false, &root);
    const int count = std::min(cs_vtn_get_controller_count(handle), kMaxControllers);
    bool stop = false;
    for (int c = 0; c < count && !stop; ++c) {
        _CONTROLLER_INFO info{};
        if (cs_vtn_get_controller_info(handle, c, &info) != 0)
            break;
        char label[32];
        FormatText(label, sizeof label, "Controller%d", c + 1);
        GtkTreeIter controller;
        gtk_tree_store_append(store, &controller, &root);
        SetRow(store, &controller, label, "Adapter", -1, c + 1, -1);
        for (int ch = 0; ch < info.channels; ++ch) {
            FormatText(label, sizeof label, "Channel%d", ch + 1);
            GtkTreeIter channel;
            gtk_tree_store_append(store, &channel, &controller);
            SetRow(store, &channel, label, "Channel", -1, c, ch + 1);
            _CHANNEL_INFO chInfo{};
            if (cs_vtn_get_channel_info(handle, c, ch, &chInfo) != 0) {
                stop = true;
                break;
            }
            for (uint32_t id : chInfo.devices) {
                if (id == VTN_ID_SYSTEM || id == VTN_ID_NONE)
                    continue;
                CDisk disk;
                disk = id;
                char name[VTN_DISK_NAME_SIZE];
                disk.GetName(name, sizeof name);
                const uint32_t s = disk.nStatus;
                const char* icon = "Disk";
                if (s & VTN_DISK_DISABLED) {
                    icon = "Disk_Error";
                } else if (s & VTN_DISK_SPARE) {
                    icon = "Disk_Spare";
                    ++g_sparediskcount;
                }
                GtkTreeIter item;
                gtk_tree_store_append(store, &item, &channel);
                SetRow(store, &item, name, icon, id, -1, -1);
            }
        }
    }
    BlockSelection(pControllerTree, false);
}

bool CVTNTree::SelectedItem(GtkWidget* tree, STreeItem* item)
{
    if (tree == nullptr || !GTK_IS_TREE_VIEW(tree))
        return false;
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(tree)), &model, &iter))
        return false;
    gint64 id = -1;
    gint controller = -1, channel = -1;
    gtk_tree_model_get(model, &iter, VTN_TREE_COL_ID, &id, VTN_TREE_COL_CONTROLLER, &controller,
                       VTN_TREE_COL_CHANNEL, &channel, -1);
    item->id = id;
    item->controller = controller;
    item->channel = channel;
    return true;
}

uint32_t GetTreeSelectedID(GtkWidget* tree)
{
    STreeItem item;
    if (!CVTNTree::SelectedItem(tree, &item) || item.id < 0 || item.id > UINT32_MAX)
        return VTN_ID_NONE;
    return static_cast<uint32_t>(item.id);
}

// ---- pages -------------------------------------------------------------------------------------

void CVTNTree::array_select_child(GtkWidget* tree, GtkWidget*, GtkWidget*)
{
    if (CVTNTree* self = TreeObject(tree))
        self->DrawPage(tree, true);
}

void CVTNTree::controll_select_child(GtkWidget* tree, GtkWidget*, GtkWidget*)
{
    if (CVTNTree* self = TreeObject(tree))
        self->DrawPage(tree, false);
}

void CVTNTree::DrawPage(GtkWidget* tree, bool logical)
{
    ClearDrawArea();
    STreeItem item;
    if (!SelectedItem(tree, &item)) {
        FreshDrawArea();
        return;
    }
    if (!logical && item.channel >= 0)
        DrawChannelPage(item.controller);
    else if (!logical && item.controller >= 0)
        DrawControllerPage(item.controller - 1);
    else if (item.id == VTN_ID_SYSTEM || item.id == VTN_ID_NONE || item.id < 0)
        PrintConnectInfo(tree);
    else
        DrawDevicePage(static_cast<uint32_t>(item.id));
    FreshDrawArea();
}

namespace {

// A label in the label column and its value, at baseline y.
void Row(CVTNTree* page, int y, const char* label, const char* value, int valueX = kValueX)
{
    page->PrintMessage(kLabelX, y, label, 0, 1);
    page->PrintMessage(valueX, y, value, 0, 2);
}

std::string Capacity(uint64_t sectors)
{
    char text[64];
    FormatText(text, sizeof text, "%.3fGB", static_cast<double>(sectors) / 2097152.0);
    return text;
}

void FreshToolbar(uint32_t id)
{
    if (CMainWindow* win = GetMainWindow())
        win->FreshArrayManTool(id);
}

}  // namespace

void CVTNTree::HideFeatureButtons()
{
    for (GtkWidget* button : {pWriteCacheBtn, pReadAheadBtn, pTCQBtn, pNCQBtn})
        if (button)
            gtk_widget_hide(button);
}

// The Device Management form has no bar.
void CVTNTree::ShowProgress(bool shown, double percent)
{
    if (pProgressBar == nullptr)
        return;
    const double value = std::clamp(percent, 0.0, 100.0);
    char text[16];
    FormatText(text, sizeof text, "%d%%", static_cast<int>(value));
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(pProgressBar), value / 100.0);
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(pProgressBar), text);
    if (shown)
        gtk_widget_show(pProgressBar);
    else
        gtk_widget_hide(pProgressBar);
}

void CVTNTree::PrintConnectInfo(GtkWidget*)
{
    PrintMessage(70, 40, "System Information", 1, 0);
    Row(this, 100, "Name", NewSys.szAddress);
    Row(this, 120, "Status", handle >= 0 ? "Connected" : "Disconnected");
    Row(this, 140, "System OS", NewSys.szOSName);
    Row(this, 160, "GUI Version", "v3.06");
    ShowProgress(false, 0);
    HideFeatureButtons();
    FreshToolbar(VTN_ID_NONE);
}

void CVTNTree::DrawDevicePage(uint32_t id)
{
    CDiskArray device;
    device = id;
    if (device.nType == VTN_DEVICE_ARRAY)
        DrawArrayPage(device);
    else
        DrawDiskPage(device);
}

void CVTNTree::DrawArrayPage(CDiskArray& array)
{
    HideFeatureButtons();
    PrintMessage(70, 40, "Array Information", 1, 0);
    char status[VTN_MODEL_TEXT_SIZE];
    const uint32_t s = array.GetWorkStatus(status, sizeof status);
    char type[VTN_MODEL_TEXT_SIZE];
    const uint32_t code = array.GetArrayType(type, sizeof type);
    bool busy = false;
    double percent = 0;
    if (code == VTN_RAID1 || code == VTN_RAID5)
        busy = EstimateRemain(array.GetID(), s, array.Info.u.array.progress, &percent);
    FreshToolbar(array.GetID());

    if (!array.IsChild()) {
        char name[VTN_DISK_NAME_SIZE];
        Row(this, 100, "Name", array.GetName(name, sizeof name));
    }
    Row(this, 120, "Type", type);
    Row(this, 140, "Capacity", Capacity(array.GetCapacity()).c_str());
    Row(this, 160, "Status", status);
    if (code == VTN_RAID0 || code == VTN_RAID5 || (code == VTN_RAID1 && array.IsRAID01())) {
        char block[16];
        array.GetBlockSize(block, sizeof block);
        Row(this, 180, "Block size", block);
    }
    const bool shownBusy = (code == VTN_RAID1 && (s & (VTN_ARRAY_REBUILDING | VTN_ARRAY_VERIFYING))) ||
                           (code == VTN_RAID5 && (s & VTN_ARRAY_BUSY_MASK));
    if (shownBusy) {
        PrintMessage(kLabelX, 200, "Progress", 0, 1);
        Row(this, 230, "Remaining time", RemainText().c_str());
    }
    ShowProgress(busy, percent);
}

void CVTNTree::DrawDiskPage(CDiskArray& disk)
{
    PrintMessage(70, 40, "Device Information", 1, 0);
    char name[VTN_DISK_NAME_SIZE];
    disk.GetName(name, sizeof name);
    char status[VTN_MODEL_TEXT_SIZE];
    disk.GetWorkStatus(status, sizeof status);
    const uint32_t s = disk.nStatus;
    char type[VTN_MODEL_TEXT_SIZE];
    disk.GetType(type, sizeof type);
    const auto& d = disk.Info.u.disk;
    char location[VTN_MODEL_TEXT_SIZE];
    if (s & VTN_DISK_NO_DEVICE_NUMBER)
        FormatText(location, sizeof location, "Controller %d, Channel %d", d.controller + 1, d.channel + 1);
    else
        FormatText(location, sizeof location, "Controller %d, Channel %d, Device %d", d.controller + 1,
                   d.channel + 1, d.device + 1);
    // Four 16-bit words, each high byte first.
    char revision[sizeof d.revision + 1] = {};
    SwapCopy(revision, d.revision, sizeof d.revision);
    char mode[VTN_MODEL_TEXT_SIZE];
    disk.GetTransferMode(mode, sizeof mode);

    Row(this, 100, "Name", name);
    Row(this, 120, "Type", type);
    Row(this, 140, "Location", location);
    Row(this, 160, "Model", name);
    Row(this, 180, "Revision", revision);
    Row(this, 200, "Timing Mode", mode);
    Row(this, 220, "Capacity", Capacity(disk.GetCapacity()).c_str());
    Row(this, 240, "Status", status);

    const struct {
        const char* label;
        uint8_t supported, on;
        GtkWidget* button;
    } features[] = {
        {"Write Cache", VTN_FEATURE_WRITE_CACHE_SUPPORTED, VTN_FEATURE_WRITE_CACHE_ON, pWriteCacheBtn},
        {"Read Ahead", VTN_FEATURE_READ_AHEAD_SUPPORTED, VTN_FEATURE_READ_AHEAD_ON, pReadAheadBtn},
        {"TCQ", VTN_FEATURE_TCQ_SUPPORTED, VTN_FEATURE_TCQ_ON, pTCQBtn},
        {"NCQ", VTN_FEATURE_NCQ_SUPPORTED, VTN_FEATURE_NCQ_ON, pNCQBtn},
    };
    int y = 265;
    for (const auto& f : features) {
        if (!(d.features & f.supported)) {
            if (f.button)
                gtk_widget_hide(f.button);
            continue;
        }
        const bool on = d.features & f.on;
        Row(this, y, f.label, on ? "Enabled" : "Disabled");
        if (f.button) {
            gtk_button_set_label(GTK_BUTTON(f.button), on ? "Disable" : "Enable");
            gtk_widget_set_margin_start(f.button, 250);
            gtk_widget_set_margin_top(f.button, y - 16);
            g_object_set_data(G_OBJECT(f.button), kIdKey, GUINT_TO_POINTER(disk.GetID()));
            gtk_widget_show(f.button);
        }
        y += 25;
    }
    FreshToolbar(disk.GetID());
    ShowProgress(false, 0);
}

void CVTNTree::DrawControllerPage(int controller)
{
    HideFeatureButtons();
    ShowProgress(false, 0);
    PrintMessage(70, 40, "Controller Information", 1, 0);
    _CONTROLLER_INFO info{};
    if (cs_vtn_get_controller_info(handle, controller, &info) != 0)
        return;
    // The driver's fields may fill their room without a terminator.
    char name[sizeof info.name + 1], vendor[sizeof info.manufacturer + 1], channels[16];
    CopyField(name, sizeof name, info.name, sizeof info.name);
    CopyField(vendor, sizeof vendor, info.manufacturer, sizeof info.manufacturer);
    FormatText(channels, sizeof channels, "%d", info.channels);
    Row(this, 100, "Name", name, 230);
    Row(this, 120, "Manufacturer ", vendor, 230);
    Row(this, 140, "Number of Channel", channels, 230);
}

void CVTNTree::DrawChannelPage(int controller)
{
    HideFeatureButtons();
    ShowProgress(false, 0);
    PrintMessage(70, 40, "Channel Information", 1, 0);
    _CONTROLLER_INFO info{};
    if (cs_vtn_get_controller_info(handle, controller, &info) != 0)
        return;
    const char* bus = (info.busBits & VTN_BUS_ATA150)   ? "ATA/150"
                      : (info.busBits & VTN_BUS_ATA133) ? "ATA/133"
                      : (info.busBits & VTN_BUS_ATA100) ? "ATA/100"
                      : (info.busBits & VTN_BUS_ATA66)  ? "ATA/66"
                                                        : "ATA/33";
    char irq[16];
    FormatText(irq, sizeof irq, "%d", info.interrupt);
    Row(this, 100, "Bus Type ", bus, 180);
    Row(this, 120, "Interrupt Level", irq, 180);
}

// ---- remaining time ----------------------------------------------------------------------------

void CVTNTree::ResetRemain()
{
    Remain = {};
}

bool CVTNTree::EstimateRemain(uint32_t id, uint32_t status, uint32_t progress, double* percent)
{
    SRemainState& r = Remain;
    const uint32_t p = std::min(progress, VTN_PROGRESS_MAX);
    if (id != r.lastId) {
        r.lastId = id;
        r.lastStatus = 0;
    }
    const uint32_t busy = status & VTN_ARRAY_BUSY_MASK;
    if (busy == 0) {
        r.lastStatus = 0;
        *percent = 0;
        return false;
    }
    const double now = pClock();
    if (busy != r.lastStatus) {
        r.first_value = p;
        r.first_time = now;
        r.lastStatus = busy;
        r.remain_time = r.last_calc = r.last_time = 0;
    } else if (p > r.first_value) {
        const float elapsed = static_cast<float>(now - r.first_time);
        if (r.remain_time < 60 || elapsed - r.last_calc > 30) {
            r.remain_time = static_cast<float>(VTN_PROGRESS_MAX - p) * elapsed / static_cast<float>(p - r.first_value);
            r.last_calc = elapsed;
        } else {
            r.remain_time -= elapsed - r.last_time;
        }
        r.last_time = elapsed;
    }
    *percent = p / 100.0;
    return true;
}

std::string CVTNTree::RemainText()
{
    if (!(Remain.remain_time > 0))
        return "--:--:--";
    // Far beyond any real operation; keeps the conversion defined.
    const double capped = std::min<double>(Remain.remain_time, 3600.0 * 999999);
    const long long whole = static_cast<long long>(capped);
    char text[40];
    FormatText(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, whole % 3600 / 60, whole % 60);
    return text;
}

// ---- drawing -----------------------------------------------------------------------------------

void CVTNTree::PrintMessage(int x, int y, const char* text, int font, int colour)
{
    if (pBackPixmap == nullptr)
        return;
    gchar* shown = g_utf8_make_valid(text ? text : "", -1);
    cairo_t* cr = cairo_create(pBackPixmap);
    CMainWindow* win = GetMainWindow();
    cairo_font_face_t* face = win && (font == 0 || font == 1) ? win->pFont[font] : nullptr;
    if (face)
        cairo_set_font_face(cr, face);
    else
        cairo_select_font_face(cr, "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL,
                               font == 1 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, kFontSize);
    switch (colour) {
    case 1: cairo_set_source_rgb(cr, 0, 0x9696 / 65535.0, 0); break;
    case 2: cairo_set_source_rgb(cr, 0, 0, 0x7FFF / 65535.0); break;
    default: cairo_set_source_rgb(cr, 0, 0, 0); break;
    }
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, shown);
    cairo_destroy(cr);
    PageTexts.push_back({x, y, shown, font, colour});
    g_free(shown);
}

void CVTNTree::ClearDrawArea()
{
    PageTexts.clear();
    if (pBackPixmap == nullptr)
        return;
    cairo_t* cr = cairo_create(pBackPixmap);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, 0, 0, VTN_PAGE_WIDTH, VTN_PAGE_HEIGHT);
    cairo_fill(cr);
    cairo_destroy(cr);
}

void CVTNTree::FreshDrawArea()
{
    if (pDrawArea)
        gtk_widget_queue_draw_area(pDrawArea, 0, 0, VTN_PAGE_WIDTH, VTN_PAGE_HEIGHT);
}

void CVTNTree::DrawAreaIcon(GdkWindow*)
{
}

gboolean CVTNTree::PicConfigureEvent(GtkWidget* widget, GdkEventConfigure* event)
{
    CVTNTree* self = TreeObject(widget);
    if (self == nullptr || event == nullptr)
        return TRUE;
    if (self->pLastConfigure)
        gdk_event_free(reinterpret_cast<GdkEvent*>(self->pLastConfigure));
    self->pLastConfigure =
        reinterpret_cast<GdkEventConfigure*>(gdk_event_copy(reinterpret_cast<const GdkEvent*>(event)));
    if (self->pTilePixmap)
        cairo_surface_destroy(self->pTilePixmap);
    self->pTilePixmap = nullptr;
    if (self->pBackPixmap)
        cairo_surface_destroy(self->pBackPixmap);
    self->pBackPixmap = cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(event->width, 1),
                                                   std::max(event->height, 1));
    if (self->pLogicalTree)
        array_select_child(self->pLogicalTree, nullptr, nullptr);
    if (self->pControllerTree)
        controll_select_child(self->pControllerTree, nullptr, nullptr);
    return TRUE;
}

gboolean CVTNTree::PicExposeEvent(GtkWidget* widget, cairo_t* cr)
{
    CVTNTree* self = TreeObject(widget);
    if (self && self->pBackPixmap) {
        cairo_set_source_surface(cr, self->pBackPixmap, 0, 0);
        cairo_paint(cr);
    }
    return FALSE;
}

void CVTNTree::StretchXPM()
{
    if (pTilePixmap == nullptr || pBackPixmap == nullptr)
        return;
    const int height = cairo_image_surface_get_height(pBackPixmap);
    for (int y = 0; y < height; y += 240)
        DrawWidth(y, std::min(240, height - y));
}

void CVTNTree::DrawWidth(int y, int height)
{
    const int width = cairo_image_surface_get_width(pBackPixmap);
    for (int x = 0; x < width; x += 240)
        DrawXPM(x, y, std::min(240, width - x), height);
}

void CVTNTree::DrawXPM(int x, int y, int width, int height)
{
    if (pTilePixmap == nullptr || pBackPixmap == nullptr)
        return;
    cairo_t* cr = cairo_create(pBackPixmap);
    cairo_set_source_surface(cr, pTilePixmap, x, y);
    cairo_rectangle(cr, x, y, width, height);
    cairo_fill(cr);
    cairo_destroy(cr);
}
