#include "vtnintf.h"

#include <cstring>
#include <memory>
#include <new>

#include "svrlib.h"
#include "textutil.h"

namespace {

constexpr size_t kSectorSize = 512;
constexpr uint32_t kCapabilitiesSize = sizeof(_DRIVER_CAPABILITIES);
static_assert(kCapabilitiesSize == 44);

int Call(uint32_t code, void* in, size_t inSize, void* out, size_t outSize)
{
    return Server_User_DeviceIoControl(code, in, static_cast<uint32_t>(inSize), out,
                                       static_cast<uint32_t>(outSize), nullptr);
}

// 0 or -1 from a call whose table result is 0 on success.
int CallZero(uint32_t code, void* in, size_t inSize, void* out, size_t outSize)
{
    return Call(code, in, inSize, out, outSize) == 0 ? 0 : -1;
}

// A call whose input is one id.
int CallId(uint32_t code, uint32_t id)
{
    return CallZero(code, &id, sizeof id, nullptr, 0);
}

// A call whose input is two u32 words.
int CallTwoWords(uint32_t code, uint32_t first, uint32_t second)
{
    unsigned char in[8];
    WriteField(in, sizeof in, 0, first);
    WriteField(in, sizeof in, 4, second);
    return CallZero(code, in, sizeof in, nullptr, 0);
}

// The 9-byte block input: id, lba, count.
int CallBlock(uint32_t code, uint32_t id, uint32_t lba, uint8_t count)
{
    unsigned char in[9];
    WriteField(in, sizeof in, 0, id);
    WriteField(in, sizeof in, 4, lba);
    WriteField(in, sizeof in, 8, count);
    return CallZero(code, in, sizeof in, nullptr, 0);
}

// A buffer allocated for one call; nullptr when the allocation fails.
std::unique_ptr<unsigned char[]> Allocate(size_t size)
{
    return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[size]());
}

// Input of an id followed by a record; -1 for a NULL record, else the driver result.
int CallIdAndRecord(uint32_t code, uint32_t id, const void* record, size_t recordSize)
{
    if (record == nullptr)
        return -1;
    size_t inSize = sizeof id + recordSize;
    auto in = Allocate(inSize);
    if (!in)
        return -1;
    WriteField(in.get(), inSize, 0, id);
    memcpy(in.get() + sizeof id, record, recordSize);
    return Call(code, in.get(), inSize, nullptr, 0);
}

}  // namespace

uint32_t vtn_get_version()
{
    uint32_t version = 0;
    if (Call(VTN_CTL_GET_VERSION, nullptr, 0, &version, sizeof version) != 0)
        return 0;
    return version;
}

int vtn_get_controller_count()
{
    uint32_t count = 0;
    if (Call(VTN_CTL_GET_CONTROLLER_COUNT, nullptr, 0, &count, sizeof count) != 0)
        return -1;
    return static_cast<int>(count);
}

int vtn_get_controller_info(int controller, _CONTROLLER_INFO* info)
{
    if (info == nullptr)
        return -1;
    uint32_t index = static_cast<uint32_t>(controller);
    return CallZero(VTN_CTL_GET_CONTROLLER_INFO, &index, sizeof index, info, sizeof *info);
}

int vtn_get_channel_info(int controller, int channel, _CHANNEL_INFO* info)
{
    if (info == nullptr)
        return -1;
    unsigned char in[8];
    WriteField(in, sizeof in, 0, static_cast<uint32_t>(controller));
    WriteField(in, sizeof in, 4, static_cast<uint32_t>(channel));
    return CallZero(VTN_CTL_GET_CHANNEL_INFO, in, sizeof in, info, sizeof *info);
}

int vtn_get_logical_devices(uint32_t* ids, int max)
{
    if (max < 0 || (max > 0 && ids == nullptr))
        return -1;
    // The count word, then max ids.
    size_t outSize = (static_cast<size_t>(max) + 1) * sizeof(uint32_t);
    if (outSize > UINT32_MAX)
        return -1;
    auto out = Allocate(outSize);
    if (!out)
        return -1;
    uint32_t in = static_cast<uint32_t>(max);
    if (Call(VTN_CTL_GET_LOGICAL_DEVICES, &in, sizeof in, out.get(), outSize) != 0)
        return -1;
    uint32_t count = 0;
    ReadField(out.get(), outSize, 0, &count);
    if (count > static_cast<uint32_t>(max))
        count = static_cast<uint32_t>(max);
    if (count > 0)
        memcpy(ids, out.get() + sizeof(uint32_t), count * sizeof(uint32_t));
    return static_cast<int>(count);
}

int vtn_get_device_info(uint32_t id, _LOGICAL_DEVICE_INFO* info)
{
    if (info == nullptr)
        return -1;
    return CallZero(VTN_CTL_GET_DEVICE_INFO, &id, sizeof id, info, sizeof *info);
}

uint32_t vtn_create_array(_CREATE_ARRAY_PARAMS* params)
{
    if (params == nullptr)
        return 0;
    uint32_t id = 0;
    if (Call(VTN_CTL_CREATE_ARRAY, params, sizeof *params, &id, sizeof id) != 0)
        return 0;
    return id;
}

int vtn_delete_array(uint32_t id, uint32_t options)
{
    unsigned char in[8];
    WriteField(in, sizeof in, 0, id);
    WriteField(in, sizeof in, 4, options);
    uint32_t word = 0;
    if (Call(VTN_CTL_DELETE_ARRAY, in, sizeof in, &word, sizeof word) != 0)
        return -1;
    return static_cast<int>(word);
}

int vtn_device_io(uint32_t id, int command, uint32_t lba, uint32_t count, void* data)
{
    if (count > 1 || (count == 1 && data == nullptr))
        return -1;
    size_t inSize = 16 + static_cast<size_t>(count) * kSectorSize;
    auto in = Allocate(inSize);
    if (!in)
        return -1;
    WriteField(in.get(), inSize, 0, id);
    WriteField(in.get(), inSize, 4, static_cast<uint32_t>(command));
    WriteField(in.get(), inSize, 8, lba);
    WriteField(in.get(), inSize, 12, count);
    if (count > 0)
        memcpy(in.get() + 16, data, count * kSectorSize);
    uint32_t word = 0;
    if (Call(VTN_CTL_DEVICE_IO, in.get(), inSize, &word, sizeof word) != 0)
        return -1;
    return static_cast<int>(word);
}

int vtn_get_event(_VTN_EVENT* event)
{
    if (event == nullptr)
        return -1;
    return CallZero(VTN_CTL_GET_EVENT, nullptr, 0, event, sizeof *event);
}

int vtn_rebuild_data_block(uint32_t id, uint32_t lba, uint8_t count)
{
    return CallBlock(VTN_CTL_REBUILD_DATA_BLOCK, id, lba, count);
}

int vtn_add_spare_disk(uint32_t diskId)
{
    return CallId(VTN_CTL_ADD_SPARE_DISK, diskId);
}

int vtn_remove_spare_disk(uint32_t diskId)
{
    return CallId(VTN_CTL_REMOVE_SPARE_DISK, diskId);
}

int vtn_add_disk_to_array(uint32_t arrayId, uint32_t diskId)
{
    return CallTwoWords(VTN_CTL_ADD_DISK_TO_ARRAY, arrayId, diskId);
}

int vtn_set_array_state(uint32_t arrayId, uint32_t state)
{
    return CallTwoWords(VTN_CTL_SET_ARRAY_STATE, arrayId, state);
}

int vtn_set_array_info(uint32_t arrayId, _ALTERABLE_ARRAY_INFO* info)
{
    return CallIdAndRecord(VTN_CTL_SET_ARRAY_INFO, arrayId, info, sizeof *info);
}

int vtn_set_device_info(uint32_t id, _ALTERABLE_DEVICE_INFO* info)
{
    return CallIdAndRecord(VTN_CTL_SET_DEVICE_INFO, id, info, sizeof *info);
}

int vtn_rescan_devices()
{
    return Call(VTN_CTL_RESCAN_DEVICES, nullptr, 0, nullptr, 0);
}

int vtn_get_driver_capabilities(_DRIVER_CAPABILITIES* caps)
{
    uint32_t size = 0;
    if (!ReadField(caps, caps ? sizeof *caps : 0, 0, &size) || size != kCapabilitiesSize)
        return -1;
    uint32_t in = kCapabilitiesSize;
    return CallZero(VTN_CTL_GET_DRIVER_CAPABILITIES, &in, sizeof in, caps, sizeof *caps);
}

int vtn_get_qzr_info(uint32_t id, _VTNQZR_INFO* info)
{
    if (info == nullptr)
        return -1;
    return Call(VTN_CTL_GET_QZR_INFO, &id, sizeof id, info, sizeof *info);
}

int vtn_set_qzr_info(uint32_t id, _VTNQZR_INFO* info)
{
    return CallIdAndRecord(VTN_CTL_SET_QZR_INFO, id, info, sizeof *info);
}

int vtn_lock_device(uint32_t id, uint32_t lba, uint8_t count)
{
    return CallBlock(VTN_CTL_LOCK_DEVICE, id, lba, count);
}

int vtn_unlock_device(uint32_t id)
{
    return CallId(VTN_CTL_UNLOCK_DEVICE, id);
}

int vtn_add_dedicated_spare(uint32_t arrayId, uint32_t diskId)
{
    unsigned char in[8];
    WriteField(in, sizeof in, 0, arrayId);
    WriteField(in, sizeof in, 4, diskId);
    return Call(VTN_CTL_ADD_DEDICATED_SPARE, in, sizeof in, nullptr, 0);
}

uint32_t vtn_create_array_v2(_CREATE_ARRAY_PARAMS_V2* params)
{
    if (params == nullptr)
        return 0;
    uint32_t id = 0;
    if (Call(VTN_CTL_CREATE_ARRAY_V2, params, sizeof *params, &id, sizeof id) != 0)
        return 0;
    return id;
}

int vtn_get_device_info_v2(uint32_t id, _LOGICAL_DEVICE_INFO_V2* info)
{
    if (info == nullptr)
        return -1;
    return CallZero(VTN_CTL_GET_DEVICE_INFO_V2, &id, sizeof id, info, sizeof *info);
}

int vtn_set_device_info_v2(uint32_t id, _ALTERABLE_DEVICE_INFO_V2* info)
{
    return CallIdAndRecord(VTN_CTL_SET_DEVICE_INFO_V2, id, info, sizeof *info);
}

int vtn_verify_data_block(uint32_t id, uint32_t lba, uint8_t count)
{
    // Goes out on the unlock code with the 9-byte block input.
    return CallBlock(VTN_CTL_UNLOCK_DEVICE, id, lba, count);
}

int vtn_initialize_data_block(uint32_t arrayId, uint32_t lba, uint8_t count)
{
    _LOGICAL_DEVICE_INFO info{};
    if (vtn_get_device_info(arrayId, &info) != 0 || info.type != VTN_DEVICE_ARRAY)
        return -1;
    uint32_t members = info.u.array.memberCount;
    if (members > VTN_MAX_MEMBERS)
        members = VTN_MAX_MEMBERS;
    unsigned char zeros[kSectorSize] = {};
    for (uint32_t m = 0; m < members; m++) {
        for (uint32_t i = 0; i < count; i++) {
            if (vtn_device_io(info.u.array.members[m], 1, lba + i, 1, zeros) == -1)
                return -1;
        }
    }
    return 0;
}

int vtn_ide_pass_through(uint32_t, void*, uint32_t)
{
    return -1;
}
