// VTN_THREADED_TEST: the concurrent append test also runs under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "global_log.h"
#include "testutil.h"
#include "textutil.h"
#include "vtnstatus.h"

namespace {

std::atomic<time_t> gFakeNow{0};
time_t FakeNow()
{
    return gFakeNow.load();
}

time_t Local(int year, int month, int day, int hour, int minute, int second)
{
    return LocalTime(year, month, day, hour, minute, second);
}

class EventLog : public ::testing::Test {
protected:
    void TearDown() override { VtnSetTimeSource(nullptr); }
    std::string LogFile() const { return root_.Path("/var/log/vtn.log"); }
    void WriteLog(const std::string& text)
    {
        mkdir(root_.Path("/var").c_str(), 0755);
        mkdir(root_.Path("/var/log").c_str(), 0755);
        ASSERT_TRUE(WriteFileText(LogFile(), text));
    }
    void SetNow(time_t t)
    {
        gFakeNow = t;
        VtnSetTimeSource(FakeNow);
    }
    static void Save(char severity, const std::string& text)
    {
        std::vector<char> buf(text.begin(), text.end());
        buf.push_back('\0');
        SaveStrEvent(static_cast<uint8_t>(severity), buf.data());
    }
    // Lines of the file split at newlines; a trailing piece without newline is dropped.
    std::vector<std::string> FileLines() const
    {
        std::string text = ReadFileText(LogFile());
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(text.substr(start, nl - start));
        return lines;
    }

    TempRoot root_;
};

constexpr size_t kHead = 21;  // "0\tI\t01/02/5 03:04:05\t": header of a line with a one-digit year

std::string Header(char mark, char severity, const char* date)
{
    return std::string(1, mark) + "\t" + severity + "\t" + date + "\t";
}

}  // namespace

TEST_F(EventLog, LinesAreWrittenInTheLogFormat)
{
    struct Case {
        time_t when;
        char severity;
        const char* text;
        const char* line;
    } cases[] = {
        {Local(2005, 3, 7, 8, 9, 5), 'W', "Disk 3 failed", "0\tW\t03/07/5 08:09:05\tDisk 3 failed\n"},
        {Local(2012, 11, 23, 19, 5, 0), 'I', "User admin(from 127.0.0.1) logged on system.",
         "0\tI\t11/23/12 19:05:00\tUser admin(from 127.0.0.1) logged on system.\n"},
        {Local(2009, 1, 1, 0, 0, 0), 'E', "", "0\tE\t01/01/9 00:00:00\t\n"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Clear_EventLog(), 0);
        SetNow(c.when);
        _VTN_LOG_EVENT event{};
        event.severity = c.severity;
        CopyText(event.text, c.text);
        SaveEventToFile(&event);
        EXPECT_EQ(ReadFileText(LogFile()), c.line);
        EXPECT_EQ(TimeRecordValue(event.time), TimeRecordValue(ConvertTimeT(c.when))) << "caller's record stamped";
    }
    struct stat st;
    ASSERT_EQ(stat(LogFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(EventLog, TextIsCutAndKeptOnOneLine)
{
    struct Case {
        std::string text;
        std::string stored;
    } cases[] = {
        {std::string(700, 'x'), std::string(511, 'x')},
        {"two\nlines\n", "two lines "},
        {"tab\tinside", "tab\tinside"},
    };
    SetNow(Local(2006, 2, 3, 4, 5, 6));
    for (const Case& c : cases) {
        ASSERT_EQ(Clear_EventLog(), 0);
        Save('I', c.text);
        EXPECT_EQ(FileLines(), std::vector<std::string>{Header('0', 'I', "02/03/6 04:05:06") + c.stored});
        _VTN_LOG_EVENT event;
        ASSERT_EQ(EnumEvent(&event, 0), VTN_SUCCESS);
        std::string expected = (Header('0', 'I', "02/03/6 04:05:06") + c.stored).substr(0, 511).substr(kHead);
        EXPECT_EQ(std::string(event.text), expected);
    }
}

TEST_F(EventLog, EnumeratesLinesOfAFileByIndex)
{
    std::string longLine = Header('0', 'W', "06/07/8 09:10:11") + std::string(600 - kHead, 'a');
    std::string line511 = Header('0', 'I', "01/01/6 00:00:00") + std::string(511 - kHead, 'b');
    std::string line512 = Header('0', 'I', "01/01/6 00:00:00") + std::string(512 - kHead, 'c');
    ASSERT_EQ(longLine.size(), 600u);
    ASSERT_EQ(Header('0', 'I', "01/01/6 00:00:00").size(), kHead);
    WriteLog("0\tI\t01/02/5 03:04:05\tfirst\n"
             "1\tE\t12/31/12 23:59:59\tsecond one\n" +
             longLine + "\n" + "0\tI\t01/01/6 00:00:00\tafter the long line\n" + line511 + "\n" + line512 +
             "\n" + "\n" + "damaged header line\n" + "0\tI\t01/01/6 00:00:00\tno newline at the end");
    struct Case {
        int index;
        uint32_t status;
        char mark, severity;
        int month, day, year, hour, minute, second;
        std::string text;
    } cases[] = {
        {0, VTN_SUCCESS, '0', 'I', 1, 2, 5, 3, 4, 5, "first"},
        {1, VTN_SUCCESS, '1', 'E', 12, 31, 12, 23, 59, 59, "second one"},  // 2012: text from its first char
        {2, VTN_SUCCESS, '0', 'W', 6, 7, 8, 9, 10, 11, std::string(511 - kHead, 'a')},
        {3, VTN_SUCCESS, '0', 'I', 1, 1, 6, 0, 0, 0, "after the long line"},
        {4, VTN_SUCCESS, '0', 'I', 1, 1, 6, 0, 0, 0, std::string(511 - kHead, 'b')},
        {5, VTN_SUCCESS, '0', 'I', 1, 1, 6, 0, 0, 0, std::string(511 - kHead, 'c')},
        {6, VTN_SUCCESS, 0, 0, 0, 0, 0, 0, 0, 0, ""},
        {7, VTN_SUCCESS, 'd', 'a', 0, 0, 0, 0, 0, 0, "damaged header line"},
        {8, VTN_NO_MORE_ENTRIES, 0, 0, 0, 0, 0, 0, 0, 0, ""},  // the last line has no newline
        {9, VTN_NO_MORE_ENTRIES, 0, 0, 0, 0, 0, 0, 0, 0, ""},
        {-1, VTN_NO_MORE_ENTRIES, 0, 0, 0, 0, 0, 0, 0, 0, ""},
    };
    // Twice, and backwards: an index must not depend on the previous call.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = static_cast<int>(std::size(cases)) - 1; i >= 0; --i) {
            const Case& c = cases[i];
            _VTN_LOG_EVENT event;
            memset(&event, 0x5A, sizeof event);
            ASSERT_EQ(EnumEvent(&event, c.index), c.status) << "index " << c.index;
            if (c.status != VTN_SUCCESS)
                continue;
            EXPECT_EQ(event.mark, c.mark) << "index " << c.index;
            EXPECT_EQ(event.severity, c.severity) << "index " << c.index;
            EXPECT_EQ(static_cast<int>(event.time.month), c.month) << "index " << c.index;
            EXPECT_EQ(static_cast<int>(event.time.day), c.day) << "index " << c.index;
            EXPECT_EQ(static_cast<int>(event.time.year), c.year) << "index " << c.index;
            EXPECT_EQ(static_cast<int>(event.time.hour), c.hour) << "index " << c.index;
            EXPECT_EQ(static_cast<int>(event.time.minute), c.minute) << "index " << c.index;
            EXPECT_EQ(static_cast<int>(event.time.second), c.second) << "index " << c.index;
            EXPECT_EQ(std::string(event.text), c.text) << "index " << c.index;
            EXPECT_EQ(event.text[511], '\0');
        }
    }
}

TEST_F(EventLog, MissingLogAndChangesByOthers)
{
    _VTN_LOG_EVENT event;
    EXPECT_EQ(EnumEvent(&event, 0), VTN_FAILURE);
    EXPECT_FALSE(FileExists(LogFile())) << "reading must not create the log";

    WriteLog("0\tI\t01/02/5 03:04:05\tone\n0\tI\t01/02/5 03:04:05\ttwo\n");
    ASSERT_EQ(EnumEvent(&event, 1), VTN_SUCCESS);
    EXPECT_EQ(EnumEvent(&event, 2), VTN_NO_MORE_ENTRIES);
    // Another program appends, then rewrites the file shorter.
    WriteLog("0\tI\t01/02/5 03:04:05\tone\n0\tI\t01/02/5 03:04:05\ttwo\n0\tI\t01/02/5 03:04:05\tthree\n");
    ASSERT_EQ(EnumEvent(&event, 2), VTN_SUCCESS);
    EXPECT_STREQ(event.text, "three");
    WriteLog("0\tE\t01/02/5 03:04:05\tonly\n");
    ASSERT_EQ(EnumEvent(&event, 0), VTN_SUCCESS);
    EXPECT_STREQ(event.text, "only");
    EXPECT_EQ(EnumEvent(&event, 1), VTN_NO_MORE_ENTRIES);
    // Rewritten in place within one timestamp tick: same inode, size and time, other lines.
    WriteLog("0\tI\t01/02/5 03:04:05\tab\n0\tI\t01/02/5 03:04:05\tcd\n");
    ASSERT_EQ(EnumEvent(&event, 1), VTN_SUCCESS);
    struct stat first, second;
    ASSERT_EQ(stat(LogFile().c_str(), &first), 0);
    WriteLog("0\tI\t01/02/5 03:04:05\ta\n0\tW\t01/02/5 03:04:05\tbcd\n");
    const timespec times[2] = {first.st_atim, first.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, LogFile().c_str(), times, 0), 0);
    ASSERT_EQ(stat(LogFile().c_str(), &second), 0);
    ASSERT_EQ(second.st_ino, first.st_ino);
    ASSERT_EQ(second.st_size, first.st_size);
    ASSERT_EQ(EnumEvent(&event, 1), VTN_SUCCESS);
    EXPECT_EQ(event.mark, '0');
    EXPECT_EQ(event.severity, 'W');
    EXPECT_STREQ(event.text, "bcd");
    WriteLog("0\tE\t01/02/5 03:04:05\tonly\n");
    // Our own append after that.
    Save('W', "mine");
    ASSERT_EQ(EnumEvent(&event, 1), VTN_SUCCESS);
    EXPECT_STREQ(event.text, "mine");
    EXPECT_EQ(event.severity, 'W');
}

TEST_F(EventLog, AppendsFollowTheFileThatIsThereNow)
{
    // The log stays open between appends; whatever happened to the file since, a line goes to the
    // file at the log's path.
    struct Step {
        const char* what;
        void (*change)(const std::string& log);
        std::vector<std::string> texts;  // the texts of the file at the path after the next append
    };
    const Step steps[] = {
        {"first line", [](const std::string&) {}, {"one"}},
        {"removed", [](const std::string& log) { ASSERT_EQ(unlink(log.c_str()), 0); }, {"two"}},
        {"moved away",
         [](const std::string& log) { ASSERT_EQ(rename(log.c_str(), (log + ".1").c_str()), 0); }, {"three"}},
        {"emptied in place", [](const std::string& log) { ASSERT_TRUE(WriteFileText(log, "")); }, {"four"}},
        {"replaced by another file",
         [](const std::string& log) {
             ASSERT_TRUE(WriteFileText(log + ".new", "0\tI\t01/02/5 03:04:05\tkept\n"));
             ASSERT_EQ(rename((log + ".new").c_str(), log.c_str()), 0);
         },
         {"kept", "five"}},
    };
    const char* texts[] = {"one", "two", "three", "four", "five"};
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(steps[i].what);
        steps[i].change(LogFile());
        Save('I', texts[i]);
        std::vector<std::string> got;
        for (const std::string& line : FileLines())
            got.push_back(line.substr(line.rfind('\t') + 1));
        EXPECT_EQ(got, steps[i].texts);
    }
    EXPECT_EQ(ReadFileText(LogFile() + ".1").find("three"), std::string::npos);

    // Another root: its own log.
    TempRoot other;
    Save('I', "elsewhere");
    EXPECT_NE(ReadFileText(other.Path("/var/log/vtn.log")).find("elsewhere"), std::string::npos);
    EXPECT_EQ(ReadFileText(LogFile()).find("elsewhere"), std::string::npos);
}

TEST_F(EventLog, UpdateChangesOnlyTheMarkOfTheLine)
{
    const std::string original = "0\tI\t01/02/5 03:04:05\tone\n\n0\tW\t01/02/5 03:04:05\tthree\n0\tE\t01/02/5 tail";
    const size_t third = original.find("0\tW");
    struct Case {
        int index;
        int result;
        long changedAt;  // -1: the file stays as it was
    } cases[] = {
        {0, 0, 0},
        {2, 0, static_cast<long>(third)},
        {1, 0, -1},   // an empty line has no first character
        {3, 0, -1},   // the unfinished last line is no line
        {9, 0, -1},
        {-1, 0, -1},
    };
    for (const Case& c : cases) {
        WriteLog(original);
        _VTN_LOG_EVENT event;
        ASSERT_EQ(EnumEvent(&event, 0), VTN_SUCCESS);  // the index is warm before the update
        EXPECT_EQ(UpdateEvent(c.index, '1'), c.result) << "index " << c.index;
        std::string expected = original;
        if (c.changedAt >= 0)
            expected[static_cast<size_t>(c.changedAt)] = '1';
        EXPECT_EQ(ReadFileText(LogFile()), expected) << "index " << c.index;
        if (c.changedAt >= 0) {
            ASSERT_EQ(EnumEvent(&event, c.index), VTN_SUCCESS);
            EXPECT_EQ(event.mark, '1');
        }
    }
    ASSERT_EQ(Clear_EventLog(), 0);
    EXPECT_EQ(UpdateEvent(0, '1'), -1);
    EXPECT_FALSE(FileExists(LogFile()));
}

TEST_F(EventLog, ClearRemovesTheLog)
{
    EXPECT_EQ(Clear_EventLog(), 0) << "no log yet";
    Save('I', "something");
    ASSERT_TRUE(FileExists(LogFile()));
    EXPECT_EQ(Clear_EventLog(), 0);
    EXPECT_FALSE(FileExists(LogFile()));
    _VTN_LOG_EVENT event;
    EXPECT_EQ(EnumEvent(&event, 0), VTN_FAILURE);
    Save('I', "fresh");
    ASSERT_EQ(EnumEvent(&event, 0), VTN_SUCCESS);
    EXPECT_STREQ(event.text, "fresh");
    EXPECT_EQ(EnumEvent(&event, 1), VTN_NO_MORE_ENTRIES);

    ASSERT_EQ(Clear_EventLog(), 0);
    ASSERT_EQ(mkdir(LogFile().c_str(), 0755), 0);  // cannot be removed as a file
    EXPECT_EQ(Clear_EventLog(), -1);
}

TEST_F(EventLog, ConcurrentAppendsLoseAndInterleaveNothing)
{
    constexpr int kThreads = 8;
    constexpr int kLines = 200;
    std::atomic<bool> done{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                char text[64];
                FormatText(text, sizeof text, "writer %d line %03d %s", t, i, std::string(40, 'a' + t).c_str());
                SaveStrEvent('I', text);
            }
        });
    }
    // Meanwhile a reader walks and marks the log, as the mail monitor does.
    std::thread reader([&done] {
        int next = 0;
        while (!done.load()) {
            _VTN_LOG_EVENT event;
            if (EnumEvent(&event, next) == VTN_SUCCESS) {
                UpdateEvent(next, '1');
                ++next;
            }
        }
    });
    for (std::thread& w : writers)
        w.join();
    done = true;
    reader.join();

    std::vector<std::string> lines = FileLines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::set<std::string> texts;
    std::vector<int> lastOf(kThreads, -1);
    for (size_t n = 0; n < lines.size(); ++n) {
        _VTN_LOG_EVENT event;
        ASSERT_EQ(EnumEvent(&event, static_cast<int>(n)), VTN_SUCCESS) << n;
        int t = -1, i = -1;
        ASSERT_EQ(sscanf(event.text, "writer %d line %d", &t, &i), 2) << lines[n];
        ASSERT_TRUE(t >= 0 && t < kThreads) << lines[n];
        char expected[64];
        FormatText(expected, sizeof expected, "writer %d line %03d %s", t, i, std::string(40, 'a' + t).c_str());
        EXPECT_STREQ(event.text, expected);
        EXPECT_TRUE(event.mark == '0' || event.mark == '1') << lines[n];
        EXPECT_EQ(event.severity, 'I') << lines[n];
        EXPECT_GT(i, lastOf[t]) << "a writer's lines keep their order";
        lastOf[t] = i;
        texts.insert(event.text);
    }
    EXPECT_EQ(texts.size(), static_cast<size_t>(kThreads * kLines));
    _VTN_LOG_EVENT event;
    EXPECT_EQ(EnumEvent(&event, kThreads * kLines), VTN_NO_MORE_ENTRIES);
}

TEST_F(EventLog, LockCoversTheWholeFileForOtherProcesses)
{
    WriteLog("some bytes\n");
    int fd = open(LogFile().c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    // What another process sees when it asks for any range of the file.
    auto seenByChild = [&](off_t start, off_t len) {
        pid_t pid = fork();
        if (pid == 0) {
            struct flock fl{};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            fl.l_start = start;
            fl.l_len = len;
            int probe = open(LogFile().c_str(), O_RDWR);
            if (probe < 0 || fcntl(probe, F_GETLK, &fl) != 0)
                _exit(99);
            _exit(fl.l_type == F_UNLCK ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    _VTN_LOCK_FILE_DATA lock{fd};
    VTN_INIT_LOCK_DATA();
    VTN_LOCK_LOG_FILE(&lock);
    EXPECT_EQ(seenByChild(0, 1), 1);
    EXPECT_EQ(seenByChild(1000000, 1), 1) << "beyond the current end too";
    VTN_UNLOCK_LOG_FILE(&lock);
    EXPECT_EQ(seenByChild(0, 0), 0);
    close(fd);
}

TEST(LineHelpers, ParseLineSplitsAtBlanks)
{
    struct Case {
        const char* line;
        int max;
        std::vector<std::string> words;
    } cases[] = {
        {"alpha beta gamma", 5, {"alpha", "beta", "gamma"}},
        {"   alpha    beta  ", 5, {"alpha", "beta"}},
        {"a b c d", 2, {"a", "b"}},
        {"", 3, {}},
        {"     ", 3, {}},
        {"one", 0, {}},
    };
    for (const Case& c : cases) {
        std::vector<char> buf(c.line, c.line + strlen(c.line) + 1);
        char* words[8] = {};
        int n = ParseLine(buf.data(), words, c.max);
        ASSERT_EQ(n, static_cast<int>(c.words.size())) << '"' << c.line << '"';
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(std::string(words[i]), c.words[static_cast<size_t>(i)]) << '"' << c.line << '"';
    }
}

TEST_F(EventLog, GetLineFromFileReadsUpToNewlineOrSize)
{
    WriteLog("abc\n12345678\nlast");
    int fd = open(LogFile().c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    struct Step {
        int size;
        bool result;
        const char* text;
    } steps[] = {
        {16, true, "abc"},
        {4, false, "123"},     // size reached: the buffer stays a string
        {16, true, "5678"},
        {16, true, "last"},    // end of file
        {16, true, ""},
    };
    for (const Step& s : steps) {
        char buf[16];
        EXPECT_EQ(GetLineFromFile(fd, buf, s.size), s.result) << s.text;
        EXPECT_STREQ(buf, s.text);
    }
    close(fd);
}
