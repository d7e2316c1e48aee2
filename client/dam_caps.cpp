// What the connected driver can do.
#include <cstring>

#include "client.h"
#include "dam.h"
#include "textutil.h"

namespace {

// Row order: RAID 0, RAID 1, JBOD, RAID 1/0, RAID 0/1, RAID 5.
constexpr uint8_t kRowCodes[VTN_CAP_ROWS] = {VTN_RAID0, VTN_RAID1, VTN_JBOD, VTN_RAID10, VTN_RAID01, VTN_RAID5};

struct OldRow {
    bool supported;
    uint32_t maxCount;
};
constexpr OldRow kOldRows[VTN_CAP_ROWS] = {{true, 8}, {true, 2}, {true, 8}, {false, 4}, {true, 4}, {false, 0}};

// Order of the kind list offered to the user, by row index.
constexpr int kListOrder[VTN_CAP_ROWS] = {VTN_ROW_RAID0, VTN_ROW_RAID1, VTN_ROW_JBOD,
                                          VTN_ROW_RAID5, VTN_ROW_RAID01, VTN_ROW_RAID10};
const char* const kListTexts[VTN_CAP_ROWS] = {"RAID0", "RAID1", "JBOD", "RAID10", "RAID01", "RAID5"};

constexpr int kMaxNameLength = static_cast<int>(VTN_ARRAY_NAME_FIELD) - 1;

int Clamp(int v, int lo, int hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace

CSupportPara::CSupportPara()
{
    bOldVersion = 0;
    memset(RAIDRows, 0, sizeof(RAIDRows));
    memset(&Caps, 0, sizeof(Caps));
    bSparePool = 0;
    bDedicatedSpare = 0;
    bCrossController = 0;
}

bool CSupportPara::IsOldInterVersion() const
{
    return cs_vtn_get_version(handle) <= VTN_OLD_INTERFACE_MAX_VERSION;
}

void CSupportPara::ProbeVersion()
{
    *this = CSupportPara();
    for (int i = 0; i < VTN_CAP_ROWS; ++i)
        RAIDRows[i].nCode = kRowCodes[i];

    // A failed call answers 0, which counts as an old driver.
    const uint32_t version = cs_vtn_get_version(handle);
    bOldVersion = version <= VTN_OLD_INTERFACE_MAX_VERSION;
    if (bOldVersion) {
        for (int i = 0; i < VTN_CAP_ROWS; ++i) {
            RAIDRows[i].bSupported = kOldRows[i].supported;
            RAIDRows[i].nMaxCount = kOldRows[i].maxCount;
        }
        bSparePool = 0;
        bDedicatedSpare = 1;
        bCrossController = 0;
        return;
    }

    Caps.size = sizeof(_DRIVER_CAPABILITIES);
    if (cs_vtn_get_driver_capabilities(handle, &Caps) != 0) {
        memset(&Caps, 0, sizeof(Caps));
        return;
    }
    bSparePool = Caps.sparePool & 1;
    bDedicatedSpare = Caps.dedicatedSpare & 1;
    bCrossController = Caps.crossController == 1;
    // No count beyond what the creation record of this driver generation holds.
    const uint32_t recordMax = version > VTN_OLD_RECORDS_MAX_VERSION ? VTN_MAX_MEMBERS_V2 : VTN_MAX_MEMBERS;
    for (auto& row : RAIDRows) {
        // A later entry of the same code wins.
        for (size_t e = 0; e < sizeof(Caps.raidTypes); ++e) {
            if (Caps.raidTypes[e] != row.nCode)
                continue;
            row.bSupported = 1;
            row.nMaxCount = Caps.maxMembers[e] > recordMax ? recordMax : Caps.maxMembers[e];
        }
    }
}

bool CSupportPara::SupportRAID(int index) const
{
    return index >= 0 && index < VTN_CAP_ROWS && RAIDRows[index].bSupported != 0;
}

uint32_t CSupportPara::GetRAIDMaxCount(int code) const
{
    for (int i = 0; i < VTN_CAP_ROWS; ++i)
        if (kRowCodes[i] == code)
            return RAIDRows[i].nMaxCount;
    return 0;
}

int CSupportPara::GetRAIDNameLength() const
{
    if (bOldVersion)
        return 8;
    return Clamp(Caps.maxNameLength, 1, kMaxNameLength);
}

std::vector<std::string>& CSupportPara::GetRAIDTypeList(std::vector<std::string>& list) const
{
    for (int row : kListOrder)
        if (RAIDRows[row].bSupported)
            list.emplace_back(kListTexts[row]);
    return list;
}

std::vector<std::string>& CSupportPara::GetBlockSizelist(std::vector<std::string>& list) const
{
    if (bOldVersion) {
        for (const char* t : {"64K", "32K", "16K"})
            list.emplace_back(t);
        return list;
    }
    // The offered range cut to the codes that exist; a range outside them offers nothing.
    const int lo = Caps.minBlockCode < VTN_BLOCK_CODE_MIN ? VTN_BLOCK_CODE_MIN : Caps.minBlockCode;
    const int hi = Caps.maxBlockCode > VTN_BLOCK_CODE_MAX ? VTN_BLOCK_CODE_MAX : Caps.maxBlockCode;
    for (int code = hi; code >= lo; --code) {
        char text[10];
        FormatText(text, sizeof text, "%dK", 1 << (code - 1));
        list.emplace_back(text);
    }
    return list;
}

int GetControllNum()
{
    _CONTROLLER_INFO info{};
    if (cs_vtn_get_controller_info(handle, 0, &info) != 0)
        return 0;
    return info.channels;
}
