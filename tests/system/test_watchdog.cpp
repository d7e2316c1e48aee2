// The watchdog every test runs under: a command still running at its time has the stacks of all
// its processes' threads printed and is killed; otherwise its status is the command's own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

const std::string kWatchdog = std::string(VTN_BINARY_DIR) + "/tests/tools/vtnwatchdog";

TEST(Watchdog, AHungCommandHasEveryThreadsStackPrintedAndIsKilled)
{
    TempRoot root;
    // A shell whose child is a program with two threads, all of them waiting for ever.
    const std::string hang =
        "/usr/bin/python3 -c 'import threading, time\n"
        "threading.Thread(target=time.sleep, args=(600,), name=\"sleeper\").start()\n"
        "time.sleep(600)' & wait";
    const auto start = std::chrono::steady_clock::now();
    std::string out;
    EXPECT_EQ(RunProgram({kWatchdog, "2", "/bin/sh", "-c", hang}, &out), 124);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(50)) << "two seconds, and at most thirty for the stacks";
    EXPECT_NE(out.find("watchdog: the test still runs after 2 s"), std::string::npos) << out;
    EXPECT_NE(out.find("watchdog: killing the test"), std::string::npos) << out;
    // Both processes are named, the program's two threads shown with their frames.
    std::vector<pid_t> pids;
    const std::regex head("==== process ([0-9]+) \\(parent [0-9]+\\): ([^\n]*)");
    for (std::sregex_iterator it(out.begin(), out.end(), head), end; it != end; ++it)
        pids.push_back(std::stoi((*it)[1]));
    ASSERT_EQ(pids.size(), 2u) << out;
    EXPECT_NE(out.find(": /bin/sh -c"), std::string::npos) << out;
    EXPECT_NE(out.find(": /usr/bin/python3 -c"), std::string::npos) << out;
    EXPECT_NE(out.find("Thread 2 "), std::string::npos) << out;
    EXPECT_NE(out.find("#0 "), std::string::npos) << out;
    // Nothing of the command runs on.
    for (pid_t p : pids)
        EXPECT_TRUE(WaitWhile([p] { return ProcessEnded(p); }, 10000, [] { return true; })) << p;
}

TEST(Watchdog, ACommandThatEndsInTimeKeepsItsStatusAndOutput)
{
    TempRoot root;
    struct Case {
        const char* script;
        const char* said;
        int exitCode;   // -1: killed by signal
        int signal;
    } cases[] = {
        {"echo fine; exit 0", "fine\n", 0, 0},
        {"echo failed; exit 3", "failed\n", 3, 0},
        {"echo killed; kill -TERM $$", "killed\n", -1, SIGTERM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        ChildProcess child;
        const std::string out = root.Path("/out");
        ASSERT_TRUE(child.Start({kWatchdog, "60", "/bin/sh", "-c", c.script}, {}, out, out));
        const int status = child.Wait(30000);
        ASSERT_NE(status, -1);
        if (c.exitCode >= 0) {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), c.exitCode);
        } else {
            ASSERT_TRUE(WIFSIGNALED(status));
            EXPECT_EQ(WTERMSIG(status), c.signal);
        }
        EXPECT_EQ(ReadFileText(out), c.said);
    }
}

}  // namespace
