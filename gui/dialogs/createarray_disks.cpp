// Step 3 of the RAID creation wizard: the available and selected disks with the rules that
// protect a RAID 1 source and the driver's limits, the disk information row, and Finish, which
// checks the selection, creates the array through the device model and reports it.
#include <cstring>
#include <string>

#include "createarray.h"
#include "drivergui.h"
#include "drivergui_list.h"
#include "drivergui_repair.h"
#include "textutil.h"
#include "xpm_data.h"

namespace {

const char* const kNameKey = "vtn-disk-name";

// The name the item shows; the parameter rows carry the same text.
std::string ItemName(GtkWidget* row)
{
    const char* name = static_cast<const char*>(g_object_get_data(G_OBJECT(row), kNameKey));
    return name ? name : "";
}

void UnselectAll(GtkWidget* list)
{
    if (list)
        gtk_list_box_unselect_all(GTK_LIST_BOX(list));
}

// Moves a row to the end of another list; the widget stays the same.
void MoveRow(GtkWidget* from, GtkWidget* to, GtkWidget* row)
{
    gtk_list_box_unselect_row(GTK_LIST_BOX(from), GTK_LIST_BOX_ROW(row));
    g_object_ref(row);
    gtk_container_remove(GTK_CONTAINER(from), row);
    gtk_list_box_insert(GTK_LIST_BOX(to), row, -1);
    g_object_unref(row);
}

void OnDiskSelected(GtkListBox* list, GtkListBoxRow*, gpointer)
{
    diskselect(GTK_WIDGET(list));
}

void OnAdd(GtkButton* button, gpointer)
{
    CCreateArray::add(GTK_WIDGET(button), nullptr);
}

void OnRemove(GtkButton* button, gpointer)
{
    CCreateArray::remove(GTK_WIDGET(button), nullptr);
}

// A framed, scrolled disk list. The two lists share the room the wizard's width leaves beside the
// parameter list; a name or a row that does not fit shows a scroll bar.
GtkWidget* DiskList(GtkWidget* row, const char* title, GtkWidget** list)
{
    GtkWidget* frame = gtk_frame_new(title);
    gtk_box_pack_start(GTK_BOX(row), frame, TRUE, TRUE, 0);
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    ShowScrollBars(scrolled);
    gtk_widget_set_size_request(scrolled, -1, 210);
    gtk_container_add(GTK_CONTAINER(frame), scrolled);
    *list = gtk_list_box_new();
    gtk_list_box_set_selection_mode(GTK_LIST_BOX(*list), GTK_SELECTION_SINGLE);
    gtk_container_add(GTK_CONTAINER(scrolled), *list);
    gtk_container_set_focus_vadjustment(GTK_CONTAINER(*list),
                                        gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled)));
    return frame;
}

// The information row describes the highlighted disk: the selected row of first, else that of
// the other list; it is blank when neither has one.
void ShowHighlighted(CCreateArray* w, GtkWidget* first)
{
    GtkWidget* other = first == w->pAvailDisks ? w->pSelectedDisks : w->pAvailDisks;
    GtkWidget* row = FirstSelectedItem(first);
    if (row == nullptr)
        row = FirstSelectedItem(other);
    if (row) {
        w->ShowDiskInfor(ItemId(row));
    } else if (w->pDiskInfo) {
        for (int c = 0; c < ColumnListColumns(w->pDiskInfo); ++c)
            ColumnListSetText(w->pDiskInfo, 0, c, " ");
    }
}

// The refusal of Finish for n selected disks of a kind, or null. Beside the minimum counts, the
// counts and controllers the device model would refuse without a word.
const char* FinishRefusal(uint32_t code, int n)
{
    switch (code) {
    case VTN_RAID0:
        return n < 2 ? "You must select at least two disks\n to create a RAID 0 (Striping) Array." : nullptr;
    case VTN_RAID1:
        return n < 2 ? "You must select a Source disk and a Target disk." : nullptr;
    case VTN_RAID5:
        return n < 3 ? "You must select at least three disks\n to create a RAID 5 Array." : nullptr;
    case VTN_JBOD:
        return n < 2 ? "You must select at least two disks\n to create a JBOD (Volume) Array." : nullptr;
    case VTN_RAID10: {
        if (n < 4)
            return "You must select at least four disks to create \na RAID 1/0 (Striped Mirroring) Array.";
        if (n % 2 != 0)
            return "You must select even disks to create \na RAID 1/0 (Striped Mirroring) Array.";
        const int channels = GetControllNum();
        if (channels != 4 && channels != 8)
            return "A RAID 1/0 (Striped Mirroring) Array can only be\n created on a controller with 4 or 8 channels.";
        return nullptr;
    }
    case VTN_RAID01:
        // A controller with two channels mirrors two stripes of two disks, nothing else.
        if (n < 4 || (n != 4 && GetControllNum() == 2))
            return "You must select four disks to create \na RAID 0/1 (Mirrored Striping) Array.";
        if (n % 2 != 0)
            return "You must select even disks to create \na RAID 0/1 (Mirrored Striping) Array.";
        return nullptr;
    default:
        return nullptr;
    }
}

// A notice without an offer: the timer rests while it shows.
void Notice(const char* text)
{
    CMainWindow* win = GetMainWindow();
    if (win)
        win->bTimerOn = false;
    MessageBox(text, "Confirmation", false);
    if (win && GetMainWindow() == win)
        win->bTimerOn = true;
}

}  // namespace

GtkWidget* CCreateArray::CreateRAIDStep3Form()
{
    CCreateArray* w = GetCreateArray();
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
    gtk_box_pack_start(GTK_BOX(box), row, TRUE, TRUE, 0);

    DiskList(row, "Available Disks:", &w->pAvailDisks);
    GtkWidget* arrows = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
    gtk_widget_set_valign(arrows, GTK_ALIGN_CENTER);
    gtk_box_pack_start(GTK_BOX(row), arrows, FALSE, FALSE, 0);
    w->pAddArrow = InsertXPMItem("", xpm_d_right, 0);
    w->pRemoveArrow = InsertXPMItem("", xpm_d_left, 0);
    gtk_widget_set_sensitive(w->pRemoveArrow, FALSE);
    g_signal_connect(w->pAddArrow, "clicked", G_CALLBACK(OnAdd), nullptr);
    g_signal_connect(w->pRemoveArrow, "clicked", G_CALLBACK(OnRemove), nullptr);
    gtk_box_pack_start(GTK_BOX(arrows), w->pAddArrow, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(arrows), w->pRemoveArrow, FALSE, FALSE, 0);
    DiskList(row, "Selected Disks", &w->pSelectedDisks);

    w->pDiskInfo = NewColumnList(3, InforListTitles);
    ColumnListSetMinWidth(w->pDiskInfo, 0, 150);
    ColumnListSetMinWidth(w->pDiskInfo, 1, 80);
    ColumnListSetWidth(w->pDiskInfo, 2, 0);
    const char* blank[] = {" ", " ", " "};
    ColumnListAppend(w->pDiskInfo, blank);
    GtkWidget* info = SummaryList(w->pDiskInfo);
    gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(info), TRUE);
    gtk_box_pack_start(GTK_BOX(box), info, FALSE, FALSE, 0);

    for (GtkWidget* list : {w->pAvailDisks, w->pSelectedDisks})
        g_signal_connect(list, "row-selected", G_CALLBACK(OnDiskSelected), nullptr);
    w->LoadDeviceList(w->pAvailDisks);
    return box;
}

void CCreateArray::LoadDeviceList(GtkWidget* list)
{
    if (list == nullptr)
        return;
    for (ClDiskArrayIterator it(VTN_ID_SYSTEM); it; ++it) {
        const unsigned int* id = *it;
        if (id == nullptr)
            break;
        CDisk disk;
        disk = *id;
        if (disk.GetType() != VTN_DEVICE_DISK)
            continue;
        const uint32_t s = disk.nStatus;
        const bool bootable = s & VTN_DISK_BOOTABLE;
        // A bootable disk can only be the source of a duplication.
        const bool bootOk = nRaidCode == VTN_RAID1 && nCreateOption == VTN_OPTION_DUPLICATE;
        if ((s & VTN_DISK_DISABLED) || (bootable && !bootOk))
            continue;
        const std::string name = NameOf(disk);
        GtkWidget* item = AppendItem(list, name.c_str(), bootable ? xpm_d_Disk_Boot : xpm_d_Disk, *id);
        g_object_set_data_full(G_OBJECT(item), kNameKey, g_strdup(name.c_str()), g_free);
    }
    SelectItem(list, 0);
}

void diskselect(GtkWidget* list)
{
    CCreateArray* w = GetCreateArray();
    if (w->pWizard == nullptr)
        return;
    ShowHighlighted(w, list);
}

void CCreateArray::ShowDiskInfor(unsigned int id)
{
    if (pDiskInfo == nullptr)
        return;
    CDisk disk;
    disk = id;
    FillDiskInfoRow(pDiskInfo, disk, NameOf(disk).c_str());
}

int CCreateArray::SelectedIds(uint32_t* ids, int room) const
{
    int n = 0;
    for (GtkWidget* row; n < room && (row = ItemAt(pSelectedDisks, n)) != nullptr; ++n)
        ids[n] = ItemId(row);
    return n;
}

void CCreateArray::add(GtkWidget*, void*)
{
    CCreateArray* w = GetCreateArray();
    CMainWindow* win = GetMainWindow();
    if (!w->StandsOrClose())
        return;
    GtkWidget* avail = w->pAvailDisks;
    GtkWidget* chosen = w->pSelectedDisks;
    if (GtkWidget* row = FirstSelectedItem(avail)) {
        const uint32_t id = ItemId(row);
        // The disk as it is now: bootable bit, capacity, controller.
        CDisk disk;
        disk = id;
        // A read that broke the connection leaves the wizard to its logout.
        if (!w->Stands())
            return;
        uint32_t selected[VTN_MODEL_MEMBER_SLOTS];
        const int n = w->SelectedIds(selected, VTN_MODEL_MEMBER_SLOTS);
        const bool bootable = disk.nStatus & VTN_DISK_BOOTABLE;
        const char* refusal = nullptr;
        if (w->nRaidCode == VTN_RAID1) {
            // Every disk after the first is a target.
            if (bootable && w->nCreateOption == VTN_OPTION_CREATE_ONLY) {
                refusal = "Bootable disk can not be an array member when using 'created only' option.";
            } else if (bootable && n >= 1) {
                refusal = "Bootable disk is not allowed to be selected as target disk!";
            } else if (n >= 1) {
                CDisk source;
                source = selected[0];
                if (source.GetCapacity() > disk.GetCapacity())
                    refusal = "Mirror's capacity is less than original's capacity.";
            }
        }
        if (refusal == nullptr && !win->SupportPara.IsSptCrossController())
            for (int i = 0; i < n; ++i)
                if (!IsInSameContrl(id, selected[i])) {
                    refusal = "Creating array with cross-controller disks is not supported!";
                    break;
                }
        if (refusal) {
            MessageBox(refusal, "Warning", false);
            return;
        }
        const std::string name = ItemName(row);
        MoveRow(avail, chosen, row);
        gtk_widget_set_sensitive(w->pRemoveArrow, TRUE);
        SelectItem(avail, 0);
        if (w->nDiskRowEnd == w->nDiskRowFirst) {
            if (static_cast<int>(w->nDiskRowFirst) < ColumnListRows(w->pParamList))
                ColumnListSetText(w->pParamList, static_cast<int>(w->nDiskRowFirst), 1, name.c_str());
        } else {
            const char* text[] = {" ", name.c_str()};
            ColumnListAppend(w->pParamList, text);
        }
        ++w->nDiskRowEnd;
    }
    const uint32_t most = win->SupportPara.GetRAIDMaxCount(static_cast<int>(w->nRaidCode));
    const int limit = most < VTN_MODEL_MEMBER_SLOTS ? static_cast<int>(most) : VTN_MODEL_MEMBER_SLOTS;
    GtkWidget* last = avail;   // the list whose first row was selected last
    if (ItemCount(avail) == 0 || ItemCount(chosen) >= limit) {
        gtk_widget_set_sensitive(w->pAddArrow, FALSE);
        SelectItem(chosen, 0);
        last = chosen;
    }
    // Selecting a row that is selected already emits nothing: the information row may still
    // describe the disk that moved.
    ShowHighlighted(w, last);
}

void CCreateArray::remove(GtkWidget*, void*)
{
    CCreateArray* w = GetCreateArray();
    if (!w->StandsOrClose())
        return;
    GtkWidget* avail = w->pAvailDisks;
    GtkWidget* chosen = w->pSelectedDisks;
    if (GtkWidget* row = FirstSelectedItem(chosen)) {
        const std::string name = ItemName(row);
        MoveRow(chosen, avail, row);
        gtk_widget_set_sensitive(w->pAddArrow, TRUE);
        SelectItem(chosen, 0);
        if (w->nDiskRowEnd > w->nDiskRowFirst) {
            if (w->nDiskRowEnd - 1 != w->nDiskRowFirst) {
                w->SwapListData(name.c_str());
                --w->nDiskRowEnd;
                ColumnListRemove(w->pParamList, static_cast<int>(w->nDiskRowEnd));
            } else {
                --w->nDiskRowEnd;
                ColumnListSetText(w->pParamList, static_cast<int>(w->nDiskRowFirst), 1, "");
            }
        }
    }
    if (ItemCount(chosen) == 0) {
        gtk_widget_set_sensitive(w->pRemoveArrow, FALSE);
        SelectItem(avail, 0);
    }
    ShowHighlighted(w, chosen);
}

void CCreateArray::SwapListData(const char* name)
{
    if (pParamList == nullptr || name == nullptr)
        return;
    const int first = static_cast<int>(nDiskRowFirst), last = static_cast<int>(nDiskRowEnd) - 1;
    for (int r = first; r <= last; ++r) {
        if (ColumnListText(pParamList, r, 1) != name)
            continue;
        if (r != last) {
            const std::string param = ColumnListText(pParamList, last, 0), value = ColumnListText(pParamList, last, 1);
            ColumnListSetText(pParamList, last, 0, ColumnListText(pParamList, r, 0).c_str());
            ColumnListSetText(pParamList, last, 1, name);
            ColumnListSetText(pParamList, r, 0, param.c_str());
            ColumnListSetText(pParamList, r, 1, value.c_str());
        }
        if (r == first)
            ColumnListSetText(pParamList, r, 0, "Selected Disks");
        return;
    }
}

void CCreateArray::Step3Back(GtkWidget*)
{
    CCreateArray* w = GetCreateArray();
    UnselectAll(w->pAvailDisks);
    UnselectAll(w->pSelectedDisks);
    if (w->nRaidCode == VTN_JBOD)
        w->CreateRAIDStep1();
    else
        w->CreateRAIDStep2();
}

void CCreateArray::CreateRAIDFinish()
{
    CMainWindow* win = GetMainWindow();
    if (!StandsOrClose())
        return;
    uint32_t ids[VTN_MODEL_MEMBER_SLOTS];
    const int n = SelectedIds(ids, VTN_MODEL_MEMBER_SLOTS);
    if (const char* refusal = FinishRefusal(nRaidCode, n)) {
        MessageBox(refusal, "Warning", false);
        return;
    }
    const char* question = nCreateOption == VTN_OPTION_DUPLICATE
                               ? "All data on the original disk will be copied to the mirror disk.\nAre you sure "
                                 "you want to continue?"
                               : "All data on the selected disks will be erased.\nAre you sure you want to continue?";
    if (MessageBox(question, "Warning", true) != 1)
        return;
    // The connection may have broken while the question was open; its logout closed the wizard.
    if (!StandsOrClose())
        return;

    CDiskArray array;
    array.SetBlockSize(static_cast<int>(nBlockCode));
    array.SetName(szArrayName, false);
    for (int i = 0; i < n; ++i)
        array.AddMember(ids[i], -1);

    // Each kind: the creation, then (unless the model has shown its "Error" box) the reboot offer
    // or the notice with the array's name, block size and capacity.
    char text[1024] = {};
    bool offer = true;
    char name[VTN_DISK_NAME_SIZE] = {};
    auto made = [&](unsigned int id) {
        array.GetName(name, sizeof name);
        return id != 0;
    };
    auto gb = [&] { return static_cast<double>(array.GetCapacity()) / kSectorsPerGB; };
    const char* block = szBlockSize;
    switch (nRaidCode) {
    case VTN_RAID0:
        if (made(array.CreateRAID0()))
            FormatText(text, sizeof text,
                       "'%s' (RAID 0 array) has been created.\nBlock size is %s.\nThe array capacity is %.3f GB.\n"
                       "The array will not be available until you reboot the system.\nDo you want to reboot the "
                       "system now?",
                       name, block, gb());
        break;
    case VTN_RAID1:
        offer = nCreateOption == VTN_OPTION_CREATE_ONLY;
        if (!made(array.CreateRAID1(!offer)))
            break;
        if (offer)
            FormatText(text, sizeof text,
                       "'%s' (RAID 1 array) has been created.\nThe array capacity is %.3f GB.\nThe array will not "
                       "be available until you reboot the system.\nDo you want to reboot the system now?",
                       name, gb());
        else
            FormatText(text, sizeof text,
                       "'%s' (RAID 1 array) has been created.\nThe array capacity is %.3f GB.\nThe array will not "
                       "be available until you \nfinish synchronizing.",
                       name, gb());
        break;
    case VTN_RAID5: {
        int mode = 2;
        const char* type = "Zero Build";
        if (nCreateOption == VTN_OPTION_SCRUB)
            mode = 4, type = "Scrub (build parity)";
        else if (nCreateOption == VTN_OPTION_NO_BUILD)
            mode = 1, type = "No Build";
        offer = mode == 1;
        if (!made(array.CreateRAID5(mode)))
            break;
        if (offer)
            FormatText(text, sizeof text,
                       "'%s' (RAID 5 array) has been created.\nBlock size is %s.Type is %s.\nThe array capacity is "
                       "%.3f GB.\nThe array will not be available until you reboot the system.\nDo you want to "
                       "reboot the system now?",
                       name, block, type, gb());
        else
            FormatText(text, sizeof text,
                       "'%s' (RAID 5 array) has been created.\nBlock size is %s.Type is %s.\nThe array capacity is "
                       "%.3f GB.",
                       name, block, type, gb());
        break;
    }
    case VTN_JBOD:
        if (made(array.CreateJBOD()))
            FormatText(text, sizeof text,
                       "'%s' (JBOD array) has been created.\nThe array capacity is %.3f GB.\nThe array will not be "
                       "available until you reboot the system.\nDo you want to reboot the system now?",
                       name, gb());
        break;
    case VTN_RAID10:
        if (made(array.CreateRAID10(false)))
            FormatText(text, sizeof text,
                       "'%s' (RAID 1/0 array) has been created.\nBlock size is %s.\nThe array capacity is %.3f "
                       "GB.\nThe array will not be available until you reboot the system.\nDo you want to reboot "
                       "the system now?",
                       name, block, gb());
        break;
    case VTN_RAID01:
        if (made(array.CreateRAID01(false)))
            FormatText(text, sizeof text,
                       "'%s' (RAID 0/1 array) has been created.\nBlock size is %s.\nThe array capacity is %.3f "
                       "GB.\nThe array will not be available until you reboot the system.\nDo you want to reboot "
                       "the system now?",
                       name, block, gb());
        break;
    default:
        return;   // no kind chosen: nothing to create
    }
    if (text[0] != 0 && offer) {
        // A failed reboot request is not reported.
        if (MessageBox(text, "Confirmation", true) == 1 && Stands())
            Reboot();
    } else if (text[0] != 0) {
        Notice(text);
    }
    // Closed whatever the result (a logout during a box has closed it already).
    UnselectAll(pAvailDisks);
    UnselectAll(pSelectedDisks);
    CloseWizard();
    if (win && GetMainWindow() == win)
        win->FreshTree();
}
