// The client API: the GUI's only way to a server. Each cs_vtn_ call goes through one slot of
// gFuncs, which cs_vtn_client_init fills with the remote implementations (netfuncs.h).
// Results: 0 or a value on success, -1 for a bad handle, a transport failure or a malformed
// reply, otherwise the status word the server sent.
#pragma once
#include <cstddef>
#include <cstdint>

#include "drvrec.h"
#include "global_log.h"
#include "global_task.h"
#include "global_user.h"
#include "svrrec.h"

struct _IDE_PASS_THROUGH_HEADER;  // never defined: the pass-through is not served

#pragma pack(push, 1)
// The library's description.
struct _CS_INTERFACE_INFO {
    uint32_t version;  // VTN_CLIENT_INTERFACE_VERSION
    uint8_t major;     // 2
    uint8_t minor;     // 6
    uint8_t reserved[2];
};

// What the caller passes to cs_vtn_connect_system.
struct _CS_CONNECTION_INFO {
    char host[64];         // host name or dotted address
    uint16_t port;         // request port (GUI default 7402)
    uint16_t loginKind;    // 0: user of the users file (the GUI always sends 0)
    char user[64];
    char password[64];     // clear text; zeroed by every login exchange that reached the server
    void (*callback)();    // required: run when the transport fails on this connection
};
#pragma pack(pop)
static_assert(sizeof(_CS_INTERFACE_INFO) == 8);
static_assert(offsetof(_CS_CONNECTION_INFO, port) == 64);
static_assert(offsetof(_CS_CONNECTION_INFO, loginKind) == 66);
static_assert(offsetof(_CS_CONNECTION_INFO, user) == 68);
static_assert(offsetof(_CS_CONNECTION_INFO, password) == 132);
static_assert(offsetof(_CS_CONNECTION_INFO, callback) == 196);

constexpr uint32_t VTN_CLIENT_INTERFACE_VERSION = 0x01010000;
constexpr uint16_t VTN_DEFAULT_SERVER_PORT = 7402;

// The function table: 46 slots in this order.
struct _CS_FUNCTION_TABLE {
    int (*connect_system)(_CS_CONNECTION_INFO* info);                                   // 0
    int (*disconnect_system)(int handle);                                               // 1
    int (*get_server_info)(int handle, _CS_SERVER_INFO* info);                          // 2
    int (*get_server_param)(int handle, _CS_ALTERABLE_SERVER_PARAM* param);             // 3
    int (*set_server_param)(int handle, _CS_ALTERABLE_SERVER_PARAM* param);             // 4
    int (*reboot_server)(int handle);                                                   // 5
    int (*get_current_user)(int handle, _VTN_USER_INFO* user);                          // 6
    int (*enum_user)(int handle, _VTN_USER_INFO* user, int index);                      // 7
    int (*set_user)(int handle, _VTN_USER_INFO* user, uint8_t action);                  // 8
    int (*enable_event_notify)(int handle, uint8_t on);                                 // 9
    int (*enum_event)(int handle, _VTN_LOG_EVENT* event, int index);                    // 10
    int (*get_log_event)(int handle, _VTN_LOG_EVENT* event);                            // 11
    int (*save_log_event)(int handle, _VTN_LOG_EVENT* event);                           // 12
    int (*clear_event_log)(int handle);                                                 // 13
    int (*get_smtp_server)(int handle, _VTN_SMTP_SERVER_INFO* info);                    // 14
    int (*set_smtp_server)(int handle, _VTN_SMTP_SERVER_INFO* info);                    // 15
    int (*enum_mail_recipient)(int handle, _VTN_MAIL_RECIPIENT_INFO* r, int index);     // 16
    int (*set_mail_recipients)(int handle, _VTN_MAIL_RECIPIENT_INFO* r, uint8_t action);// 17
    int (*test_mail)(int handle, _VTN_MAIL_RECIPIENT_INFO* r);                          // 18
    int (*enum_tasks)(int handle, _VTN_TASK_INFO* task, int index);                     // 19
    int (*set_task)(int handle, _VTN_TASK_INFO* task, uint8_t action);                  // 20
    unsigned int (*get_version)(int handle);                                            // 21
    int (*get_driver_capabilities)(int handle, _DRIVER_CAPABILITIES* caps);             // 22
    int (*get_controller_count)(int handle);                                            // 23
    int (*get_controller_info)(int handle, int controller, _CONTROLLER_INFO* info);     // 24
    int (*get_channel_info)(int handle, int controller, int channel, _CHANNEL_INFO* info); // 25
    int (*get_logical_devices)(int handle, unsigned int* ids, int max);                 // 26
    int (*get_device_info)(int handle, unsigned int id, _LOGICAL_DEVICE_INFO_V2* info); // 27
    unsigned int (*create_array)(int handle, _CREATE_ARRAY_PARAMS_V2* params);          // 28
    int (*delete_array)(int handle, unsigned int id, unsigned int flag);                // 29
    int (*add_disk_to_array)(int handle, unsigned int array, unsigned int disk);        // 30
    int (*add_spare_disk)(int handle, unsigned int disk);                               // 31
    int (*remove_spare_disk)(int handle, unsigned int disk);                            // 32
    int (*set_array_state)(int handle, unsigned int array, unsigned int state);         // 33
    int (*set_array_info)(int handle, unsigned int array, _ALTERABLE_ARRAY_INFO* info); // 34
    int (*set_device_info)(int handle, unsigned int id, _ALTERABLE_DEVICE_INFO* info);  // 35
    int (*set_device_info_v2)(int handle, unsigned int id, _ALTERABLE_DEVICE_INFO_V2* info); // 36
    int (*rescan_devices)(int handle);                                                  // 37
    int (*get_qzr_info)(int handle, unsigned int id, _VTNQZR_INFO* info);               // 38
    int (*set_qzr_info)(int handle, unsigned int id, _VTNQZR_INFO* info);               // 39
    int (*lock_device)(int handle, unsigned int id, unsigned int how, uint8_t flag);    // 40
    int (*unlock_device)(int handle, unsigned int id);                                  // 41
    int (*ide_pass_through)(int handle, _IDE_PASS_THROUGH_HEADER* header);              // 42
    int (*add_dedicated_spare)(int handle, unsigned int array, unsigned int disk);      // 43
    int (*remove_devices)(int handle, unsigned int count, unsigned int* ids);           // 44
    int (*query_remove)(int handle, unsigned int count, unsigned int* ids);             // 45
};
constexpr int VTN_CLIENT_FUNCTION_SLOTS = 46;
static_assert(sizeof(_CS_FUNCTION_TABLE) == VTN_CLIENT_FUNCTION_SLOTS * sizeof(void*));

extern _CS_INTERFACE_INFO gLibInfo;
extern _CS_FUNCTION_TABLE gFuncs;

// Zeroes the library state, frees both connection slots (without closing their sockets) and
// fills gFuncs. Returns 0.
int cs_vtn_client_init();
int cs_vtn_get_lib_info(_CS_INTERFACE_INFO* info);
void VtnClientDeInit();

// Connection (handle = connection slot, 0 or 1).
int cs_vtn_connect_system(_CS_CONNECTION_INFO* info);
int cs_vtn_disconnect_system(int handle);

// Server.
int cs_vtn_get_server_info(int handle, _CS_SERVER_INFO* info);
int cs_vtn_get_server_param(int handle, _CS_ALTERABLE_SERVER_PARAM* param);
int cs_vtn_set_server_param(int handle, _CS_ALTERABLE_SERVER_PARAM* param);
int cs_vtn_reboot_server(int handle);

// Users (actions VTN_USER_ADD, _SET_PASSWORD, _SET_RIGHTS, _DELETE).
int cs_vtn_get_current_user(int handle, _VTN_USER_INFO* user);
int cs_vtn_enum_user(int handle, _VTN_USER_INFO* user, int index);
int cs_vtn_set_user(int handle, _VTN_USER_INFO* user, uint8_t action);

// Event log and the event channel.
int cs_vtn_enable_event_notify(int handle, uint8_t on);
int cs_vtn_enum_event(int handle, _VTN_LOG_EVENT* event, int index);
// One pushed event without waiting: 0 with an event, -1 without. Events come out in the order
// the server pushed them; a stream that is out of step, has ended, or leaves a packet incomplete
// for longer than the reply time-out breaks the connection (its callback runs) once no whole
// event is left.
int cs_vtn_get_log_event(int handle, _VTN_LOG_EVENT* event);
// Reads what the event channel holds into the library's buffer without waiting and without
// taking an event (not a slot of gFuncs): the number of whole events waiting, or -1 when the
// handle or the channel is not open or the connection broke (its callback has run).
int cs_vtn_drain_log_events(int handle);
// Returns the status word, which is the server's time stamp of the stored event.
int cs_vtn_save_log_event(int handle, _VTN_LOG_EVENT* event);
int cs_vtn_clear_event_log(int handle);

// Mail (recipient actions 0 add, 1 set flags, 2 set name, 3 delete).
int cs_vtn_get_smtp_server(int handle, _VTN_SMTP_SERVER_INFO* info);
int cs_vtn_set_smtp_server(int handle, _VTN_SMTP_SERVER_INFO* info);
int cs_vtn_enum_mail_recipient(int handle, _VTN_MAIL_RECIPIENT_INFO* r, int index);
int cs_vtn_set_mail_recipients(int handle, _VTN_MAIL_RECIPIENT_INFO* r, uint8_t action);
int cs_vtn_test_mail(int handle, _VTN_MAIL_RECIPIENT_INFO* r);

// Scheduled tasks (actions VTN_TASK_ACTION_ADD, _DELETE, _MODIFY).
int cs_vtn_enum_tasks(int handle, _VTN_TASK_INFO* task, int index);
int cs_vtn_set_task(int handle, _VTN_TASK_INFO* task, uint8_t action);

// Driver calls; the device records are always the newer ones.
unsigned int cs_vtn_get_version(int handle);  // 0 on failure
// caps->size must be 44 before the call.
int cs_vtn_get_driver_capabilities(int handle, _DRIVER_CAPABILITIES* caps);
int cs_vtn_get_controller_count(int handle);  // -1 on failure
int cs_vtn_get_controller_info(int handle, int controller, _CONTROLLER_INFO* info);
int cs_vtn_get_channel_info(int handle, int controller, int channel, _CHANNEL_INFO* info);
// Top-level device ids into ids[0..max-1]; returns the count, -1 on failure.
int cs_vtn_get_logical_devices(int handle, unsigned int* ids, int max);
int cs_vtn_get_device_info(int handle, unsigned int id, _LOGICAL_DEVICE_INFO_V2* info);
unsigned int cs_vtn_create_array(int handle, _CREATE_ARRAY_PARAMS_V2* params);  // new id, 0 on failure
int cs_vtn_delete_array(int handle, unsigned int id, unsigned int flag);        // driver's word, -1
int cs_vtn_add_disk_to_array(int handle, unsigned int array, unsigned int disk);
int cs_vtn_add_spare_disk(int handle, unsigned int disk);
int cs_vtn_remove_spare_disk(int handle, unsigned int disk);
int cs_vtn_set_array_state(int handle, unsigned int array, unsigned int state);
int cs_vtn_set_array_info(int handle, unsigned int array, _ALTERABLE_ARRAY_INFO* info);
int cs_vtn_set_device_info(int handle, unsigned int id, _ALTERABLE_DEVICE_INFO* info);
int cs_vtn_set_device_info_v2(int handle, unsigned int id, _ALTERABLE_DEVICE_INFO_V2* info);
int cs_vtn_rescan_devices(int handle);
int cs_vtn_get_qzr_info(int handle, unsigned int id, _VTNQZR_INFO* info);
int cs_vtn_set_qzr_info(int handle, unsigned int id, _VTNQZR_INFO* info);
int cs_vtn_lock_device(int handle, unsigned int id, unsigned int how, uint8_t flag);
int cs_vtn_unlock_device(int handle, unsigned int id);
int cs_vtn_ide_pass_through(int handle, _IDE_PASS_THROUGH_HEADER* header);  // always -1
int cs_vtn_add_dedicated_spare(int handle, unsigned int array, unsigned int disk);
int cs_vtn_remove_devices(int handle, unsigned int count, unsigned int* ids);
int cs_vtn_query_remove(int handle, unsigned int count, unsigned int* ids);
