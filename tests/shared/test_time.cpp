#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "global_time.h"
#include "paths.h"
#include "testutil.h"

namespace {

struct Fields {
    int year, month, day, hour, minute, second;
};

_TIME_RECORD Rec(const Fields& f)
{
    _TIME_RECORD r{};
    r.year = static_cast<uint32_t>(f.year - 2000) & 0x1F;
    r.month = static_cast<uint32_t>(f.month);
    r.day = static_cast<uint32_t>(f.day);
    r.hour = static_cast<uint32_t>(f.hour);
    r.minute = static_cast<uint32_t>(f.minute);
    r.second = static_cast<uint32_t>(f.second);
    return r;
}

time_t Local(const Fields& f)
{
    return LocalTime(f.year, f.month, f.day, f.hour, f.minute, f.second);
}

Fields FromTm(const tm& t)
{
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

std::string Show(const Fields& f)
{
    char buf[64];
    snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute, f.second);
    return buf;
}

std::atomic<time_t> gFakeNow{0};
time_t FakeNow()
{
    return gFakeNow.load();
}

// Injected clock and, when asked, a time zone; both restored afterwards.
class Clock : public ::testing::Test {
protected:
    void SetNow(time_t t)
    {
        gFakeNow = t;
        VtnSetTimeSource(FakeNow);
    }
    void SetZone(const char* tz)
    {
        if (!zoneSet_) {
            const char* old = getenv("TZ");
            hadZone_ = old != nullptr;
            oldZone_ = old ? old : "";
            zoneSet_ = true;
        }
        setenv("TZ", tz, 1);
        tzset();
    }
    void TearDown() override
    {
        VtnSetTimeSource(nullptr);
        if (zoneSet_) {
            if (hadZone_)
                setenv("TZ", oldZone_.c_str(), 1);
            else
                unsetenv("TZ");
            tzset();
        }
    }

private:
    bool zoneSet_ = false;
    bool hadZone_ = false;
    std::string oldZone_;
};

}  // namespace

TEST(TimeRecord, BitsFromTheLowEnd)
{
    struct Case {
        Fields f;
        uint32_t value;
    } cases[] = {
        {{2005, 3, 7, 8, 9, 5}, 5u | 9u << 6 | 3u << 12 | 8u << 16 | 7u << 22 | 5u << 27},
        {{2031, 12, 31, 23, 59, 59}, 59u | 59u << 6 | 12u << 12 | 23u << 16 | 31u << 22 | 31u << 27},
        {{2000, 1, 1, 0, 0, 0}, 1u << 12 | 1u << 22},
    };
    for (const Case& c : cases) {
        _TIME_RECORD r = Rec(c.f);
        EXPECT_EQ(TimeRecordValue(r), c.value) << Show(c.f);
        uint8_t raw[4];
        memcpy(raw, &r, 4);
        uint32_t le = raw[0] | raw[1] << 8 | raw[2] << 16 | static_cast<uint32_t>(raw[3]) << 24;
        EXPECT_EQ(le, c.value) << "stored bytes of " << Show(c.f);
        EXPECT_EQ(TimeRecordValue(TimeRecordFromValue(c.value)), c.value);
    }
    EXPECT_EQ(TimeRecordValue(TimeRecordFromValue(0xFFFFFFFFu)), 0xFFFFFFFFu);
}

TEST(TimeRecord, ConvertTimeTPacksLocalFields)
{
    struct Case {
        Fields f;
        unsigned yearField;
    } cases[] = {
        {{2005, 1, 31, 23, 59, 58}, 5},
        {{2012, 2, 29, 0, 0, 0}, 12},
        {{2031, 12, 31, 12, 30, 1}, 31},
        {{2035, 6, 15, 6, 7, 8}, 3},   // beyond 2031: low five bits
        {{1999, 6, 15, 6, 7, 8}, 31},  // before 2000: low five bits of -1
    };
    for (const Case& c : cases) {
        _TIME_RECORD r = ConvertTimeT(Local(c.f));
        EXPECT_EQ(r.year, c.yearField) << Show(c.f);
        EXPECT_EQ(static_cast<int>(r.month), c.f.month) << Show(c.f);
        EXPECT_EQ(static_cast<int>(r.day), c.f.day) << Show(c.f);
        EXPECT_EQ(static_cast<int>(r.hour), c.f.hour) << Show(c.f);
        EXPECT_EQ(static_cast<int>(r.minute), c.f.minute) << Show(c.f);
        EXPECT_EQ(static_cast<int>(r.second), c.f.second) << Show(c.f);
    }
}

TEST_F(Clock, SetTimeRecordStampsNowInWholeSeconds)
{
    time_t now = Local({2007, 8, 9, 10, 11, 12});
    SetNow(now);
    _TIME_RECORD r{};
    SetTimeRecord(&r);
    EXPECT_EQ(ConvertTimeRecord(r), now);
    SetTimeRecord(nullptr);  // does nothing

    VtnSetTimeSource(nullptr);  // the real clock
    time_t before = time(nullptr);
    SetTimeRecord(&r);
    time_t after = time(nullptr);
    time_t back = ConvertTimeRecord(r);
    EXPECT_GE(back, before);
    EXPECT_LE(back, after);
}

TEST_F(Clock, RecordsOfEitherSeasonConvertBackWhateverTheSeasonNow)
{
    SetZone("CET-1CEST,M3.5.0,M10.5.0/3");
    const Fields winter{2006, 1, 15, 10, 30, 0};
    const Fields summer{2006, 7, 15, 10, 30, 0};
    for (const Fields& now : {winter, summer}) {
        SetNow(Local(now));
        for (const Fields& date : {winter, summer}) {
            time_t t = Local(date);
            _TIME_RECORD r = ConvertTimeT(t);
            EXPECT_EQ(ConvertTimeRecord(r), t) << Show(date) << " converted in the season of " << Show(now);
            EXPECT_EQ(datepart('h', r), 10) << Show(date) << " in the season of " << Show(now);
        }
    }
}

TEST(DateDiff, UnitsTable)
{
    struct Case {
        char unit;
        Fields a, b;
        int expected;
    } cases[] = {
        {'M', {2005, 1, 31, 0, 0, 0}, {2004, 12, 1, 0, 0, 0}, 1},  // fields only, whatever the days
        {'m', {2005, 1, 31, 0, 0, 0}, {2004, 12, 1, 0, 0, 0}, 1},
        {'M', {2004, 12, 1, 0, 0, 0}, {2005, 1, 31, 0, 0, 0}, -1},
        {'d', {2005, 3, 2, 12, 0, 0}, {2005, 3, 1, 0, 0, 0}, 1},   // 36 hours
        {'d', {2005, 3, 1, 0, 0, 0}, {2005, 3, 2, 12, 0, 0}, -1},  // truncated toward zero
        {'D', {2005, 3, 2, 12, 0, 0}, {2005, 3, 1, 0, 0, 0}, 1},
        {'h', {2005, 3, 2, 12, 0, 0}, {2005, 3, 1, 0, 0, 0}, 36},
        {'I', {2005, 3, 1, 0, 2, 59}, {2005, 3, 1, 0, 0, 0}, 2},
        {'s', {2005, 3, 1, 0, 2, 59}, {2005, 3, 1, 0, 0, 0}, 179},
        {'W', {2005, 3, 15, 0, 0, 0}, {2005, 3, 1, 0, 0, 0}, 2},
        {'w', {2005, 3, 14, 0, 0, 0}, {2005, 3, 1, 0, 0, 0}, 1},
        {'Y', {2005, 1, 1, 0, 0, 0}, {2004, 12, 31, 0, 0, 0}, 1},
        {'y', {2012, 6, 1, 0, 0, 0}, {2005, 6, 1, 0, 0, 0}, 7},
        {'x', {2012, 6, 1, 0, 0, 0}, {2005, 6, 1, 0, 0, 0}, 0},
        {'Q', {2012, 6, 1, 0, 0, 0}, {2005, 6, 1, 0, 0, 0}, 0},
    };
    for (const Case& c : cases) {
        _TIME_RECORD a = Rec(c.a);
        _TIME_RECORD b = Rec(c.b);
        EXPECT_EQ(datediff(c.unit, a, b), c.expected) << c.unit << " " << Show(c.a) << " - " << Show(c.b);
        EXPECT_EQ(datediff(c.unit, Local(c.a), Local(c.b)), c.expected)
            << "time_t form: " << c.unit << " " << Show(c.a) << " - " << Show(c.b);
    }
}

TEST(DateAdd, MovesAndNormalises)
{
    struct Case {
        char unit;
        Fields start;
        int n;
        Fields expected;
    } cases[] = {
        {'M', {2004, 3, 10, 8, 0, 0}, 14, {2005, 5, 10, 8, 0, 0}},
        {'m', {2004, 3, 10, 8, 0, 0}, 14, {2005, 5, 10, 8, 0, 0}},
        {'M', {2005, 5, 10, 8, 0, 0}, -14, {2004, 3, 10, 8, 0, 0}},
        {'M', {2005, 3, 31, 8, 0, 0}, 1, {2005, 5, 1, 8, 0, 0}},  // April has 30 days
        {'D', {2005, 4, 30, 8, 0, 0}, 1, {2005, 5, 1, 8, 0, 0}},
        {'d', {2005, 3, 1, 8, 0, 0}, -1, {2005, 2, 28, 8, 0, 0}},
        {'Y', {2004, 2, 29, 8, 0, 0}, 1, {2005, 3, 1, 8, 0, 0}},
        {'y', {2004, 2, 29, 8, 0, 0}, 4, {2008, 2, 29, 8, 0, 0}},
        {'h', {2005, 4, 31, 8, 0, 0}, 5, {2005, 5, 1, 8, 0, 0}},  // no unit: only normalised
    };
    for (const Case& c : cases) {
        tm t{};
        t.tm_year = c.start.year - 1900;
        t.tm_mon = c.start.month - 1;
        t.tm_mday = c.start.day;
        t.tm_hour = c.start.hour;
        t.tm_isdst = -1;
        EXPECT_EQ(dateadd(c.unit, &t, c.n), 0) << c.unit << c.n;
        EXPECT_EQ(Show(FromTm(t)), Show(c.expected)) << c.unit << " " << c.n << " from " << Show(c.start);
    }
}

TEST(DatePart, PartsTable)
{
    _TIME_RECORD r = Rec({2005, 1, 31, 14, 25, 36});  // a Monday
    struct Case {
        char unit;
        int expected;
    } cases[] = {
        {'Y', 105}, {'y', 105}, {'M', 0}, {'m', 0}, {'D', 31}, {'d', 31}, {'H', 14}, {'h', 14},
        {'I', 25},  {'i', 25},  {'S', 36}, {'s', 36}, {'W', 1}, {'w', 1}, {'x', 0}, {'Z', 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(datepart(c.unit, r), c.expected) << c.unit;
}

TEST(Reboot, UnderRootOnlyWritesTheMarker)
{
    TempRoot root;
    unsetenv("VTN_REBOOT_COMMAND");
    ASSERT_TRUE(VtnUnderRoot());
    EXPECT_EQ(RebootSystem(), 0);
    EXPECT_TRUE(FileExists(root.Path("/var/run/vtn.reboot")));
}

TEST(Reboot, UnderRootRunsTheCommandWithNoSignalBlocked)
{
    TempRoot root;
    ASSERT_TRUE(VtnUnderRoot());
    std::string out = root.Path("/ran");
    // The mask of the command itself: the shell blocks signals around its own forks.
    std::string command = "grep SigBlk /proc/self/status > '" + out + ".tmp' && mv '" + out + ".tmp' '" + out + "'";
    setenv("VTN_REBOOT_COMMAND", command.c_str(), 1);
    // A server blocks its signals for sigwait; the command must not inherit that.
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    EXPECT_EQ(RebootSystem(), 0);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    unsetenv("VTN_REBOOT_COMMAND");

    for (int i = 0; i < 6000 && !FileExists(out); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(FileExists(out)) << "the command did not run";
    EXPECT_EQ(ReadFileText(out), "SigBlk:\t0000000000000000\n");
    EXPECT_FALSE(FileExists(root.Path("/var/run/vtn.reboot")));
}
