// Rights gating of the menu bar and the toolbars; the rules come with the login.
#include "drivergui.h"

void CMainWindow::FreshPrivilege()
{
}

void CMainWindow::FreshRemoteConTool()
{
}
