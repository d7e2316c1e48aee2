// The device and array model: the driver's capabilities, disks and arrays loaded by id through
// the client API, array creation, deletion and spares, status texts and array naming rules.
// Objects are short-lived values that re-read the server on every load; nothing is cached.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drvrec.h"
#include "global_time.h"

// The connection handle of the one server the GUI talks to; negative: not connected.
// Defined by the model; the GUI sets it at login and logout.
extern int handle;

// Room for an array, member or disk name: "Member 16 of '<16 characters>'" and its terminator.
constexpr size_t VTN_DISK_NAME_SIZE = 40;
// Ids of a member list or an iterator.
constexpr int VTN_MODEL_MEMBER_SLOTS = 20;
// Longest sentence of the event log.
constexpr size_t VTN_LOG_SENTENCE_MAX = 511;
// Room for a status text, a location or a parent name.
constexpr size_t VTN_MODEL_TEXT_SIZE = 128;

// ---- driver capabilities --------------------------------------------------------------------

struct SRAIDCapRow {
    uint8_t nCode;        // RAID type code
    uint8_t bSupported;
    uint32_t nMaxCount;   // largest member count
};

// Row indices, the argument of SupportRAID.
enum {
    VTN_ROW_RAID0 = 0,
    VTN_ROW_RAID1 = 1,
    VTN_ROW_JBOD = 2,
    VTN_ROW_RAID10 = 3,
    VTN_ROW_RAID01 = 4,
    VTN_ROW_RAID5 = 5,
    VTN_CAP_ROWS = 6
};

// Drivers up to this version cannot report their capabilities.
constexpr uint32_t VTN_OLD_INTERFACE_MAX_VERSION = 0x01000001;

class CSupportPara {
public:
    CSupportPara();
    ~CSupportPara() = default;

    // Clears everything, then fills the rows and flags for the connected driver.
    void ProbeVersion();
    // Asks the driver version anew: true up to VTN_OLD_INTERFACE_MAX_VERSION (0 included).
    bool IsOldInterVersion() const;
    bool IsOldVersion() const { return bOldVersion != 0; }
    bool SupportRAID(int index) const;
    // Largest member count for a RAID type code (1, 2, 3, 7, 18, 33); 0 for any other.
    uint32_t GetRAIDMaxCount(int code) const;
    int GetRAIDNameLength() const;
    // Appends the list texts of the supported kinds: RAID0, RAID1, JBOD, RAID5, RAID01, RAID10.
    std::vector<std::string>& GetRAIDTypeList(std::vector<std::string>& list) const;
    // Appends the block-size texts offered, largest first ("64K", ...).
    std::vector<std::string>& GetBlockSizelist(std::vector<std::string>& list) const;
    bool IsSptSparePool() const { return bSparePool != 0; }
    bool IsSptDedicatedSpare() const { return bDedicatedSpare != 0; }
    bool IsSptCrossController() const { return bCrossController != 0; }

    uint8_t bOldVersion;
    SRAIDCapRow RAIDRows[VTN_CAP_ROWS];
    _DRIVER_CAPABILITIES Caps;
    uint8_t bSparePool;
    uint8_t bDedicatedSpare;
    uint8_t bCrossController;
};

// Channel count of the first controller; 0 when it cannot be read.
int GetControllNum();

// ---- disks and arrays -----------------------------------------------------------------------

class CDisk {
public:
    CDisk();
    virtual ~CDisk() = default;
    CDisk(const CDisk&) = default;
    CDisk& operator=(const CDisk&) = default;

    // Refresh from the driver: 1, or 0 when the read failed (the other fields then stay).
    virtual int GetDiskDescription();
    // Load by id.
    virtual CDisk& operator=(unsigned int id);

    unsigned int GetID() const { return nID; }
    bool IsChild() const;
    unsigned int GetParentID() const { return Info.parent; }
    uint64_t GetCapacity() const { return nCapacity; }
    char* GetName(char* buf, size_t size) const;
    // The device type; with a buffer also "Array", "Hard Disk" or "Type is unknown!".
    uint32_t GetType(char* buf = nullptr, size_t size = 0) const;
    uint32_t GetTransferMode(char* buf = nullptr, size_t size = 0) const;
    void GetLocation(char* buf, size_t size) const;
    // Re-reads the device information into Info and copies it out; the call's status word.
    int GetInfo(_LOGICAL_DEVICE_INFO_V2* out);
    void GetParentName(char* name, size_t nameSize, char* type, size_t typeSize) const;
    // Names the object; with apply also renames the array on the server (its status word).
    int SetName(const char* name, bool apply);
    // One disk setting (mask 2 TCQ, 4 NCQ, 8 write cache, 16 read ahead); the status word.
    int SetInfo(int which, int value);
    // The status word; with a buffer also its text.
    uint32_t GetWorkStatus(char* buf = nullptr, size_t size = 0);
    bool JudgeRAID10() const;
    // One sentence to the server's event log, the local log copy and the Event View.
    void SaveLog(const char* text);

    uint32_t nType;
    uint64_t nCapacity;
    uint32_t nStatus;
    uint32_t nTransferMode;
    char szName[VTN_DISK_NAME_SIZE];
    _LOGICAL_DEVICE_INFO_V2 Info;
    uint32_t nID;

protected:
    // The refresh itself; deviceRead tells whether the device's own read worked (a 0 may
    // also come from a failed read of its parent).
    int Refresh(bool* deviceRead);
};

class CDiskArray : public CDisk {
public:
    CDiskArray();
    ~CDiskArray() override = default;
    CDiskArray(const CDiskArray&) = default;
    CDiskArray& operator=(const CDiskArray&) = default;

    // An array refreshes only through its own load.
    int GetDiskDescription() override { return 1; }
    // Array load with RAID 0/1, RAID 1/0 and spare detection.
    CDiskArray& operator=(unsigned int id) override;

    // The RAID type code; with a buffer also "RAID 0", "RAID 1/0", "RAID 1", "RAID 0/1", ...
    uint32_t GetArrayType(char* buf = nullptr, size_t size = 0) const;
    void SetBlockSize(int code) { nBlockSize = code; }
    int GetBlockSize(char* buf = nullptr, size_t size = 0) const;
    bool IsRAID01() const { return bRAID01 != 0; }
    bool IsRAID10() const { return bRAID10 != 0; }
    bool HaveSpare() const { return bHaveSpare != 0; }
    int GetChildNum() const { return nChildNum; }
    bool IsCombinRaid() const { return bRAID01 != 0 || bRAID10 != 0; }
    // index -1: after the last member; otherwise at the index. 1, or 0 when the list is full
    // or the index lies outside it.
    int AddMember(unsigned int id, int index);
    uint32_t GetRAID10ChildStatus(uint32_t status) const;
    bool IsInArray(unsigned int id) const;

    // Creation: the new id (also the object's id), 0 on failure.
    unsigned int CreateRAID0();
    unsigned int CreateRAID5(int mode);
    unsigned int CreateJBOD();
    unsigned int CreateRAID1(bool duplicate);
    unsigned int CreateRAID01(bool duplicate);
    unsigned int CreateRAID10(bool unused);
    // 1 deleted, 0 failed. remove true: an ordinary deletion (driver flag 0).
    int Delete(bool remove);
    // The first member is the disk: into (true) or out of the spare pool. 1 done, 0 failed.
    int EditSpare(bool add);
    // The first member becomes a spare dedicated to arrayId. 1 done, 0 failed.
    int EditArraySpare(unsigned int arrayId);

    uint32_t MemberIds[VTN_MODEL_MEMBER_SLOTS];
    int nMemberCount;
    int nBlockSize;
    int nChildNum;
    int bRAID01;
    int bRAID10;
    int bHaveSpare;
};

// The top-level devices (id 0) or one array's members.
class ClDiskArrayIterator {
public:
    explicit ClDiskArrayIterator(unsigned int id);
    virtual ~ClDiskArrayIterator() = default;
    virtual operator int() const { return bValid; }
    virtual ClDiskArrayIterator& operator++();
    // The current id; nullptr once the iterator is no longer valid.
    virtual unsigned int* operator*();

    uint32_t Ids[VTN_MODEL_MEMBER_SLOTS];
    _LOGICAL_DEVICE_INFO_V2 Info;
    int nIndex;
    int nCount;
    int bValid;
};

// Copies length bytes, swapping the two bytes of each pair (an odd last byte is copied).
void SwapCopy(char* out, const char* in, unsigned int length);

// ---- status texts and naming rules ----------------------------------------------------------

void TrimSpace(char* s);
bool GetSameRAIDName(const char* name);
unsigned int GetRAIDID(const char* name);
bool GetInvalName(const char* name);
bool IsDefaultName(const char* name, int code, bool nested);
int GetRAIDNum(int code, bool nested);
// Writes the default name for a RAID type code (1, 2, 3, 7, 18, 33); any other leaves buf.
void DefaultRAIDName(int code, char* buf, size_t size);
int GetBlockSizeValue(const char* text);
int GetRAIDTypeValue(const char* text);
void TimeRecToStr(_TIME_RECORD t, char* buf, size_t size);
bool IsInSameContrl(unsigned int a, unsigned int b);
int Reboot();
int GetBootDisk();
