// Array creation, deletion and spares, and the one log sentence each operation writes.
#include <cstdio>
#include <cstring>
#include <string>

#include "client.h"
#include "dam.h"
#include "damui.h"
#include "global_log.h"
#include "locallog.h"
#include "textutil.h"

namespace {

std::string Location(unsigned int id)
{
    CDisk d;
    d = id;
    char text[VTN_MODEL_TEXT_SIZE];
    d.GetLocation(text, sizeof text);
    return text;
}

// Each member's location followed by two blanks.
std::string Locations(const uint32_t* ids, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += Location(ids[i]) + "  ";
    return out;
}

std::string Sentence(const char* fmt, const char* a)
{
    char text[VTN_LOG_SENTENCE_MAX + 1];
    FormatText(text, sizeof text, fmt, a);
    return text;
}

std::string Sentence(const char* fmt, const char* a, const char* b)
{
    char text[VTN_LOG_SENTENCE_MAX + 1];
    FormatText(text, sizeof text, fmt, a, b);
    return text;
}

void Notice(const std::string& sentence)
{
    MessageBox(sentence.c_str(), "Error", false);
}

// Most members a creation record of the connected driver holds.
int RecordMembers(int count)
{
    if (count <= static_cast<int>(VTN_MAX_MEMBERS))
        return VTN_MAX_MEMBERS;   // every generation holds these; no need to ask
    return cs_vtn_get_version(handle) > VTN_OLD_RECORDS_MAX_VERSION ? VTN_MAX_MEMBERS_V2 : VTN_MAX_MEMBERS;
}

_CREATE_ARRAY_PARAMS_V2 Request(uint8_t type, const uint32_t* ids, int count, uint8_t block, uint8_t option,
                                const char* name)
{
    _CREATE_ARRAY_PARAMS_V2 p{};
    p.raidType = type;
    p.memberCount = static_cast<uint8_t>(count);
    p.blockCode = block;
    p.option = option;
    CopyText(p.name, sizeof p.name, name);
    for (int i = 0; i < count && i < static_cast<int>(VTN_MAX_MEMBERS_V2); ++i)
        p.members[i] = ids[i];
    return p;
}

bool ValidTimeRecord(_TIME_RECORD t)
{
    static const unsigned kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > kDays[t.month - 1])
        return false;
    if (t.month == 2 && t.day == 29 && t.year % 4 != 0)   // 2000 + year: every fourth is a leap year
        return false;
    return t.hour < 24 && t.minute < 60 && t.second < 60;
}

// Even counts of 4 and more whose halves fit a creation record.
bool NestedCountOk(int n)
{
    return n >= 4 && n % 2 == 0 && n <= VTN_MODEL_MEMBER_SLOTS && n / 2 <= RecordMembers(n / 2);
}

}  // namespace

void CDisk::SaveLog(const char* text)
{
    _VTN_LOG_EVENT ev{};
    ev.severity = 'I';
    CopyText(ev.text, sizeof ev.text, text);   // cut at 511 characters
    const int stamp = cs_vtn_save_log_event(handle, &ev);

    // The reply is the server's time stamp of the event; anything that is no date is replaced
    // by the local time (a failed request answers -1).
    _TIME_RECORD t = TimeRecordFromValue(static_cast<uint32_t>(stamp));
    if (!ValidTimeRecord(t))
        t = ConvertTimeT(VtnNow());
    ev.time = t;
    char when[32];
    FormatText(when, sizeof when, "%02d/%02d/%d %02d:%02d:%02d", static_cast<int>(t.month),
               static_cast<int>(t.day), 2000 + static_cast<int>(t.year), static_cast<int>(t.hour),
               static_cast<int>(t.minute), static_cast<int>(t.second));

    AppendLocalLog(ev.severity, when, ev.text);  // a failure is told there; the row still shows the event
    AddToClist(ev.severity, when, ev.text);
}

unsigned int CDiskArray::CreateRAID0()
{
    if (nMemberCount < 2 || nMemberCount > RecordMembers(nMemberCount))
        return 0;
    _CREATE_ARRAY_PARAMS_V2 p = Request(VTN_RAID0, MemberIds, nMemberCount, static_cast<uint8_t>(nBlockSize), 0,
                                        szName);
    nID = cs_vtn_create_array(handle, &p);
    std::string s;
    if (nID != 0) {
        s = Sentence("Creating RAID 0 (Striping) Array '%s' %s.  ", szName, "succeeded");
    } else {
        s = Sentence("Creating RAID 0 (Striping) Array %s.  ", "failed");
        Notice(s);
    }
    SaveLog((s + Locations(MemberIds, nMemberCount)).c_str());
    if (nID != 0)
        CDisk::GetDiskDescription();
    return nID;
}

unsigned int CDiskArray::CreateRAID5(int mode)
{
    if (nMemberCount < 2 || nMemberCount > RecordMembers(nMemberCount))
        return 0;
    _CREATE_ARRAY_PARAMS_V2 p = Request(VTN_RAID5, MemberIds, nMemberCount, static_cast<uint8_t>(nBlockSize),
                                        static_cast<uint8_t>(mode), szName);
    nID = cs_vtn_create_array(handle, &p);
    std::string s;
    if (nID != 0) {
        s = Sentence("Creating RAID 5  Array '%s' %s.  ", szName, "succeeded");
    } else {
        s = Sentence("Creating RAID 5  Array %s.  ", "failed");
        Notice(s);
    }
    SaveLog((s + Locations(MemberIds, nMemberCount)).c_str());
    if (nID != 0)
        CDisk::GetDiskDescription();
    return nID;
}

unsigned int CDiskArray::CreateJBOD()
{
    if (nMemberCount < 2 || nMemberCount > RecordMembers(nMemberCount))
        return 0;
    _CREATE_ARRAY_PARAMS_V2 p = Request(VTN_JBOD, MemberIds, nMemberCount, 0, 0, szName);
    nID = cs_vtn_create_array(handle, &p);
    std::string s;
    if (nID != 0) {
        s = Sentence("Creating JBOD (Volume) Array '%s' %s.  ", szName, "succeeded");
    } else {
        s = Sentence("Creating JBOD (Volume) Array %s.  ", "failed");
        Notice(s);
    }
    SaveLog((s + Locations(MemberIds, nMemberCount)).c_str());
    if (nID != 0)
        CDisk::GetDiskDescription();
    return nID;
}

unsigned int CDiskArray::CreateRAID1(bool duplicate)
{
    nMemberCount = 2;   // a third id stays in the list
    const std::string source = Location(MemberIds[0]);
    const std::string mirror = Location(MemberIds[1]);
    const uint32_t spare = GetControllNum() == 2 ? MemberIds[2] : VTN_ID_NONE;
    const std::string spareLoc = spare != VTN_ID_NONE ? Location(spare) : std::string();

    _CREATE_ARRAY_PARAMS_V2 p = Request(VTN_RAID1, MemberIds, 2, 0, duplicate ? 1 : 0, szName);
    nID = cs_vtn_create_array(handle, &p);

    char text[VTN_LOG_SENTENCE_MAX + 1];
    if (nID == 0) {
        FormatText(text, sizeof text, "Creating RAID 1 (Mirroring) Array %s.", "failed");
        Notice(text);
        SaveLog(text);
        return 0;
    }
    if (spare == VTN_ID_NONE) {
        FormatText(text, sizeof text, "Creating RAID 1 (Mirroring) Array '%s' %s. (Orignal disk:%s  Mirror disk:%s)",
                   szName, "succeeded", source.c_str(), mirror.c_str());
        SaveLog(text);
    } else if (cs_vtn_add_spare_disk(handle, spare) == 0) {
        FormatText(text, sizeof text,
                   "Creating RAID 1 (Mirroring) Array '%s' %s. (Orignal disk:%s  Mirror disk:%s  Spare disk:%s)",
                   szName, "succeeded", source.c_str(), mirror.c_str(), spareLoc.c_str());
        SaveLog(text);
    } else {
        // The array exists; only the spare failed, and the log says so.
        FormatText(text, sizeof text, "Creating RAID 1 (Mirroring) Array '%s' %s. (Orignal disk:%s  Mirror disk:%s)",
                   szName, "succeeded", source.c_str(), mirror.c_str());
        SaveLog(text);
        const std::string s = Sentence("Add spare disk (%s) to spare pool %s.  ", spareLoc.c_str(), "failed");
        Notice(s);
        SaveLog(s.c_str());
    }
    CDisk::GetDiskDescription();
    return nID;
}

unsigned int CDiskArray::CreateRAID01(bool duplicate)
{
    const int n = nMemberCount;
    const bool twoChannels = GetControllNum() == 2;
    if (twoChannels ? n != 4 : !NestedCountOk(n))
        return 0;
    const int half = n / 2;
    const uint8_t block = static_cast<uint8_t>(nBlockSize);
    // The two-channel controller builds its halves without the duplicate option.
    const uint8_t halfOption = !twoChannels && duplicate ? 1 : 0;
    const std::string failed = Sentence("Creating RAID 0/1 (Mirrored Striping) Array %s . ", "failed");
    auto fail = [&](unsigned int madeA, unsigned int madeB) -> unsigned int {
        // Nothing is left behind that no mirror uses.
        if (madeB != 0)
            cs_vtn_delete_array(handle, madeB, 1);
        if (madeA != 0)
            cs_vtn_delete_array(handle, madeA, 1);
        Notice(failed);
        SaveLog(failed.c_str());
        nID = 0;
        return 0;
    };

    _CREATE_ARRAY_PARAMS_V2 pa = Request(VTN_RAID0, MemberIds, half, block, halfOption, "RAID_0_0");
    const unsigned int a = cs_vtn_create_array(handle, &pa);
    if (a == 0)
        return fail(0, 0);
    _LOGICAL_DEVICE_INFO_V2 ia{};
    const bool readA = cs_vtn_get_device_info(handle, a, &ia) == 0;
    if (!readA && !twoChannels)
        return fail(a, 0);

    _CREATE_ARRAY_PARAMS_V2 pb = Request(VTN_RAID0, MemberIds + half, half, block, halfOption, "RAID_0_1");
    const unsigned int b = cs_vtn_create_array(handle, &pb);
    if (b == 0)
        return fail(a, 0);
    _LOGICAL_DEVICE_INFO_V2 ib{};
    const bool readB = cs_vtn_get_device_info(handle, b, &ib) == 0;
    if (!readB && !twoChannels)
        return fail(a, b);

    // The smaller half first; a tie, or a half that could not be read, puts A first.
    const bool bFirst = readA && readB && ib.capacity < ia.capacity;
    const uint32_t halves[2] = {bFirst ? b : a, bFirst ? a : b};
    _CREATE_ARRAY_PARAMS_V2 pm = Request(VTN_RAID1, halves, 2, block, duplicate ? 1 : 0, szName);
    nID = cs_vtn_create_array(handle, &pm);
    std::string s;
    if (nID != 0) {
        s = Sentence("Creating RAID 0/1 (Mirrored Striping) Array '%s' %s . ", szName, "succeeded");
    } else {
        s = failed;
        Notice(s);
    }
    SaveLog((s + Locations(MemberIds, n)).c_str());
    if (nID != 0)
        CDisk::GetDiskDescription();
    return nID;
}

unsigned int CDiskArray::CreateRAID10(bool)
{
    const int channels = GetControllNum();
    if (channels != 4 && channels != 8)
        return 0;
    if (nMemberCount < 4 || nMemberCount % 2 != 0 || nMemberCount > RecordMembers(nMemberCount))
        return 0;
    _CREATE_ARRAY_PARAMS_V2 p = Request(VTN_RAID1, MemberIds, nMemberCount, static_cast<uint8_t>(nBlockSize), 0,
                                        szName);
    nID = cs_vtn_create_array(handle, &p);
    std::string s;
    if (nID != 0) {
        s = Sentence("Creating RAID 1/0 (Striped Mirroring) Array '%s' %s . ", szName, "succeeded");
    } else {
        s = Sentence("Creating RAID 1/0 (Striped Mirroring) Array %s . ", "failed");
        Notice(s);
    }
    SaveLog((s + Locations(MemberIds, nMemberCount)).c_str());
    if (nID != 0)
        CDisk::GetDiskDescription();
    return nID;
}

int CDiskArray::Delete(bool remove)
{
    CDiskArray a;
    a = nID;
    const int r = cs_vtn_delete_array(handle, nID, remove ? 0 : 1);
    const char* result = r == 0 ? "succeeded" : "failed";
    const char* fmt = "Deleting Array '%s' %s.  ";
    switch (a.Info.u.array.raidType) {
    case VTN_RAID0:
        fmt = a.IsRAID10() ? "Deleting RAID 1/0 (Striped Mirroring) Array '%s' %s.  "
                           : "Deleting RAID 0 (Striping) Array '%s' %s.  ";
        break;
    case VTN_RAID1:
        fmt = a.IsRAID01() ? "Deleting RAID 0/1 (Mirrored Striping) Array '%s' %s.  "
                           : "Deleting RAID 1 (Mirroring) Array '%s' %s.  ";
        break;
    case VTN_RAID5: fmt = "Deleting RAID 5 Array '%s' %s.  "; break;
    case VTN_JBOD: fmt = "Deleting JBOD (Volume) Array '%s' %s.  "; break;
    default: break;
    }
    SaveLog(Sentence(fmt, a.szName, result).c_str());
    return r == 0 ? 1 : 0;
}

int CDiskArray::EditSpare(bool add)
{
    if (nMemberCount < 1)
        return 0;
    const unsigned int disk = MemberIds[0];
    const std::string where = Location(disk);
    const int r = add ? cs_vtn_add_spare_disk(handle, disk) : cs_vtn_remove_spare_disk(handle, disk);
    SaveLog(Sentence(add ? "Add spare disk (%s) to spare pool %s.  " : "Delete spare disk (%s) from spare pool %s.  ",
                     where.c_str(), r == 0 ? "succeeded" : "failed")
                .c_str());
    return r == 0 ? 1 : 0;
}

int CDiskArray::EditArraySpare(unsigned int arrayId)
{
    if (nMemberCount < 1)
        return 0;
    const unsigned int disk = MemberIds[0];
    const std::string where = Location(disk);
    const int r = cs_vtn_add_dedicated_spare(handle, arrayId, disk);
    SaveLog(Sentence("Add spare disk (%s) to spare pool %s.  ", where.c_str(), r == 0 ? "succeeded" : "failed")
                .c_str());
    return r == 0 ? 1 : 0;
}
