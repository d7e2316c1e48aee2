// The real vtnraid started twice: the second copy says so and leaves. VTN_RUNS_VTNRAID
#include <csignal>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "drivergui.h"
#include "testutil.h"

#ifndef VTN_BINARY_DIR
#error "VTN_BINARY_DIR must be defined"
#endif

namespace {

const std::string kProgram = std::string(VTN_BINARY_DIR) + "/gui/vtnraid";

bool OtherCopyRuns()
{
    long* ids = find_pid_by_name("vtnraid");
    bool running = ids && ids[0] >= 1;
    free(ids);
    return running;
}

TEST(VtnraidProcess, ASecondCopySaysSoAndExitsZero)
{
    if (OtherCopyRuns())
        GTEST_SKIP() << "a vtnraid runs on this machine already";
    TempRoot root;
    ChildProcess first;
    ASSERT_TRUE(first.Start({kProgram}, {}, root.Path("/first.out"), root.Path("/first.err")));
    // The first copy is past its check once its main window has loaded the systems list.
    bool up = false;
    for (int i = 0; i < 3000 && !up; ++i) {
        up = FileExists(root.Path("/usr/bin/vtnsys.log"));
        if (!up) {
            ASSERT_TRUE(first.Running()) << ReadFileText(root.Path("/first.err"));
            usleep(10000);
        }
    }
    ASSERT_TRUE(up) << "the first vtnraid did not build its window";

    std::string output;
    EXPECT_EQ(RunProgram({kProgram}, &output), 0);
    EXPECT_EQ(output, "vtnraid is running!\n");
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(ReadFileText(root.Path("/first.out")), "");

    first.Signal(SIGTERM);
    EXPECT_NE(first.Wait(20000), -1);
}

}  // namespace
