// The driver calls: one function per control code, each one driver operation on the channel.
// Unless noted, a function returns -1 when the driver call fails.
#pragma once
#include <cstdint>

#include "drvrec.h"

// Driver interface version; 0 on failure.
uint32_t vtn_get_version();
// Number of controllers.
int vtn_get_controller_count();
// 0 with the record filled.
int vtn_get_controller_info(int controller, _CONTROLLER_INFO* info);
int vtn_get_channel_info(int controller, int channel, _CHANNEL_INFO* info);
// Ids of the top-level devices: at most max are copied to ids; returns their count (never
// above max).
int vtn_get_logical_devices(uint32_t* ids, int max);
// Older device record (drivers up to 0x0100FFFF).
int vtn_get_device_info(uint32_t id, _LOGICAL_DEVICE_INFO* info);
// New array's id; 0 on failure.
uint32_t vtn_create_array(_CREATE_ARRAY_PARAMS* params);
// The driver's output word.
int vtn_delete_array(uint32_t id, uint32_t options);
// Writes count (0 or 1) sectors of data at lba with the given command; the driver's output word.
int vtn_device_io(uint32_t id, int command, uint32_t lba, uint32_t count, void* data);
// 0 when an event was delivered; -1 also when the driver has none.
int vtn_get_event(_VTN_EVENT* event);
int vtn_rebuild_data_block(uint32_t id, uint32_t lba, uint8_t count);
int vtn_add_spare_disk(uint32_t diskId);
int vtn_remove_spare_disk(uint32_t diskId);
int vtn_add_disk_to_array(uint32_t arrayId, uint32_t diskId);
// state: VTN_STATE_*.
int vtn_set_array_state(uint32_t arrayId, uint32_t state);
// -1 for a NULL record, else the driver result (also for the ones below).
int vtn_set_array_info(uint32_t arrayId, _ALTERABLE_ARRAY_INFO* info);
int vtn_set_device_info(uint32_t id, _ALTERABLE_DEVICE_INFO* info);
int vtn_rescan_devices();
// -1 without calling the driver unless caps->size is 44.
int vtn_get_driver_capabilities(_DRIVER_CAPABILITIES* caps);
int vtn_get_qzr_info(uint32_t id, _VTNQZR_INFO* info);
int vtn_set_qzr_info(uint32_t id, _VTNQZR_INFO* info);
int vtn_lock_device(uint32_t id, uint32_t lba, uint8_t count);
int vtn_unlock_device(uint32_t id);
// Dedicates the disk as spare to the array; the driver result.
int vtn_add_dedicated_spare(uint32_t arrayId, uint32_t diskId);

// Newer records (drivers above 0x0100FFFF).
// New array's id; 0 on failure.
uint32_t vtn_create_array_v2(_CREATE_ARRAY_PARAMS_V2* params);
int vtn_get_device_info_v2(uint32_t id, _LOGICAL_DEVICE_INFO_V2* info);
// -1 for a NULL record, else the driver result.
int vtn_set_device_info_v2(uint32_t id, _ALTERABLE_DEVICE_INFO_V2* info);

// Calls that nothing in the server makes.
int vtn_verify_data_block(uint32_t id, uint32_t lba, uint8_t count);
// Writes count zeroed sectors at lba to every member of the array; 0 or -1.
int vtn_initialize_data_block(uint32_t arrayId, uint32_t lba, uint8_t count);
// Not supported: always -1.
int vtn_ide_pass_through(uint32_t id, void* buffer, uint32_t size);
