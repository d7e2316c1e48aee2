// Translation of driver events into log events.
#include <cstring>

#include "commonsvr.h"
#include "vtnintf.h"

namespace {

bool ReadArray(uint32_t id, _LOGICAL_DEVICE_INFO* info)
{
    return vtn_get_device_info(id, info) == 0 && info->type == VTN_DEVICE_ARRAY;
}

bool ReadDisk(uint32_t id, _LOGICAL_DEVICE_INFO* info)
{
    return vtn_get_device_info(id, info) == 0 && info->type == VTN_DEVICE_DISK;
}

uint32_t MemberCount(const _LOGICAL_DEVICE_INFO& info)
{
    uint32_t n = info.u.array.memberCount;
    return n > VTN_MAX_MEMBERS ? VTN_MAX_MEMBERS : n;
}

void ArrayNameField(char* out, size_t outSize, const _LOGICAL_DEVICE_INFO& info)
{
    CopyField(out, outSize, info.u.array.name, sizeof(info.u.array.name));
}

struct KindText {
    uint8_t kind;
    char severity;
    const char* text;           // "%s": the array's display name
    const char* duplicateText;  // with the duplication byte set; nullptr: the same text
};

// The kinds that need the event's device to be an array.
constexpr KindText kArrayKinds[] = {
    {VTN_EVENT_REBUILD_STARTED, 'I', "Array '%s' rebuilding started.", "Array '%s' duplicating started."},
    {VTN_EVENT_REBUILD_ABORTED, 'W', "Array '%s' rebuilding aborted.", "Array '%s' duplicating aborted."},
    {VTN_EVENT_REBUILD_COMPLETED, 'I', "Array '%s' rebuilding completed.", "Array '%s' duplicating completed."},
    {VTN_EVENT_REBUILD_FAILED, 'W', "Array '%s' rebuilding failed.", "Array '%s' duplicating failed."},
    {VTN_EVENT_VERIFY_STARTED, 'I', "Array '%s' verifying started.", nullptr},
    {VTN_EVENT_VERIFY_ABORTED, 'W', "Array '%s' verifying aborted.", nullptr},
    {VTN_EVENT_VERIFY_FAILED, 'W', "Array '%s' verifying failed.", nullptr},
    {VTN_EVENT_VERIFY_COMPLETED, 'I', "Array '%s' verifying completed.", nullptr},
    {VTN_EVENT_INIT_STARTED, 'I', "Array '%s' initializing started.", nullptr},
    {VTN_EVENT_INIT_COMPLETED, 'I', "Array '%s' initializing completed.", nullptr},
    {VTN_EVENT_DATA_INCONSISTENT, 'W', "Array '%s' data is not consistent.", nullptr},
};

void SetText(_VTN_LOG_EVENT* out, char severity, const char* fmt, const char* arg)
{
    out->severity = severity;
    FormatText(out->text, sizeof(out->text), fmt, arg);
}

}  // namespace

void GetLocation(uint32_t id, char* out, size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    _LOGICAL_DEVICE_INFO info{};
    if (!ReadDisk(id, &info)) {
        out[0] = '\0';
        return;
    }
    FormatText(out, outSize, "Controller%d-Channel%d-Device%d", info.u.disk.controller + 1, info.u.disk.channel + 1,
               info.u.disk.device + 1);
}

void GetArrayName(uint32_t id, char* out, size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    _LOGICAL_DEVICE_INFO info{};
    if (!ReadArray(id, &info))
        return;
    const uint32_t parentId = info.parent;
    if (parentId == VTN_ID_SYSTEM || parentId == VTN_ID_NONE) {
        ArrayNameField(out, outSize, info);
        return;
    }
    _LOGICAL_DEVICE_INFO parent{};
    if (!ReadArray(parentId, &parent))
        return;
    const uint32_t count = MemberCount(parent);
    for (uint32_t i = 0; i < count; ++i) {
        if (parent.u.array.members[i] != id)
            continue;
        char name[VTN_ARRAY_NAME_FIELD + 1];
        ArrayNameField(name, sizeof(name), parent);
        FormatText(out, outSize, "Member %u of %s", i + 1, name);
        return;
    }
}

int TranslateVtnEvent(_VTN_EVENT* event, _VTN_LOG_EVENT* out)
{
    if (event == nullptr || out == nullptr)
        return -1;
    char name[64] = {};
    GetArrayName(event->device, name, sizeof(name));

    memset(out, 0, sizeof(*out));
    memcpy(&out->time, event, sizeof(*event));
    out->mark = 3;
    static_assert(offsetof(_VTN_LOG_EVENT, text) - offsetof(_VTN_LOG_EVENT, time) == sizeof(_VTN_EVENT));

    const uint8_t kind = event->kind;
    for (const KindText& k : kArrayKinds) {
        if (k.kind != kind)
            continue;
        _LOGICAL_DEVICE_INFO info{};
        if (!ReadArray(event->device, &info))
            return -1;
        const bool duplicate = k.duplicateText != nullptr && event->u.duplicate != 0;
        SetText(out, k.severity, duplicate ? k.duplicateText : k.text, name);
        return 0;
    }

    switch (kind) {
    case VTN_EVENT_DEVICE_FAILED:
    case VTN_EVENT_MEMBER_FAILED: {
        char location[64];
        GetLocation(event->device, location, sizeof(location));
        SetText(out, 'E', "Disk at %s failed.", location);
        return 0;
    }
    case VTN_EVENT_DEVICE_PLUGGED: {
        char location[64];
        GetLocation(event->device, location, sizeof(location));
        SetText(out, 'W', "Plugging disk detected.(%s)", location);
        return 0;
    }
    case VTN_EVENT_SPARE_TOOK_OVER: {
        _LOGICAL_DEVICE_INFO disk{};
        _LOGICAL_DEVICE_INFO parent{};
        if (!ReadDisk(event->device, &disk) || !ReadArray(disk.parent, &parent))
            return -1;
        char parentName[VTN_ARRAY_NAME_FIELD + 1];
        ArrayNameField(parentName, sizeof(parentName), parent);
        SetText(out, 'W', "Spare disk took over.(Array: %s)", parentName);
        return 0;
    }
    case VTN_EVENT_INIT_ABORTED:
    case VTN_EVENT_INIT_FAILED: {
        // The array may be gone already: the event carries its name.
        char carried[sizeof(event->u.name) + 1];
        CopyField(carried, sizeof(carried), event->u.name, sizeof(event->u.name));
        const char* shown = carried[0] != '\0' ? carried : name;
        if (shown[0] == '\0')
            return -1;
        SetText(out, 'W',
                kind == VTN_EVENT_INIT_ABORTED ? "Array '%s' initializing aborted, the array is deleted."
                                               : "Array '%s' initializing failed, the array is deleted.",
                shown);
        vtn_delete_array(event->device, 0);   // an array that is gone already cannot be deleted again
        return 0;
    }
    default:
        return -1;
    }
}
