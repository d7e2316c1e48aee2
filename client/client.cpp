// The client API: each call passes its arguments unchanged to its slot of gFuncs.
#include "client.h"

#include <cstring>

#include "netfuncs.h"

_CS_INTERFACE_INFO gLibInfo;
_CS_FUNCTION_TABLE gFuncs;

int cs_vtn_client_init()
{
    memset(&gLibInfo, 0, sizeof(gLibInfo));
    memset(&gFuncs, 0, sizeof(gFuncs));
    // Forgets both connections; their sockets are not closed.
    for (auto& slot : gConnections)
        ResetConnectionSlot(&slot);
    gLibInfo.version = VTN_CLIENT_INTERFACE_VERSION;
    gLibInfo.major = 2;
    gLibInfo.minor = 6;
    InitFunctions(&gFuncs);
    return 0;
}

int cs_vtn_get_lib_info(_CS_INTERFACE_INFO* info)
{
    if (info != nullptr)
        memcpy(info, &gLibInfo, sizeof(gLibInfo));
    return 0;
}

void VtnClientDeInit() {}

int cs_vtn_connect_system(_CS_CONNECTION_INFO* info)
{
    return gFuncs.connect_system(info);
}

int cs_vtn_disconnect_system(int handle)
{
    return gFuncs.disconnect_system(handle);
}

int cs_vtn_get_server_info(int handle, _CS_SERVER_INFO* info)
{
    return gFuncs.get_server_info(handle, info);
}

int cs_vtn_get_server_param(int handle, _CS_ALTERABLE_SERVER_PARAM* param)
{
    return gFuncs.get_server_param(handle, param);
}

int cs_vtn_set_server_param(int handle, _CS_ALTERABLE_SERVER_PARAM* param)
{
    return gFuncs.set_server_param(handle, param);
}

int cs_vtn_reboot_server(int handle)
{
    return gFuncs.reboot_server(handle);
}

int cs_vtn_get_current_user(int handle, _VTN_USER_INFO* user)
{
    return gFuncs.get_current_user(handle, user);
}

int cs_vtn_enum_user(int handle, _VTN_USER_INFO* user, int index)
{
    return gFuncs.enum_user(handle, user, index);
}

int cs_vtn_set_user(int handle, _VTN_USER_INFO* user, uint8_t action)
{
    return gFuncs.set_user(handle, user, action);
}

int cs_vtn_enable_event_notify(int handle, uint8_t on)
{
    return gFuncs.enable_event_notify(handle, on);
}

int cs_vtn_enum_event(int handle, _VTN_LOG_EVENT* event, int index)
{
    return gFuncs.enum_event(handle, event, index);
}

int cs_vtn_get_log_event(int handle, _VTN_LOG_EVENT* event)
{
    return gFuncs.get_log_event(handle, event);
}

int cs_vtn_drain_log_events(int handle)
{
    return net_vtn_drain_log_events(handle);
}

int cs_vtn_save_log_event(int handle, _VTN_LOG_EVENT* event)
{
    return gFuncs.save_log_event(handle, event);
}

int cs_vtn_clear_event_log(int handle)
{
    return gFuncs.clear_event_log(handle);
}

int cs_vtn_get_smtp_server(int handle, _VTN_SMTP_SERVER_INFO* info)
{
    return gFuncs.get_smtp_server(handle, info);
}

int cs_vtn_set_smtp_server(int handle, _VTN_SMTP_SERVER_INFO* info)
{
    return gFuncs.set_smtp_server(handle, info);
}

int cs_vtn_enum_mail_recipient(int handle, _VTN_MAIL_RECIPIENT_INFO* r, int index)
{
    return gFuncs.enum_mail_recipient(handle, r, index);
}

int cs_vtn_set_mail_recipients(int handle, _VTN_MAIL_RECIPIENT_INFO* r, uint8_t action)
{
    return gFuncs.set_mail_recipients(handle, r, action);
}

int cs_vtn_test_mail(int handle, _VTN_MAIL_RECIPIENT_INFO* r)
{
    return gFuncs.test_mail(handle, r);
}

int cs_vtn_enum_tasks(int handle, _VTN_TASK_INFO* task, int index)
{
    return gFuncs.enum_tasks(handle, task, index);
}

int cs_vtn_set_task(int handle, _VTN_TASK_INFO* task, uint8_t action)
{
    return gFuncs.set_task(handle, task, action);
}

unsigned int cs_vtn_get_version(int handle)
{
    return gFuncs.get_version(handle);
}

int cs_vtn_get_driver_capabilities(int handle, _DRIVER_CAPABILITIES* caps)
{
    return gFuncs.get_driver_capabilities(handle, caps);
}

int cs_vtn_get_controller_count(int handle)
{
    return gFuncs.get_controller_count(handle);
}

int cs_vtn_get_controller_info(int handle, int controller, _CONTROLLER_INFO* info)
{
    return gFuncs.get_controller_info(handle, controller, info);
}

int cs_vtn_get_channel_info(int handle, int controller, int channel, _CHANNEL_INFO* info)
{
    return gFuncs.get_channel_info(handle, controller, channel, info);
}

int cs_vtn_get_logical_devices(int handle, unsigned int* ids, int max)
{
    return gFuncs.get_logical_devices(handle, ids, max);
}

int cs_vtn_get_device_info(int handle, unsigned int id, _LOGICAL_DEVICE_INFO_V2* info)
{
    return gFuncs.get_device_info(handle, id, info);
}

unsigned int cs_vtn_create_array(int handle, _CREATE_ARRAY_PARAMS_V2* params)
{
    return gFuncs.create_array(handle, params);
}

int cs_vtn_delete_array(int handle, unsigned int id, unsigned int flag)
{
    return gFuncs.delete_array(handle, id, flag);
}

int cs_vtn_add_disk_to_array(int handle, unsigned int array, unsigned int disk)
{
    return gFuncs.add_disk_to_array(handle, array, disk);
}

int cs_vtn_add_spare_disk(int handle, unsigned int disk)
{
    return gFuncs.add_spare_disk(handle, disk);
}

int cs_vtn_remove_spare_disk(int handle, unsigned int disk)
{
    return gFuncs.remove_spare_disk(handle, disk);
}

int cs_vtn_set_array_state(int handle, unsigned int array, unsigned int state)
{
    return gFuncs.set_array_state(handle, array, state);
}

int cs_vtn_set_array_info(int handle, unsigned int array, _ALTERABLE_ARRAY_INFO* info)
{
    return gFuncs.set_array_info(handle, array, info);
}

int cs_vtn_set_device_info(int handle, unsigned int id, _ALTERABLE_DEVICE_INFO* info)
{
    return gFuncs.set_device_info(handle, id, info);
}

int cs_vtn_set_device_info_v2(int handle, unsigned int id, _ALTERABLE_DEVICE_INFO_V2* info)
{
    return gFuncs.set_device_info_v2(handle, id, info);
}

int cs_vtn_rescan_devices(int handle)
{
    return gFuncs.rescan_devices(handle);
}

int cs_vtn_get_qzr_info(int handle, unsigned int id, _VTNQZR_INFO* info)
{
    return gFuncs.get_qzr_info(handle, id, info);
}

int cs_vtn_set_qzr_info(int handle, unsigned int id, _VTNQZR_INFO* info)
{
    return gFuncs.set_qzr_info(handle, id, info);
}

int cs_vtn_lock_device(int handle, unsigned int id, unsigned int how, uint8_t flag)
{
    return gFuncs.lock_device(handle, id, how, flag);
}

int cs_vtn_unlock_device(int handle, unsigned int id)
{
    return gFuncs.unlock_device(handle, id);
}

int cs_vtn_ide_pass_through(int handle, _IDE_PASS_THROUGH_HEADER* header)
{
    return gFuncs.ide_pass_through(handle, header);
}

int cs_vtn_add_dedicated_spare(int handle, unsigned int array, unsigned int disk)
{
    return gFuncs.add_dedicated_spare(handle, array, disk);
}

int cs_vtn_remove_devices(int handle, unsigned int count, unsigned int* ids)
{
    return gFuncs.remove_devices(handle, count, ids);
}

int cs_vtn_query_remove(int handle, unsigned int count, unsigned int* ids)
{
    return gFuncs.query_remove(handle, count, ids);
}
