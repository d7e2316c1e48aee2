// Empty bodies of routines that the login and the timer call and that come with later work: the
// Array Management toolbar and the tree selection, the busy-array refresh and the array-health
// probes. Each goes when its real body arrives.
#include "drivergui.h"
#include "signfunc.h"

void CMainWindow::FreshArrayManTool(uint32_t)
{
}

uint32_t GetTreeSelectedID(GtkWidget*)
{
    return VTN_ID_NONE;
}

void FreshArray()
{
}

void CMainWindow::ProbeArrayState(bool, uint32_t)
{
}
