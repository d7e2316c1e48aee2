// Mail notification, system configuration, scheduled tasks, the icon legend, About and help.
// Their dialogs come with their own work; the toolbar and menu entries reach them here.
#include "drivergui.h"

void SMTPServerSet()
{
}

void AddRecipient()
{
}

void ModRecipient()
{
}

void DelRecipient()
{
}

void TestRecipient()
{
}

void LoadReceiver()
{
}

void ReceiverSelect(GtkWidget*, int, int, GdkEventButton*, void*)
{
}

void SetSysConfig()
{
}

void TaskManagement()
{
}

void AddNewTask()
{
}

void ModifyTask()
{
}

void DeleteTask()
{
}

void LoadIcons()
{
}

void HelpTop()
{
}

void AboutBox()
{
}
