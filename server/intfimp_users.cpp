// Server-local user, event-log and server-information services. The first int of the
// cs_vtn_ functions (a connection handle in the client API's shape) is ignored.
#include <sys/utsname.h>

#include <cstring>

#include "global.h"
#include "intfimp.h"
#include "svrrec.h"

uint32_t cs_vtn_enum_user(int, _VTN_USER_INFO* user, int index)
{
    return EnumUser(user, index);
}

uint32_t cs_vtn_set_user(int, _VTN_USER_INFO* user, uint8_t action)
{
    return SetUser(user, action);
}

uint32_t cs_vtn_enum_event(int, _VTN_LOG_EVENT* event, int index)
{
    return EnumEvent(event, index);
}

uint32_t cs_vtn_save_log_event(int, _VTN_LOG_EVENT* event)
{
    SaveEventToFile(event);
    return VTN_SUCCESS;
}

uint32_t cs_vtn_clear_event_log(int)
{
    return static_cast<uint32_t>(Clear_EventLog());
}

void VtnFillServerInfo(_CS_SERVER_INFO* info)
{
    memset(info, 0, sizeof(*info));
    info->version = VTN_SERVER_INTERFACE_VERSION;
    info->kind = 3;
    info->revision = 1;
    struct utsname u {};
    if (uname(&u) == 0) {
        CopyText(info->osName, u.sysname);
        CopyText(info->hostName, u.nodename);
        CopyText(info->osVersion, u.version);
    }
    SetTimeRecord(&info->time);
}
