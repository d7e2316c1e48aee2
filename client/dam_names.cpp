// Status texts, default array names and the naming rules.
#include <cstring>
#include <set>

#include "client.h"
#include "dam.h"
#include "textutil.h"

namespace {

// Descents through first members stop after this many arrays.
constexpr int kMaxDescent = 8;

const char* ArrayStatusText(const CDisk& d, uint32_t s)
{
    const uint8_t code = d.Info.u.array.raidType;
    if (s & VTN_ARRAY_DISABLED)
        return "Disabled";
    if ((s & VTN_ARRAY_BROKEN) && (code == VTN_RAID1 || code == VTN_RAID5 || d.JudgeRAID10()))
        return "Critical";
    if ((s & VTN_ARRAY_REBUILDING) && (s & VTN_ARRAY_NEED_REBUILD))
        return "Rebuilding";
    if (s & VTN_ARRAY_REBUILDING)
        return "Duplicating";
    if (s & VTN_ARRAY_INITIALIZING)
        return "Initialize";
    if (s & VTN_ARRAY_VERIFYING)
        return "Verifying";
    if (s & VTN_ARRAY_NEED_REBUILD)
        return "Need Rebuilding";
    if (s & VTN_ARRAY_NOT_AVAILABLE)
        return "Not Available";
    return "Normal";
}

struct Prefix {
    int code;
    bool nested;
    const char* text;
};
constexpr Prefix kPrefixes[] = {{VTN_RAID0, false, "RAID_0_"}, {VTN_RAID1, false, "RAID_1_"},
                                {VTN_JBOD, false, "JBOD___"},  {VTN_RAID5, false, "RAID_5_"},
                                {VTN_RAID0, true, "RAID10_"},  {VTN_RAID1, true, "RAID01_"}};

// Follows first members down to a disk; false when it ends elsewhere.
bool DiskUnder(unsigned int id, _LOGICAL_DEVICE_INFO_V2* info)
{
    memset(info, 0, sizeof(*info));
    if (cs_vtn_get_device_info(handle, id, info) != 0)
        return false;
    for (int level = 0; info->type == VTN_DEVICE_ARRAY && level < kMaxDescent; ++level) {
        if (info->u.array.memberCount == 0)
            return false;
        _LOGICAL_DEVICE_INFO_V2 next{};
        if (cs_vtn_get_device_info(handle, info->u.array.members[0], &next) != 0)
            return false;
        *info = next;
    }
    return info->type == VTN_DEVICE_DISK;
}

}  // namespace

uint32_t CDisk::GetWorkStatus(char* buf, size_t size)
{
    GetControllNum();   // a controller read, as every status query makes; its answer changes nothing
    GetDiskDescription();
    if (buf == nullptr)
        return nStatus;
    CopyText(buf, size, "Unknown");
    if (nType == VTN_DEVICE_ARRAY) {
        FormatText(buf, size, "%s%s", ArrayStatusText(*this, nStatus),
                   (nStatus & VTN_ARRAY_BOOTABLE) ? " (Bootable)" : "");
    } else if (nType == VTN_DEVICE_DISK) {
        char text[VTN_MODEL_TEXT_SIZE];
        if (nStatus & VTN_DISK_DISABLED) {
            CopyText(text, "Disabled");
        } else if (nStatus & VTN_DISK_SPARE) {
            CopyText(text, "Spare disk");
        } else if (IsChild()) {
            char name[VTN_MODEL_TEXT_SIZE] = "", type[VTN_MODEL_TEXT_SIZE] = "";
            GetParentName(name, sizeof name, type, sizeof type);
            FormatText(text, sizeof text, "Member of %s(%s) ", name, type);
        } else {
            CopyText(text, "Single Drive ");
        }
        FormatText(buf, size, "%s%s", text, (nStatus & VTN_DISK_BOOTABLE) ? " (Bootable)" : "");
    }
    return nStatus;
}

void TrimSpace(char* s)
{
    if (s == nullptr)
        return;
    size_t len = strlen(s);
    size_t start = 0;
    while (start < len && s[start] == ' ')
        ++start;
    while (len > start && s[len - 1] == ' ')
        --len;
    memmove(s, s + start, len - start);
    s[len - start] = '\0';
}

bool GetSameRAIDName(const char* name)
{
    if (name == nullptr)
        return false;
    for (ClDiskArrayIterator it(VTN_ID_SYSTEM); it; ++it) {
        CDiskArray a;
        a = **it;
        if (a.nType == VTN_DEVICE_ARRAY && strcmp(a.szName, name) == 0)
            return true;
    }
    return false;
}

unsigned int GetRAIDID(const char* name)
{
    if (name == nullptr)
        return VTN_ID_NONE;
    for (ClDiskArrayIterator it(VTN_ID_SYSTEM); it; ++it) {
        CDiskArray a;
        a = **it;
        if (a.nType != VTN_DEVICE_ARRAY)
            continue;
        if (strcmp(a.szName, name) == 0)
            return a.nID;
        if (!a.IsRAID10())
            continue;
        int k = 1;
        for (ClDiskArrayIterator m(a.nID); m; ++m, ++k) {
            char memberName[VTN_DISK_NAME_SIZE];
            FormatText(memberName, sizeof memberName, "Member %d of '%s'", k, a.szName);
            if (strcmp(memberName, name) == 0)
                return **m;
        }
    }
    return VTN_ID_NONE;
}

bool GetInvalName(const char* name)
{
    if (name == nullptr)
        return false;
    for (const char* p = name; *p; ++p) {
        const char c = *p;
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_';
        if (!ok)
            return true;
    }
    return false;
}

bool IsDefaultName(const char* name, int code, bool nested)
{
    if (name == nullptr)
        return false;
    const size_t len = strlen(name);
    if (len == 0 || name[len - 1] < '0' || name[len - 1] > '9')
        return false;
    for (const Prefix& p : kPrefixes)
        if (p.code == code && p.nested == nested)
            return strlen(p.text) == len - 1 && strncmp(name, p.text, len - 1) == 0;
    return false;
}

int GetRAIDNum(int code, bool nested)
{
    std::set<int> taken;   // ordered, and a number seen twice counts once
    for (ClDiskArrayIterator it(VTN_ID_SYSTEM); it; ++it) {
        CDiskArray a;
        a = **it;
        if (a.nType != VTN_DEVICE_ARRAY || a.Info.u.array.raidType != code)
            continue;
        if (nested && !a.IsCombinRaid())
            continue;
        if (IsDefaultName(a.szName, code, nested))
            taken.insert(a.szName[strlen(a.szName) - 1] - '0');
    }
    int n = 0;
    for (int x : taken) {
        if (x != n)
            break;
        ++n;
    }
    return n;
}

void DefaultRAIDName(int code, char* buf, size_t size)
{
    switch (code) {
    case VTN_RAID0: FormatText(buf, size, "%s_%d", "RAID_0", GetRAIDNum(VTN_RAID0, false)); break;
    case VTN_RAID1: FormatText(buf, size, "%s_%d", "RAID_1", GetRAIDNum(VTN_RAID1, false)); break;
    case VTN_RAID5: FormatText(buf, size, "%s_%d", "RAID_5", GetRAIDNum(VTN_RAID5, false)); break;
    case VTN_JBOD: FormatText(buf, size, "%s___%d", "JBOD", GetRAIDNum(VTN_JBOD, false)); break;
    case VTN_RAID10: FormatText(buf, size, "%s_%d", "RAID10", GetRAIDNum(VTN_RAID0, true)); break;
    case VTN_RAID01: FormatText(buf, size, "%s_%d", "RAID01", GetRAIDNum(VTN_RAID1, true)); break;
    default: break;
    }
}

int GetBlockSizeValue(const char* text)
{
    static const char* const texts[12] = {"1K",  "2K",   "4K",   "8K",   "16K",   "32K",
                                          "64K", "128K", "256K", "512K", "1024K", "2048K"};
    if (text != nullptr)
        for (int i = 0; i < 12; ++i)
            if (strcmp(text, texts[i]) == 0)
                return i + 1;
    return 12;
}

int GetRAIDTypeValue(const char* text)
{
    struct Row {
        const char* text;
        int code;
    };
    static const Row rows[] = {{"RAID0", VTN_RAID0}, {"RAID1", VTN_RAID1},   {"JBOD", VTN_JBOD},
                               {"RAID5", VTN_RAID5}, {"RAID01", VTN_RAID01}, {"RAID10", VTN_RAID10}};
    if (text != nullptr)
        for (const Row& r : rows)
            if (strcmp(text, r.text) == 0)
                return r.code;
    return 0;
}

void TimeRecToStr(_TIME_RECORD t, char* buf, size_t size)
{
    FormatText(buf, size, "%04d-%02d-%02d %02d:%02d:%02d", 2000 + static_cast<int>(t.year),
               static_cast<int>(t.month), static_cast<int>(t.day), static_cast<int>(t.hour),
               static_cast<int>(t.minute), static_cast<int>(t.second));
}

bool IsInSameContrl(unsigned int a, unsigned int b)
{
    _LOGICAL_DEVICE_INFO_V2 da, db;
    if (!DiskUnder(a, &da) || !DiskUnder(b, &db))
        return false;
    return da.u.disk.controller == db.u.disk.controller;
}

int Reboot()
{
    return cs_vtn_reboot_server(handle);
}

int GetBootDisk()
{
    int n = 0;
    for (ClDiskArrayIterator it(VTN_ID_SYSTEM); it; ++it) {
        CDisk d;
        d = **it;
        if (d.nType == VTN_DEVICE_DISK && (d.nStatus & VTN_DISK_BOOTABLE))
            ++n;
    }
    return n;
}
