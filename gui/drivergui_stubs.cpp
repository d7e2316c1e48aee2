// Empty bodies of routines that the login and the timer call and that come with later work: the
// array-health probes and the password dialog. Each goes when its real body arrives.
#include "drivergui.h"
#include "signfunc.h"

void CMainWindow::ProbeArrayState(bool, uint32_t)
{
}

int nSetPassWdCalls = 0;

void SetPassWd(int)
{
    ++nSetPassWdCalls;
}
