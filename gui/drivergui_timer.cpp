// The 2000 ms timer of the main window.
#include "drivergui.h"

int CMainWindow::SysTimer(void*)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || handle < 0 || win->GetCurrForm("Event View") == nullptr || !win->bTimerOn)
        return -1;
    // The intake of pushed events comes with the event log view.
    return 1;
}
