// The repair dialogs of the array-health probe and of "Add Disk": a disk for a broken array (or a
// broken array for a disk), the deletion of disabled arrays and the rebuild of arrays that need
// one. Each open dialog keeps its answer, widgets and selection in a record of its own, so a
// dialog or box that the timer opens on top of one never touches the one beneath.
#include "drivergui_repair.h"

#include <algorithm>

#include "client.h"
#include "dam.h"
#include "drivergui.h"
#include "drivergui_list.h"
#include "textutil.h"
#include "xpm_data.h"

namespace {

const char* const kTitle = "RAID Checking";
const char* const kIdKey = "ID";
const char* const kDialogKey = "vtn-check-dialog";
constexpr int kWidth = 430, kHeight = 250;
constexpr int kPromptBorder = 10;

// ---- device item lists -----------------------------------------------------------------------

void CollectRow(GtkWidget* row, gpointer out)
{
    static_cast<std::vector<GtkWidget*>*>(out)->push_back(row);
}

std::vector<GtkWidget*> Rows(GtkWidget* list)
{
    std::vector<GtkWidget*> rows;
    if (list)
        gtk_container_foreach(GTK_CONTAINER(list), CollectRow, &rows);
    return rows;
}

}  // namespace

GtkWidget* NewItemList(GtkSelectionMode mode)
{
    GtkWidget* list = gtk_list_box_new();
    gtk_list_box_set_selection_mode(GTK_LIST_BOX(list), mode);
    gtk_list_box_set_activate_on_single_click(GTK_LIST_BOX(list), FALSE);
    return list;
}

GtkWidget* AppendItem(GtkWidget* list, const char* caption, const char** xpm, uint32_t id)
{
    GtkWidget* row = InsertXPMItem(caption, xpm, 2);
    g_object_set_data(G_OBJECT(row), kIdKey, GUINT_TO_POINTER(id));
    gtk_container_add(GTK_CONTAINER(list), row);
    gtk_widget_show(row);
    return row;
}

uint32_t ItemId(GtkWidget* row)
{
    return row ? GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(row), kIdKey)) : VTN_ID_NONE;
}

int ItemCount(GtkWidget* list)
{
    return static_cast<int>(Rows(list).size());
}

GtkWidget* ItemAt(GtkWidget* list, int index)
{
    return list && index >= 0 ? GTK_WIDGET(gtk_list_box_get_row_at_index(GTK_LIST_BOX(list), index)) : nullptr;
}

GtkWidget* ItemOf(GtkWidget* list, uint32_t id)
{
    for (GtkWidget* row : Rows(list))
        if (ItemId(row) == id)
            return row;
    return nullptr;
}

GtkWidget* FirstSelectedItem(GtkWidget* list)
{
    for (GtkWidget* row : Rows(list))
        if (gtk_list_box_row_is_selected(GTK_LIST_BOX_ROW(row)))
            return row;
    return nullptr;
}

void SelectItem(GtkWidget* list, int index)
{
    if (GtkWidget* row = ItemAt(list, index))
        gtk_list_box_select_row(GTK_LIST_BOX(list), GTK_LIST_BOX_ROW(row));
}

void ClearItems(GtkWidget* list)
{
    for (GtkWidget* row : Rows(list))
        gtk_widget_destroy(row);
}

std::string NameOf(const CDisk& device)
{
    char name[VTN_DISK_NAME_SIZE];
    std::string text = device.GetName(name, sizeof name);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// ---- size rules --------------------------------------------------------------------------------

ERepairRule RepairSizeRule(uint32_t raidType, bool raid01, uint64_t arraySectors, int members, uint64_t diskSectors)
{
    if (raidType == VTN_RAID1 && !raid01)
        return diskSectors < arraySectors ? ERepairRule::Raid1 : ERepairRule::Fits;
    if (raidType == VTN_RAID5) {
        if (members < 1)
            return ERepairRule::Fits;
        return diskSectors < arraySectors / static_cast<uint64_t>(members) ? ERepairRule::Raid5 : ERepairRule::Fits;
    }
    if (raid01)
        return diskSectors < arraySectors / 2 ? ERepairRule::Raid01 : ERepairRule::Fits;
    return ERepairRule::Fits;
}

bool NoSpareNeed(const SSpareNeeds& n)
{
    return n.r1 == 0 && n.r01 == 0 && n.r10 == 0 && n.r5 == 0;
}

bool SpareTooSmall(const SSpareNeeds& n, uint64_t disk)
{
    // A need and its divisor; a divisor below 1 measures nothing.
    auto below = [disk](uint64_t need, int64_t divisor) {
        return need > 0 && divisor >= 1 && disk < need / static_cast<uint64_t>(divisor);
    };
    return below(n.r1, 1) || below(n.r01, n.c01) || below(n.r10, n.c10) || below(n.r5, static_cast<int64_t>(n.c5) - 1);
}

std::string SpareLevelList(const CSupportPara& support)
{
    const struct {
        int row;
        const char* name;
    } levels[] = {{VTN_ROW_RAID1, "RAID 1"}, {VTN_ROW_RAID01, "RAID 0/1"}, {VTN_ROW_RAID10, "RAID 1/0"},
                  {VTN_ROW_RAID5, "RAID 5"}};
    std::string text;
    for (const auto& l : levels) {
        if (!support.SupportRAID(l.row))
            continue;
        if (!text.empty())
            text += " or ";
        text += l.name;
    }
    return text;
}

SWindowStands::SWindowStands(CMainWindow* w) : win(w), connection(handle), count(w->nConnectCount)
{
}

bool SWindowStands::operator()() const
{
    return GetMainWindow() == win && handle >= 0 && handle == connection && win->nConnectCount == count;
}

void ForEachRepairArray(const std::function<void(CDiskArray& array, int position, CDiskArray* raid10)>& visit)
{
    for (ClDiskArrayIterator it(VTN_ID_SYSTEM); it; ++it) {
        CDiskArray a;
        a = **it;
        if (a.GetType() != VTN_DEVICE_ARRAY)
            continue;
        if (!a.IsRAID10()) {
            visit(a, 0, nullptr);
            continue;
        }
        int position = 1;
        for (ClDiskArrayIterator m(a.GetID()); m; ++m, ++position) {
            CDiskArray member;
            member = **m;
            if (member.GetType() == VTN_DEVICE_ARRAY && member.GetArrayType() == VTN_RAID1)
                visit(member, position, &a);
        }
    }
}

bool NeedsRebuild(uint32_t s)
{
    return (s & VTN_ARRAY_NEED_REBUILD) && !(s & (VTN_ARRAY_REBUILDING | VTN_ARRAY_DISABLED | VTN_ARRAY_BROKEN));
}

// ---- the dialogs ---------------------------------------------------------------------------------

void hyes_select(GtkWidget* w)
{
    yes_mselect(w);
}

void hno_select(GtkWidget* w)
{
    no_mselect(w);
}

namespace {

// One open repair dialog.
struct SCheckDialog {
    _DIALOG_DATA answer{};
    GtkWidget* window = nullptr;   // null once it is destroyed
    GtkWidget* outer = nullptr;    // the row of the frame and the buttons
    GtkWidget* prompt = nullptr;   // the column of labels and the list
    int textWidth = -1;            // what the labels wrap to, once the dialog is shown
    GtkWidget* list = nullptr;
    GtkWidget* infoBox = nullptr;
    GtkWidget* infoLabel = nullptr;
    std::vector<uint32_t> order;   // ids of the selected rows, oldest selection first
    bool closing = false;          // set once the window starts to go: its rows leave unseen
};

void OnOk(GtkButton* button, gpointer)
{
    hyes_select(GTK_WIDGET(button));
}

void OnCancel(GtkButton* button, gpointer)
{
    hno_select(GTK_WIDGET(button));
}

// Keeps the order in which rows were selected: rows no longer selected leave it, newly selected
// ones join at its end.
void OnSelectedRowsChanged(GtkListBox* list, gpointer data)
{
    auto* d = static_cast<SCheckDialog*>(data);
    if (d->closing)
        return;
    std::vector<uint32_t> now;
    for (GtkWidget* row : Rows(GTK_WIDGET(list)))
        if (gtk_list_box_row_is_selected(GTK_LIST_BOX_ROW(row)))
            now.push_back(ItemId(row));
    std::erase_if(d->order, [&now](uint32_t id) { return std::find(now.begin(), now.end(), id) == now.end(); });
    for (uint32_t id : now)
        if (std::find(d->order.begin(), d->order.end(), id) == d->order.end())
            d->order.push_back(id);
}

void OnCheckSelection(GtkListBox* list, gpointer data)
{
    if (!static_cast<SCheckDialog*>(data)->closing)
        CMainWindow::sigh_selectandprint(GTK_WIDGET(list), data);
}

// Runs before the window's children go, whoever destroys it.
void OnDialogDestroy(GtkWidget*, gpointer data)
{
    static_cast<SCheckDialog*>(data)->closing = true;
}

// The window, its frame and buttons, and an empty list (not yet placed).
void OpenDialog(SCheckDialog* d, GtkSelectionMode mode)
{
    d->window = NewDialogWindow(kTitle, kWidth, kHeight, 0, false);
    gtk_window_set_default_size(GTK_WINDOW(d->window), kWidth, kHeight);
    g_object_add_weak_pointer(G_OBJECT(d->window), reinterpret_cast<gpointer*>(&d->window));
    g_signal_connect(d->window, "destroy", G_CALLBACK(OnDialogDestroy), d);
    GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    d->outer = outer;
    gtk_container_set_border_width(GTK_CONTAINER(outer), 10);
    gtk_container_add(GTK_CONTAINER(d->window), outer);
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_container_set_border_width(GTK_CONTAINER(frame), 1);
    gtk_box_pack_start(GTK_BOX(outer), frame, TRUE, TRUE, 0);
    d->prompt = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_set_border_width(GTK_CONTAINER(d->prompt), kPromptBorder);
    gtk_container_add(GTK_CONTAINER(frame), d->prompt);

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_end(GTK_BOX(outer), buttons, FALSE, FALSE, 0);
    GtkWidget* ok = gtk_button_new_with_label("      Ok      ");
    g_signal_connect(ok, "clicked", G_CALLBACK(OnOk), nullptr);
    gtk_box_pack_start(GTK_BOX(buttons), ok, TRUE, FALSE, 0);
    GtkWidget* cancel = gtk_button_new_with_label("    Cancel    ");
    g_signal_connect(cancel, "clicked", G_CALLBACK(OnCancel), nullptr);
    gtk_box_pack_start(GTK_BOX(buttons), cancel, TRUE, FALSE, 0);

    d->list = NewItemList(mode);
    g_object_set_data(G_OBJECT(d->list), kDialogKey, d);
    ConnectSelectionHandler(d->list, "selected-rows-changed", G_CALLBACK(OnSelectedRowsChanged), d);
}

// A left-aligned label that wraps at width (once known), so that a long text takes lines rather
// than widen the dialog.
GtkWidget* WrappedLabel(const char* text, int width)
{
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_widget_set_size_request(label, width, -1);
    return label;
}

GtkWidget* AddPrompt(SCheckDialog* d, const char* text, int padding)
{
    GtkWidget* label = WrappedLabel(text, d->textWidth);
    gtk_box_pack_start(GTK_BOX(d->prompt), label, FALSE, FALSE, padding);
    return label;
}

// The list in a scrolled window of the prompt column, in the room the prompts leave: its scroll
// bars show whenever the candidates do not fit, and the keyboard scrolls to the focused row.
void PlaceList(SCheckDialog* d, int padding)
{
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    ShowScrollBars(scrolled);
    gtk_container_add(GTK_CONTAINER(scrolled), d->list);
    gtk_container_set_focus_vadjustment(GTK_CONTAINER(d->list),
                                        gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled)));
    gtk_box_pack_start(GTK_BOX(d->prompt), scrolled, TRUE, TRUE, padding);
}

void CloseDialog(SCheckDialog* d)
{
    if (d->window == nullptr)
        return;
    GtkWidget* w = d->window;
    g_object_remove_weak_pointer(G_OBJECT(w), reinterpret_cast<gpointer*>(&d->window));
    d->window = nullptr;
    d->closing = true;
    gtk_widget_destroy(w);
}

void CollectLabel(GtkWidget* w, gpointer out)
{
    if (GTK_IS_LABEL(w))
        static_cast<std::vector<GtkWidget*>*>(out)->push_back(w);
}

// The labels wrap at the width that the buttons and borders leave in a window of the dialog's
// width, so it keeps that width whatever the font.
void FitPrompts(SCheckDialog* d)
{
    gtk_widget_show_all(d->outer);
    int outer = 0, prompt = 0;
    gtk_widget_get_preferred_width(d->outer, &outer, nullptr);
    gtk_widget_get_preferred_width(d->prompt, &prompt, nullptr);
    d->textWidth = std::max(1, kWidth - (outer - prompt) - 2 * kPromptBorder);
    std::vector<GtkWidget*> labels;
    gtk_container_foreach(GTK_CONTAINER(d->prompt), CollectLabel, &labels);
    if (d->infoLabel)
        labels.push_back(d->infoLabel);
    for (GtkWidget* label : labels)
        gtk_widget_set_size_request(label, d->textWidth, -1);
}

// Shows the dialog with item 0 selected.
void ShowDialog(SCheckDialog* d)
{
    FitPrompts(d);
    gtk_widget_show_all(d->window);
    SelectItem(d->list, 0);
}

// Waits (modal): true for OK with a selection (after the "must select" box for OK without one);
// false for Cancel, the close box, or a window, connection or main window that went meanwhile.
bool WaitChoice(SCheckDialog* d, const char* mustSelect, const SWindowStands& stands)
{
    for (;;) {
        // A box shown meanwhile may have outlived the window or the connection.
        if (d->window == nullptr || !stands())
            return false;
        if (DialogWait(d->window, &d->answer) != 1 || d->window == nullptr || !stands())
            return false;
        if (FirstSelectedItem(d->list))
            return true;
        MessageBox(mustSelect, "Warning", false);
    }
}

// While an add-disk dialog is open the main window's check fields name its widgets; afterwards
// those of the dialog beneath it, if any.
class CCheckFields {
public:
    CCheckFields(CMainWindow* win, SCheckDialog* d) : win_(win), saved_(win->pCheckList)
    {
        if (saved_)
            g_object_add_weak_pointer(G_OBJECT(saved_), reinterpret_cast<gpointer*>(&saved_));
        win->pCheckList = d->list;
        win->pCheckInfoBox = d->infoBox;
        win->pCheckInfoLabel = d->infoLabel;
    }
    ~CCheckFields()
    {
        if (saved_)
            g_object_remove_weak_pointer(G_OBJECT(saved_), reinterpret_cast<gpointer*>(&saved_));
        if (GetMainWindow() != win_)
            return;
        auto* beneath = saved_ ? static_cast<SCheckDialog*>(g_object_get_data(G_OBJECT(saved_), kDialogKey)) : nullptr;
        win_->pCheckList = beneath ? beneath->list : nullptr;
        win_->pCheckInfoBox = beneath ? beneath->infoBox : nullptr;
        win_->pCheckInfoLabel = beneath ? beneath->infoLabel : nullptr;
    }
    CCheckFields(const CCheckFields&) = delete;
    CCheckFields& operator=(const CCheckFields&) = delete;

private:
    CMainWindow* win_;
    GtkWidget* saved_;
};

// The broken-array icon of a candidate array.
const char** BrokenIcon(uint32_t status)
{
    return (status & VTN_ARRAY_BOOTABLE) ? xpm_d_Array_1_BBroken : xpm_d_Array_1_Broken;
}

const char** DisabledIcon(const CDiskArray& a, uint32_t status)
{
    const bool boot = (status & VTN_ARRAY_BOOTABLE) != 0;
    switch (a.GetArrayType()) {
    case VTN_RAID1:
        if (a.IsRAID01())
            return boot ? xpm_d_Array_01_BError : xpm_d_Array_01_Error;
        return boot ? xpm_d_Array_1_BError : xpm_d_Array_1_Error;
    case VTN_RAID0:
        if (a.IsRAID10())
            return boot ? xpm_d_Array_10_BError : xpm_d_Array_10_Error;
        return boot ? xpm_d_Array_0_BError : xpm_d_Array_0_Error;
    case VTN_RAID5: return boot ? xpm_d_Array_5_BError : xpm_d_Array_5_Error;
    case VTN_JBOD: return boot ? xpm_d_Array_JBOD_BError : xpm_d_Array_JBOD_Error;
    default: return boot ? xpm_d_Array_0_BError : xpm_d_Array_0_Error;
    }
}



}  // namespace

void CMainWindow::sigh_selectandprint(GtkWidget* list, void* data)
{
    auto* d = static_cast<SCheckDialog*>(data);
    GtkWidget* row = FirstSelectedItem(list);
    if (d == nullptr || row == nullptr || d->infoBox == nullptr)
        return;
    CDisk device;
    device = ItemId(row);
    _LOGICAL_DEVICE_INFO_V2 info{};
    const uint64_t sectors = device.GetInfo(&info) == 0 ? info.capacity : device.GetCapacity();
    const double gb = static_cast<double>(sectors >> 11) / 1024.0;
    char text[2 * VTN_MODEL_TEXT_SIZE];
    if (device.GetType() == VTN_DEVICE_ARRAY) {
        FormatText(text, sizeof text, "Capacity %.2f GB", gb);
    } else {
        char where[VTN_MODEL_TEXT_SIZE];
        device.GetLocation(where, sizeof where);
        FormatText(text, sizeof text, "%s \nCapacity: %.2f GB", where, gb);
    }
    if (d->infoLabel)
        gtk_widget_destroy(d->infoLabel);
    gchar* shown = g_utf8_make_valid(text, -1);
    d->infoLabel = WrappedLabel(shown, d->textWidth);
    g_free(shown);
    gtk_widget_show(d->infoLabel);
    gtk_box_pack_start(GTK_BOX(d->infoBox), d->infoLabel, FALSE, FALSE, 0);
    gtk_widget_show(d->infoBox);
    CMainWindow* win = GetMainWindow();
    if (win && win->pCheckList == list)
        win->pCheckInfoLabel = d->infoLabel;
}

bool CMainWindow::addtoarray(uint32_t id, bool diskGiven)
{
    const SWindowStands stands(this);
    SCheckDialog d;
    OpenDialog(&d, GTK_SELECTION_SINGLE);
    GtkWidget* prompt =
        AddPrompt(&d, diskGiven ? "Do you want to add the disk to an array?" : "Please select a physical disk:", 0);
    PlaceList(&d, 0);
    d.infoBox = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_start(GTK_BOX(d.prompt), d.infoBox, FALSE, FALSE, 10);
    d.infoLabel = gtk_label_new("");
    gtk_box_pack_start(GTK_BOX(d.infoBox), d.infoLabel, FALSE, FALSE, 0);
    ConnectSelectionHandler(d.list, "selected-rows-changed", G_CALLBACK(OnCheckSelection), &d);
    CCheckFields fields(this, &d);

    const bool cross = SupportPara.IsSptCrossController();
    bool targetBroken = false;   // the array given is (still) broken
    char text[2 * VTN_MODEL_TEXT_SIZE];
    auto brokenTarget = [&](const CDiskArray& a, uint32_t s) {
        if (diskGiven || !(s & VTN_ARRAY_BROKEN) || a.GetID() != id)
            return;
        targetBroken = true;
        FormatText(text, sizeof text, "Array '%s' is broken,\nDo you want to add one of the following disks to it?",
                   NameOf(a).c_str());
        gtk_label_set_text(GTK_LABEL(prompt), text);
    };
    for (ClDiskArrayIterator it(VTN_ID_SYSTEM); it; ++it) {
        CDiskArray dev;
        dev = **it;
        const uint32_t s = dev.GetWorkStatus();
        if (!diskGiven && dev.GetType() == VTN_DEVICE_DISK && !(s & (VTN_DISK_BOOTABLE | VTN_DISK_DISABLED))) {
            if (cross || IsInSameContrl(dev.GetID(), id))
                AppendItem(d.list, NameOf(dev).c_str(), xpm_d_Disk, dev.GetID());
            continue;
        }
        if (dev.GetType() != VTN_DEVICE_ARRAY)
            continue;
        brokenTarget(dev, s);
        if (diskGiven && !dev.IsRAID10() && (s & VTN_ARRAY_BROKEN) && !(s & VTN_ARRAY_DISABLED) &&
            (cross || IsInSameContrl(id, dev.GetID())))
            AppendItem(d.list, NameOf(dev).c_str(), BrokenIcon(s), dev.GetID());
        if (!dev.IsRAID10() || (diskGiven && (s & VTN_ARRAY_DISABLED)))
            continue;
        for (ClDiskArrayIterator m(dev.GetID()); m; ++m) {
            CDiskArray member;
            member = **m;
            const uint32_t ms = member.GetWorkStatus();
            brokenTarget(member, ms);
            if (diskGiven && (ms & VTN_ARRAY_BROKEN) && !(ms & VTN_ARRAY_DISABLED))
                AppendItem(d.list, NameOf(member).c_str(), BrokenIcon(ms), member.GetID());
        }
    }
    // Nothing to offer, or an array that is no longer broken (a list made before another dialog
    // repaired it): no dialog.
    if (ItemCount(d.list) == 0 || (!diskGiven && !targetBroken)) {
        CloseDialog(&d);
        return false;
    }

    const char* mustSelect = diskGiven ? "You must select an Array to add." : "You must select a disk to be added.";
    ShowDialog(&d);
    for (;;) {
        if (!WaitChoice(&d, mustSelect, stands)) {
            CloseDialog(&d);
            return false;
        }
        const uint32_t picked = ItemId(FirstSelectedItem(d.list));
        const uint32_t arrayId = diskGiven ? picked : id;
        const uint32_t diskId = diskGiven ? id : picked;
        CDiskArray array;
        array = arrayId;
        CDisk disk;
        disk = diskId;
        const int members = array.GetChildNum();
        switch (RepairSizeRule(array.GetArrayType(), array.IsRAID01(), array.GetCapacity(), members,
                               disk.GetCapacity())) {
        case ERepairRule::Raid1:
            MessageBox("The capacity of selected disk must be larger than \n or equal to the RAID1 Array.", "Warning",
                       false);
            continue;
        case ERepairRule::Raid5:
            FormatText(text, sizeof text,
                       "The capacity of selected disk must be larger than \n or equal to 1/%d of RAID5 Array.",
                       members);
            MessageBox(text, "Warning", false);
            continue;
        case ERepairRule::Raid01:
            MessageBox("The capacity of selected disk must be larger than \n or equal to the half capacity of RAID0/1 "
                       "Array.",
                       "Warning", false);
            continue;
        case ERepairRule::Fits:
            break;
        }
        if (cs_vtn_add_disk_to_array(handle, arrayId, diskId) != 0) {
            if (stands())
                MessageBox("Failed to add the disk to the array!", "Error", false);
            CloseDialog(&d);
            return false;
        }
        CDiskArray after;
        after = arrayId;
        if (!(after.GetWorkStatus() & VTN_ARRAY_BROKEN)) {
            const char* kind = after.IsRAID01() ? "RAID 0/1" : after.GetArrayType() == VTN_RAID5 ? "RAID 5" : "Mirror";
            FormatText(text, sizeof text, "Changing %s Disk succeeded!", kind);
            MessageBox(text, "Confirmation", false);
        }
        CloseDialog(&d);
        return true;
    }
}

void CMainWindow::deletedisablearray()
{
    const SWindowStands stands(this);
    SCheckDialog d;
    OpenDialog(&d, GTK_SELECTION_MULTIPLE);
    AddPrompt(&d, "The following array(s) can not be used,do you want to", 0);
    AddPrompt(&d, "delete them?(Press CTRL to select multiple items)", 5);
    PlaceList(&d, 10);
    for (ClDiskArrayIterator it(VTN_ID_SYSTEM); it; ++it) {
        CDiskArray a;
        a = **it;
        const uint32_t s = a.GetWorkStatus();
        if (a.GetType() == VTN_DEVICE_ARRAY && (s & VTN_ARRAY_DISABLED))
            AppendItem(d.list, NameOf(a).c_str(), DisabledIcon(a, s), a.GetID());
    }
    if (ItemCount(d.list) == 0) {
        CloseDialog(&d);
        return;
    }
    ShowDialog(&d);
    if (!WaitChoice(&d, "You must select a disabled array to delete!", stands)) {
        CloseDialog(&d);
        return;
    }
    const std::vector<uint32_t> chosen = d.order;
    for (uint32_t id : chosen) {
        CDiskArray a;
        a = id;
        const std::string name = NameOf(a);
        char text[2 * VTN_MODEL_TEXT_SIZE];
        if (a.Delete(true)) {
            FormatText(text, sizeof text, "Disabled array '%s' is deleted  ", name.c_str());
            MessageBox(text, "Confirmation", false);
            if (stands())
                FreshTree();
        } else {
            FormatText(text, sizeof text, "Failed to delete disabled array '%s'  ", name.c_str());
            MessageBox(text, "Confirmation", true);
        }
        if (!stands())
            break;
    }
    CloseDialog(&d);
}

void CMainWindow::duplicatingarray()
{
    const SWindowStands stands(this);
    SCheckDialog d;
    OpenDialog(&d, GTK_SELECTION_MULTIPLE);
    AddPrompt(&d, "The following array(s) need to be rebuilt. Please ", 0);
    AddPrompt(&d, "Select array(s) you want to rebuild by highlight it.", 0);
    AddPrompt(&d, "(Press CTRL to select multiple items)", 0);
    PlaceList(&d, 10);
    // Only what the detector counts: an array already rebuilding, broken or disabled is not
    // offered, nor one that is not available yet.
    ForEachRepairArray([&d](CDiskArray& a, int position, CDiskArray* raid10) {
        const uint32_t s = a.GetWorkStatus();
        if (!NeedsRebuild(s) || (s & VTN_ARRAY_NOT_AVAILABLE))
            return;
        char caption[VTN_DISK_NAME_SIZE];
        if (raid10)
            FormatText(caption, sizeof caption, "Member %d of '%s'", position, NameOf(*raid10).c_str());
        else
            CopyText(caption, NameOf(a).c_str());
        const char** icon = a.HaveSpare()                 ? xpm_d_Array_1_Broken_Spare
                            : (s & VTN_ARRAY_BOOTABLE) ? xpm_d_Array_1_BLock
                                                       : xpm_d_Array_1_Lock;
        AppendItem(d.list, caption, icon, a.GetID());
    });
    if (ItemCount(d.list) > 0)
        ShowDialog(&d);
    if (ItemCount(d.list) > 0 && WaitChoice(&d, "You must select an Array to be duplicated.", stands)) {
        // The outcome comes back as driver events and shows in the rebuilt tree.
        for (uint32_t id : d.order)
            cs_vtn_set_array_state(handle, id, VTN_STATE_START_REBUILD);
        FreshTree();
    }
    CloseDialog(&d);
}
