// Empty bodies of routines that the login and the timer call and that come with later work: the
// array-health probes. Each goes when its real body arrives.
#include "drivergui.h"
#include "signfunc.h"

void CMainWindow::ProbeArrayState(bool, uint32_t)
{
}
