// Remote implementations behind the client API: connection slots, login, event channel,
// management requests and driver calls through the server.
#pragma once
#include <cstdint>

#include "client.h"
#include "commu.h"

// One connection slot; a handle is the index of a slot in gConnections.
struct _Vtn_Client_Connection {
    char host[64];                      // host given at connect
    int commandSocket;                  // request connection, -1 when closed
    int eventSocket;                    // event channel, -1 when closed
    uint16_t port;                      // request port given at connect
    uint16_t eventPort;                 // from the post-login notice
    uint16_t clientIndex;               // server's slot index, from the post-login notice
    uint8_t flags;                      // VTN_CONN_CONNECTED; 0 = free
    void (*userCallback)();             // the caller's connection-broken callback
    _CALLBACK_PARAM transportCallback;  // internal_callback with this slot's index
    uint32_t driverVersion;             // read once at connect (control 0xFF00)
};

constexpr int VTN_CLIENT_SLOTS = 2;
constexpr uint8_t VTN_CONN_CONNECTED = 0x01;
// Driver versions above this take the newer device and creation records.
constexpr uint32_t VTN_DRIVER_OLD_RECORDS_MAX = 0x0100FFFF;
// Wait for every send and receive on the request connection, in seconds.
constexpr int VTN_CLIENT_WAIT_SECONDS = 160;

extern _Vtn_Client_Connection gConnections[VTN_CLIENT_SLOTS];

// The wait of every send and receive of the client (default 160 s); tests shorten it.
void SetClientWaitSeconds(int seconds);
int GetClientWaitSeconds();

// Fills the function table with the net_vtn_ implementations.
void InitFunctions(_CS_FUNCTION_TABLE* table);
// A free slot: flags 0, both sockets -1, no callbacks. Closes nothing.
void ResetConnectionSlot(_Vtn_Client_Connection* slot);
// The slot for a handle when it is 0 or 1 and connected, else nullptr.
_Vtn_Client_Connection* ConnectedSlot(int handle);

// Login exchange on slot->commandSocket; 0 or a status word. Zeroes info->password.
int handshakewithserver(_Vtn_Client_Connection* slot, _CS_CONNECTION_INFO* info);
// Transport callback of a connected slot: closes both sockets, frees the slot, then runs the
// caller's connection-broken callback.
void internal_callback(int slot);

// Reads one 28-byte status packet whole: 0 (status at err->status) or -1. A reply that is not
// a whole status packet drops the connection through cb.
int GetErrorFromServer(int sock, _Packet_Error* err, int timeout_s, _CALLBACK_PARAM* cb);
// Reads one data reply of exactly len bytes into buf: 0; VTN_STATUS_INSTEAD when a status
// packet waits (left in the socket); -1 or VTN_RECV_TIMEOUT on failure (connection dropped).
int GetResultFromServer(int sock, char* buf, int len, int timeout_s, _CALLBACK_PARAM* cb);

// One driver call through the server: 0, or -1, VTN_NO_MEMORY or the server's status word.
int User_DeviceIoControl(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                         uint32_t* returned, int handle);

// Older device record (174) to newer (216): 1.
int convertDeviceInfo(_LOGICAL_DEVICE_INFO* from, _LOGICAL_DEVICE_INFO_V2* to);
// Newer creation record (176) to older (136): 1, or 0 (nothing written) above 8 members.
int convertParam(_CREATE_ARRAY_PARAMS_V2* from, _CREATE_ARRAY_PARAMS* to);

int net_vtn_connect_system(_CS_CONNECTION_INFO* info);
int net_vtn_disconnect_system(int handle);
int net_vtn_get_server_info(int handle, _CS_SERVER_INFO* info);
int net_vtn_get_server_param(int handle, _CS_ALTERABLE_SERVER_PARAM* param);
int net_vtn_set_server_param(int handle, _CS_ALTERABLE_SERVER_PARAM* param);
int net_vtn_reboot_server(int handle);
int net_vtn_get_current_user(int handle, _VTN_USER_INFO* user);
int net_vtn_enum_user(int handle, _VTN_USER_INFO* user, int index);
int net_vtn_set_user(int handle, _VTN_USER_INFO* user, uint8_t action);
int net_vtn_enable_event_notify(int handle, uint8_t on);
int net_vtn_enum_event(int handle, _VTN_LOG_EVENT* event, int index);
int net_vtn_get_log_event(int handle, _VTN_LOG_EVENT* event);
int net_vtn_drain_log_events(int handle);
int net_vtn_save_log_event(int handle, _VTN_LOG_EVENT* event);
int net_vtn_clear_event_log(int handle);
int net_vtn_get_smtp_server(int handle, _VTN_SMTP_SERVER_INFO* info);
int net_vtn_set_smtp_server(int handle, _VTN_SMTP_SERVER_INFO* info);
int net_vtn_enum_mail_recipient(int handle, _VTN_MAIL_RECIPIENT_INFO* r, int index);
int net_vtn_set_mail_recipients(int handle, _VTN_MAIL_RECIPIENT_INFO* r, uint8_t action);
int net_vtn_test_mail(int handle, _VTN_MAIL_RECIPIENT_INFO* r);
int net_vtn_enum_tasks(int handle, _VTN_TASK_INFO* task, int index);
int net_vtn_set_task(int handle, _VTN_TASK_INFO* task, uint8_t action);
unsigned int net_vtn_get_version(int handle);
int net_vtn_get_driver_capabilities(int handle, _DRIVER_CAPABILITIES* caps);
int net_vtn_get_controller_count(int handle);
int net_vtn_get_controller_info(int handle, int controller, _CONTROLLER_INFO* info);
int net_vtn_get_channel_info(int handle, int controller, int channel, _CHANNEL_INFO* info);
int net_vtn_get_logical_devices(int handle, unsigned int* ids, int max);
int net_vtn_get_device_info(int handle, unsigned int id, _LOGICAL_DEVICE_INFO_V2* info);
unsigned int net_vtn_create_array(int handle, _CREATE_ARRAY_PARAMS_V2* params);
int net_vtn_delete_array(int handle, unsigned int id, unsigned int flag);
int net_vtn_add_disk_to_array(int handle, unsigned int array, unsigned int disk);
int net_vtn_add_spare_disk(int handle, unsigned int disk);
int net_vtn_remove_spare_disk(int handle, unsigned int disk);
int net_vtn_set_array_state(int handle, unsigned int array, unsigned int state);
int net_vtn_set_array_info(int handle, unsigned int array, _ALTERABLE_ARRAY_INFO* info);
int net_vtn_set_device_info(int handle, unsigned int id, _ALTERABLE_DEVICE_INFO* info);
int net_vtn_set_device_info_v2(int handle, unsigned int id, _ALTERABLE_DEVICE_INFO_V2* info);
int net_vtn_rescan_devices(int handle);
int net_vtn_get_qzr_info(int handle, unsigned int id, _VTNQZR_INFO* info);
int net_vtn_set_qzr_info(int handle, unsigned int id, _VTNQZR_INFO* info);
int net_vtn_lock_device(int handle, unsigned int id, unsigned int how, uint8_t flag);
int net_vtn_unlock_device(int handle, unsigned int id);
int net_vtn_ide_pass_through(int handle, _IDE_PASS_THROUGH_HEADER* header);
int net_vtn_add_dedicated_spare(int handle, unsigned int array, unsigned int disk);
int net_vtn_remove_devices(int handle, unsigned int count, unsigned int* ids);
int net_vtn_query_remove(int handle, unsigned int count, unsigned int* ids);
