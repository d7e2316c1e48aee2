#include "global_time.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "paths.h"

namespace {

std::atomic<time_t (*)()> gTimeSource{nullptr};

char Unit(char unit)
{
    return static_cast<char>(toupper(static_cast<unsigned char>(unit)));
}

bool LocalTime(time_t t, tm* out)
{
    return localtime_r(&t, out) != nullptr;
}

// Fields of a record as a broken-down local time; zone and DST flag come from now.
tm RecordToTm(const _TIME_RECORD& rec)
{
    tm t{};
    LocalTime(VtnNow(), &t);
    t.tm_year = static_cast<int>(rec.year) + 2000 - 1900;
    t.tm_mon = static_cast<int>(rec.month) - 1;
    t.tm_mday = static_cast<int>(rec.day);
    t.tm_hour = static_cast<int>(rec.hour);
    t.tm_min = static_cast<int>(rec.minute);
    t.tm_sec = static_cast<int>(rec.second);
    return t;
}

}  // namespace

uint32_t TimeRecordValue(const _TIME_RECORD& rec)
{
    return (static_cast<uint32_t>(rec.second) & 0x3F) | (static_cast<uint32_t>(rec.minute) & 0x3F) << 6 |
           (static_cast<uint32_t>(rec.month) & 0xF) << 12 | (static_cast<uint32_t>(rec.hour) & 0x3F) << 16 |
           (static_cast<uint32_t>(rec.day) & 0x1F) << 22 | (static_cast<uint32_t>(rec.year) & 0x1F) << 27;
}

_TIME_RECORD TimeRecordFromValue(uint32_t value)
{
    _TIME_RECORD rec{};
    rec.second = value & 0x3F;
    rec.minute = (value >> 6) & 0x3F;
    rec.month = (value >> 12) & 0xF;
    rec.hour = (value >> 16) & 0x3F;
    rec.day = (value >> 22) & 0x1F;
    rec.year = (value >> 27) & 0x1F;
    return rec;
}

void VtnSetTimeSource(time_t (*now)())
{
    gTimeSource.store(now);
}

time_t VtnNow()
{
    time_t (*source)() = gTimeSource.load();
    return source ? source() : time(nullptr);
}

_TIME_RECORD ConvertTimeT(time_t t)
{
    _TIME_RECORD rec{};
    tm lt{};
    if (!LocalTime(t, &lt))
        return rec;
    // Years outside 2000-2031 keep the low five bits of (year - 2000).
    rec.year = static_cast<uint32_t>(lt.tm_year + 1900 - 2000) & 0x1F;
    rec.month = static_cast<uint32_t>(lt.tm_mon + 1) & 0xF;
    rec.day = static_cast<uint32_t>(lt.tm_mday) & 0x1F;
    rec.hour = static_cast<uint32_t>(lt.tm_hour) & 0x3F;
    rec.minute = static_cast<uint32_t>(lt.tm_min) & 0x3F;
    rec.second = static_cast<uint32_t>(lt.tm_sec) & 0x3F;
    return rec;
}

void SetTimeRecord(_TIME_RECORD* rec)
{
    if (rec == nullptr)
        return;
    *rec = ConvertTimeT(VtnNow());
}

time_t ConvertTimeRecord(_TIME_RECORD& rec)
{
    tm t = RecordToTm(rec);
    tm first = t;
    time_t result = mktime(&first);
    if (result == static_cast<time_t>(-1))
        return result;
    // With today's DST flag a date of the other season comes out an hour off; let mktime
    // decide the flag then. A date of today's season keeps today's flag (exact in the
    // repeated hour of autumn).
    if (first.tm_hour != t.tm_hour || first.tm_min != t.tm_min || first.tm_mday != t.tm_mday) {
        tm again = t;
        again.tm_isdst = -1;
        time_t other = mktime(&again);
        if (other != static_cast<time_t>(-1))
            result = other;
    }
    return result;
}

int dateadd(char unit, tm* t, int n)
{
    if (t == nullptr)
        return -1;
    switch (Unit(unit)) {
    case 'D':
        t->tm_mday += n;
        break;
    case 'M':
        t->tm_year += n / 12;
        t->tm_mon += n % 12;
        break;
    case 'Y':
        t->tm_year += n;
        break;
    default:
        break;
    }
    return mktime(t) == static_cast<time_t>(-1) ? -1 : 0;
}

int datediff(char unit, _TIME_RECORD& a, _TIME_RECORD& b)
{
    long long divisor = 0;
    switch (Unit(unit)) {
    case 'D': divisor = 86400; break;
    case 'H': divisor = 3600; break;
    case 'I': divisor = 60; break;
    case 'W': divisor = 604800; break;
    case 'S': divisor = 1; break;
    case 'M':
        return (static_cast<int>(a.year) - static_cast<int>(b.year)) * 12 +
               (static_cast<int>(a.month) - static_cast<int>(b.month));
    case 'Y':
        return static_cast<int>(a.year) - static_cast<int>(b.year);
    default:
        return 0;
    }
    long long seconds = static_cast<long long>(ConvertTimeRecord(a)) - static_cast<long long>(ConvertTimeRecord(b));
    return static_cast<int>(seconds / divisor);  // truncates toward zero
}

int datediff(char unit, time_t a, time_t b)
{
    _TIME_RECORD ra = ConvertTimeT(a);
    _TIME_RECORD rb = ConvertTimeT(b);
    return datediff(unit, ra, rb);
}

int datepart(char unit, _TIME_RECORD rec)
{
    tm t{};
    if (!LocalTime(ConvertTimeRecord(rec), &t))
        return 0;
    switch (Unit(unit)) {
    case 'D': return t.tm_mday;
    case 'H': return t.tm_hour;
    case 'I': return t.tm_min;
    case 'M': return t.tm_mon;
    case 'S': return t.tm_sec;
    case 'W': return t.tm_wday;
    case 'Y': return t.tm_year;
    default: return 0;
    }
}

namespace {

// Runs in a forked child of a possibly threaded process: only async-signal-safe calls
// until exec. The caller's blocked signals and ignored SIGPIPE must not reach the command.
[[noreturn]] void ExecInChild(char* const argv[])
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, nullptr);
    execvp(argv[0], argv);
    _exit(127);
}

// Starts the commands one after another in a detached grandchild; the caller does not wait
// for them. The short-lived middle child is reaped here so no zombie is left behind.
void RunDetached(char* const* first, char* const* second)
{
    pid_t middle = fork();
    if (middle < 0)
        return;
    if (middle == 0) {
        pid_t worker = fork();
        if (worker != 0)
            _exit(0);
        if (second != nullptr) {
            pid_t step = fork();
            if (step == 0)
                ExecInChild(first);
            if (step > 0) {
                int status = 0;
                while (waitpid(step, &status, 0) < 0 && errno == EINTR) {
                }
            }
            ExecInChild(second);
        }
        ExecInChild(first);
    }
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

int RebootSystem()
{
    if (VtnUnderRoot()) {
        const char* command = getenv("VTN_REBOOT_COMMAND");
        if (command != nullptr && command[0] != '\0') {
            std::string text = command;
            char sh[] = "/bin/sh";
            char dashC[] = "-c";
            char* argv[] = {sh, dashC, text.data(), nullptr};
            RunDetached(argv, nullptr);
            return 0;
        }
        std::string marker = VtnPathForWrite("/var/run/vtn.reboot");
        int fd = open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            static const char kText[] = "reboot\n";
            // The marker's presence is what counts; a short write still leaves it.
            (void)!write(fd, kText, sizeof kText - 1);
            close(fd);
        }
        return 0;
    }
    char syncName[] = "sync";
    char rebootName[] = "reboot";
    char* syncArgv[] = {syncName, nullptr};
    char* rebootArgv[] = {rebootName, nullptr};
    RunDetached(syncArgv, rebootArgv);
    return 0;
}
