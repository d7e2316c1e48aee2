// Scheduled tasks: the Task Schedule Management form's entry points. Their dialogs come with their
// own work; the menu and the toolbar reach them here.
#include "drivergui.h"

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
