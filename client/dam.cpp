// Disk and array objects loaded by id through the client API.
#include "dam.h"

#include <cstring>

#include "client.h"
#include "textutil.h"

int handle = -1;

namespace {

const char* const kTransferModes[16] = {"PIO Mode 0",    "PIO Mode 1",    "PIO Mode 2",    "PIO Mode 3",
                                        "PIO Mode 4",    "MW DMA Mode 0", "MW DMA Mode 1", "MW DMA Mode 2",
                                        "ATA/16",        "ATA/25",        "ATA/33",        "ATA/44",
                                        "ATA/66",        "ATA/100",       "ATA/133",       "ATA/150"};

// Nested arrays deeper than this are not followed (a loop in the records would never end).
constexpr int kMaxNesting = 8;
thread_local int gChildStatusDepth = 0;

bool NoParent(uint32_t id)
{
    return id == 0 || id == VTN_ID_NONE;
}

uint32_t MemberCount(const _LOGICAL_DEVICE_INFO_V2& info)
{
    return info.u.array.memberCount > VTN_MAX_MEMBERS_V2 ? VTN_MAX_MEMBERS_V2 : info.u.array.memberCount;
}

uint32_t FirstMember(const _LOGICAL_DEVICE_INFO_V2& info)
{
    return MemberCount(info) > 0 ? info.u.array.members[0] : VTN_ID_NONE;
}

// The array name of a record, at most 16 characters.
void ArrayName(const _LOGICAL_DEVICE_INFO_V2& info, char (&out)[VTN_ARRAY_NAME_FIELD + 1])
{
    CopyField(out, sizeof out, info.u.array.name, sizeof info.u.array.name);
}

// Position (from 1) of id among the members of info; 0 when it is none of them.
int MemberPosition(const _LOGICAL_DEVICE_INFO_V2& info, uint32_t id)
{
    const uint32_t n = MemberCount(info);
    for (uint32_t i = 0; i < n; ++i)
        if (info.u.array.members[i] == id)
            return static_cast<int>(i) + 1;
    return 0;
}

bool ReadInfo(uint32_t id, _LOGICAL_DEVICE_INFO_V2* info)
{
    memset(info, 0, sizeof(*info));
    return cs_vtn_get_device_info(handle, id, info) == 0;
}

}  // namespace

// ---- CDisk ----------------------------------------------------------------------------------

CDisk::CDisk() : nType(VTN_DEVICE_ARRAY), nCapacity(0), nStatus(0), nTransferMode(0), nID(0)
{
    szName[0] = '\0';
    memset(&Info, 0, sizeof(Info));
}

CDisk& CDisk::operator=(unsigned int id)
{
    nID = id;
    GetDiskDescription();
    return *this;
}

int CDisk::GetDiskDescription()
{
    return Refresh(nullptr);
}

int CDisk::Refresh(bool* deviceRead)
{
    const bool read = ReadInfo(nID, &Info);
    if (deviceRead != nullptr)
        *deviceRead = read;
    if (!read)
        return 0;
    nCapacity = Info.capacity;
    nType = Info.type;
    nTransferMode = Info.u.disk.transferMode;
    if (nType == VTN_DEVICE_DISK) {
        CopyField(szName, sizeof szName, Info.u.disk.model, 20);
        nStatus = Info.u.disk.status;
        return 1;
    }
    if (nType != VTN_DEVICE_ARRAY)
        return 1;
    if (NoParent(Info.parent)) {
        CopyField(szName, sizeof szName, Info.u.array.name, sizeof Info.u.array.name);
    } else if (Info.u.array.raidType == VTN_RAID0) {
        CopyText(szName, "(RAID0)");
    } else if (Info.u.array.raidType == VTN_RAID1) {
        _LOGICAL_DEVICE_INFO_V2 parent;
        if (!ReadInfo(Info.parent, &parent))
            return 0;
        if (int pos = MemberPosition(parent, nID); pos > 0) {
            char parentName[VTN_ARRAY_NAME_FIELD + 1];
            ArrayName(parent, parentName);
            FormatText(szName, sizeof szName, "Member %d of '%s'", pos, parentName);
        }
    }
    nStatus = Info.u.array.status;
    return 1;
}

bool CDisk::IsChild() const
{
    return !NoParent(Info.parent);
}

char* CDisk::GetName(char* buf, size_t size) const
{
    CopyText(buf, size, szName);
    return buf;
}

uint32_t CDisk::GetType(char* buf, size_t size) const
{
    if (buf != nullptr)
        CopyText(buf, size, nType == VTN_DEVICE_ARRAY ? "Array" : nType == VTN_DEVICE_DISK ? "Hard Disk"
                                                                                           : "Type is unknown!");
    return nType;
}

uint32_t CDisk::GetTransferMode(char* buf, size_t size) const
{
    if (buf != nullptr)
        CopyText(buf, size, nTransferMode < 16 ? kTransferModes[nTransferMode] : "");
    return nTransferMode;
}

void CDisk::GetLocation(char* buf, size_t size) const
{
    if (buf == nullptr)
        return;
    const int c = Info.u.disk.controller, ch = Info.u.disk.channel, d = Info.u.disk.device;
    if (GetControllNum() == 2)
        FormatText(buf, size, "Location : Controller %d, Channel %d, Device %d", c, ch, d);
    else if (nStatus & VTN_DISK_NO_DEVICE_NUMBER)
        FormatText(buf, size, "Location : Controller %d, Channel %d", c + 1, ch + 1);
    else
        FormatText(buf, size, "Location : Controller %d, Channel %d, Device %d", c + 1, ch + 1, d + 1);
}

int CDisk::GetInfo(_LOGICAL_DEVICE_INFO_V2* out)
{
    const int r = cs_vtn_get_device_info(handle, nID, &Info);
    if (out != nullptr)
        memcpy(out, &Info, sizeof(Info));
    return r;
}

void CDisk::GetParentName(char* name, size_t nameSize, char* type, size_t typeSize) const
{
    if (name == nullptr || type == nullptr || !IsChild())
        return;
    _LOGICAL_DEVICE_INFO_V2 parent;
    if (!ReadInfo(Info.parent, &parent)) {
        CopyText(name, nameSize, "");
        CopyText(type, typeSize, "");
        return;
    }
    char parentName[VTN_ARRAY_NAME_FIELD + 1];
    ArrayName(parent, parentName);
    CopyText(name, nameSize, parentName);
    const uint8_t code = parent.u.array.raidType;
    if (code == VTN_RAID1 || code == VTN_RAID0) {
        if (NoParent(parent.parent)) {
            CopyText(type, typeSize, code == VTN_RAID1 ? "RAID 1" : "RAID 0");
            return;
        }
        _LOGICAL_DEVICE_INFO_V2 grand;
        if (!ReadInfo(parent.parent, &grand)) {
            CopyText(name, nameSize, "");
            CopyText(type, typeSize, "");
            return;
        }
        CopyText(type, typeSize, code == VTN_RAID1 ? "RAID 1/0" : "RAID 0/1");
        if (int pos = MemberPosition(grand, Info.parent); pos > 0) {
            char grandName[VTN_ARRAY_NAME_FIELD + 1];
            ArrayName(grand, grandName);
            FormatText(name, nameSize, "Member %d of '%s'", pos, grandName);
        }
        return;
    }
    CopyText(type, typeSize, code == VTN_RAID5 ? "RAID 5" : code == VTN_JBOD ? "JBOD" : "");
}

int CDisk::SetName(const char* name, bool apply)
{
    CopyText(szName, name);
    if (!apply)
        return 0;
    _ALTERABLE_ARRAY_INFO a{};
    a.validMask = VTN_ALTER_ARRAY_NAME;
    CopyText(a.name, name);
    return cs_vtn_set_array_info(handle, nID, &a);
}

int CDisk::SetInfo(int which, int value)
{
    _ALTERABLE_DEVICE_INFO_V2 d{};
    d.validMask = static_cast<uint32_t>(which);
    const uint8_t v = static_cast<uint8_t>(value);
    switch (which) {
    case VTN_ALTER_TCQ: d.tcq = v; break;
    case VTN_ALTER_NCQ: d.ncq = v; break;
    case VTN_ALTER_WRITE_CACHE: d.writeCache = v; break;
    case VTN_ALTER_READ_AHEAD: d.readAhead = v; break;
    default: break;   // the mask alone
    }
    return cs_vtn_set_device_info_v2(handle, nID, &d);
}

bool CDisk::JudgeRAID10() const
{
    if (Info.type != VTN_DEVICE_ARRAY || Info.u.array.raidType != VTN_RAID0)
        return false;
    const uint32_t first = FirstMember(Info);
    if (first == VTN_ID_NONE)
        return false;
    _LOGICAL_DEVICE_INFO_V2 m;
    return ReadInfo(first, &m) && m.type == VTN_DEVICE_ARRAY;
}

// ---- CDiskArray -----------------------------------------------------------------------------

CDiskArray::CDiskArray() : nMemberCount(0), nBlockSize(VTN_BLOCK_CODE_DEFAULT), nChildNum(0), bRAID01(0),
                           bRAID10(0), bHaveSpare(0)
{
    for (auto& id : MemberIds)
        id = VTN_ID_NONE;
}

CDiskArray& CDiskArray::operator=(unsigned int id)
{
    nID = id;
    bRAID01 = bRAID10 = bHaveSpare = 0;
    // A failed read of the device keeps what the previous load (or the constructor) left; a
    // member whose parent cannot be read is still loaded, with its name and status unchanged.
    bool deviceRead = false;
    CDisk::Refresh(&deviceRead);
    if (!deviceRead)
        return *this;
    nBlockSize = Info.u.array.blockCode;
    if (Info.type == VTN_DEVICE_ARRAY) {
        const uint8_t code = Info.u.array.raidType;
        const uint32_t first = FirstMember(Info);
        if (first != VTN_ID_NONE) {
            _LOGICAL_DEVICE_INFO_V2 m;
            if (ReadInfo(first, &m) && m.type == VTN_DEVICE_ARRAY) {
                if (code == VTN_RAID1) {
                    bRAID01 = 1;
                    nBlockSize = m.u.array.blockCode;
                } else if (code == VTN_RAID0) {
                    bRAID10 = 1;
                    nBlockSize = m.u.array.blockCode;
                }
            }
            nChildNum = static_cast<int>(MemberCount(Info));
        }
        // The third slot, whatever the member count: a dedicated spare follows the data members.
        if (code == VTN_RAID1 && Info.u.array.members[2] != VTN_ID_NONE) {
            _LOGICAL_DEVICE_INFO_V2 spare;
            if (ReadInfo(Info.u.array.members[2], &spare))
                bHaveSpare = (spare.u.disk.status & VTN_DISK_DISABLED) == 0;
        }
    }
    nStatus = GetRAID10ChildStatus(nStatus);
    return *this;
}

uint32_t CDiskArray::GetArrayType(char* buf, size_t size) const
{
    const uint8_t code = Info.u.array.raidType;
    if (buf != nullptr) {
        const char* text = "Type is unknown!";
        if (nType == VTN_DEVICE_ARRAY) {
            switch (code) {
            case VTN_RAID0: text = bRAID10 ? "RAID 1/0" : "RAID 0"; break;
            case VTN_RAID1: text = bRAID01 ? "RAID 0/1" : "RAID 1"; break;
            case VTN_RAID5: text = "RAID 5"; break;
            case VTN_JBOD: text = "JBOD"; break;
            default: break;
            }
        }
        CopyText(buf, size, text);
    }
    return code;
}

int CDiskArray::GetBlockSize(char* buf, size_t size) const
{
    if (buf != nullptr) {
        static const char* const texts[12] = {"1k",  "2k",   "4k",   "8k",   "16k",   "32k",
                                              "64k", "128k", "256k", "512k", "1024k", "2048k"};
        CopyText(buf, size, nBlockSize >= 1 && nBlockSize <= 12 ? texts[nBlockSize - 1] : "2048k");
    }
    return nBlockSize;
}

int CDiskArray::AddMember(unsigned int id, int index)
{
    if (nMemberCount < 0 || nMemberCount >= VTN_MODEL_MEMBER_SLOTS)
        return 0;
    const int at = index == -1 ? nMemberCount : index;
    if (at < 0 || at >= VTN_MODEL_MEMBER_SLOTS)
        return 0;
    MemberIds[at] = id;
    ++nMemberCount;
    return 1;
}

uint32_t CDiskArray::GetRAID10ChildStatus(uint32_t status) const
{
    if (!bRAID10 || gChildStatusDepth >= kMaxNesting)
        return status;
    ++gChildStatusDepth;
    for (ClDiskArrayIterator it(nID); it; ++it) {
        CDiskArray half;
        half = **it;
        if (half.nType != VTN_DEVICE_ARRAY)
            continue;
        // The halves' bits are combined, never added.
        if (half.nStatus & VTN_ARRAY_BROKEN) {
            status |= VTN_ARRAY_BROKEN;
        } else if (half.nStatus & VTN_ARRAY_REBUILDING) {
            status |= VTN_ARRAY_REBUILDING;
            if (half.nStatus & VTN_ARRAY_NEED_REBUILD)
                status |= VTN_ARRAY_NEED_REBUILD;
        }
    }
    --gChildStatusDepth;
    return status;
}

bool CDiskArray::IsInArray(unsigned int id) const
{
    const uint32_t n = MemberCount(Info);
    for (uint32_t i = 0; i < n && Info.u.array.members[i] != VTN_ID_NONE; ++i)
        if (Info.u.array.members[i] == id)
            return true;
    return false;
}

// ---- ClDiskArrayIterator --------------------------------------------------------------------

ClDiskArrayIterator::ClDiskArrayIterator(unsigned int id) : nIndex(0), nCount(0), bValid(0)
{
    for (auto& x : Ids)
        x = VTN_ID_NONE;
    memset(&Info, 0, sizeof(Info));
    if (id == VTN_ID_SYSTEM) {
        const int n = cs_vtn_get_logical_devices(handle, Ids, VTN_MODEL_MEMBER_SLOTS);
        nCount = n < 0 ? 0 : (n > VTN_MODEL_MEMBER_SLOTS ? VTN_MODEL_MEMBER_SLOTS : n);
    } else if (ReadInfo(id, &Info) && Info.type == VTN_DEVICE_ARRAY) {
        nCount = static_cast<int>(MemberCount(Info));
        for (int i = 0; i < nCount; ++i)
            Ids[i] = Info.u.array.members[i];
    }
    bValid = nCount > 0;
}

ClDiskArrayIterator& ClDiskArrayIterator::operator++()
{
    if (nIndex < nCount)
        ++nIndex;
    if (nIndex >= nCount)
        bValid = 0;
    return *this;
}

unsigned int* ClDiskArrayIterator::operator*()
{
    return bValid && nIndex >= 0 && nIndex < nCount ? &Ids[nIndex] : nullptr;
}

void SwapCopy(char* out, const char* in, unsigned int length)
{
    if (out == nullptr || in == nullptr)
        return;
    unsigned int i = 0;
    for (; i + 1 < length; i += 2) {
        out[i] = in[i + 1];
        out[i + 1] = in[i];
    }
    if (i < length)
        out[i] = in[i];
}
