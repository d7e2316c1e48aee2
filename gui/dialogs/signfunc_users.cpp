// Users, rights and passwords; the dialogs come with their own work.
#include "drivergui.h"

void UserManageMent()
{
}

void SetCurrentPass()
{
}
