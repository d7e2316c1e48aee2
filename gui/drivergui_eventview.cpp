// Handlers of the Event View form; the filter and the sorts come with the event log view.
#include "drivergui.h"

void log_toggle_regular(GtkWidget*)
{
}

void log_toggle_warning(GtkWidget*)
{
}

void log_toggle_critical(GtkWidget*)
{
}

void log_click_column(GtkWidget*, int, void*)
{
}
