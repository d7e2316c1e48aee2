// Mail notification (the SMTP settings, the recipients list and its dialog, the test mail), the
// system configuration dialog, and the icon legend, the About box and the help browser.
#pragma once
#include <cstdint>
#include <gtk/gtk.h>

#include "svrrec.h"

// The layout of the SMTP and configuration dialogs: a frame (border 1) at the left of row holding
// a column (border 5) for the fields, and OK above Cancel at its right. The field column.
GtkWidget* FieldsBeside(GtkWidget* window, GtkWidget* row);
// A grid for label and entry rows (GridEntry) at the end of the field column.
GtkWidget* FieldGrid(GtkWidget* column);

// ---- mail ---------------------------------------------------------------------------------------

// The SMTP dialog's widgets, then the settings as last loaded from the server (zero until a load
// succeeds).
struct _SMTP_SET {
    GtkWidget* pEnableCheck;
    GtkWidget* pServerEntry;
    GtkWidget* pPortEntry;
    GtkWidget* pFromEntry;
    _VTN_SMTP_SERVER_INFO Info;
};

// The recipient dialog's widgets, then the recipient of the list's last selection.
struct _RECIPIENT {
    GtkWidget* pAddressEntry;
    GtkWidget* pNameEntry;
    GtkWidget* pInfoCheck;
    GtkWidget* pWarningCheck;
    GtkWidget* pErrorCheck;
    _VTN_MAIL_RECIPIENT_INFO Selected;
};

extern _SMTP_SET SMTPSet;
extern _RECIPIENT Recipient;

void LoadSMTPSet();
bool SMTPSetOK(GtkWidget* dialog);
// 0 add, 1 modify the selected recipient.
void BaseRecipient(int mode);
bool AddRecipientOK(GtkWidget* dialog);
bool ModRecipientOK(GtkWidget* dialog);
// True when the text is no address the server can mail to: no '@', '@' first, no '.' after the
// '@' or one right after it; blanks, control characters, '<' or '>'; more than 63 bytes.
bool InvalidAddress(const char* text);
// True when a name cannot go into a mail header: control characters, '<' or '>', more than 63 bytes.
bool InvalidRecipientName(const char* text);
// True when the address is the "E-mail" cell of a row of the recipients list.
bool IsRepeatAddress(const char* text);
// The "Event Level" text of recipient flags: "Information", "Warning", "Error", joined by ",".
void LevelText(uint8_t flags, char* buf, size_t size);

// ---- system configuration ------------------------------------------------------------------------

struct _SYS_CONFIG {
    GtkWidget* pSystemPortEntry;
    GtkWidget* pEventPortEntry;
};
extern _SYS_CONFIG SysConfig;

// A port as typed: a decimal number 1..65535, nothing else.
bool PortNumber(const char* text, uint16_t* port);
// PortNumber, or false after a box titled title that names the text.
bool PortAccepted(const char* text, uint16_t* port, const char* title);

// ---- icon legend, About and help -----------------------------------------------------------------

constexpr int VTN_LEGEND_ROWS = 25;
extern const char** const LegendIcons[VTN_LEGEND_ROWS];
extern const char* const LegendTexts[VTN_LEGEND_ROWS];

constexpr const char* kBrowserLink = "/usr/bin/rudevoz";
constexpr const char* kHelpPage = "file:///usr/share/doc/vtnraid/index.htm";
constexpr const char* kWebSite = "http://www.vorathine.com";

gboolean aboutHelp(GtkWidget* widget, GdkEventButton* event);
// Starts the program "rudevoz" (found on the search path) with page as its one argument, without
// waiting for it; without "/usr/bin/rudevoz", shows missing titled "Warning" instead.
void StartBrowser(const char* page, const char* missing);
// Browsers started and not yet collected; *lastStatus gets the wait status of the last one
// collected (-1 before any).
int BrowserChildren(int* lastStatus = nullptr);
