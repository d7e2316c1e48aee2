// Scheduled tasks: today's task list and the start of due tasks.
#include <cstdlib>
#include <cstring>

#include "commonsvr.h"
#include "vtnintf.h"

namespace {

constexpr int kMaxTopDevices = 32;
constexpr int kMaxLevels = 8;                 // first members followed down at most this deep
constexpr uint8_t kStatusStarted = 0x01;
constexpr uint8_t kStatusNotFound = 0x02;
constexpr uint8_t kStatusFailed = 0x08;
constexpr uint8_t kStatusDone = 0x0F;         // any of these: not tried again today
constexpr uint32_t kNoEnd = 0xFFFFFFFFu;
constexpr size_t kKeySize = sizeof(_VTN_TASK_INFO::serial) + sizeof(_VTN_TASK_INFO::model);

bool ValidDate(const _TIME_RECORD& t)
{
    return t.month >= 1 && t.month <= 12 && t.day >= 1;
}

// Days from 1970-01-01 to the record's date (proleptic Gregorian calendar).
long CivilDays(const _TIME_RECORD& t)
{
    long y = static_cast<long>(t.year) + 2000;
    const long m = t.month;
    const long d = t.day;
    y -= m <= 2;
    const long era = y / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// Calendar days from b's date to a's date.
long DaysBetween(const _TIME_RECORD& a, const _TIME_RECORD& b)
{
    return CivilDays(a) - CivilDays(b);
}

int Weekday(const _TIME_RECORD& t)
{
    long w = (CivilDays(t) + 4) % 7;   // 1970-01-01 was a Thursday
    return static_cast<int>(w < 0 ? w + 7 : w);
}

long MonthsBetween(const _TIME_RECORD& a, const _TIME_RECORD& b)
{
    return (static_cast<long>(a.year) * 12 + a.month) - (static_cast<long>(b.year) * 12 + b.month);
}

long SecondOfDay(const _TIME_RECORD& t)
{
    return static_cast<long>(t.hour) * 3600 + t.minute * 60 + t.second;
}

bool DueToday(const _VTN_TASK_INFO& task, const _TIME_RECORD& now)
{
    if ((task.kind & VTN_TASK_ENABLED) == 0)
        return false;
    _TIME_RECORD start = task.start;
    if (!ValidDate(start) || !ValidDate(now))
        return false;
    const long days = DaysBetween(now, start);
    if (days < 0)
        return false;
    if ((task.kind & VTN_TASK_ONCE) == 0 && TimeRecordValue(task.end) != kNoEnd) {
        _TIME_RECORD end = task.end;
        if (!ValidDate(end) || DaysBetween(end, now) < 0)
            return false;
    }
    if (task.kind & VTN_TASK_ONCE) {
        // Only while the start time has not passed (whole minutes, cut toward zero).
        return days == 0 && (SecondOfDay(start) - SecondOfDay(now)) / 60 >= 0;
    }
    if ((task.kind & VTN_TASK_DAYS) && task.schedule.days != 0)
        return days % task.schedule.days == 0;
    const uint8_t every = task.schedule.period.every;
    if ((task.kind & VTN_TASK_MONTHS) && every != 0)
        return MonthsBetween(now, start) % every == 0 && now.day == task.schedule.period.day;
    if ((task.kind & VTN_TASK_WEEKS) && every != 0)
        return Weekday(now) == task.schedule.period.day && (days / 7) % every == 0;
    return false;
}

bool SameTask(const _VTN_TASK_INFO& a, const _VTN_TASK_INFO& b)
{
    return memcmp(a.serial, b.serial, sizeof(a.serial)) == 0 && memcmp(a.model, b.model, sizeof(a.model)) == 0 &&
           TimeRecordValue(a.created) == TimeRecordValue(b.created);
}

bool ReadDevice(uint32_t id, _LOGICAL_DEVICE_INFO* info)
{
    return vtn_get_device_info(id, info) == 0;
}

bool KeyMatches(const _LOGICAL_DEVICE_INFO& disk, const _VTN_TASK_INFO& task)
{
    return memcmp(disk.u.disk.serial, task.serial, sizeof(task.serial)) == 0 &&
           memcmp(disk.u.disk.model, task.model, sizeof(task.model)) == 0;
}

uint32_t MemberCount(const _LOGICAL_DEVICE_INFO& info)
{
    uint32_t n = info.u.array.memberCount;
    return n > VTN_MAX_MEMBERS ? VTN_MAX_MEMBERS : n;
}

// The array that carries the task's key, or VTN_ID_NONE.
uint32_t FindTaskArray(const _VTN_TASK_INFO& task)
{
    uint32_t ids[kMaxTopDevices] = {};
    int count = vtn_get_logical_devices(ids, kMaxTopDevices);
    if (count > kMaxTopDevices)
        count = kMaxTopDevices;
    for (int i = 0; i < count; ++i) {
        _LOGICAL_DEVICE_INFO top{};
        if (!ReadDevice(ids[i], &top) || top.type != VTN_DEVICE_ARRAY)
            continue;
        _LOGICAL_DEVICE_INFO disk{};
        if (top.u.array.raidType != VTN_RAID0) {
            if (GetFirstPhysicalDevice(ids[i], &disk) && KeyMatches(disk, task))
                return ids[i];
            continue;
        }
        // A stripe carries tasks only through its mirrors.
        const uint32_t members = MemberCount(top);
        for (uint32_t m = 0; m < members; ++m) {
            const uint32_t memberId = top.u.array.members[m];
            _LOGICAL_DEVICE_INFO member{};
            if (!ReadDevice(memberId, &member) || member.type != VTN_DEVICE_ARRAY ||
                member.u.array.raidType != VTN_RAID1)
                break;
            if ((member.u.array.status & VTN_ARRAY_BUSY_MASK) != 0)
                continue;
            if (GetFirstPhysicalDevice(memberId, &disk) && KeyMatches(disk, task))
                return memberId;
        }
    }
    return VTN_ID_NONE;
}

}  // namespace

void FreeTaskList()
{
    free(gSvrGlobal.tasks);
    gSvrGlobal.tasks = nullptr;
    gSvrGlobal.taskCount = 0;
}

void AddTaskToList(_VTN_TASK_INFO* task)
{
    if (task == nullptr)
        return;
    auto* grown = static_cast<_VTN_TASK_INFO*>(
        realloc(gSvrGlobal.tasks, sizeof(_VTN_TASK_INFO) * static_cast<size_t>(gSvrGlobal.taskCount + 1)));
    if (grown == nullptr) {
        FreeTaskList();
        return;
    }
    gSvrGlobal.tasks = grown;
    gSvrGlobal.tasks[gSvrGlobal.taskCount++] = *task;
}

void CheckScheduledTasks(_TIME_RECORD now)
{
    const bool newDay = now.day != gSvrGlobal.taskDay;
    if (TestSvrFlag(VTN_FLAG_RELOAD_TASKS) || newDay) {
        ClearSvrFlag(VTN_FLAG_RELOAD_TASKS);
        gSvrGlobal.taskDay = now.day;
        _VTN_TASK_INFO* old = gSvrGlobal.tasks;
        const int oldCount = gSvrGlobal.taskCount;
        gSvrGlobal.tasks = nullptr;
        gSvrGlobal.taskCount = 0;
        _VTN_TASK_INFO task{};
        for (int i = 0; vtn_enum_tasks(&task, i) == VTN_SUCCESS; ++i) {
            if (!DueToday(task, now))
                continue;
            // A list rebuilt during the day remembers what already ran today.
            task.runStatus = 0;
            for (int k = 0; !newDay && k < oldCount; ++k)
                if (SameTask(old[k], task))
                    task.runStatus = old[k].runStatus;
            AddTaskToList(&task);
            if (gSvrGlobal.tasks == nullptr)
                break;   // out of memory: the list stays empty until the next rebuild
        }
        free(old);
    }
    for (int i = 0; i < gSvrGlobal.taskCount; ++i) {
        _VTN_TASK_INFO& entry = gSvrGlobal.tasks[i];
        const int minutes = static_cast<int>(entry.start.minute) - static_cast<int>(now.minute);
        if (entry.start.hour == now.hour && minutes >= -1 && minutes <= 1 && (entry.runStatus & kStatusDone) == 0)
            ExecuteTask(&entry);
    }
}

void ExecuteTask(_VTN_TASK_INFO* entry)
{
    if (entry == nullptr)
        return;
    const uint32_t target = FindTaskArray(*entry);
    if (target == VTN_ID_NONE)
        entry->runStatus |= kStatusNotFound;
    if (entry->runStatus & kStatusDone)
        return;
    if (entry->kind & VTN_TASK_VERIFY)
        entry->runStatus |= vtn_set_array_state(target, VTN_STATE_START_VERIFY) == 0 ? kStatusStarted : kStatusFailed;
    else if (entry->kind & VTN_TASK_REBUILD)
        entry->runStatus |= vtn_set_array_state(target, VTN_STATE_START_REBUILD) == 0 ? kStatusStarted : kStatusFailed;
    else
        entry->runStatus |= kStatusFailed;   // nothing to start: once is enough
    char name[sizeof(entry->name) + 1];
    CopyField(name, sizeof(name), entry->name, sizeof(entry->name));
    SaveTaskEvent(name, (entry->runStatus & kStatusStarted) != 0);
}

void SaveTaskEvent(const char* taskName, bool started)
{
    _VTN_LOG_EVENT event{};
    event.mark = 3;
    if (started) {
        event.severity = 'I';
        FormatText(event.text, sizeof(event.text), "Scheduled task (%s) started.", taskName ? taskName : "");
    } else {
        event.severity = 'W';
        FormatText(event.text, sizeof(event.text), "Failed to start scheduled task (%s).", taskName ? taskName : "");
    }
    SaveEventToFile(&event);
    EventNotification(&event, nullptr);
}

bool FillTaskKey(_VTN_TASK_INFO* task)
{
    if (task == nullptr)
        return false;
    _LOGICAL_DEVICE_INFO array{};
    if (!ReadDevice(task->arrayId, &array) || array.type != VTN_DEVICE_ARRAY)
        return false;
    if ((array.u.array.status & (VTN_ARRAY_BROKEN | VTN_ARRAY_DISABLED)) != 0 ||
        (array.u.array.raidType != VTN_RAID1 && array.u.array.raidType != VTN_RAID5))
        return false;
    if (MemberCount(array) == 0)
        return false;
    _LOGICAL_DEVICE_INFO disk{};
    if (!GetFirstPhysicalDevice(array.u.array.members[0], &disk) || (disk.u.disk.status & VTN_DISK_DISABLED) != 0)
        return false;
    uint8_t key[kKeySize];
    memcpy(key, disk.u.disk.serial, sizeof(task->serial));
    memcpy(key + sizeof(task->serial), disk.u.disk.model, sizeof(task->model));
    static const uint8_t kZeros[kKeySize] = {};
    // A key of zeros would match every disk that reports nothing.
    if (memcmp(key, kZeros, kKeySize) == 0)
        return false;
    memcpy(task->serial, key, sizeof(task->serial));
    memcpy(task->model, key + sizeof(task->serial), sizeof(task->model));
    return true;
}

bool GetFirstPhysicalDevice(uint32_t id, _LOGICAL_DEVICE_INFO* out)
{
    if (out == nullptr)
        return false;
    for (int level = 0; level < kMaxLevels; ++level) {
        if (!ReadDevice(id, out))
            return false;
        if (out->type == VTN_DEVICE_DISK)
            return true;
        if (out->type != VTN_DEVICE_ARRAY || out->u.array.memberCount == 0)
            return false;
        id = out->u.array.members[0];
    }
    return false;
}
