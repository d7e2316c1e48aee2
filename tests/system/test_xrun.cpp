// tests/gui/xrun with a stand-in for Xvfb first on its PATH, one that ignores SIGTERM: xrun still
// returns within seconds, leaves no process of it behind and clears the files it left.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

const std::string kXrun = std::string(VTN_SOURCE_DIR) + "/tests/gui/xrun";

// Writes its pid to $STANDIN_PID; unless $STANDIN_SILENT is set, makes a socket file for display 77
// (and a lock naming itself when $STANDIN_LOCK is set) as an X server would and tells 77 on its
// -displayfd; then sleeps with SIGTERM ignored.
const char* const kStandIn = R"(#!/bin/sh
while [ $# -gt 0 ]; do
  [ "$1" = -displayfd ] && fd=$2
  shift
done
echo $$ >"$STANDIN_PID"
trap '' TERM
if [ -z "$STANDIN_SILENT" ]; then
  mkdir -p "$XRUN_X_TMP/.X11-unix"
  [ -z "$STANDIN_LOCK" ] || printf '%10d\n' $$ >"$XRUN_X_TMP/.X77-lock"
  : >"$XRUN_X_TMP/.X11-unix/X77"
  eval "echo 77 >&$fd"
fi
exec sleep 600
)";

// The program xrun runs, when another server takes display 77 meanwhile: a lock of its own and a
// socket file that is not the stand-in's.
const char* const kTakeOver = R"(cd "$XRUN_X_TMP"
printf '%10d\n' 1 >.X77-lock
: >.X11-unix/X77.new
mv .X11-unix/X77.new .X11-unix/X77
exit 7
)";

TEST(Xrun, AServerThatIgnoresSigtermIsKilledAndTheProgramsStatusReturned)
{
    struct Case {
        const char* what;
        bool tells;           // the stand-in tells its display number
        bool lock;            // it makes a lock file (Xvfb with -displayfd makes none)
        const char* program;  // what xrun runs
        int status;           // what xrun returns
        const char* said;     // what xrun says, if anything
        bool filesKept;       // display 77's lock and socket are there at the end
    } cases[] = {
        {"its own socket", true, false, "exit 7", 7, nullptr, false},
        {"its own lock and socket", true, true, "exit 7", 7, nullptr, false},
        {"another server took the display", true, true, kTakeOver, 7, nullptr, true},
        {"it never tells a display", false, false, "exit 7", 1, "xrun: Xvfb did not start", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempRoot root;
        const std::string bin = root.Path("/bin"), xtmp = root.Path("/xtmp");
        const std::string pidFile = root.Path("/standin.pid");
        ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(xtmp.c_str(), 0755), 0);
        ASSERT_TRUE(WriteFileText(bin + "/Xvfb", kStandIn));
        ASSERT_EQ(chmod((bin + "/Xvfb").c_str(), 0755), 0);
        std::vector<std::string> env = {"PATH=" + bin + ":" + getenv("PATH"), "XRUN_X_TMP=" + xtmp,
                                        "TMPDIR=" + root.Dir(), "STANDIN_PID=" + pidFile};
        if (!c.tells)
            env.push_back("STANDIN_SILENT=1");
        if (c.lock)
            env.push_back("STANDIN_LOCK=1");
        ChildProcess xrun;
        const std::string out = root.Path("/out");
        ASSERT_TRUE(xrun.Start({"/usr/bin/env", "-u", "DISPLAY", "/bin/sh", kXrun, "/bin/sh", "-c", c.program}, env,
                               out, out));
        // Five seconds of SIGTERM, then SIGKILL; the stand-in alone would sleep for ten minutes.
        const int st = xrun.Wait(60000);
        const pid_t standIn = atoi(ReadFileText(pidFile).c_str());
        EXPECT_NE(st, -1) << "xrun still waits after 60 s";
        ASSERT_GT(standIn, 0);
        EXPECT_TRUE(ProcessEnded(standIn)) << "the stand-in still runs";
        if (!ProcessEnded(standIn))
            kill(standIn, SIGKILL);
        ASSERT_NE(st, -1);
        ASSERT_TRUE(WIFEXITED(st));
        EXPECT_EQ(WEXITSTATUS(st), c.status);
        EXPECT_EQ(ReadFileText(out), c.said ? std::string(c.said) + "\n" : "");
        EXPECT_EQ(FileExists(xtmp + "/.X77-lock"), c.filesKept);
        EXPECT_EQ(FileExists(xtmp + "/.X11-unix/X77"), c.filesKept);
    }
}

}  // namespace
