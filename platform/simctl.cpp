// The simulated controller's state file: lock, load when changed, store after every change,
// the call log, and the operations of the tool.
#include "simctl.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fileio.h"
#include "paths.h"
#include "simmodel.h"
#include "textutil.h"

using vtnsim::Model;

namespace {

constexpr const char* kDefaultState = "/var/db/vtnsim.json";
constexpr off_t kLogLimit = 1 << 20;

std::mutex gMutex;             // one user of the state at a time in this process
std::atomic<int64_t> gTime{0};   // virtual clock; 0 = real time

struct Cache {
    std::string path;
    dev_t dev = 0;
    ino_t ino = 0;
    timespec mtime{};
    off_t size = -1;
    std::optional<Model> model;
};
Cache gCache;

bool SameFile(const struct stat& st)
{
    return gCache.model && gCache.dev == st.st_dev && gCache.ino == st.st_ino &&
           gCache.mtime.tv_sec == st.st_mtim.tv_sec && gCache.mtime.tv_nsec == st.st_mtim.tv_nsec &&
           gCache.size == st.st_size;
}

void Remember(const std::string& path, const Model& m)
{
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) {
        gCache.model.reset();
        return;
    }
    gCache.path = path;
    gCache.dev = st.st_dev;
    gCache.ino = st.st_ino;
    gCache.mtime = st.st_mtim;
    gCache.size = st.st_size;
    gCache.model = m;
}

// flock on a side file: the state file itself is replaced by rename on every store.
class FileLock {
public:
    explicit FileLock(const std::string& statePath)
    {
        fd_ = open((statePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~FileLock()
    {
        if (fd_ >= 0)
            close(fd_);   // closing drops the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

bool ReadState(const std::string& path, Model* m, std::string* error)
{
    std::ifstream f(path);
    if (!f) {
        *error = "cannot read the state file " + path;
        return false;
    }
    std::stringstream text;
    text << f.rdbuf();
    nlohmann::json j = nlohmann::json::parse(text.str(), nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        *error = "the state file " + path + " is not valid JSON";
        return false;
    }
    return m->FromJson(j, error);
}

bool WriteState(const std::string& path, const Model& m, std::string* error)
{
    // Not synced: the state is a test fixture, rewritten after every change.
    if (!ReplaceFile(path, m.ToJson().dump(1) + "\n", 0644, false)) {
        *error = "cannot replace " + path + ": " + strerror(errno);
        return false;
    }
    return true;
}

void AppendLog(const std::string& statePath, const char* channel, const _VTN_DRIVER_REQUEST& r, int64_t now,
               int rc)
{
    const std::string log = statePath + ".log";
    struct stat st{};
    if (stat(log.c_str(), &st) == 0 && st.st_size > kLogLimit)
        rename(log.c_str(), (log + ".1").c_str());   // keep the log bounded; the older half goes aside
    FILE* f = fopen(log.c_str(), "a");
    if (!f)
        return;   // the log is a help for tests, not part of the driver's answer
    char name[64];
    CopyText(name, channel);
    for (char* p = name; *p; ++p)
        if (*p == ' ' || *p == '\n')
            *p = '_';
    fprintf(f, "%lld %s 0x%04X %u %u %d\n", static_cast<long long>(now), name, r.code, r.inSize, r.outSize, rc);
    fclose(f);
}

enum class Need { Existing, Fresh };

// Runs `body` on the state under both locks; stores the state when the body changed it.
// Returns 0 or an errno value; *error says why for the tool.
int WithState(Need need, const std::function<int(Model&, int64_t, bool*)>& body, std::string* error,
              const std::function<void(const std::string&, int64_t, int)>& after = {})
{
    std::lock_guard<std::mutex> guard(gMutex);
    const char* env = getenv("VTN_SIM_STATE");
    const bool own = env && *env;
    std::string path;
    if (need == Need::Fresh)
        path = own ? std::string(env) : VtnPathForWrite(kDefaultState);
    else
        path = own ? std::string(env) : VtnPath(kDefaultState);
    struct stat st{};
    if (need == Need::Existing && stat(path.c_str(), &st) != 0) {
        *error = "no simulated controller: state file " + path + " is missing (run: vtnsim init)";
        return ENOENT;
    }
    FileLock lock(path);
    if (!lock.Held()) {
        *error = "cannot lock " + path + ".lock";
        return EIO;
    }
    Model work;
    if (need == Need::Existing) {
        if (stat(path.c_str(), &st) != 0) {
            *error = "no simulated controller: state file " + path + " is missing (run: vtnsim init)";
            return ENOENT;
        }
        if (gCache.path == path && SameFile(st)) {
            work = *gCache.model;
        } else {
            gCache.model.reset();
            if (!ReadState(path, &work, error))
                return EIO;
            Remember(path, work);
        }
    }
    const int64_t now = VtnSimNow() + work.clockOffset;
    bool changed = work.Advance(now);
    bool bodyChanged = false;
    const int rc = body(work, now, &bodyChanged);
    changed = changed || bodyChanged;
    if (changed) {
        std::string werr;
        if (WriteState(path, work, &werr)) {
            Remember(path, work);
        } else {
            gCache.model.reset();
            if (rc == 0) {
                *error = werr;
                if (after)
                    after(path, now, EIO);
                return EIO;
            }
        }
    }
    if (after)
        after(path, now, rc);
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
            if (!change(m, now, &done)) {
                error = done;
                return EINVAL;
            }
            *changed = true;
            return 0;
        },
        &error);
    return Report(rc, done, error, message);
}

}  // namespace

std::string VtnSimStatePath()
{
    const char* env = getenv("VTN_SIM_STATE");
    return env && *env ? std::string(env) : VtnPath(kDefaultState);
}

std::string VtnSimLogPath() { return VtnSimStatePath() + ".log"; }

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
            bool known = false;
            for (const auto& c : m.channels)
                known = known || c == name;
            if (!known)
                return ENOENT;
            return m.Dispatch(*request, now, changed);
        },
        &error, [&](const std::string& path, int64_t now, int result) { AppendLog(path, name, *request, now, result); });
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
        &error, [](const std::string& path, int64_t, int result) {
            if (result == 0)
                unlink((path + ".log").c_str());   // a new controller has received nothing yet
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
    const std::string state = VtnSimStatePath();
    FileLock lock(state);
    for (const std::string& path : {state + ".log.1", state + ".log"}) {
        std::ifstream f(path);
        std::string line;
        while (std::getline(f, line)) {
            std::istringstream in(line);
            VtnSimCallRecord r;
            std::string code;
            if (in >> r.time >> r.channel >> code >> r.inSize >> r.outSize >> r.result) {
                r.code = static_cast<uint32_t>(strtoul(code.c_str(), nullptr, 16));
                out.push_back(r);
            }
        }
    }
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
