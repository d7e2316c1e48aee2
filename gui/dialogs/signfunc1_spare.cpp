// Spare changes from the Spare Pool form: the information row of the selected disk, and the two
// arrows that put a disk into the spare pool (or make it a dedicated spare of the chosen array)
// and take a spare out, each with its checks, questions and reboot offer.
#include <string>

#include "dam.h"
#include "drivergui.h"
#include "drivergui_list.h"
#include "drivergui_repair.h"
#include "textutil.h"
#include "xpm_data.h"

namespace {

constexpr size_t kTextSize = 512;



// The window and the disk of the first selected row of one of the form's lists; false without one.
bool SelectedDisk(GtkWidget* CMainWindow::*list, CMainWindow** win, uint32_t* id, std::string* name)
{
    *win = GetMainWindow();
    GtkWidget* row = *win && (*win)->*list ? FirstSelectedItem((*win)->*list) : nullptr;
    if (row == nullptr)
        return false;
    *id = ItemId(row);
    CDisk disk;
    disk = *id;
    *name = NameOf(disk);
    return true;
}

// The Spare Pool form is still there to be changed.
bool FormStands(const SWindowStands& stands)
{
    return stands() && stands.win->pAvailList && stands.win->pSpareList;
}

// What a spare of the smallest array of each kind at the top level must hold.
SSpareNeeds PoolNeeds()
{
    SSpareNeeds n;
    bool seen[4] = {};
    auto keep = [](bool* seen, uint64_t* need, int* count, const CDiskArray& a) {
        if (*seen && a.GetCapacity() >= *need)
            return;
        *seen = true;
        *need = a.GetCapacity();
        if (count)
            *count = a.GetChildNum();
    };
    for (ClDiskArrayIterator it(VTN_ID_SYSTEM); it; ++it) {
        CDiskArray a;
        a = **it;
        if (a.GetType() != VTN_DEVICE_ARRAY)
            continue;
        if (a.IsRAID01())
            keep(&seen[1], &n.r01, &n.c01, a);
        else if (a.IsRAID10())
            keep(&seen[2], &n.r10, &n.c10, a);
        else if (a.GetArrayType() == VTN_RAID1)
            keep(&seen[0], &n.r1, nullptr, a);
        else if (a.GetArrayType() == VTN_RAID5)
            keep(&seen[3], &n.r5, &n.c5, a);
    }
    return n;
}

// What a dedicated spare of the array a must hold.
SSpareNeeds DedicatedNeeds(const CDiskArray& a)
{
    SSpareNeeds n;
    if (a.GetArrayType() == VTN_RAID1)
        n.r1 = a.GetCapacity();
    if (a.IsRAID01()) {
        n.r01 = a.GetCapacity();
        n.c01 = a.GetChildNum();
    } else if (a.IsRAID10()) {
        n.r10 = a.GetCapacity();
        n.c10 = a.GetChildNum();
    } else if (a.GetArrayType() == VTN_RAID5) {
        n.r5 = a.GetCapacity();
        n.c5 = a.GetChildNum();
    }
    return n;
}

// The reboot offer after a change; a refused reboot is told.
void OfferReboot(const char* text, const SWindowStands& stands)
{
    if (MessageBox(text, "Confirmation", true) == 1 && stands() && Reboot() != 0)
        MessageBox("Failed to reboot the system!", "Error", false);
}

}  // namespace

void ShowDiskInfor(uint32_t id)
{
    CMainWindow* win = GetMainWindow();
    GtkWidget* list = win ? win->pDiskInfoList : nullptr;
    if (list == nullptr)
        return;
    ColumnListClear(list);
    const char* const blank[] = {" ", " ", " "};
    ColumnListAppend(list, blank);
    CDisk disk;
    disk = id;
    FillDiskInfoRow(list, disk, NameOf(disk).c_str());
}

void FillDiskInfoRow(GtkWidget* list, const CDisk& disk, const char* name)
{
    char where[VTN_MODEL_TEXT_SIZE];
    disk.GetLocation(where, sizeof where);
    char capacity[64];
    FormatText(capacity, sizeof capacity, "%.3f GB", static_cast<double>(disk.GetCapacity()) / kSectorsPerGB);
    ColumnListSetText(list, 0, 0, name);
    ColumnListSetText(list, 0, 1, capacity);
    ColumnListSetText(list, 0, 2, where);
}

void sparepoolselect(GtkWidget* list)
{
    if (GtkWidget* row = FirstSelectedItem(list))
        ShowDiskInfor(ItemId(row));
}

void addsparepool(GtkWidget*, GdkEvent*, void*)
{
    CMainWindow* win = nullptr;
    uint32_t diskId = VTN_ID_NONE;
    std::string name;
    if (!SelectedDisk(&CMainWindow::pAvailList, &win, &diskId, &name))
        return;
    const SWindowStands stands(win);
    CDisk disk;
    disk = diskId;
    const bool dedicated = win->nSpareMode == 1;
    uint32_t arrayId = VTN_ID_NONE;
    SSpareNeeds needs;
    if (dedicated) {
        // With no array chosen there is nothing to dedicate the disk to: nothing is asked or sent.
        const char* chosen = gtk_combo_box_get_active_id(GTK_COMBO_BOX(win->pSpareCombo));
        if (chosen == nullptr || chosen[0] == '\0' || (arrayId = GetRAIDID(chosen)) == VTN_ID_NONE)
            return;
        CDiskArray a;
        a = arrayId;
        needs = DedicatedNeeds(a);
    } else {
        needs = PoolNeeds();
    }
    const std::string levels = SpareLevelList(win->SupportPara);
    char text[kTextSize];
    if (NoSpareNeed(needs)) {
        FormatText(text, sizeof text,
                   "The spare disk may be invalid because \n there is neither %s array.\nDo you want to add it?",
                   levels.c_str());
        if (MessageBox(text, "Warning", true) != 1 || !FormStands(stands))
            return;
    } else if (SpareTooSmall(needs, disk.GetCapacity())) {
        FormatText(text, sizeof text,
                   "The spare disk may be invalid because its \ncapacity is too small. It can not be a member\n of "
                   "existing %s array.\nDo you want to add it?",
                   levels.c_str());
        if (MessageBox(text, "Warning", true) != 1 || !FormStands(stands))
            return;
    }
    FormatText(text, sizeof text,
               "If the disk '%s' is put into\n the spare pool, all data on it will be deleted.\n Do you want to "
               "continue?",
               name.c_str());
    if (MessageBox(text, "Warning", true) != 1 || !FormStands(stands))
        return;

    CDiskArray change;
    change.AddMember(diskId, -1);
    if (!(dedicated ? change.EditArraySpare(arrayId) : change.EditSpare(true))) {
        if (dedicated)
            FormatText(text, sizeof text, "There is no available RAID1,\n fail to add %s as spare disk!", name.c_str());
        else
            FormatText(text, sizeof text, "Failed to add '%s' to the spare pool!", name.c_str());
        MessageBox(text, "Error", false);
        return;
    }
    if (!FormStands(stands))
        return;
    if (GtkWidget* item = ItemOf(win->pAvailList, diskId))
        gtk_widget_destroy(item);
    AppendItem(win->pSpareList, name.c_str(), xpm_d_Disk_Spare, diskId);
    gtk_widget_set_sensitive(win->pRemoveSpareBtn, ItemCount(win->pSpareList) > 0);
    if (ItemCount(win->pAvailList) == 0)
        gtk_widget_set_sensitive(win->pAddSpareBtn, FALSE);
    else
        SelectItem(win->pAvailList, 0);
    FormatText(text, sizeof text,
               "'%s' has been put into\n spare pool successfully.The spare pool's\n configuration has been changed.\n "
               "Do you want to reboot?",
               name.c_str());
    OfferReboot(text, stands);
    if (stands())
        win->FreshTree();
}

void removesparepool(GtkWidget*, GdkEvent*, void*)
{
    CMainWindow* win = nullptr;
    uint32_t diskId = VTN_ID_NONE;
    std::string name;
    if (!SelectedDisk(&CMainWindow::pSpareList, &win, &diskId, &name))
        return;
    const SWindowStands stands(win);
    const std::string levels = SpareLevelList(win->SupportPara);
    char text[kTextSize];
    FormatText(text, sizeof text,
               "If the disk '%s' is removed\n from the spare pool, it will weaken the security of\n %s array.\n Do you "
               "want to continue?",
               name.c_str(), levels.c_str());
    if (MessageBox(text, "Warning", true) != 1 || !FormStands(stands))
        return;
    CDiskArray change;
    change.AddMember(diskId, -1);
    if (!change.EditSpare(false)) {
        FormatText(text, sizeof text, "Failed to remove '%s' from the spare pool!", name.c_str());
        MessageBox(text, "Error", false);
        return;
    }
    if (!FormStands(stands))
        return;
    if (GtkWidget* item = ItemOf(win->pSpareList, diskId))
        gtk_widget_destroy(item);
    AppendItem(win->pAvailList, name.c_str(), xpm_d_Disk, diskId);
    if (ItemCount(win->pSpareList) == 0)
        gtk_widget_set_sensitive(win->pRemoveSpareBtn, FALSE);
    gtk_widget_set_sensitive(win->pAddSpareBtn, TRUE);
    FormatText(text, sizeof text,
               "'%s' has been removed\n from spare pool successfully.\nIt will not be available until you reboot the "
               "system.\n Do you want to reboot?",
               name.c_str());
    OfferReboot(text, stands);
    if (stands())
        win->FreshTree();
}
