// Empty bodies of routines that the login calls and that come with later work: the password
// dialog. Each goes when its real body arrives.
#include "drivergui.h"
#include "signfunc.h"

int nSetPassWdCalls = 0;

void SetPassWd(int)
{
    ++nSetPassWdCalls;
}
