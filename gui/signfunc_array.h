// The array operations of the Array Management and Device Management toolbars and the timer's
// refresh of a busy array's page. The operations themselves (ReScan, DeleteArray, RenameArray,
// AddDiskArray, VerifyArray, RebuildArray, AbortArray) are declared with the other toolbar
// callbacks in drivergui.h.
#pragma once
#include <cstdint>
#include <gtk/gtk.h>

// The rename dialog's widgets.
struct _RENAME_DIALOG {
    GtkWidget* pNameEntry;
    GtkWidget* pOKButton;
};
extern _RENAME_DIALOG RenDia;
// The rename dialog's answer: accepted, done.
extern uint8_t oksele;
extern uint8_t selected;

// State request 1 (rebuild) or 4 (verify) for the selected array.
void DuplicateArray(bool rebuild);
// Timer: redraws the selected array's page while it rebuilds, verifies or initialises.
void FreshArray();
// Rename dialog buttons and its key handler.
void ok_select(GtkWidget* button);
void cancel_select(GtkWidget* button);
gboolean sigh_Enter(GtkWidget* window, GdkEvent* event, void* data);
