// The recording fake of the driver calls (fakedriver.h) and recording stand-ins for the GUI's
// message box and event-row hook. Include it in exactly one source file of a test program that does
// not link the GUI: it defines those two functions.
#pragma once
#include "damui.h"
#include "fakedriver.h"

int MessageBox(const char* text, const char* title, bool withCancel)
{
    gShownBoxes.push_back({text ? text : "", title ? title : "", withCancel});
    return 1;
}

void AddToClist(char severity, const char* time, const char* text)
{
    gEventRows.push_back({severity, time ? time : "", text ? text : ""});
}
