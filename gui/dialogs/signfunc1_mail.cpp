// Mail notification: the SMTP settings dialog, the recipients list of the Event Notification form
// with its add and modify dialog, deletion, and the test mail.
#include <cstring>
#include <string>

#include "client.h"
#include "drivergui.h"
#include "drivergui_list.h"
#include "signfunc.h"
#include "signfunc1.h"
#include "textutil.h"

_SMTP_SET SMTPSet;
_RECIPIENT Recipient;

namespace {

// More recipients than a settings file holds; a server that never ends the list cannot hold the GUI.
constexpr int kMaxRecipients = 10000;
// The server keeps 63 bytes of every text.
constexpr int kMailTextChars = 63;

// Characters no mail header may carry; blanks as well where blanks is set.
bool HasUnsafeChar(const char* text, bool blanks)
{
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        if (*p < 0x20 || *p == 0x7F || *p == '<' || *p == '>' || (blanks && *p == ' '))
            return true;
    return false;
}

GtkWidget* RecipientList()
{
    CMainWindow* win = GetMainWindow();
    return win ? win->pRecipientList : nullptr;
}

// The list's selected row names the recipient in Recipient.Selected.
bool HasSelection()
{
    GtkWidget* list = RecipientList();
    return list && ColumnListSelectedRow(list) >= 0 && Recipient.Selected.address[0] != 0;
}

void ForgetSMTPWidgets(GtkWidget*, gpointer)
{
    SMTPSet.pEnableCheck = SMTPSet.pServerEntry = SMTPSet.pPortEntry = SMTPSet.pFromEntry = nullptr;
}

void ForgetRecipientWidgets(GtkWidget*, gpointer)
{
    Recipient.pAddressEntry = Recipient.pNameEntry = nullptr;
    Recipient.pInfoCheck = Recipient.pWarningCheck = Recipient.pErrorCheck = nullptr;
}

}  // namespace

GtkWidget* FieldsBeside(GtkWidget* window, GtkWidget* row)
{
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_container_set_border_width(GTK_CONTAINER(frame), 1);
    gtk_box_pack_start(GTK_BOX(row), frame, TRUE, TRUE, 0);
    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_set_border_width(GTK_CONTAINER(column), 5);
    gtk_container_add(GTK_CONTAINER(frame), column);
    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_VERTICAL, 16);
    gtk_widget_set_valign(buttons, GTK_ALIGN_CENTER);
    gtk_box_pack_start(GTK_BOX(row), buttons, FALSE, FALSE, 5);
    PackOkCancel(buttons, window);
    return column;
}

GtkWidget* FieldGrid(GtkWidget* column)
{
    GtkWidget* grid = gtk_grid_new();
    gtk_container_set_border_width(GTK_CONTAINER(grid), 5);
    gtk_grid_set_row_spacing(GTK_GRID(grid), 5);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 7);
    gtk_box_pack_start(GTK_BOX(column), grid, TRUE, TRUE, 0);
    return grid;
}

bool PortNumber(const char* text, uint16_t* port)
{
    // PortFromText takes an empty text for the default port; here a port must be typed.
    return text && *text && PortFromText(text, port);
}

bool PortAccepted(const char* text, uint16_t* port, const char* title)
{
    if (PortNumber(text, port))
        return true;
    char message[256];
    FormatText(message, sizeof message, "'%s' is not a valid port.\nA port is a number from 1 to 65535.",
               text ? text : "");
    MessageBox(message, title, false);
    return false;
}

// ---- SMTP settings -----------------------------------------------------------------------------

void SMTPServerSet()
{
    if (GetMainWindow() == nullptr || handle < 0 || SMTPSet.pServerEntry)
        return;
    GtkWidget* window = NewDialogWindow("E-mail notification setting", 380, 180, 5, false);
    g_signal_connect(window, "destroy", G_CALLBACK(ForgetSMTPWidgets), nullptr);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_container_add(GTK_CONTAINER(window), row);
    GtkWidget* column = FieldsBeside(window, row);
    SMTPSet.pEnableCheck = gtk_check_button_new_with_label("Enable Mail Notification");
    gtk_box_pack_start(GTK_BOX(column), SMTPSet.pEnableCheck, FALSE, FALSE, 0);
    GtkWidget* grid = FieldGrid(column);
    SMTPSet.pFromEntry = GridEntry(grid, 0, "Mail From", kMailTextChars);
    SMTPSet.pServerEntry = GridEntry(grid, 1, "SMTP Server", kMailTextChars);
    SMTPSet.pPortEntry = GridEntry(grid, 2, "Port", 8);
    LoadSMTPSet();
    gtk_widget_show_all(window);
    RunDialog(window, [window] { return SMTPSetOK(window); });
}

void LoadSMTPSet()
{
    // A failed load compares against nothing that an earlier one kept.
    memset(&SMTPSet.Info, 0, sizeof SMTPSet.Info);
    _VTN_SMTP_SERVER_INFO info{};
    uint32_t st = static_cast<uint32_t>(cs_vtn_get_smtp_server(handle, &info));
    if (st != VTN_SUCCESS && handle >= 0) {
        memset(&info, 0, sizeof info);
        st = static_cast<uint32_t>(cs_vtn_get_smtp_server(handle, &info));
    }
    if (st == VTN_SUCCESS) {
        if (SMTPSet.pEnableCheck)
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(SMTPSet.pEnableCheck),
                                         (info.flags & VTN_SMTP_NOTIFY_OFF) == 0);
        info.host[sizeof info.host - 1] = 0;
        info.sender[sizeof info.sender - 1] = 0;
        if (SMTPSet.pServerEntry)
            SetEntryText(SMTPSet.pServerEntry, info.host);
        if (SMTPSet.pFromEntry)
            SetEntryText(SMTPSet.pFromEntry, info.sender);
        if (SMTPSet.pPortEntry)
            SetEntryText(SMTPSet.pPortEntry, std::to_string(info.port).c_str());
        SMTPSet.Info = info;
    } else if (st == VTN_FILE_MISSING) {
        if (SMTPSet.pPortEntry)
            SetEntryText(SMTPSet.pPortEntry, "25");
    } else if (handle >= 0) {
        MessageBox("Failed to get SMTP server setting.", "Error", false);
    }
}

bool SMTPSetOK(GtkWidget*)
{
    const std::string port = EntryText(SMTPSet.pPortEntry);
    uint16_t portValue = 0;
    if (!PortAccepted(port.c_str(), &portValue, "Error"))
        return false;
    // The server would refuse to mail with such a sender.
    if (HasUnsafeChar(EntryText(SMTPSet.pFromEntry).c_str(), true)) {
        MessageBox("Please enter a valid address of the sender!", "Warning", false);
        return false;
    }
    _VTN_SMTP_SERVER_INFO r{};
    r.flags = ToggleActive(SMTPSet.pEnableCheck) ? 0 : VTN_SMTP_NOTIFY_OFF;
    CopyEntryText(r.host, sizeof r.host, SMTPSet.pServerEntry);
    CopyEntryText(r.sender, sizeof r.sender, SMTPSet.pFromEntry);
    r.port = portValue;
    const _VTN_SMTP_SERVER_INFO& kept = SMTPSet.Info;
    if (r.flags == kept.flags && r.port == kept.port && strcmp(r.host, kept.host) == 0 &&
        strcmp(r.sender, kept.sender) == 0)
        return true;
    if (cs_vtn_set_smtp_server(handle, &r) != 0)
        return RequestFailed("SMTP server setting is not saved.");
    SMTPSet.Info = r;
    MessageBox("SMTP server setting has been saved.", "Confirmation", false);
    return true;
}

// ---- recipients list ----------------------------------------------------------------------------

void LevelText(uint8_t flags, char* buf, size_t size)
{
    std::string text;
    const struct {
        uint8_t bit;
        const char* word;
    } levels[] = {{VTN_MAIL_INFO, "Information"}, {VTN_MAIL_WARNING, "Warning"}, {VTN_MAIL_ERROR, "Error"}};
    for (const auto& l : levels)
        if (flags & l.bit)
            text += (text.empty() ? "" : ",") + std::string(l.word);
    CopyText(buf, size, text.c_str());
}

void LoadReceiver()
{
    CMainWindow* win = GetMainWindow();
    GtkWidget* list = RecipientList();
    if (list == nullptr)
        return;
    ColumnListBlockSelect(list, true);
    ColumnListClear(list);
    _VTN_MAIL_RECIPIENT_INFO r{};
    for (int i = 0; i < kMaxRecipients && handle >= 0 && cs_vtn_enum_mail_recipient(handle, &r, i) == 0; ++i) {
        r.address[sizeof r.address - 1] = 0;
        r.name[sizeof r.name - 1] = 0;
        char level[32];
        LevelText(r.flags, level, sizeof level);
        const char* texts[] = {r.name, r.address, level};
        ColumnListAppend(list, texts);
    }
    ColumnListBlockSelect(list, false);
    // A browse list has its first row selected.
    if (ColumnListRows(list) > 0)
        ColumnListSelectRow(list, 0);
    if (GetMainWindow() == win)
        win->FreshEventNotiTool();
}

void ReceiverSelect(GtkWidget* list, int row, int, GdkEventButton*, void*)
{
    if (list == nullptr || row < 0)
        return;
    const std::string address = ColumnListText(list, row, 1);
    _VTN_MAIL_RECIPIENT_INFO r{};
    for (int i = 0; i < kMaxRecipients && handle >= 0 && cs_vtn_enum_mail_recipient(handle, &r, i) == 0; ++i) {
        r.address[sizeof r.address - 1] = 0;
        r.name[sizeof r.name - 1] = 0;
        if (address == r.address) {
            Recipient.Selected = r;
            if (CMainWindow* win = GetMainWindow())
                win->FreshEventNotiTool();
            return;
        }
    }
    // The recipient is gone from the server (or the list could not be read): nothing to act on.
    memset(&Recipient.Selected, 0, sizeof Recipient.Selected);
    if (handle < 0)
        return;  // no connection to check against: the row stays as chosen, the handlers do nothing
    if (RecipientList() == list)
        ColumnListUnselectQuietly(list);
    if (CMainWindow* win = GetMainWindow())
        win->FreshEventNotiTool();
}

bool IsRepeatAddress(const char* text)
{
    GtkWidget* list = RecipientList();
    if (list == nullptr || text == nullptr)
        return false;
    for (int r = 0; r < ColumnListRows(list); ++r)
        if (ColumnListText(list, r, 1) == text)
            return true;
    return false;
}

bool InvalidAddress(const char* text)
{
    if (text == nullptr || strlen(text) > kMailTextChars || HasUnsafeChar(text, true))
        return true;
    const char* at = strchr(text, '@');
    if (at == nullptr || at == text)
        return true;
    const char* dot = strchr(at + 1, '.');
    return dot == nullptr || dot == at + 1;
}

bool InvalidRecipientName(const char* text)
{
    return text == nullptr || strlen(text) > kMailTextChars || HasUnsafeChar(text, false);
}

// ---- the recipient dialog -------------------------------------------------------------------------

void AddRecipient()
{
    BaseRecipient(0);
}

void ModRecipient()
{
    BaseRecipient(1);
}

void BaseRecipient(int mode)
{
    if (GetMainWindow() == nullptr || handle < 0 || Recipient.pAddressEntry || mode < 0 || mode > 1)
        return;
    if (mode == 1 && !HasSelection())
        return;
    GtkWidget* window = NewDialogWindow(mode == 0 ? "Add recipient" : "Modify recipient", 250, 200, 5, false);
    g_signal_connect(window, "destroy", G_CALLBACK(ForgetRecipientWidgets), nullptr);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
    gtk_container_add(GTK_CONTAINER(window), box);
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 5);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 7);
    gtk_widget_set_margin_end(grid, 20);
    gtk_box_pack_start(GTK_BOX(box), grid, FALSE, FALSE, 0);
    Recipient.pAddressEntry = GridEntry(grid, 0, "E-mail", kMailTextChars);
    Recipient.pNameEntry = GridEntry(grid, 1, "Name", kMailTextChars);
    GtkWidget* frame = gtk_frame_new("Notification Options");
    gtk_container_set_border_width(GTK_CONTAINER(frame), 5);
    gtk_box_pack_start(GTK_BOX(box), frame, FALSE, FALSE, 0);
    GtkWidget* checks = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_container_set_border_width(GTK_CONTAINER(checks), 5);
    gtk_container_add(GTK_CONTAINER(frame), checks);
    Recipient.pInfoCheck = gtk_check_button_new_with_label("Information");
    Recipient.pWarningCheck = gtk_check_button_new_with_label("Warning");
    Recipient.pErrorCheck = gtk_check_button_new_with_label("Error");
    for (GtkWidget* c : {Recipient.pInfoCheck, Recipient.pWarningCheck, Recipient.pErrorCheck})
        gtk_box_pack_start(GTK_BOX(checks), c, TRUE, FALSE, 0);
    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
    gtk_box_pack_end(GTK_BOX(box), buttons, FALSE, FALSE, 0);
    PackOkCancel(buttons, window);

    if (mode == 1) {
        const _VTN_MAIL_RECIPIENT_INFO& r = Recipient.Selected;
        SetEntryText(Recipient.pAddressEntry, r.address);
        SetEntryText(Recipient.pNameEntry, r.name);
        gtk_widget_set_sensitive(Recipient.pAddressEntry, FALSE);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Recipient.pInfoCheck), (r.flags & VTN_MAIL_INFO) != 0);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Recipient.pWarningCheck), (r.flags & VTN_MAIL_WARNING) != 0);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Recipient.pErrorCheck), (r.flags & VTN_MAIL_ERROR) != 0);
    }
    gtk_widget_show_all(window);
    RunDialog(window, [window, mode] { return mode == 0 ? AddRecipientOK(window) : ModRecipientOK(window); });
}

namespace {

uint8_t CheckedLevels()
{
    return static_cast<uint8_t>((ToggleActive(Recipient.pInfoCheck) ? VTN_MAIL_INFO : 0) |
                                (ToggleActive(Recipient.pWarningCheck) ? VTN_MAIL_WARNING : 0) |
                                (ToggleActive(Recipient.pErrorCheck) ? VTN_MAIL_ERROR : 0));
}

// The name check both dialogs make; a "Warning" and false when it fails.
bool NameAccepted(const std::string& name)
{
    if (name.empty()) {
        MessageBox("Please enter the recipient name!", "Warning", false);
        return false;
    }
    if (InvalidRecipientName(name.c_str())) {
        MessageBox("Please enter a valid name of the recipient!", "Warning", false);
        return false;
    }
    return true;
}

}  // namespace

bool AddRecipientOK(GtkWidget*)
{
    const std::string address = EntryText(Recipient.pAddressEntry);
    if (address.empty() || InvalidAddress(address.c_str())) {
        MessageBox("Please enter a valid address of the recipient!", "Warning", false);
        return false;
    }
    if (IsRepeatAddress(address.c_str())) {
        MessageBox("This E-mail has been added.", "Warning", false);
        return false;
    }
    if (!NameAccepted(EntryText(Recipient.pNameEntry)))
        return false;
    _VTN_MAIL_RECIPIENT_INFO r{};
    CopyEntryText(r.address, sizeof r.address, Recipient.pAddressEntry);
    CopyEntryText(r.name, sizeof r.name, Recipient.pNameEntry);
    r.flags = CheckedLevels();
    if (cs_vtn_set_mail_recipients(handle, &r, VTN_RECIPIENT_ADD) != 0)
        return RequestFailed("Failed to add the recipient.");
    LoadReceiver();
    return true;
}

bool ModRecipientOK(GtkWidget*)
{
    if (!NameAccepted(EntryText(Recipient.pNameEntry)))
        return false;
    _VTN_MAIL_RECIPIENT_INFO r = Recipient.Selected;
    CopyEntryText(r.name, sizeof r.name, Recipient.pNameEntry);
    int st = cs_vtn_set_mail_recipients(handle, &r, VTN_RECIPIENT_SET_NAME);
    if (st == 0) {
        r.flags = CheckedLevels();
        st = cs_vtn_set_mail_recipients(handle, &r, VTN_RECIPIENT_SET_FLAGS);
    }
    if (st != 0 && handle >= 0) {
        // The name may have changed already: the list shows what the server holds now.
        LoadReceiver();
        return RequestFailed("Failed to modify the recipient.");
    }
    LoadReceiver();
    return true;
}

void DelRecipient()
{
    if (!HasSelection())
        return;
    _VTN_MAIL_RECIPIENT_INFO r = Recipient.Selected;
    char text[512];
    FormatText(text, sizeof text, "Recipient '%s' will be deleted,\n do you want to continue?", r.address);
    if (MessageBox(text, "Confirmation", true) != 1)
        return;
    if (cs_vtn_set_mail_recipients(handle, &r, VTN_RECIPIENT_DELETE) != 0) {
        RequestFailed("Failed to delete the recipient.");
        return;
    }
    LoadReceiver();
}

void TestRecipient()
{
    if (!HasSelection())
        return;
    _VTN_MAIL_RECIPIENT_INFO r = Recipient.Selected;
    if (cs_vtn_test_mail(handle, &r) == 0)
        MessageBox("Mail has been sent successfully.", "Confirmation", false);
    else
        RequestFailed("Failed to send Mail.");
}
