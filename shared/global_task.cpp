#include "global_task.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>

#include "fileio.h"
#include "paths.h"
#include "vtnstatus.h"

namespace {

constexpr const char* kTaskPath = "/etc/vtntask.dat";
constexpr size_t kRecord = sizeof(_VTN_TASK_INFO);
constexpr size_t kKeyOffset = offsetof(_VTN_TASK_INFO, serial);
constexpr size_t kKeySize = sizeof(_VTN_TASK_INFO::serial) + sizeof(_VTN_TASK_INFO::model);
static_assert(kKeySize == 60);
static_assert(offsetof(_VTN_TASK_INFO, model) == kKeyOffset + sizeof(_VTN_TASK_INFO::serial));

// Enumerations and changes of the file never overlap within the process.
std::mutex gTaskMutex;

// Reads the record of slot; false on a short read (the end of the whole records).
bool ReadSlot(int fd, size_t slot, _VTN_TASK_INFO* out)
{
    return ReadExact(fd, out, kRecord, static_cast<off_t>(slot * kRecord));
}

bool WriteSlot(int fd, size_t slot, const _VTN_TASK_INFO& rec)
{
    return WriteExactAt(fd, &rec, kRecord, static_cast<off_t>(slot * kRecord));
}

bool InUse(const _VTN_TASK_INFO& rec)
{
    uint32_t serial = 0;
    uint32_t model = 0;
    memcpy(&serial, rec.serial, sizeof serial);
    memcpy(&model, rec.model, sizeof model);
    return serial != 0 || model != 0;
}

bool SameTask(const _VTN_TASK_INFO& a, const _VTN_TASK_INFO& b)
{
    const char* pa = reinterpret_cast<const char*>(&a);
    const char* pb = reinterpret_cast<const char*>(&b);
    return memcmp(pa + kKeyOffset, pb + kKeyOffset, kKeySize) == 0 &&
           TimeRecordValue(a.created) == TimeRecordValue(b.created);
}

// Slot of the task in use with the caller's identity, or -1. A free slot is no task,
// so zero bytes never "find" a deleted record.
long FindTask(int fd, const _VTN_TASK_INFO& wanted, size_t* wholeRecords)
{
    _VTN_TASK_INFO rec;
    size_t slot = 0;
    for (; ReadSlot(fd, slot, &rec); ++slot) {
        if (InUse(rec) && SameTask(rec, wanted))
            return static_cast<long>(slot);
    }
    if (wholeRecords != nullptr)
        *wholeRecords = slot;
    return -1;
}

}  // namespace

uint32_t vtn_enum_tasks(_VTN_TASK_INFO* task, int n)
{
    if (task == nullptr)
        return VTN_FAILURE;
    std::lock_guard<std::mutex> guard(gTaskMutex);
    std::string path = VtnPath(kTaskPath);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? VTN_FILE_MISSING : VTN_FAILURE;
    uint32_t result = VTN_NO_MORE_ENTRIES;
    _VTN_TASK_INFO rec;
    int seen = 0;
    for (size_t slot = 0; n >= 0 && ReadSlot(fd, slot, &rec); ++slot) {
        if (!InUse(rec))
            continue;
        if (seen++ == n) {
            *task = rec;
            result = VTN_SUCCESS;
            break;
        }
    }
    close(fd);
    return result;
}

uint32_t vtn_set_task(_VTN_TASK_INFO* task, uint8_t action)
{
    if (action != VTN_TASK_ACTION_ADD && action != VTN_TASK_ACTION_DELETE && action != VTN_TASK_ACTION_MODIFY)
        return VTN_FAILURE;
    if (task == nullptr)
        return VTN_FAILURE;
    std::lock_guard<std::mutex> guard(gTaskMutex);
    std::string path = VtnPathForWrite(kTaskPath);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return VTN_FAILURE;

    uint32_t result = VTN_SUCCESS;
    size_t whole = 0;
    if (action == VTN_TASK_ACTION_ADD) {
        SetTimeRecord(&task->created);
        task->modified = task->created;
        if (FindTask(fd, *task, &whole) >= 0) {
            result = VTN_TASK_EXISTS;
        } else {
            // First slot never stamped (a deleted record is all zero), else just after the
            // last whole record: a torn tail is overwritten, never read as a record.
            size_t slot = 0;
            _VTN_TASK_INFO rec;
            while (slot < whole && ReadSlot(fd, slot, &rec) && TimeRecordValue(rec.created) != 0)
                ++slot;
            if (!WriteSlot(fd, slot, *task))
                result = VTN_FAILURE;
        }
    } else {
        if (action == VTN_TASK_ACTION_MODIFY)
            SetTimeRecord(&task->modified);
        long slot = FindTask(fd, *task, nullptr);
        if (slot < 0) {
            result = VTN_NO_SUCH_TASK;
        } else {
            _VTN_TASK_INFO rec{};
            if (action == VTN_TASK_ACTION_MODIFY)
                rec = *task;
            if (!WriteSlot(fd, static_cast<size_t>(slot), rec))
                result = VTN_FAILURE;
        }
    }
    close(fd);
    return result;
}
