// The repair dialogs of the array-health probe and of "Add Disk"; they come with their own work.
#include "drivergui.h"

bool CMainWindow::addtoarray(uint32_t, bool)
{
    return false;
}
