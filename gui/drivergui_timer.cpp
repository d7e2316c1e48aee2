// The 2000 ms timer of the main window: the intake of the events the server pushes, with the
// checks some of them call for; the 100 ms drain that reads them into the client's buffer, also
// while a box waits; and the check of a failed disk inside a RAID 1/0.
#include <cstring>

#include "client.h"
#include "drivergui.h"
#include "locallog.h"
#include "signfunc.h"
#include "textutil.h"

namespace {

// Offsets in the pushed event of the driver event's device id and kind.
constexpr size_t kEventDeviceOffset = 8;
constexpr size_t kEventKindOffset = 12;

const char* const kRebootQuestion =
    "The array will not be available until \nyou reboot the system.\nDo you want to reboot the system now?";

// The box title of a severity; null for one that is none of 'I', 'W', 'E'.
const char* SeverityTitle(char severity)
{
    switch (severity) {
    case 'I': return "Confirmation";
    case 'W': return "Warning";
    case 'E': return "Error";
    default: return nullptr;
    }
}

bool Alive(CMainWindow* win)
{
    return GetMainWindow() == win && handle >= 0;
}

// True when id is a single disk at the top level of the device tree.
bool IsTopLevelDisk(uint32_t id)
{
    for (ClDiskArrayIterator it(VTN_ID_SYSTEM); it; ++it) {
        CDisk d;
        d = **it;
        if (d.nType == VTN_DEVICE_DISK && d.GetID() == id)
            return true;
    }
    return false;
}

// The checks of one event that names a device, then the trees. False when the window went or the
// connection broke meanwhile.
bool CheckDevice(CMainWindow* win, uint32_t device, uint8_t kind)
{
    CDiskArray dev;
    dev = device;
    switch (kind) {
    case VTN_EVENT_MEMBER_FAILED:
        win->ProbeRaid10Rebuid(device);
        break;
    case VTN_EVENT_DEVICE_PLUGGED:
        if (!(dev.nStatus & VTN_DISK_BOOTABLE) && IsTopLevelDisk(device))
            win->ProbeArrayState(true, device);
        break;
    case VTN_EVENT_REBUILD_COMPLETED:
    case VTN_EVENT_INIT_COMPLETED:
        if (dev.nType == VTN_DEVICE_ARRAY && (dev.nStatus & VTN_ARRAY_NOT_AVAILABLE) &&
            MessageBox(kRebootQuestion, "Confirmation", true) == 1 && Alive(win))
            Reboot();  // a refused reboot leaves the machine as it is; nothing to tell
        break;
    default:
        break;
    }
    if (!Alive(win))
        return false;
    win->FreshTree();
    return Alive(win);
}

// One pushed event: its box, its line in the local copy, its checks, its row. False when the
// window went or the connection broke meanwhile.
bool TakeEvent(CMainWindow* win, const _VTN_LOG_EVENT& event)
{
    char when[VTN_LOG_TIME_SIZE];
    LogTimeText(event.time, when, sizeof when);
    const char* title = SeverityTitle(event.severity);
    if (title) {
        MessageBox(event.text, title, false);
        if (GetMainWindow() != win)
            return false;
    }
    AppendLocalLog(event.severity, when, event.text);  // a failure is told there; the row still comes
    uint32_t device = VTN_ID_NONE;
    uint8_t kind = 0;
    ReadField(&event, sizeof event, kEventDeviceOffset, &device);
    ReadField(&event, sizeof event, kEventKindOffset, &kind);
    bool alive = Alive(win);
    if (alive && device != VTN_ID_NONE)
        alive = CheckDevice(win, device, kind);
    if (GetMainWindow() == win)
        AddToClist(event.severity, when, event.text);  // nothing for another severity
    return alive;
}

}  // namespace

int CMainWindow::SysTimer(void*)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr || handle < 0 || win->GetCurrForm("Event View") == nullptr || !win->bTimerOn)
        return -1;
    _VTN_LOG_EVENT event;
    while (handle >= 0 && cs_vtn_get_log_event(handle, &event) == 0)
        if (!TakeEvent(win, event))
            return 1;
    if (Alive(win))
        FreshArray();
    return 1;
}

int CMainWindow::DrainEvents(void*)
{
    // A channel that broke has told ConnectOut; the events it holds wait for SysTimer.
    if (GetMainWindow() != nullptr && handle >= 0)
        cs_vtn_drain_log_events(handle);
    return G_SOURCE_CONTINUE;
}

void CMainWindow::ProbeRaid10Rebuid(uint32_t id)
{
    auto none = [](uint32_t x) { return x == VTN_ID_SYSTEM || x == VTN_ID_NONE; };
    CDiskArray disk;
    disk = id;
    const uint32_t parentId = disk.GetParentID();
    if (none(parentId))
        return;
    CDiskArray parent;
    parent = parentId;
    const uint32_t grandId = parent.GetParentID();
    if (none(grandId))
        return;
    CDiskArray grand;
    grand = grandId;
    if (!grand.IsRAID10() || !(parent.nStatus & VTN_ARRAY_DISABLED))
        return;
    for (ClDiskArrayIterator it(grandId); it; ++it) {
        CDiskArray member;
        member = **it;
        // The aborts' results are not checked: the events tell what happened.
        if (member.nStatus & VTN_ARRAY_REBUILDING)
            cs_vtn_set_array_state(handle, member.GetID(), VTN_STATE_ABORT_REBUILD);
        else if (member.nStatus & VTN_ARRAY_VERIFYING)
            cs_vtn_set_array_state(handle, member.GetID(), VTN_STATE_ABORT_VERIFY);
    }
}
