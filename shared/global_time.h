// The packed time record, date arithmetic over it, and the reboot action.
#pragma once
#include <cstdint>
#include <ctime>

#pragma pack(push, 1)
// Local time packed in one little-endian u32, from the low bit up.
struct _TIME_RECORD {
    uint32_t second : 6;
    uint32_t minute : 6;
    uint32_t month : 4;   // 1-12
    uint32_t hour : 6;
    uint32_t day : 5;     // 1-31
    uint32_t year : 5;    // year - 2000
};
#pragma pack(pop)
static_assert(sizeof(_TIME_RECORD) == 4);

uint32_t TimeRecordValue(const _TIME_RECORD& rec);
_TIME_RECORD TimeRecordFromValue(uint32_t value);

void SetTimeRecord(_TIME_RECORD* rec);
time_t ConvertTimeRecord(_TIME_RECORD& rec);
_TIME_RECORD ConvertTimeT(time_t t);
int dateadd(char unit, tm* t, int n);
int datediff(char unit, _TIME_RECORD& a, _TIME_RECORD& b);
int datediff(char unit, time_t a, time_t b);
int datepart(char unit, _TIME_RECORD rec);

// Where "now" comes from (time() by default); tests inject a clock. nullptr restores time().
void VtnSetTimeSource(time_t (*now)());
time_t VtnNow();

// Reboots the machine; under VTN_ROOT runs VTN_REBOOT_COMMAND or writes $VTN_ROOT/var/run/vtn.reboot.
int RebootSystem();
