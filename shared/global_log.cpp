#include "global_log.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "fileio.h"
#include "paths.h"
#include "textutil.h"
#include "vtnstatus.h"

namespace {

constexpr const char* kLogPath = "/var/log/vtn.log";
constexpr size_t kLineBuffer = 512;  // one stored line, its last byte becomes the NUL

// Start offsets of the log's complete lines, valid while the file looks as it did when
// they were taken. starts[k] is where line k begins; the last entry is the offset after
// the last newline, so a trailing line without newline is never counted.
struct LogIndex {
    bool valid = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    std::vector<off_t> starts{0};

    bool Matches(const struct stat& st) const
    {
        return valid && st.st_dev == dev && st.st_ino == ino && st.st_size == size &&
               st.st_mtim.tv_sec == mtime.tv_sec && st.st_mtim.tv_nsec == mtime.tv_nsec;
    }
    void Remember(const struct stat& st)
    {
        valid = true;
        dev = st.st_dev;
        ino = st.st_ino;
        size = st.st_size;
        mtime = st.st_mtim;
    }
    size_t Lines() const { return starts.size() - 1; }
};

// Every open, change and close of the log happens under this mutex: the fcntl lock does
// not exclude threads, and closing any descriptor of the file would drop a lock another
// thread holds.
std::mutex& LogMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::atomic<uint64_t> gGeneration{0};

// The log stays open for appending between lines (under LogMutex): a line costs no open and
// no close, and goes to the file that is at the log's path now.
KeptFile& Appender()
{
    static KeptFile file;
    return file;
}

void CloseAppendDescriptor()
{
    CloseKept(&Appender());
}

// The descriptor for the file at the log's path, and that file's state in *st; -1 when it cannot
// be opened.
int AppendDescriptor(struct stat* st)
{
    const int flags = O_RDWR | O_CREAT | O_APPEND;
    int fd = KeepOpen(&Appender(), VtnPath(kLogPath), flags, 0600, st);
    if (fd < 0)
        fd = KeepOpen(&Appender(), VtnPathForWrite(kLogPath), flags, 0600, st);  // its folder made first
    return fd;
}

LogIndex& Index()
{
    static LogIndex index;
    return index;
}

// Brings the index up to date for the open log; false when a read fails.
bool RefreshIndex(int fd, bool force = false)
{
    LogIndex& index = Index();
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    if (!force && index.Matches(st))
        return true;
    index.valid = false;
    index.starts.assign(1, 0);
    static std::vector<char> chunk(64 * 1024);  // used under LogMutex only
    off_t off = 0;
    while (off < st.st_size) {
        size_t want = chunk.size();
        if (static_cast<off_t>(want) > st.st_size - off)
            want = static_cast<size_t>(st.st_size - off);
        ssize_t got = ReadUpTo(fd, chunk.data(), want, off);
        if (got < 0)
            return false;
        if (got == 0)
            return true;  // shorter than it said: use what is there, look again next time
        for (ssize_t i = 0; i < got; ++i) {
            if (chunk[static_cast<size_t>(i)] == '\n')
                index.starts.push_back(off + i + 1);
        }
        off += got;
    }
    index.Remember(st);
    return true;
}

// True when the bytes at the line's ends are the newlines the index expects.
bool LineBoundsHold(int fd, off_t begin, off_t end)
{
    char c = 0;
    if (begin > 0 && (ReadUpTo(fd, &c, 1, begin - 1) != 1 || c != '\n'))
        return false;
    return ReadUpTo(fd, &c, 1, end - 1) == 1 && c == '\n';
}

// Where line n lies: [begin, end), end just after its newline. A file rewritten unnoticed
// (same size within one timestamp tick) shows in the line's bounds; then the index is
// taken again.
uint32_t FindLine(int fd, int n, off_t* begin, off_t* end)
{
    LogIndex& index = Index();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!RefreshIndex(fd, attempt > 0))
            return VTN_FAILURE;
        if (n < 0 || static_cast<size_t>(n) >= index.Lines())
            return VTN_NO_MORE_ENTRIES;
        *begin = index.starts[static_cast<size_t>(n)];
        *end = index.starts[static_cast<size_t>(n) + 1];
        if (LineBoundsHold(fd, *begin, *end))
            return VTN_SUCCESS;
        index.valid = false;
    }
    return VTN_FAILURE;
}

void PackFields(_TIME_RECORD* rec, int month, int day, int year, int hour, int minute, int second)
{
    rec->month = static_cast<uint32_t>(month) & 0xF;
    rec->day = static_cast<uint32_t>(day) & 0x1F;
    rec->year = static_cast<uint32_t>(year) & 0x1F;
    rec->hour = static_cast<uint32_t>(hour) & 0x3F;
    rec->minute = static_cast<uint32_t>(minute) & 0x3F;
    rec->second = static_cast<uint32_t>(second) & 0x3F;
}

}  // namespace

void VTN_INIT_LOCK_DATA()
{
}

void VTN_LOCK_LOG_FILE(_VTN_LOCK_FILE_DATA* lock)
{
    if (lock == nullptr || lock->fd < 0)
        return;
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    // Blocks until granted; a signal only restarts the wait.
    while (fcntl(lock->fd, F_SETLKW, &fl) != 0 && errno == EINTR) {
    }
}

void VTN_UNLOCK_LOG_FILE(_VTN_LOCK_FILE_DATA* lock)
{
    if (lock == nullptr || lock->fd < 0)
        return;
    struct flock fl{};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    fcntl(lock->fd, F_SETLK, &fl);
}

void SaveEventToFile(_VTN_LOG_EVENT* event)
{
    if (event == nullptr)
        return;
    SetTimeRecord(&event->time);

    // One event is one line: a newline in the text would forge further lines.
    char text[kLineBuffer];
    CopyField(text, sizeof text, event->text, sizeof event->text - 1);
    for (char* p = text; *p != '\0'; ++p) {
        if (*p == '\n')
            *p = ' ';
    }
    char line[kLineBuffer + 64];
    size_t len = FormatText(line, sizeof line, "%c\t%c\t%02d/%02d/%d %02d:%02d:%02d\t%s\n", '0', event->severity,
                            static_cast<int>(event->time.month), static_cast<int>(event->time.day),
                            static_cast<int>(event->time.year), static_cast<int>(event->time.hour),
                            static_cast<int>(event->time.minute), static_cast<int>(event->time.second), text);

    std::lock_guard<std::mutex> guard(LogMutex());
    struct stat before;
    int fd = AppendDescriptor(&before);
    if (fd < 0)
        return;
    _VTN_LOCK_FILE_DATA lock{fd};
    VTN_LOCK_LOG_FILE(&lock);
    LogIndex& index = Index();
    // The state seen before the lock: another process's append in between shows in the size.
    bool current = index.Matches(before);
    bool written = WriteExact(fd, line, len);
    struct stat after;
    if (current && written && fstat(fd, &after) == 0 && after.st_size == before.st_size + static_cast<off_t>(len)) {
        index.starts.push_back(after.st_size);
        index.Remember(after);
    } else {
        index.valid = false;
    }
    VTN_UNLOCK_LOG_FILE(&lock);
}

void SaveStrEvent(uint8_t severity, char* text)
{
    _VTN_LOG_EVENT event{};
    event.severity = static_cast<char>(severity);
    CopyText(event.text, text);
    SaveEventToFile(&event);
}

uint32_t EnumEvent(_VTN_LOG_EVENT* event, int n)
{
    if (event == nullptr)
        return VTN_FAILURE;
    std::lock_guard<std::mutex> guard(LogMutex());
    std::string path = VtnPath(kLogPath);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return VTN_FAILURE;
    off_t begin = 0, end = 0;
    uint32_t status = FindLine(fd, n, &begin, &end);
    if (status != VTN_SUCCESS) {
        close(fd);
        return status;
    }
    size_t want = static_cast<size_t>(end - begin);
    if (want > kLineBuffer)
        want = kLineBuffer;
    char buf[kLineBuffer];
    ssize_t got = ReadUpTo(fd, buf, want, begin);
    close(fd);
    if (got != static_cast<ssize_t>(want)) {
        Index().valid = false;  // cut short under us
        return VTN_FAILURE;
    }
    buf[want - 1] = '\0';  // the newline, or the 512th byte

    memset(event, 0, sizeof *event);
    char mark = 0;
    char severity = 0;
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    sscanf(buf, "%c\t%c\t%02d/%02d/%d %02d:%02d:%02d", &mark, &severity, &month, &day, &year, &hour, &minute,
           &second);
    event->mark = mark;
    event->severity = severity;
    PackFields(&event->time, month, day, year, hour, minute, second);

    // The text follows the third TAB; a line with a damaged header is kept whole.
    const char* text = buf;
    for (int tabs = 0; tabs < 3 && text != nullptr; ++tabs) {
        text = strchr(text, '\t');
        if (text != nullptr)
            ++text;
    }
    CopyText(event->text, text != nullptr ? text : buf);
    event->text[sizeof event->text - 1] = '\0';
    return VTN_SUCCESS;
}

int UpdateEvent(int n, uint8_t mark)
{
    std::lock_guard<std::mutex> guard(LogMutex());
    std::string path = VtnPath(kLogPath);
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return -1;
    _VTN_LOCK_FILE_DATA lock{fd};
    VTN_LOCK_LOG_FILE(&lock);
    LogIndex& index = Index();
    int result = 0;
    off_t begin = 0, end = 0;
    uint32_t found = FindLine(fd, n, &begin, &end);
    if (found == VTN_FAILURE) {
        result = -1;
    } else if (found == VTN_SUCCESS) {
        // An empty line has no first character: its newline stays.
        if (end - begin > 1) {
            struct stat before;
            bool current = fstat(fd, &before) == 0 && index.Matches(before);
            char byte = static_cast<char>(mark);
            ssize_t w;
            do {
                w = pwrite(fd, &byte, 1, begin);
            } while (w < 0 && errno == EINTR);
            struct stat after;
            // The line starts are unchanged unless the mark itself is a newline.
            if (current && w == 1 && byte != '\n' && fstat(fd, &after) == 0 && after.st_size == before.st_size)
                index.Remember(after);
            else
                index.valid = false;
        }
    }
    VTN_UNLOCK_LOG_FILE(&lock);
    close(fd);
    return result;
}

uint64_t EventLogGeneration()
{
    return gGeneration.load();
}

int Clear_EventLog()
{
    std::lock_guard<std::mutex> guard(LogMutex());
    Index().valid = false;
    gGeneration.fetch_add(1);
    CloseAppendDescriptor();
    std::string path = VtnPath(kLogPath);
    if (unlink(path.c_str()) == 0 || errno == ENOENT)
        return 0;
    return -1;
}

int ParseLine(char* line, char** words, int max)
{
    if (line == nullptr || words == nullptr)
        return 0;
    int count = 0;
    char* p = line;
    while (count < max) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (*p == '\0')
            break;
        words[count++] = p;
        while (*p != '\0' && *p != ' ' && *p != '\t')
            ++p;
        if (*p == '\0')
            break;
        *p++ = '\0';
    }
    return count;
}

bool GetLineFromFile(int fd, char* buf, int size)
{
    if (buf == nullptr || size <= 0)
        return false;
    int i = 0;
    while (i < size) {
        char c;
        ssize_t r = read(fd, &c, 1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            buf[i] = '\0';
            return false;
        }
        if (r == 0 || c == '\n') {
            buf[i] = '\0';
            return true;
        }
        buf[i++] = c;
    }
    buf[size - 1] = '\0';  // full: keep the buffer a string
    return false;
}
