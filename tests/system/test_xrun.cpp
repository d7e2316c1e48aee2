// tests/gui/xrun with a stand-in for Xvfb first on its PATH, one that ignores SIGTERM: xrun still
// returns within seconds, leaves no process of it behind and clears the lock it left.
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

// Writes its pid to $STANDIN_PID, a lock for display 77 and a socket file as an X server would (the
// lock naming $STANDIN_LOCK, or itself when that is "own"), tells display 77 on its -displayfd
// unless $STANDIN_SILENT is set, then sleeps with SIGTERM ignored.
const char* const kStandIn = R"(#!/bin/sh
while [ $# -gt 0 ]; do
  [ "$1" = -displayfd ] && fd=$2
  shift
done
echo $$ >"$STANDIN_PID"
owner=$STANDIN_LOCK
[ "$owner" = own ] && owner=$$
mkdir -p "$XRUN_X_TMP/.X11-unix"
printf '%10d\n' "$owner" >"$XRUN_X_TMP/.X77-lock"
: >"$XRUN_X_TMP/.X11-unix/X77"
trap '' TERM
[ -n "$STANDIN_SILENT" ] || eval "echo 77 >&$fd"
exec sleep 600
)";

TEST(Xrun, AServerThatIgnoresSigtermIsKilledAndTheProgramsStatusReturned)
{
    struct Case {
        const char* what;
        bool tells;         // the stand-in tells its display number
        bool ownLock;       // the lock it leaves names it (else another process)
        int status;         // what xrun returns
        const char* said;   // what xrun says, if anything
    } cases[] = {
        {"its own lock", true, true, 7, nullptr},
        {"another server's lock", true, false, 7, nullptr},
        {"it never tells a display", false, true, 1, "xrun: Xvfb did not start"},
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
                                        "TMPDIR=" + root.Dir(), "STANDIN_PID=" + pidFile,
                                        std::string("STANDIN_LOCK=") + (c.ownLock ? "own" : "1")};
        if (!c.tells)
            env.push_back("STANDIN_SILENT=1");
        ChildProcess xrun;
        const std::string out = root.Path("/out");
        ASSERT_TRUE(xrun.Start({"/usr/bin/env", "-u", "DISPLAY", "/bin/sh", kXrun, "/bin/sh", "-c", "exit 7"}, env,
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
        EXPECT_EQ(FileExists(xtmp + "/.X77-lock"), !c.ownLock);
        EXPECT_EQ(FileExists(xtmp + "/.X11-unix/X77"), !c.ownLock);
    }
}

}  // namespace
