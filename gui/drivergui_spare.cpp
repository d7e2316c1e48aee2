// The Spare Pool form: the choice between the spare pool and a spare dedicated to one array, the
// disks that may become spares beside those that are, and the list of arrays that can take a
// dedicated spare (which the task dialogs use too).
#include <algorithm>

#include "client.h"
#include "dam.h"
#include "drivergui.h"
#include "drivergui_list.h"
#include "drivergui_repair.h"
#include "textutil.h"
#include "xpm_data.h"

namespace {

const char* const kInfoTitles[] = {"Name", "Capacity", "Location"};
const char* const kBlank[] = {" ", " ", " "};
constexpr int kMaxControllers = 16;

void OnPoolToggled(GtkToggleButton* radio, gpointer)
{
    if (CMainWindow* win = GetMainWindow())
        win->SparePool0(GTK_WIDGET(radio));
}

void OnDedicatedToggled(GtkToggleButton* radio, gpointer)
{
    if (CMainWindow* win = GetMainWindow())
        win->SparePool1(GTK_WIDGET(radio));
}

// Another array chosen for a dedicated spare: the lists follow it.
void OnArrayChosen(GtkComboBox*, gpointer)
{
    CMainWindow* win = GetMainWindow();
    if (win && win->nSpareMode == 1)
        win->LoadSpareList(true);
}

void OnListSelection(GtkListBox* list, gpointer)
{
    sparepoolselect(GTK_WIDGET(list));
}

void OnAddClicked(GtkButton* button, gpointer)
{
    addsparepool(GTK_WIDGET(button), nullptr, nullptr);
}

void OnRemoveClicked(GtkButton* button, gpointer)
{
    removesparepool(GTK_WIDGET(button), nullptr, nullptr);
}

// A framed, scrolled device list of the form.
GtkWidget* FramedList(GtkWidget* row, const char* title, GtkWidget** list)
{
    GtkWidget* frame = gtk_frame_new(title);
    gtk_container_set_border_width(GTK_CONTAINER(frame), 5);
    gtk_box_pack_start(GTK_BOX(row), frame, TRUE, TRUE, 0);
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_widget_set_size_request(scrolled, 220, 210);
    gtk_container_add(GTK_CONTAINER(frame), scrolled);
    *list = NewItemList(GTK_SELECTION_SINGLE);
    gtk_container_add(GTK_CONTAINER(scrolled), *list);
    ConnectSelectionHandler(*list, "selected-rows-changed", G_CALLBACK(OnListSelection), nullptr);
    return frame;
}

GtkWidget* ArrowButton(const char** xpm, GCallback clicked)
{
    GtkWidget* button = InsertXPMItem("", xpm, 0);
    g_signal_connect(button, "clicked", clicked, nullptr);
    return button;
}

void SetRadioState(GtkWidget* radio, bool supported)
{
    gtk_widget_set_sensitive(radio, supported);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(radio), supported);
}

// Whether a free disk is large enough to be a dedicated spare of the array a.
bool SizeFitsDedicated(const CDiskArray& a, uint64_t disk)
{
    return DedicatedSpareFits(a.GetArrayType(), a.IsRAID01(), a.IsRAID10(), a.GetCapacity(), a.GetChildNum(), disk);
}

}  // namespace

bool DedicatedSpareFits(uint32_t raidType, bool raid01, bool raid10, uint64_t arraySectors, int members,
                        uint64_t diskSectors)
{
    if (raidType == VTN_RAID1 && diskSectors < arraySectors)
        return false;
    if (raidType == VTN_RAID5 && !raid01 && !raid10 && members - 1 >= 1 &&
        diskSectors < arraySectors / static_cast<uint64_t>(members - 1))
        return false;
    if ((raid01 || raid10) && diskSectors < arraySectors / 2)
        return false;
    return true;
}

void FreeArrayCom(GList* names)
{
    for (GList* l = names; l; l = l->next)
        delete[] static_cast<char*>(l->data);
    g_list_free(names);
}

void CMainWindow::ShowSparePool(const char* name)
{
    const bool built = GetCurrForm(name) != nullptr;
    if (!SwitchForm(name, &CMainWindow::BuildSparePool, nullptr, 0))
        return;
    if (built)
        ColumnListClear(pDiskInfoList);
    FreshSparePool();
    FreshPrivilege();
}

void CMainWindow::BuildSparePool(GtkWidget* box)
{
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_container_set_border_width(GTK_CONTAINER(frame), 5);
    gtk_box_pack_start(GTK_BOX(box), frame, FALSE, FALSE, 0);
    GtkWidget* modes = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_container_add(GTK_CONTAINER(frame), modes);
    pPoolRadio = gtk_radio_button_new_with_label(nullptr, "Assign to the spare pool");
    gtk_box_pack_start(GTK_BOX(modes), pPoolRadio, TRUE, FALSE, 0);
    pDedicatedRadio =
        gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(pPoolRadio), "Assign to a dedicated array");
    gtk_box_pack_start(GTK_BOX(modes), pDedicatedRadio, TRUE, FALSE, 0);
    pSpareCombo = gtk_combo_box_text_new();
    // Wide enough to read as a choice of arrays while it is empty.
    gtk_widget_set_size_request(pSpareCombo, 160, -1);
    gtk_box_pack_end(GTK_BOX(modes), pSpareCombo, FALSE, FALSE, 0);
    g_signal_connect(pPoolRadio, "toggled", G_CALLBACK(OnPoolToggled), nullptr);
    g_signal_connect(pDedicatedRadio, "toggled", G_CALLBACK(OnDedicatedToggled), nullptr);
    g_signal_connect(pSpareCombo, "changed", G_CALLBACK(OnArrayChosen), nullptr);

    pSpareBox = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_start(GTK_BOX(box), pSpareBox, TRUE, TRUE, 0);
    FramedList(pSpareBox, "Available Disks", &pAvailList);
    GtkWidget* arrows = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_start(GTK_BOX(pSpareBox), arrows, FALSE, FALSE, 0);
    pAddSpareBtn = ArrowButton(xpm_d_right, G_CALLBACK(OnAddClicked));
    gtk_box_pack_start(GTK_BOX(arrows), pAddSpareBtn, TRUE, FALSE, 0);
    pRemoveSpareBtn = ArrowButton(xpm_d_left, G_CALLBACK(OnRemoveClicked));
    gtk_box_pack_start(GTK_BOX(arrows), pRemoveSpareBtn, TRUE, FALSE, 0);
    FramedList(pSpareBox, "Spare Pool", &pSpareList);

    pDiskInfoList = NewColumnList(3, kInfoTitles);
    ColumnListSetWidth(pDiskInfoList, 0, 160);
    ColumnListSetWidth(pDiskInfoList, 1, 80);
    gtk_box_pack_start(GTK_BOX(box), ScrolledColumnList(pDiskInfoList), TRUE, TRUE, 0);
    ColumnListAppend(pDiskInfoList, kBlank);
}

void CMainWindow::FreshSparePool()
{
    // The mode is settled first; then the handler of the active radio runs once.
    g_signal_handlers_block_by_func(pPoolRadio, reinterpret_cast<gpointer>(OnPoolToggled), nullptr);
    g_signal_handlers_block_by_func(pDedicatedRadio, reinterpret_cast<gpointer>(OnDedicatedToggled), nullptr);
    SetRadioState(pDedicatedRadio, SupportPara.IsSptDedicatedSpare());
    SetRadioState(pPoolRadio, SupportPara.IsSptSparePool());
    g_signal_handlers_unblock_by_func(pPoolRadio, reinterpret_cast<gpointer>(OnPoolToggled), nullptr);
    g_signal_handlers_unblock_by_func(pDedicatedRadio, reinterpret_cast<gpointer>(OnDedicatedToggled), nullptr);
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(pPoolRadio))) {
        nSpareMode = 0;
        SparePool0(pPoolRadio);
    } else {
        nSpareMode = 1;
        SparePool1(pDedicatedRadio);
    }
}

void CMainWindow::SparePool0(GtkWidget* radio)
{
    if (!gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(radio)))
        return;
    nSpareMode = 0;
    gtk_widget_set_sensitive(pSpareCombo, FALSE);
    gtk_widget_set_sensitive(pSpareBox, TRUE);
    LoadSpareList(false);
}

void CMainWindow::SparePool1(GtkWidget* radio)
{
    if (!gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(radio)))
        return;
    nSpareMode = 1;
    gtk_widget_set_sensitive(pSpareCombo, TRUE);
    GList* names = LoadArrayCom(nullptr, true, true);
    // The combo's own handler stays out of its refill.
    g_signal_handlers_block_by_func(pSpareCombo, reinterpret_cast<gpointer>(OnArrayChosen), nullptr);
    gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(pSpareCombo));
    for (GList* l = names; l; l = l->next) {
        gchar* shown = g_utf8_make_valid(static_cast<char*>(l->data), -1);
        gtk_combo_box_text_append(GTK_COMBO_BOX_TEXT(pSpareCombo), static_cast<char*>(l->data), shown);
        g_free(shown);
    }
    if (names)
        gtk_combo_box_set_active(GTK_COMBO_BOX(pSpareCombo), 0);
    g_signal_handlers_unblock_by_func(pSpareCombo, reinterpret_cast<gpointer>(OnArrayChosen), nullptr);
    if (names == nullptr) {
        gtk_widget_set_sensitive(pSpareBox, FALSE);
        ClearItems(pAvailList);
        ClearItems(pSpareList);
        return;
    }
    FreeArrayCom(names);
    gtk_widget_set_sensitive(pSpareBox, TRUE);
    LoadSpareList(true);
}

void CMainWindow::LoadSpareList(bool dedicated)
{
    ClearItems(pAvailList);
    ClearItems(pSpareList);
    gtk_widget_set_sensitive(pAddSpareBtn, FALSE);
    gtk_widget_set_sensitive(pRemoveSpareBtn, FALSE);
    // Dedicated mode lists disks for the array named in the combo (by its id, the combo keeps it).
    uint32_t arrayId = VTN_ID_NONE;
    CDiskArray chosen;
    if (dedicated) {
        if (const char* text = gtk_combo_box_get_active_id(GTK_COMBO_BOX(pSpareCombo)))
            arrayId = GetRAIDID(text);
        if (arrayId == VTN_ID_NONE)
            return;
        chosen = arrayId;
    }
    const bool cross = SupportPara.IsSptCrossController();
    const int controllers = std::min(cs_vtn_get_controller_count(handle), kMaxControllers);
    for (int c = 0; c < controllers; ++c) {
        _CONTROLLER_INFO info{};
        if (cs_vtn_get_controller_info(handle, c, &info) != 0)
            return;
        for (int ch = 0; ch < info.channels; ++ch) {
            _CHANNEL_INFO channel{};
            if (cs_vtn_get_channel_info(handle, c, ch, &channel) != 0)
                return;
            for (uint32_t id : channel.devices) {
                if (id == VTN_ID_SYSTEM || id == VTN_ID_NONE)
                    continue;
                CDisk disk;
                disk = id;
                if (disk.GetType() != VTN_DEVICE_DISK || (disk.nStatus & (VTN_DISK_BOOTABLE | VTN_DISK_DISABLED)))
                    continue;
                const std::string name = NameOf(disk);
                if (disk.nStatus & VTN_DISK_SPARE) {
                    if ((!dedicated || disk.GetParentID() == arrayId) && ItemOf(pSpareList, id) == nullptr) {
                        AppendItem(pSpareList, name.c_str(), xpm_d_Disk_Spare, id);
                        gtk_widget_set_sensitive(pRemoveSpareBtn, TRUE);
                    }
                    continue;
                }
                if (dedicated && (!SizeFitsDedicated(chosen, disk.GetCapacity()) ||
                                  (!cross && !IsInSameContrl(id, arrayId))))
                    continue;
                if (disk.GetParentID() == VTN_ID_NONE && ItemOf(pAvailList, id) == nullptr) {
                    AppendItem(pAvailList, name.c_str(), xpm_d_Disk, id);
                    gtk_widget_set_sensitive(pAddSpareBtn, TRUE);
                }
            }
        }
    }
    if (ItemCount(pAvailList) == 0)
        gtk_widget_set_sensitive(pAddSpareBtn, FALSE);
    if (ItemCount(pAvailList) > 0)
        SelectItem(pAvailList, 0);
    else if (ItemCount(pSpareList) > 0)
        SelectItem(pSpareList, 0);
}

GList* CMainWindow::LoadArrayCom(GList* list, bool notNeedRebuild, bool all)
{
    ForEachRepairArray([&list, notNeedRebuild, all](CDiskArray& a, int, CDiskArray*) {
        const uint32_t s = a.GetWorkStatus();
        const uint32_t type = a.GetArrayType();
        if ((type != VTN_RAID1 && type != VTN_RAID5) ||
            (s & (VTN_ARRAY_BROKEN | VTN_ARRAY_DISABLED | VTN_ARRAY_REBUILDING | VTN_ARRAY_VERIFYING)))
            return;
        const bool need = (s & VTN_ARRAY_NEED_REBUILD) != 0;
        if (!all && need == notNeedRebuild)
            return;
        auto* name = new char[VTN_FORM_NAME_SIZE];
        a.GetName(name, VTN_FORM_NAME_SIZE);
        list = g_list_append(list, name);
    });
    return list;
}
