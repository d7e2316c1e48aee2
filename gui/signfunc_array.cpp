// The array operations of the toolbars: rescan, delete, rename, add disk, verify, rebuild
// (duplicate) and abort, each on the item selected in the Array Management tree, and the timer's
// refresh of a busy array's page.
#include "signfunc_array.h"

#include <cstring>
#include <string>

#include "client.h"
#include "dam.h"
#include "drivergui.h"
#include "drivergui_repair.h"
#include "global_log.h"
#include "textutil.h"
#include "vtntree.h"
#include "xpm_data.h"

_RENAME_DIALOG RenDia;
uint8_t oksele = 0;
uint8_t selected = 0;

namespace {

// The device selected in the Array Management tree; false without a window, tree or selection.
bool SelectedDevice(uint32_t* id)
{
    CMainWindow* win = GetMainWindow();
    STreeItem item;
    if (win == nullptr || !CVTNTree::SelectedItem(win->pArrayTree, &item) || item.id < 0)
        return false;
    *id = static_cast<uint32_t>(item.id);
    return true;
}

// The selected device loaded as an array object; false without a selection.
bool SelectedArray(CDiskArray* device, uint32_t* status)
{
    uint32_t id = 0;
    if (!SelectedDevice(&id))
        return false;
    *device = id;
    *status = device->GetWorkStatus();
    return true;
}

void RebuildTrees()
{
    if (CMainWindow* win = GetMainWindow())
        win->FreshTree();
}

void OnRenameOk(GtkButton* button, gpointer)
{
    ok_select(GTK_WIDGET(button));
}

void OnRenameCancel(GtkButton* button, gpointer)
{
    cancel_select(GTK_WIDGET(button));
}

gboolean OnRenameKey(GtkWidget* window, GdkEventKey* event, gpointer data)
{
    return sigh_Enter(window, reinterpret_cast<GdkEvent*>(event), data);
}

// The rename window: a label, the name entry and the two buttons.
GtkWidget* NewRenameWindow(int maxLength)
{
    GtkWidget* window = NewDialogWindow("Rename", 220, 120, 1, false);
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_container_set_border_width(GTK_CONTAINER(frame), 1);
    gtk_container_add(GTK_CONTAINER(window), frame);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
    gtk_container_set_border_width(GTK_CONTAINER(box), 5);
    gtk_container_add(GTK_CONTAINER(frame), box);
    gtk_box_pack_start(GTK_BOX(box), gtk_label_new("Please input a new name"), FALSE, FALSE, 0);
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(entry), maxLength > 0 ? maxLength : 0);
    gtk_box_pack_start(GTK_BOX(box), entry, FALSE, FALSE, 0);
    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_end(GTK_BOX(box), buttons, FALSE, FALSE, 0);
    GtkWidget* ok = InsertXPMItem("    OK    ", xpm_d_Yes, 0);
    g_signal_connect(ok, "clicked", G_CALLBACK(OnRenameOk), nullptr);
    gtk_box_pack_start(GTK_BOX(buttons), ok, FALSE, FALSE, 0);
    GtkWidget* cancel = InsertXPMItem("  Cancel  ", xpm_d_No, 0);
    g_signal_connect(cancel, "clicked", G_CALLBACK(OnRenameCancel), nullptr);
    gtk_box_pack_end(GTK_BOX(buttons), cancel, FALSE, FALSE, 0);
    g_signal_connect(window, "key-press-event", G_CALLBACK(OnRenameKey), nullptr);
    RenDia.pNameEntry = entry;
    RenDia.pOKButton = ok;
    gtk_widget_show_all(window);
    gtk_widget_grab_focus(entry);
    return window;
}

}  // namespace

// ---- rescan ------------------------------------------------------------------------------------

void ReScan()
{
    const char* text = "Rescan Failed!";
    if (cs_vtn_rescan_devices(handle) == 0) {
        if (CMainWindow* win = GetMainWindow())
            win->FreshTree();  // ends with FocusWindow
        text = "Rescan Succeeded!";
    }
    _VTN_LOG_EVENT event{};
    event.severity = 'I';
    CopyText(event.text, text);
    // The server stamps and keeps the event; there is nobody to tell when it cannot.
    cs_vtn_save_log_event(handle, &event);
}

// ---- delete ------------------------------------------------------------------------------------

void DeleteArray()
{
    CMainWindow* win = GetMainWindow();
    CDiskArray array;
    uint32_t s = 0;
    if (win == nullptr || !SelectedArray(&array, &s) || array.nType != VTN_DEVICE_ARRAY)
        return;
    const uint8_t code = array.Info.u.array.raidType;
    if ((s & VTN_ARRAY_BOOTABLE) && !(s & VTN_ARRAY_DISABLED))
        return;
    if (code == VTN_RAID1 && (s & VTN_ARRAY_REBUILDING))
        return;
    if (code == VTN_RAID0 && array.IsChild())
        return;
    // A connection that broke (and said so) while a box waited gets nothing more, nor does another one.
    const SWindowStands stands(win);
    if (!MessageBox("All data on the array will be deleted!\nAre you sure you want to continue?", "Warning", true) ||
        !stands())
        return;
    if (!array.Delete(true)) {
        if (stands() && MessageBox("Failed to delete the array!", "Confirmation", false))
            RebuildTrees();
        return;
    }
    if (MessageBox("Array has been deleted.\nThe deletion will not be completed \nuntil you reboot the system.\n"
                   "Do you want to reboot now?",
                   "Confirmation", true) &&
        stands())
        Reboot();
    RebuildTrees();
}

// ---- rename ------------------------------------------------------------------------------------

void ok_select(GtkWidget* button)
{
    oksele = 1;
    selected = 1;
    yes_mselect(button);
}

void cancel_select(GtkWidget* button)
{
    selected = 1;
    no_mselect(button);
}

gboolean sigh_Enter(GtkWidget* window, GdkEvent* event, void*)
{
    if (window == nullptr || event == nullptr || event->type != GDK_KEY_PRESS)
        return FALSE;
    if (event->key.keyval == GDK_KEY_KP_Enter)
        event->key.keyval = GDK_KEY_Return;
    if (event->key.keyval != GDK_KEY_Return || RenDia.pOKButton == nullptr)
        return FALSE;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
    if (focus == nullptr || (focus != RenDia.pOKButton && focus != RenDia.pNameEntry))
        return FALSE;
    gtk_button_clicked(GTK_BUTTON(RenDia.pOKButton));
    return TRUE;
}

void RenameArray()
{
    CMainWindow* win = GetMainWindow();
    CDiskArray array;
    uint32_t s = 0;
    if (win == nullptr || !SelectedArray(&array, &s) || array.nType != VTN_DEVICE_ARRAY)
        return;
    char oldName[VTN_DISK_NAME_SIZE];
    array.GetName(oldName, sizeof oldName);
    char sentence[VTN_LOG_SENTENCE_MAX + 1];
    FormatText(sentence, sizeof sentence, "Rename array from original name '%s' ", oldName);
    std::string text = std::string(sentence) + "  ";

    const SWindowStands stands(win);
    GtkWidget* window = NewRenameWindow(win->SupportPara.GetRAIDNameLength());
    // Only OK (oksele) renames; a name that is taken or not valid asks again.
    auto askAgain = [] {
        oksele = selected = 0;
        return false;
    };
    askAgain();
    RunDialog(window, [&] {
        // After a break the dialog closes without a word: the break was said already.
        if (!oksele || !stands())
            return true;
        char name[VTN_DISK_NAME_SIZE];
        CopyEntryText(name, sizeof name, RenDia.pNameEntry);
        TrimSpace(name);
        if (name[0] == '\0')
            return true;
        if (GetSameRAIDName(name) && strcmp(name, oldName) != 0) {
            MessageBox("The Name had been used, please input other name.", "Warning", false);
            return askAgain();
        }
        if (GetInvalName(name)) {
            MessageBox("Array name can only contain\n '-','_',letters and numbers.", "Warning", false);
            return askAgain();
        }
        const int result = array.SetName(name, true);
        if (!stands())
            return true;  // the request found the break, which has its own box
        win->FreshTree();
        if (result == 0) {
            char newName[VTN_DISK_NAME_SIZE];
            FormatText(sentence, sizeof sentence, "to '%s' .", array.GetName(newName, sizeof newName));
            array.SaveLog((text + sentence).c_str());
        } else {
            MessageBox("Failed to rename the array!", "Error", false);
        }
        return true;
    });
    RenDia = {};
}

// ---- add disk, verify, rebuild, abort ------------------------------------------------------------

void AddDiskArray()
{
    CMainWindow* win = GetMainWindow();
    CDiskArray array;
    uint32_t s = 0;
    if (win == nullptr || !SelectedArray(&array, &s) || array.nType != VTN_DEVICE_ARRAY)
        return;
    const uint8_t code = array.Info.u.array.raidType;
    if ((code != VTN_RAID1 && code != VTN_RAID5) || !(s & VTN_ARRAY_BROKEN))
        return;
    const uint32_t id = array.GetID();
    const SWindowStands stands(win);
    if (!win->addtoarray(id, false) || !stands())
        return;
    CDiskArray again;
    again = id;
    if (again.GetWorkStatus() & VTN_ARRAY_BROKEN) {
        MessageBox("Disk has been added to array successfully.\nPlease select another to add to this array!",
                   "Confirmation", false);
        if (stands())
            win->addtoarray(id, false);
    }
    // The trees show the array as it is now, no longer broken (as the login's probe does).
    if (GetMainWindow() == win)
        win->FreshTree();
}

void DuplicateArray(bool rebuild)
{
    uint32_t id = 0;
    if (!SelectedDevice(&id))
        return;
    // The outcome comes back as driver events and shows in the tree.
    cs_vtn_set_array_state(handle, id, rebuild ? VTN_STATE_START_REBUILD : VTN_STATE_START_VERIFY);
}

void VerifyArray()
{
    DuplicateArray(false);
}

void RebuildArray()
{
    DuplicateArray(true);
}

void AbortArray()
{
    CMainWindow* win = GetMainWindow();
    CDiskArray array;
    uint32_t s = 0;
    if (win == nullptr || !SelectedArray(&array, &s) || array.nType != VTN_DEVICE_ARRAY)
        return;
    uint32_t state = 0;
    const char* word = "";
    if (s & VTN_ARRAY_REBUILDING) {
        state = VTN_STATE_ABORT_REBUILD;
        word = "rebuilding  ";
    }
    if (s & VTN_ARRAY_VERIFYING) {
        state = VTN_STATE_ABORT_VERIFY;
        word = "verifying  ";
    }
    if (s & VTN_ARRAY_INITIALIZING) {
        state = VTN_STATE_ABORT_INITIALIZE;
        word = "initializing  ";
    }
    if (state == 0)
        return;
    char question[64];
    FormatText(question, sizeof question, "Are you sure to abort %s?", word);
    const SWindowStands stands(win);
    if (!MessageBox(question, "Warning", true) || !stands())
        return;
    // As with verify and rebuild, the events report the outcome.
    cs_vtn_set_array_state(handle, array.GetID(), state);
}

// ---- busy-array refresh ------------------------------------------------------------------------

void FreshArray()
{
    CMainWindow* win = GetMainWindow();
    uint32_t id = 0;
    if (win == nullptr || !SelectedDevice(&id) || id == VTN_ID_SYSTEM || !win->GetFresh(id))
        return;
    CDiskArray array;
    array = id;
    const uint32_t s = array.GetWorkStatus();
    const uint8_t code = array.nType == VTN_DEVICE_ARRAY ? array.Info.u.array.raidType : 0;
    if ((code == VTN_RAID1 || code == VTN_RAID5) && (s & VTN_ARRAY_BUSY_MASK))
        CVTNTree::array_select_child(win->pArrayTree, nullptr, nullptr);
}
