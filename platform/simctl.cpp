// The simulated controller's state file: lock, load when changed, store after every change,
// the call log, and the operations of the tool.
//
// A driver call costs little: the processes that use a state share one mapped file beside it
// (state path + ".shared") holding a process-shared mutex, a counter every store raises, and
// the call log as a ring of records. The state file stays open, and the model stays in memory
// while the file is the version it was read from or written as; a call checks that with one
// fstat and the counter, and a call that changes nothing neither copies nor writes the model.
#include "simctl.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fileio.h"
#include "paths.h"
#include "simmodel.h"
#include "textutil.h"

using vtnsim::Model;

namespace {

constexpr const char* kDefaultState = "/var/db/vtnsim.json";

std::mutex gMutex;               // one user of the state at a time in this process
std::atomic<int64_t> gTime{0};   // virtual clock; 0 = real time

// ---- the file the users of a state share -----------------------------------------------------

struct CallEntry {
    int64_t time;
    uint32_t code;
    uint32_t inSize;
    uint32_t outSize;
    int32_t result;
    char channel[64];
};

constexpr uint32_t kSharedMagic = 0x564E5331;   // raised when the layout changes
constexpr uint32_t kCallSlots = kVtnSimCallLogSize;   // the oldest call is dropped first

struct SharedHead {
    uint32_t magic;          // written last, once the rest is set up
    uint32_t slots;
    uint64_t generation;     // raised by every store of the state
    uint64_t calls;          // calls logged since the log was emptied
    pthread_mutex_t mutex;   // process-shared and robust: a holder that dies frees it
};

struct SharedFile {
    alignas(64) SharedHead head;
    CallEntry log[kCallSlots];
};

// One version of a file: a rewrite changes its times or size, a replacement its link count.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    int64_t mtimeSec = 0;
    long mtimeNsec = 0;
    off_t size = -1;
    bool operator==(const FileId&) const = default;
};

FileId IdOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_size};
}

// What this process keeps of the state it uses (under gMutex).
struct Held {
    std::string path;                 // the state file
    int sharedFd = -1;
    SharedFile* shared = nullptr;     // mapped from sharedFd
    bool locked = false;              // this process holds shared->head.mutex
    int stateFd = -1;                 // the version of the state the model came from
    FileId stateId;
    uint64_t seenGeneration = 0;
    std::optional<Model> model;
};
Held gHeld;

std::string SharedPath(const std::string& statePath) { return statePath + ".shared"; }

void CloseFd(int* fd)
{
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

void Unlock()
{
    if (gHeld.locked)
        pthread_mutex_unlock(&gHeld.shared->head.mutex);
    gHeld.locked = false;
}

void Forget()
{
    Unlock();
    if (gHeld.shared)
        munmap(gHeld.shared, sizeof(SharedFile));
    gHeld.shared = nullptr;
    CloseFd(&gHeld.sharedFd);
    CloseFd(&gHeld.stateFd);
    gHeld.model.reset();
    gHeld.path.clear();
}

// Maps the shared file of the state at `path`, making and setting it up when it is new
// (`create`). Set-up runs under flock, so that one process does it and the others wait.
bool OpenShared(const std::string& path, bool create, std::string* error)
{
    Forget();
    const std::string file = SharedPath(path);
    gHeld.sharedFd = open(file.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    if (gHeld.sharedFd < 0) {
        *error = "cannot open " + file + ": " + strerror(errno);
        return false;
    }
    int r;
    while ((r = flock(gHeld.sharedFd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    struct stat st{};
    void* p = MAP_FAILED;
    if (r == 0 && fstat(gHeld.sharedFd, &st) == 0 &&
        (st.st_size >= static_cast<off_t>(sizeof(SharedFile)) || ftruncate(gHeld.sharedFd, sizeof(SharedFile)) == 0))
        p = mmap(nullptr, sizeof(SharedFile), PROT_READ | PROT_WRITE, MAP_SHARED, gHeld.sharedFd, 0);
    bool ok = p != MAP_FAILED;
    if (!ok)
        *error = "cannot set up " + file + ": " + strerror(errno);
    if (ok) {
        gHeld.shared = static_cast<SharedFile*>(p);
        SharedHead& h = gHeld.shared->head;
        if (__atomic_load_n(&h.magic, __ATOMIC_ACQUIRE) != kSharedMagic) {
            h.slots = kCallSlots;
            h.generation = 0;
            h.calls = 0;
            pthread_mutexattr_t attr;
            pthread_mutexattr_init(&attr);
            pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
            pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
            pthread_mutex_init(&h.mutex, &attr);
            pthread_mutexattr_destroy(&attr);
            __atomic_store_n(&h.magic, kSharedMagic, __ATOMIC_RELEASE);
        }
        ok = h.slots == kCallSlots;
        if (!ok)
            *error = file + " has a layout of another version";
        // Every page writable now rather than one fault at the first call that reaches it (an
        // older kernel refuses this; then only those calls are slower).
        madvise(p, sizeof(SharedFile), MADV_POPULATE_WRITE);
    }
    if (r == 0)
        flock(gHeld.sharedFd, LOCK_UN);
    if (!ok) {
        Forget();
        return false;
    }
    gHeld.path = path;
    return true;
}

bool Lock(std::string* error)
{
    int r = pthread_mutex_lock(&gHeld.shared->head.mutex);
    if (r == EOWNERDEAD) {
        // Its holder died. The state file is whole (stores replace it by rename) and a call it
        // was logging was not counted, so what the mutex guards is consistent as it is.
        pthread_mutex_consistent(&gHeld.shared->head.mutex);
        r = 0;
    }
    gHeld.locked = r == 0;
    if (r != 0)
        *error = "cannot lock " + SharedPath(gHeld.path) + ": " + strerror(r);
    return gHeld.locked;
}

uint64_t Generation() { return gHeld.shared->head.generation; }

// True when the shared file mapped is still the one at its path (a folder made anew holds another).
bool SharedIsCurrent()
{
    struct stat held{}, now{};
    return fstat(gHeld.sharedFd, &held) == 0 && stat(SharedPath(gHeld.path).c_str(), &now) == 0 &&
           held.st_dev == now.st_dev && held.st_ino == now.st_ino;
}

std::string Missing(const std::string& path)
{
    return "no simulated controller: state file " + path + " is missing (run: vtnsim init)";
}

// Reads the state file into gHeld.model, keeping it open as the version the model came from.
// 0, ENOENT when there is none, or EIO.
int ReadState(std::string* error)
{
    CloseFd(&gHeld.stateFd);
    gHeld.model.reset();
    const std::string& path = gHeld.path;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        *error = err == ENOENT ? Missing(path) : "cannot read the state file " + path;
        return err == ENOENT ? ENOENT : EIO;
    }
    struct stat st{};
    std::string text;
    bool ok = fstat(fd, &st) == 0;
    if (ok) {
        text.resize(static_cast<size_t>(st.st_size));
        const ssize_t n = ReadUpTo(fd, text.data(), text.size(), 0);
        ok = n >= 0;
        text.resize(ok ? static_cast<size_t>(n) : 0);
    }
    if (!ok) {
        close(fd);
        *error = "cannot read the state file " + path;
        return EIO;
    }
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    Model m;
    if (j.is_discarded() || !j.is_object()) {
        *error = "the state file " + path + " is not valid JSON";
    } else if (m.FromJson(j, error)) {
        gHeld.model = std::move(m);
        gHeld.stateFd = fd;
        gHeld.stateId = IdOf(st);
        gHeld.seenGeneration = Generation();
        return 0;
    }
    close(fd);
    return EIO;
}

// True when the model in memory is the state as it is in the file.
bool ModelIsCurrent()
{
    struct stat st{};
    return gHeld.model && gHeld.stateFd >= 0 && Generation() == gHeld.seenGeneration &&
           fstat(gHeld.stateFd, &st) == 0 && st.st_nlink > 0 && IdOf(st) == gHeld.stateId;
}

// Writes the model in memory as the state and notes the version written. False when it could
// not; the model is then forgotten and read again by the next call.
bool Store(std::string* error)
{
    const std::string& path = gHeld.path;
    // Not synced: the state is a test fixture, rewritten after every change.
    if (!ReplaceFile(path, gHeld.model->ToJson().dump(1) + "\n", 0644, false)) {
        *error = "cannot replace " + path + ": " + strerror(errno);
        CloseFd(&gHeld.stateFd);
        gHeld.model.reset();
        return false;
    }
    ++gHeld.shared->head.generation;
    CloseFd(&gHeld.stateFd);
    struct stat st{};
    gHeld.stateFd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (gHeld.stateFd < 0 || fstat(gHeld.stateFd, &st) != 0) {
        CloseFd(&gHeld.stateFd);
        gHeld.model.reset();   // written; read again by the next call
        return true;
    }
    gHeld.stateId = IdOf(st);
    gHeld.seenGeneration = Generation();
    return true;
}

// One entry per received call, under the lock, so that the calls of every process using the
// state stay in order.
void LogCall(const char* channel, const _VTN_DRIVER_REQUEST& r, int64_t now, int rc)
{
    SharedHead& h = gHeld.shared->head;
    CallEntry& e = gHeld.shared->log[h.calls % kCallSlots];
    e.time = now;
    e.code = r.code;
    e.inSize = r.inSize;
    e.outSize = r.outSize;
    e.result = rc;
    CopyText(e.channel, channel);
    for (char* p = e.channel; *p; ++p)
        if (*p == ' ' || *p == '\n' || *p == '\t')
            *p = '_';
    ++h.calls;   // last: an entry whose writer died half-way is not counted
}

enum class Need { Existing, Fresh };

std::string StatePath(bool forWrite)
{
    const char* env = getenv("VTN_SIM_STATE");
    if (env && *env)
        return env;
    return forWrite ? VtnPathForWrite(kDefaultState) : VtnPath(kDefaultState);
}

// Takes the lock and, for an existing state, makes gHeld.model the state's model: the one in
// memory while the file is unchanged, else the file read anew. For a fresh state the model is
// left empty. 0 or an errno value, with the lock not held then.
int Acquire(Need need, std::string* error)
{
    const std::string path = StatePath(need == Need::Fresh);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool opened = gHeld.path != path;
        if (opened) {
            // No shared file is made beside a state that does not exist.
            struct stat st{};
            if (need == Need::Existing && stat(path.c_str(), &st) != 0) {
                Forget();
                *error = Missing(path);
                return ENOENT;
            }
            if (!OpenShared(path, true, error))
                return EIO;
        }
        if (!Lock(error)) {
            Forget();
            return EIO;
        }
        if (need == Need::Existing && ModelIsCurrent())
            return 0;
        if (opened || SharedIsCurrent()) {
            if (need == Need::Fresh) {
                CloseFd(&gHeld.stateFd);
                gHeld.model.reset();
                return 0;
            }
            // Another writer changed the state.
            const int rc = ReadState(error);
            if (rc != 0)
                Unlock();
            return rc;
        }
        Forget();   // the folder was made anew since: map the shared file it holds now
    }
    *error = "cannot lock " + SharedPath(path);
    return EIO;
}

// Runs `body` on the state's model under the lock and stores the state when the body (or the
// passing of time) changed it. The body works on the model this process keeps in memory; a
// change that may be abandoned half-way goes through OnCopy. `after` runs still under the lock.
// Returns 0 or an errno value; *error says why for the tool.
int WithState(Need need, const std::function<int(Model&, int64_t, bool*)>& body, std::string* error,
              const std::function<void(int64_t, int)>& after = {})
{
    std::lock_guard<std::mutex> guard(gMutex);
    int rc = Acquire(need, error);
    if (rc != 0)
        return rc;
    if (!gHeld.model)
        gHeld.model.emplace();
    Model& m = *gHeld.model;
    const int64_t now = VtnSimNow() + m.clockOffset;
    bool changed = m.Advance(now);
    bool bodyChanged = false;
    rc = body(m, now, &bodyChanged);
    if (changed || bodyChanged) {
        std::string werr;
        if (!Store(&werr) && rc == 0) {
            *error = werr;
            rc = EIO;
        }
    } else if (need == Need::Fresh) {
        gHeld.model.reset();   // nothing was made: the file is as it was
    }
    if (after)
        after(now, rc);
    Unlock();
    return rc;
}

// Runs `change` on a copy of the model and keeps the copy only when it changed, so that a
// refusal half-way leaves nothing behind.
int OnCopy(Model& m, bool* changed, const std::function<int(Model&, bool*)>& change)
{
    Model work = m;
    bool workChanged = false;
    const int rc = change(work, &workChanged);
    if (workChanged) {
        m = std::move(work);
        *changed = true;
    }
    return rc;
}

bool Report(int rc, const std::string& done, const std::string& error, std::string* message)
{
    if (message)
        *message = rc == 0 ? done : error;
    return rc == 0;
}

// Runs a tool change that reports its own error text.
bool ToolChange(const std::function<bool(Model&, int64_t, std::string*)>& change, std::string* message)
{
    std::string error, done;
    const int rc = WithState(
        Need::Existing,
        [&](Model& m, int64_t now, bool* changed) {
            return OnCopy(m, changed, [&](Model& work, bool* workChanged) {
                if (!change(work, now, &done)) {
                    error = done;
                    return EINVAL;
                }
                *workChanged = true;
                return 0;
            });
        },
        &error);
    return Report(rc, done, error, message);
}

}  // namespace

std::string VtnSimStatePath() { return StatePath(false); }


void VtnSimSetTime(int64_t t) { gTime.store(t); }

void VtnSimAdvanceTime(int64_t seconds)
{
    int64_t t = gTime.load();
    if (t == 0)
        t = static_cast<int64_t>(time(nullptr));
    gTime.store(t + seconds);
}

int64_t VtnSimNow()
{
    const int64_t t = gTime.load();
    return t != 0 ? t : static_cast<int64_t>(time(nullptr));
}

int VtnSimCall(const char* name, const _VTN_DRIVER_REQUEST* request)
{
    if (name == nullptr || request == nullptr) {
        errno = EINVAL;
        return -1;
    }
    std::string error;
    const int rc = WithState(
        Need::Existing,
        [&](Model& m, int64_t now, bool* changed) {
            if (std::find(m.channels.begin(), m.channels.end(), name) == m.channels.end())
                return ENOENT;
            if (!vtnsim::NeedsCopy(request->code))
                return m.Dispatch(*request, now, changed);
            return OnCopy(m, changed, [&](Model& work, bool* workChanged) {
                return work.Dispatch(*request, now, workChanged);
            });
        },
        &error, [&](int64_t now, int result) { LogCall(name, *request, now, result); });
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return 0;
}

bool VtnSimInit(const std::string& preset, std::string* message)
{
    std::string error;
    const int rc = WithState(
        Need::Fresh,
        [&](Model& m, int64_t, bool* changed) {
            if (!m.LoadPreset(preset)) {
                error = "unknown preset '" + preset + "' (pata2, sata4, sata8, dual, demo)";
                return EINVAL;
            }
            *changed = true;
            return 0;
        },
        &error, [](int64_t, int result) {
            if (result == 0)
                gHeld.shared->head.calls = 0;   // a new controller has received nothing yet
        });
    return Report(rc, "initialized " + VtnSimStatePath() + " with preset " + preset, error, message);
}

bool VtnSimShow(bool asJson, std::string* message)
{
    std::string error, text;
    const int rc = WithState(
        Need::Existing,
        [&](Model& m, int64_t now, bool*) {
            text = asJson ? m.ToJson().dump(1) + "\n" : m.Describe(now);
            return 0;
        },
        &error);
    return Report(rc, text, error, message);
}

bool VtnSimFail(uint32_t id, std::string* message)
{
    return ToolChange(
        [&](Model& m, int64_t now, std::string* msg) {
            if (!m.FailDevice(id, now, msg))
                return false;
            *msg = "disk " + std::to_string(id) + " failed";
            return true;
        },
        message);
}

bool VtnSimPull(uint32_t id, std::string* message)
{
    return ToolChange(
        [&](Model& m, int64_t now, std::string* msg) {
            if (!m.PullDevice(id, now, msg))
                return false;
            *msg = "disk " + std::to_string(id) + " pulled";
            return true;
        },
        message);
}

bool VtnSimPlug(int controller, int channel, int device, uint64_t sizeGb, uint32_t* newId, std::string* message)
{
    return ToolChange(
        [&](Model& m, int64_t now, std::string* msg) {
            uint32_t id = 0;
            if (!m.PlugDisk(controller, channel, device, sizeGb, now, &id, msg))
                return false;
            if (newId)
                *newId = id;
            *msg = "disk " + std::to_string(id) + " plugged at controller " + std::to_string(controller) +
                   " channel " + std::to_string(channel) + " device " + std::to_string(device) + " (" +
                   std::to_string(sizeGb) + " GB)";
            return true;
        },
        message);
}

bool VtnSimProgress(uint32_t arrayId, double percent, std::string* message)
{
    return ToolChange(
        [&](Model& m, int64_t now, std::string* msg) {
            if (!m.SetProgress(arrayId, percent, now, msg))
                return false;
            char buf[96];
            FormatText(buf, sizeof buf, "array %u at %.2f%%", arrayId, percent);
            *msg = buf;
            return true;
        },
        message);
}

bool VtnSimFinish(uint32_t arrayId, std::string* message)
{
    return ToolChange(
        [&](Model& m, int64_t now, std::string* msg) {
            if (!m.FinishOperation(arrayId, now, msg))
                return false;
            *msg = "array " + std::to_string(arrayId) + " finished its operation";
            return true;
        },
        message);
}

bool VtnSimEvent(uint8_t kind, uint32_t device, uint8_t flag, const std::string& name, std::string* message)
{
    return ToolChange(
        [&](Model& m, int64_t now, std::string* msg) {
            if (name.size() > 31) {
                *msg = "an event name holds at most 31 characters";
                return false;
            }
            m.PushEvent(kind, device, flag, name, now);
            *msg = "event kind " + std::to_string(kind) + " for device " + std::to_string(device) + " queued";
            return true;
        },
        message);
}

bool VtnSimSetVersion(uint32_t version, std::string* message)
{
    return ToolChange(
        [&](Model& m, int64_t, std::string* msg) {
            m.version = version;
            char buf[48];
            FormatText(buf, sizeof buf, "version set to 0x%08X", version);
            *msg = buf;
            return true;
        },
        message);
}

bool VtnSimSetChannel(const std::string& name, std::string* message)
{
    return ToolChange(
        [&](Model& m, int64_t, std::string* msg) {
            if (name.empty() || name.size() > 255 || name.find_first_of(" \t\n") != std::string::npos) {
                *msg = "a channel name is 1 to 255 characters without blanks";
                return false;
            }
            m.channels = {name};
            *msg = "channel set to " + name;
            return true;
        },
        message);
}

bool VtnSimSetRate(uint64_t sectorsPerSecond, std::string* message)
{
    return ToolChange(
        [&](Model& m, int64_t now, std::string* msg) {
            m.SetRate(sectorsPerSecond, now);
            *msg = "rate set to " + std::to_string(sectorsPerSecond) + " sectors per second";
            return true;
        },
        message);
}

bool VtnSimFailNext(uint32_t code, uint32_t count, std::string* message)
{
    return ToolChange(
        [&](Model& m, int64_t, std::string* msg) {
            if (code < 0xFF00 || code > 0xFFFF || count == 0) {
                *msg = "the code must be from 0xFF00 to 0xFFFF and the count at least 1";
                return false;
            }
            m.failNext.emplace_back(code, count);
            char buf[80];
            FormatText(buf, sizeof buf, "the next %u call(s) of 0x%04X will fail", count, code);
            *msg = buf;
            return true;
        },
        message);
}

bool VtnSimReboot(std::string* message)
{
    return ToolChange(
        [&](Model& m, int64_t, std::string* msg) {
            *msg = "rebooted: " + std::to_string(m.Reboot()) + " array(s) became available";
            return true;
        },
        message);
}

bool VtnSimAdvanceStateClock(int64_t seconds, std::string* message)
{
    return ToolChange(
        [&](Model& m, int64_t, std::string* msg) {
            m.clockOffset += seconds;
            *msg = "clock moved by " + std::to_string(seconds) + " s";
            return true;
        },
        message);
}

std::vector<VtnSimCallRecord> VtnSimCallLog()
{
    std::vector<VtnSimCallRecord> out;
    std::lock_guard<std::mutex> guard(gMutex);
    std::string error;
    const std::string path = StatePath(false);
    // Without a shared file no call was received.
    if ((gHeld.path != path && !OpenShared(path, false, &error)) || !Lock(&error))
        return out;
    const SharedHead& h = gHeld.shared->head;
    const uint64_t first = h.calls > kCallSlots ? h.calls - kCallSlots : 0;
    for (uint64_t n = first; n < h.calls; ++n) {
        const CallEntry& e = gHeld.shared->log[n % kCallSlots];
        VtnSimCallRecord r;
        r.time = e.time;
        r.channel.assign(e.channel, FieldLength(e.channel, sizeof e.channel));
        r.code = e.code;
        r.inSize = e.inSize;
        r.outSize = e.outSize;
        r.result = e.result;
        out.push_back(r);
    }
    Unlock();
    return out;
}

bool VtnSimLogText(std::string* message)
{
    struct stat st{};
    if (stat(VtnSimStatePath().c_str(), &st) != 0) {
        *message = "no simulated controller: state file " + VtnSimStatePath() + " is missing (run: vtnsim init)";
        return false;
    }
    std::string text;
    char line[160];
    for (const auto& r : VtnSimCallLog()) {
        FormatText(line, sizeof line, "%lld %s 0x%04X in %u out %u -> %s\n", static_cast<long long>(r.time),
                   r.channel.c_str(), r.code, r.inSize, r.outSize,
                   r.result == 0 ? "ok" : strerror(r.result));
        text += line;
    }
    *message = text.empty() ? "no calls received\n" : text;
    return true;
}

bool VtnSimEdit(const std::function<bool(vtnsim::Model&, int64_t now, std::string* message)>& change,
                std::string* message)
{
    return ToolChange(change, message);
}
