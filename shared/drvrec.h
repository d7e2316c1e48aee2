// Records, codes and bits of the RAID driver interface. Byte-packed, little-endian,
// the same on 32-bit and 64-bit builds.
#pragma once
#include <cstddef>
#include <cstdint>

#include "global_time.h"

// ---- control codes --------------------------------------------------------------------------
constexpr uint32_t VTN_CTL_GET_VERSION = 0xFF00;
constexpr uint32_t VTN_CTL_GET_CONTROLLER_COUNT = 0xFF01;
constexpr uint32_t VTN_CTL_GET_CONTROLLER_INFO = 0xFF02;
constexpr uint32_t VTN_CTL_GET_CHANNEL_INFO = 0xFF03;
constexpr uint32_t VTN_CTL_GET_LOGICAL_DEVICES = 0xFF04;
constexpr uint32_t VTN_CTL_GET_DEVICE_INFO = 0xFF05;
constexpr uint32_t VTN_CTL_CREATE_ARRAY = 0xFF06;
constexpr uint32_t VTN_CTL_DELETE_ARRAY = 0xFF07;
constexpr uint32_t VTN_CTL_DEVICE_IO = 0xFF09;
constexpr uint32_t VTN_CTL_GET_EVENT = 0xFF0A;
constexpr uint32_t VTN_CTL_REBUILD_DATA_BLOCK = 0xFF0B;
constexpr uint32_t VTN_CTL_ADD_SPARE_DISK = 0xFF0C;
constexpr uint32_t VTN_CTL_REMOVE_SPARE_DISK = 0xFF0D;
constexpr uint32_t VTN_CTL_ADD_DISK_TO_ARRAY = 0xFF0E;
constexpr uint32_t VTN_CTL_SET_ARRAY_STATE = 0xFF0F;
constexpr uint32_t VTN_CTL_SET_ARRAY_INFO = 0xFF10;
constexpr uint32_t VTN_CTL_SET_DEVICE_INFO = 0xFF11;
constexpr uint32_t VTN_CTL_RESCAN_DEVICES = 0xFF12;
constexpr uint32_t VTN_CTL_GET_DRIVER_CAPABILITIES = 0xFF13;
constexpr uint32_t VTN_CTL_GET_QZR_INFO = 0xFF14;
constexpr uint32_t VTN_CTL_SET_QZR_INFO = 0xFF15;
constexpr uint32_t VTN_CTL_LOCK_DEVICE = 0xFF16;
constexpr uint32_t VTN_CTL_UNLOCK_DEVICE = 0xFF17;
constexpr uint32_t VTN_CTL_ADD_DEDICATED_SPARE = 0xFF1B;
constexpr uint32_t VTN_CTL_CREATE_ARRAY_V2 = 0xFF20;
constexpr uint32_t VTN_CTL_GET_DEVICE_INFO_V2 = 0xFF21;
constexpr uint32_t VTN_CTL_SET_DEVICE_INFO_V2 = 0xFF22;

// Drivers whose version word is at most this take the older device and creation records.
constexpr uint32_t VTN_OLD_RECORDS_MAX_VERSION = 0x0100FFFF;

// ---- device ids and types -------------------------------------------------------------------
constexpr uint32_t VTN_ID_SYSTEM = 0;           // parent of the top-level devices
constexpr uint32_t VTN_ID_NONE = 0xFFFFFFFF;   // empty slot, no parent

constexpr uint8_t VTN_DEVICE_ARRAY = 1;
constexpr uint8_t VTN_DEVICE_DISK = 2;

// ---- RAID type codes ------------------------------------------------------------------------
constexpr uint8_t VTN_RAID0 = 1;
constexpr uint8_t VTN_RAID1 = 2;
constexpr uint8_t VTN_RAID5 = 3;
constexpr uint8_t VTN_JBOD = 7;
constexpr uint8_t VTN_RAID10 = 18;   // capability list and GUI only
constexpr uint8_t VTN_RAID01 = 33;   // capability list and GUI only

// Creation option byte.
constexpr uint8_t VTN_CREATE_RAID1_DUPLICATE = 1;
constexpr uint8_t VTN_CREATE_RAID5_NO_BUILD = 1;
constexpr uint8_t VTN_CREATE_RAID5_ZERO_BUILD = 2;
constexpr uint8_t VTN_CREATE_RAID5_SCRUB = 4;

// Block-size code n is 2^(n-1) KB.
constexpr uint8_t VTN_BLOCK_CODE_MIN = 1;
constexpr uint8_t VTN_BLOCK_CODE_MAX = 12;
constexpr uint8_t VTN_BLOCK_CODE_DEFAULT = 7;

// ---- array status bits ----------------------------------------------------------------------
constexpr uint32_t VTN_ARRAY_DISABLED = 0x1;
constexpr uint32_t VTN_ARRAY_NEED_REBUILD = 0x2;
constexpr uint32_t VTN_ARRAY_REBUILDING = 0x4;
constexpr uint32_t VTN_ARRAY_BROKEN = 0x8;
constexpr uint32_t VTN_ARRAY_BOOTABLE = 0x10;
constexpr uint32_t VTN_ARRAY_NOT_AVAILABLE = 0x20;
constexpr uint32_t VTN_ARRAY_VERIFYING = 0x100;
constexpr uint32_t VTN_ARRAY_INITIALIZING = 0x200;
constexpr uint32_t VTN_ARRAY_BUSY_MASK = 0x304;

// ---- disk status bits -----------------------------------------------------------------------
constexpr uint32_t VTN_DISK_DISABLED = 0x1;
constexpr uint32_t VTN_DISK_BOOTABLE = 0x2;
constexpr uint32_t VTN_DISK_NO_DEVICE_NUMBER = 0x10;
constexpr uint32_t VTN_DISK_SPARE = 0x80000000;

// ---- feature byte (disk) --------------------------------------------------------------------
constexpr uint8_t VTN_FEATURE_READ_AHEAD_SUPPORTED = 0x01;
constexpr uint8_t VTN_FEATURE_READ_AHEAD_ON = 0x02;
constexpr uint8_t VTN_FEATURE_WRITE_CACHE_SUPPORTED = 0x04;
constexpr uint8_t VTN_FEATURE_WRITE_CACHE_ON = 0x08;
constexpr uint8_t VTN_FEATURE_TCQ_SUPPORTED = 0x10;
constexpr uint8_t VTN_FEATURE_TCQ_ON = 0x20;
constexpr uint8_t VTN_FEATURE_NCQ_SUPPORTED = 0x40;
constexpr uint8_t VTN_FEATURE_NCQ_ON = 0x80;

// Valid mask of _ALTERABLE_DEVICE_INFO_V2.
constexpr uint32_t VTN_ALTER_TCQ = 2;
constexpr uint32_t VTN_ALTER_NCQ = 4;
constexpr uint32_t VTN_ALTER_WRITE_CACHE = 8;
constexpr uint32_t VTN_ALTER_READ_AHEAD = 16;

// Valid mask of _ALTERABLE_ARRAY_INFO.
constexpr uint32_t VTN_ALTER_ARRAY_NAME = 1;

// ---- array state requests (0xFF0F) ----------------------------------------------------------
constexpr uint32_t VTN_STATE_START_REBUILD = 1;
constexpr uint32_t VTN_STATE_ABORT_REBUILD = 2;
constexpr uint32_t VTN_STATE_START_VERIFY = 4;
constexpr uint32_t VTN_STATE_ABORT_VERIFY = 5;
constexpr uint32_t VTN_STATE_ABORT_INITIALIZE = 8;

// ---- event kinds (_VTN_EVENT.kind) ----------------------------------------------------------
constexpr uint8_t VTN_EVENT_DEVICE_FAILED = 1;        // a disk that is no member failed or was pulled
constexpr uint8_t VTN_EVENT_DEVICE_PLUGGED = 2;
constexpr uint8_t VTN_EVENT_MEMBER_FAILED = 3;        // a member or dedicated spare failed or was pulled
constexpr uint8_t VTN_EVENT_REBUILD_STARTED = 4;
constexpr uint8_t VTN_EVENT_REBUILD_ABORTED = 5;
constexpr uint8_t VTN_EVENT_REBUILD_COMPLETED = 6;
constexpr uint8_t VTN_EVENT_SPARE_TOOK_OVER = 7;
constexpr uint8_t VTN_EVENT_REBUILD_FAILED = 8;
constexpr uint8_t VTN_EVENT_VERIFY_STARTED = 9;
constexpr uint8_t VTN_EVENT_VERIFY_ABORTED = 10;
constexpr uint8_t VTN_EVENT_VERIFY_FAILED = 11;
constexpr uint8_t VTN_EVENT_VERIFY_COMPLETED = 12;
constexpr uint8_t VTN_EVENT_INIT_STARTED = 13;
constexpr uint8_t VTN_EVENT_INIT_ABORTED = 14;        // carries the name; the array is deleted
constexpr uint8_t VTN_EVENT_INIT_FAILED = 15;         // carries the name; the array is deleted
constexpr uint8_t VTN_EVENT_INIT_COMPLETED = 16;
constexpr uint8_t VTN_EVENT_DATA_INCONSISTENT = 17;

// Progress of a running operation, in hundredths of a percent.
constexpr uint32_t VTN_PROGRESS_MAX = 10000;

constexpr uint32_t VTN_MAX_MEMBERS_V2 = 16;
constexpr uint32_t VTN_MAX_MEMBERS = 8;
constexpr size_t VTN_ARRAY_NAME_FIELD = 16;

#pragma pack(push, 1)

// Device information, newer form.
struct _LOGICAL_DEVICE_INFO_V2 {
    uint8_t type;             // VTN_DEVICE_ARRAY or VTN_DEVICE_DISK
    uint8_t reserved1[3];
    uint64_t capacity;        // 512-byte sectors
    uint32_t parent;          // 0 or VTN_ID_NONE: none
    union {
        struct {
            uint8_t controller;
            uint8_t channel;
            uint8_t device;
            uint8_t transferMode;
            uint8_t reserved2[2];
            uint8_t features;
            uint8_t reserved3;
            uint32_t status;
            uint8_t reserved4[20];
            char serial[20];
            uint8_t reserved5[6];
            char revision[8];     // bytes of every 16-bit word swapped
            char model[40];
            uint8_t reserved6[94];
        } disk;
        struct {
            char name[16];
            uint8_t reserved2[84];
            uint8_t raidType;
            uint8_t blockCode;
            uint8_t memberCount;
            uint8_t reserved3;
            uint32_t status;
            uint32_t members[16];
            uint32_t progress;    // 0 to 10000
            uint32_t reserved4;
            uint8_t reserved5[20];
        } array;
    } u;
};
static_assert(sizeof(_LOGICAL_DEVICE_INFO_V2) == 216);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, capacity) == 4);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, parent) == 12);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.disk.controller) == 16);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.disk.channel) == 17);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.disk.device) == 18);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.disk.transferMode) == 19);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.disk.features) == 22);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.disk.status) == 24);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.disk.serial) == 48);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.disk.revision) == 74);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.disk.model) == 82);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.disk.reserved6) == 122);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.array.name) == 16);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.array.raidType) == 116);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.array.blockCode) == 117);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.array.memberCount) == 118);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.array.status) == 120);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.array.members) == 124);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.array.progress) == 188);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.array.reserved4) == 192);
static_assert(offsetof(_LOGICAL_DEVICE_INFO_V2, u.array.reserved5) == 196);

// Device information, older form (drivers up to version 0x0100FFFF).
struct _LOGICAL_DEVICE_INFO {
    uint8_t type;
    uint8_t reserved1[3];
    uint32_t capacity;        // 512-byte sectors
    uint32_t parent;
    union {
        struct {
            uint8_t controller;
            uint8_t channel;
            uint8_t device;
            uint8_t transferMode;
            uint8_t reserved2[2];
            uint8_t features;
            uint8_t reserved3;
            uint32_t status;
            uint8_t reserved4[20];
            char serial[20];
            uint8_t reserved5[6];
            char revision[8];
            char model[40];
            uint8_t reserved6[56];
        } disk;
        struct {
            char name[16];
            uint8_t reserved2[84];
            uint8_t raidType;
            uint8_t blockCode;
            uint8_t memberCount;
            uint8_t reserved3;
            uint32_t status;
            uint32_t members[8];
            uint32_t progress;    // 0 to 10000
            uint32_t reserved4;
            uint8_t reserved5[14];
        } array;
    } u;
};
static_assert(sizeof(_LOGICAL_DEVICE_INFO) == 174);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, capacity) == 4);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, parent) == 8);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.disk.controller) == 12);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.disk.channel) == 13);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.disk.device) == 14);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.disk.transferMode) == 15);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.disk.features) == 18);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.disk.status) == 20);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.disk.serial) == 44);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.disk.revision) == 70);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.disk.model) == 78);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.array.name) == 12);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.array.raidType) == 112);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.array.blockCode) == 113);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.array.memberCount) == 114);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.array.status) == 116);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.array.members) == 120);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.array.progress) == 152);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.array.reserved4) == 156);
static_assert(offsetof(_LOGICAL_DEVICE_INFO, u.array.reserved5) == 160);

// Array creation, newer form.
struct _CREATE_ARRAY_PARAMS_V2 {
    uint8_t raidType;         // 1, 2, 3 or 7
    uint8_t memberCount;
    uint8_t blockCode;        // 0 where the type has none
    uint8_t option;           // RAID 1: 1 duplicate; RAID 5: 1 no build, 2 zero build, 4 scrub
    char name[16];
    uint8_t reserved[92];
    uint32_t members[16];
};
static_assert(sizeof(_CREATE_ARRAY_PARAMS_V2) == 176);
static_assert(offsetof(_CREATE_ARRAY_PARAMS_V2, memberCount) == 1);
static_assert(offsetof(_CREATE_ARRAY_PARAMS_V2, blockCode) == 2);
static_assert(offsetof(_CREATE_ARRAY_PARAMS_V2, option) == 3);
static_assert(offsetof(_CREATE_ARRAY_PARAMS_V2, name) == 4);
static_assert(offsetof(_CREATE_ARRAY_PARAMS_V2, members) == 112);

// Array creation, older form: at most 8 members.
struct _CREATE_ARRAY_PARAMS {
    uint8_t raidType;
    uint8_t memberCount;
    uint8_t blockCode;
    uint8_t option;
    char name[16];
    uint8_t reserved[84];
    uint32_t members[8];
};
static_assert(sizeof(_CREATE_ARRAY_PARAMS) == 136);
static_assert(offsetof(_CREATE_ARRAY_PARAMS, name) == 4);
static_assert(offsetof(_CREATE_ARRAY_PARAMS, members) == 104);

// Array settings (0xFF10, after the array id).
struct _ALTERABLE_ARRAY_INFO {
    uint32_t validMask;       // VTN_ALTER_ARRAY_NAME
    char name[80];
};
static_assert(sizeof(_ALTERABLE_ARRAY_INFO) == 84);
static_assert(offsetof(_ALTERABLE_ARRAY_INFO, name) == 4);

// Disk settings (0xFF22, after the disk id): one mask bit and its byte.
struct _ALTERABLE_DEVICE_INFO_V2 {
    uint32_t validMask;       // VTN_ALTER_TCQ, _NCQ, _WRITE_CACHE, _READ_AHEAD
    uint8_t reserved1;
    uint8_t tcq;
    uint8_t ncq;
    uint8_t writeCache;
    uint8_t readAhead;
    uint8_t reserved2[55];
};
static_assert(sizeof(_ALTERABLE_DEVICE_INFO_V2) == 64);
static_assert(offsetof(_ALTERABLE_DEVICE_INFO_V2, tcq) == 5);
static_assert(offsetof(_ALTERABLE_DEVICE_INFO_V2, ncq) == 6);
static_assert(offsetof(_ALTERABLE_DEVICE_INFO_V2, writeCache) == 7);
static_assert(offsetof(_ALTERABLE_DEVICE_INFO_V2, readAhead) == 8);

// Older disk settings (0xFF11): the driver's bytes, passed through.
struct _ALTERABLE_DEVICE_INFO {
    uint8_t data[5];
};
static_assert(sizeof(_ALTERABLE_DEVICE_INFO) == 5);

struct _DRIVER_CAPABILITIES {
    uint32_t size;            // the caller sets 44
    uint8_t reserved1;
    uint8_t crossController;  // 1: an array may take disks of different controllers
    uint8_t minBlockCode;
    uint8_t maxBlockCode;
    uint8_t reserved2;
    uint8_t sparePool;        // bit 0: global spare pool
    uint8_t maxNameLength;
    uint8_t dedicatedSpare;   // bit 0: spares dedicated to one array
    uint8_t raidTypes[16];
    uint8_t maxMembers[16];   // for the type at the same index
};
static_assert(sizeof(_DRIVER_CAPABILITIES) == 44);
static_assert(offsetof(_DRIVER_CAPABILITIES, crossController) == 5);
static_assert(offsetof(_DRIVER_CAPABILITIES, minBlockCode) == 6);
static_assert(offsetof(_DRIVER_CAPABILITIES, maxBlockCode) == 7);
static_assert(offsetof(_DRIVER_CAPABILITIES, sparePool) == 9);
static_assert(offsetof(_DRIVER_CAPABILITIES, maxNameLength) == 10);
static_assert(offsetof(_DRIVER_CAPABILITIES, dedicatedSpare) == 11);
static_assert(offsetof(_DRIVER_CAPABILITIES, raidTypes) == 12);
static_assert(offsetof(_DRIVER_CAPABILITIES, maxMembers) == 28);

// Bus capability bits of _CONTROLLER_INFO, in the order they are tested.
constexpr uint8_t VTN_BUS_ATA150 = 0x02;
constexpr uint8_t VTN_BUS_ATA133 = 0x01;
constexpr uint8_t VTN_BUS_ATA100 = 0x40;
constexpr uint8_t VTN_BUS_ATA66 = 0x20;

struct _CONTROLLER_INFO {
    uint8_t reserved;
    uint8_t interrupt;
    uint8_t channels;
    uint8_t busBits;
    char name[36];
    char manufacturer[36];
};
static_assert(sizeof(_CONTROLLER_INFO) == 76);
static_assert(offsetof(_CONTROLLER_INFO, interrupt) == 1);
static_assert(offsetof(_CONTROLLER_INFO, channels) == 2);
static_assert(offsetof(_CONTROLLER_INFO, busBits) == 3);
static_assert(offsetof(_CONTROLLER_INFO, name) == 4);
static_assert(offsetof(_CONTROLLER_INFO, manufacturer) == 40);

struct _CHANNEL_INFO {
    uint8_t reserved[8];
    uint32_t devices[2];      // 0 or VTN_ID_NONE: no device
};
static_assert(sizeof(_CHANNEL_INFO) == 16);
static_assert(offsetof(_CHANNEL_INFO, devices) == 8);

// Per-device record of one chip family (0xFF14 / 0xFF15): passed through.
struct _VTNQZR_INFO {
    uint8_t data[16];
};
static_assert(sizeof(_VTNQZR_INFO) == 16);

// Driver event (0xFF0A).
struct _VTN_EVENT {
    _TIME_RECORD time;
    uint32_t device;
    uint8_t kind;             // VTN_EVENT_*
    uint8_t unused[3];
    union {
        uint8_t duplicate;    // kinds 4, 5, 6, 8: non-zero = duplication
        char name[32];        // kinds 14, 15: the array's name
    } u;
};
static_assert(sizeof(_VTN_EVENT) == 44);
static_assert(offsetof(_VTN_EVENT, device) == 4);
static_assert(offsetof(_VTN_EVENT, kind) == 8);
static_assert(offsetof(_VTN_EVENT, u.duplicate) == 12);
static_assert(offsetof(_VTN_EVENT, u.name) == 12);

#pragma pack(pop)
