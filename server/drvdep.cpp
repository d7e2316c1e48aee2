// The driver-call dispatcher: rights and buffer checks per control code, then the call.
#include "drvdep.h"

#include <climits>

#include "drvrec.h"
#include "global.h"
#include "svrrec.h"
#include "vtnintf.h"

namespace {

constexpr uint32_t kNoRight = 0;

// Every control code a remote client may call. Sizes are those the call reads and writes; a call
// that gives less is refused without reaching the driver.
constexpr VtnControlRule kRules[] = {
    {VTN_CTL_GET_VERSION, kNoRight, 0, 4, false, false},
    {VTN_CTL_GET_CONTROLLER_COUNT, kNoRight, 0, 4, false, false},
    {VTN_CTL_GET_CONTROLLER_INFO, kNoRight, 4, sizeof(_CONTROLLER_INFO), false, false},
    {VTN_CTL_GET_CHANNEL_INFO, kNoRight, 8, sizeof(_CHANNEL_INFO), false, false},
    {VTN_CTL_GET_LOGICAL_DEVICES, kNoRight, 4, 4, false, false},  // and (max + 1) * 4
    {VTN_CTL_GET_DEVICE_INFO, kNoRight, 4, sizeof(_LOGICAL_DEVICE_INFO), false, false},
    {VTN_CTL_CREATE_ARRAY, VTN_RIGHT_CREATE_ARRAY, sizeof(_CREATE_ARRAY_PARAMS), 4, false, false},
    {VTN_CTL_DELETE_ARRAY, VTN_RIGHT_DELETE_ARRAY, 8, 4, false, false},
    {VTN_CTL_GET_EVENT, kNoRight, 0, sizeof(_VTN_EVENT), false, false},
    {VTN_CTL_ADD_SPARE_DISK, VTN_RIGHT_ADD_SPARE, 4, 0, false, false},
    {VTN_CTL_REMOVE_SPARE_DISK, VTN_RIGHT_REMOVE_SPARE, 4, 0, false, false},
    {VTN_CTL_ADD_DISK_TO_ARRAY, VTN_RIGHT_REMOVE_SPARE, 8, 0, false, false},
    {VTN_CTL_SET_ARRAY_STATE, VTN_RIGHTS_ARRAY_STATE_ANY, 8, 0, false, false},
    {VTN_CTL_SET_ARRAY_INFO, VTN_RIGHT_RENAME_ARRAY, 4 + sizeof(_ALTERABLE_ARRAY_INFO), 0, false, false},
    {VTN_CTL_SET_DEVICE_INFO, VTN_RIGHTS_DEVICE_ANY, 4 + sizeof(_ALTERABLE_DEVICE_INFO), 0, false, false},
    {VTN_CTL_RESCAN_DEVICES, kNoRight, 0, 0, false, false},
    {VTN_CTL_GET_DRIVER_CAPABILITIES, kNoRight, 0, sizeof(_DRIVER_CAPABILITIES), false, false},
    {VTN_CTL_GET_QZR_INFO, kNoRight, 4, sizeof(_VTNQZR_INFO), true, true},
    {VTN_CTL_SET_QZR_INFO, kNoRight, 4 + sizeof(_VTNQZR_INFO), 0, true, false},
    {VTN_CTL_LOCK_DEVICE, kNoRight, 9, 0, true, false},
    {VTN_CTL_UNLOCK_DEVICE, kNoRight, 4, 0, true, false},
    {VTN_CTL_ADD_DEDICATED_SPARE, VTN_RIGHT_ADD_SPARE, 8, 0, true, false},
    {VTN_CTL_CREATE_ARRAY_V2, VTN_RIGHT_CREATE_ARRAY, sizeof(_CREATE_ARRAY_PARAMS_V2), 4, false, false},
    {VTN_CTL_GET_DEVICE_INFO_V2, kNoRight, 4, sizeof(_LOGICAL_DEVICE_INFO_V2), false, false},
    {VTN_CTL_SET_DEVICE_INFO_V2, VTN_RIGHTS_DEVICE_ANY, 4 + sizeof(_ALTERABLE_DEVICE_INFO_V2), 0, false,
     false},
};

bool SizeFits(uint32_t given, uint32_t needed, bool exact)
{
    return exact ? given == needed : given >= needed;
}

uint32_t In(const void* input, uint32_t inSize, size_t off)
{
    uint32_t v = 0;
    ReadField(input, inSize, off, &v);  // sizes were checked against the rule
    return v;
}

void SetOut(void* output, uint32_t outSize, uint32_t value)
{
    WriteField(output, outSize, 0, value);
}

int CreateResult(uint32_t id, void* output, uint32_t outSize)
{
    SetOut(output, outSize, id);
    return (id != 0 && id != 0xFFFFFFFFu) ? 0 : -1;
}

}  // namespace

const VtnControlRule* VtnFindControlRule(uint32_t code)
{
    for (const VtnControlRule& r : kRules)
        if (r.code == code)
            return &r;
    return nullptr;
}

int vtn_call_driver(uint32_t code, void* input, uint32_t inSize, void* output, uint32_t outSize,
                    uint32_t* /*returned*/, uint32_t rights)
{
    const VtnControlRule* rule = VtnFindControlRule(code);
    if (rule == nullptr)
        return -1;
    if (rule->rights != kNoRight && (rights & rule->rights) == 0)
        return -1;
    if (input == nullptr)
        inSize = 0;
    if (output == nullptr)
        outSize = 0;
    if (!SizeFits(inSize, rule->inSize, rule->exactIn) || !SizeFits(outSize, rule->outSize, rule->exactOut))
        return -1;

    auto* in = static_cast<uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    switch (code) {
    case VTN_CTL_GET_VERSION:
        SetOut(output, outSize, vtn_get_version());
        return 0;  // a failed probe reads as version 0
    case VTN_CTL_GET_CONTROLLER_COUNT:
        SetOut(output, outSize, static_cast<uint32_t>(vtn_get_controller_count()));
        return 0;  // a failed count reads as -1
    case VTN_CTL_GET_CONTROLLER_INFO:
        return vtn_get_controller_info(static_cast<int>(In(in, inSize, 0)),
                                       reinterpret_cast<_CONTROLLER_INFO*>(out));
    case VTN_CTL_GET_CHANNEL_INFO:
        return vtn_get_channel_info(static_cast<int>(In(in, inSize, 0)), static_cast<int>(In(in, inSize, 4)),
                                    reinterpret_cast<_CHANNEL_INFO*>(out));
    case VTN_CTL_GET_LOGICAL_DEVICES: {
        uint32_t max = In(in, inSize, 0);
        // The count word and max ids must fit the output (computed wide, so no wrap).
        if (max > static_cast<uint32_t>(INT_MAX) || (static_cast<size_t>(max) + 1) * 4 > outSize)
            return -1;
        int n = vtn_get_logical_devices(reinterpret_cast<uint32_t*>(out + 4), static_cast<int>(max));
        SetOut(output, outSize, static_cast<uint32_t>(n));
        return n < 0 ? -1 : 0;
    }
    case VTN_CTL_GET_DEVICE_INFO:
        return vtn_get_device_info(In(in, inSize, 0), reinterpret_cast<_LOGICAL_DEVICE_INFO*>(out)) == 0 ? 0
                                                                                                         : -1;
    case VTN_CTL_CREATE_ARRAY:
        return CreateResult(vtn_create_array(reinterpret_cast<_CREATE_ARRAY_PARAMS*>(in)), output, outSize);
    case VTN_CTL_CREATE_ARRAY_V2:
        return CreateResult(vtn_create_array_v2(reinterpret_cast<_CREATE_ARRAY_PARAMS_V2*>(in)), output,
                            outSize);
    case VTN_CTL_DELETE_ARRAY:
        // Done at the packet level; the output word carries the driver's answer.
        SetOut(output, outSize, static_cast<uint32_t>(vtn_delete_array(In(in, inSize, 0), In(in, inSize, 4))));
        return 0;
    case VTN_CTL_GET_EVENT:
        return vtn_get_event(reinterpret_cast<_VTN_EVENT*>(out));
    case VTN_CTL_ADD_SPARE_DISK:
        return vtn_add_spare_disk(In(in, inSize, 0));
    case VTN_CTL_REMOVE_SPARE_DISK:
        return vtn_remove_spare_disk(In(in, inSize, 0));
    case VTN_CTL_ADD_DISK_TO_ARRAY:
        return vtn_add_disk_to_array(In(in, inSize, 0), In(in, inSize, 4));
    case VTN_CTL_SET_ARRAY_STATE:
        // The driver's answer to a state change is not looked at.
        (void)vtn_set_array_state(In(in, inSize, 0), In(in, inSize, 4));
        return 0;
    case VTN_CTL_SET_ARRAY_INFO:
        return vtn_set_array_info(In(in, inSize, 0), reinterpret_cast<_ALTERABLE_ARRAY_INFO*>(in + 4));
    case VTN_CTL_SET_DEVICE_INFO:
        return vtn_set_device_info(In(in, inSize, 0), reinterpret_cast<_ALTERABLE_DEVICE_INFO*>(in + 4));
    case VTN_CTL_SET_DEVICE_INFO_V2:
        return vtn_set_device_info_v2(In(in, inSize, 0), reinterpret_cast<_ALTERABLE_DEVICE_INFO_V2*>(in + 4));
    case VTN_CTL_GET_DEVICE_INFO_V2:
        return vtn_get_device_info_v2(In(in, inSize, 0), reinterpret_cast<_LOGICAL_DEVICE_INFO_V2*>(out)) == 0
                   ? 0
                   : -1;
    case VTN_CTL_RESCAN_DEVICES: {
        char text[] = "test";
        SaveStrEvent('i', text);
        int r = vtn_rescan_devices();
        SaveStrEvent('i', text);
        return r;
    }
    case VTN_CTL_GET_DRIVER_CAPABILITIES:
        SetOut(output, outSize, static_cast<uint32_t>(sizeof(_DRIVER_CAPABILITIES)));
        return vtn_get_driver_capabilities(reinterpret_cast<_DRIVER_CAPABILITIES*>(out));
    case VTN_CTL_GET_QZR_INFO:
        return vtn_get_qzr_info(In(in, inSize, 0), reinterpret_cast<_VTNQZR_INFO*>(out));
    case VTN_CTL_SET_QZR_INFO:
        return vtn_set_qzr_info(In(in, inSize, 0), reinterpret_cast<_VTNQZR_INFO*>(in + 4));
    case VTN_CTL_LOCK_DEVICE:
        return vtn_lock_device(In(in, inSize, 0), In(in, inSize, 4), in[8]);
    case VTN_CTL_UNLOCK_DEVICE:
        return vtn_unlock_device(In(in, inSize, 0));
    case VTN_CTL_ADD_DEDICATED_SPARE:
        return vtn_add_dedicated_spare(In(in, inSize, 0), In(in, inSize, 4));
    default:
        return -1;
    }
}
