// The task file "/etc/vtntask.dat": fixed 244-byte records.
#pragma once
#include <cstddef>
#include <cstdint>

#include "global_time.h"

#pragma pack(push, 1)
struct _VTN_TASK_INFO {
    uint32_t arrayId;
    char name[64];
    uint8_t serial[20];     // array key: serial number of the array's first disk
    uint8_t model[40];      //            and its model text
    uint8_t kind;           // VTN_TASK_* flags
    uint8_t runStatus;      // 1 started, 2 array not found, 8 failed
    char creator[64];
    char arrayName[32];
    _TIME_RECORD created;
    _TIME_RECORD modified;
    _TIME_RECORD start;
    _TIME_RECORD end;       // 0xFFFFFFFF: no end date
    union {
        uint16_t days;      // every N days: N
        struct {
            uint8_t day;    // weeks: weekday (0 = Sunday); months: day of the month
            uint8_t every;  // weeks or months: N
        } period;
    } schedule;
};
#pragma pack(pop)
static_assert(sizeof(_VTN_TASK_INFO) == 244);
static_assert(offsetof(_VTN_TASK_INFO, name) == 4);
static_assert(offsetof(_VTN_TASK_INFO, serial) == 68);
static_assert(offsetof(_VTN_TASK_INFO, model) == 88);
static_assert(offsetof(_VTN_TASK_INFO, kind) == 128);
static_assert(offsetof(_VTN_TASK_INFO, runStatus) == 129);
static_assert(offsetof(_VTN_TASK_INFO, creator) == 130);
static_assert(offsetof(_VTN_TASK_INFO, arrayName) == 194);
static_assert(offsetof(_VTN_TASK_INFO, created) == 226);
static_assert(offsetof(_VTN_TASK_INFO, modified) == 230);
static_assert(offsetof(_VTN_TASK_INFO, start) == 234);
static_assert(offsetof(_VTN_TASK_INFO, end) == 238);
static_assert(offsetof(_VTN_TASK_INFO, schedule) == 242);

constexpr uint8_t VTN_TASK_ONCE = 0x01;
constexpr uint8_t VTN_TASK_DAYS = 0x02;
constexpr uint8_t VTN_TASK_WEEKS = 0x04;
constexpr uint8_t VTN_TASK_MONTHS = 0x08;
constexpr uint8_t VTN_TASK_VERIFY = 0x10;
constexpr uint8_t VTN_TASK_REBUILD = 0x20;
constexpr uint8_t VTN_TASK_ENABLED = 0x40;

constexpr uint8_t VTN_TASK_ACTION_ADD = 1;
constexpr uint8_t VTN_TASK_ACTION_DELETE = 2;
constexpr uint8_t VTN_TASK_ACTION_MODIFY = 3;

uint32_t vtn_enum_tasks(_VTN_TASK_INFO* task, int n);
uint32_t vtn_set_task(_VTN_TASK_INFO* task, uint8_t action);
