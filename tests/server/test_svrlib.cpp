#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "paths.h"
#include "simctl.h"
#include "svrlib.h"
#include "testutil.h"
#include "textutil.h"
#include "vtnsysctl.h"

namespace {

// A driver that answers only the names in `answering` and remembers every request.
struct FakeChannels {
    std::set<std::string> answering;
    std::vector<std::string> names;
    std::vector<_VTN_DRIVER_REQUEST> requests;
    int result = 0;   // what an answering channel returns for a call other than the probe
};
FakeChannels gFake;

int FakeHandler(const char* name, const _VTN_DRIVER_REQUEST* request)
{
    gFake.names.push_back(name);
    gFake.requests.push_back(*request);
    if (gFake.answering.count(name) == 0)
        return -1;
    if (request->code == 0xFF00 && request->out != nullptr && request->outSize >= 4) {
        uint32_t version = 0x01000100;
        memcpy(request->out, &version, sizeof version);
        return 0;
    }
    return gFake.result;
}

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void Reset()
    {
        gFake = FakeChannels{};
        ResetVtnProcFile();
        VtnSetDriverHandler(FakeHandler);
    }
    void TearDown() override
    {
        VtnSetDriverHandler(nullptr);
        ResetVtnProcFile();
    }
    TempRoot root_;
};

struct ChoiceCase {
    const char* what;
    bool hasConfig;
    const char* config;                  // content of "/etc/vtncfg"
    std::set<std::string> answering;
    int result;                          // of InitVtnProcFile
    const char* chosen;                  // ourfile afterwards
    std::vector<std::string> probed;     // names probed, in order
};

const char* const kMira = "vtnmira.status";
const char* const kSela = "vtnsela.status";
const char* const kKora = "vtnkora.status";

TEST_F(ChannelTest, ChoosesTheChannel)
{
    const ChoiceCase cases[] = {
        {"configured name after two blanks", true, "  raid0.ctl/9\nignored\n", {"raid0.ctl/9", kMira},
         0, "raid0.ctl/9", {"raid0.ctl/9"}},
        {"configured name ended by a blank", true, "dev.x extra\n", {"dev.x"}, 0, "dev.x", {"dev.x"}},
        {"character outside the set", true, "raid-ctl\n", {"raid-ctl", kSela}, 0, kSela, {kMira, kSela}},
        {"configured name not answering", true, "gone.node\n", {kMira}, 0, kMira, {"gone.node", kMira}},
        {"empty configuration", true, "", {kKora}, 0, kKora, {kMira, kSela, kKora}},
        {"only blanks and a newline", true, "  \n", {kMira}, 0, kMira, {kMira}},
        {"no configuration file", false, "", {kKora}, 0, kKora, {kMira, kSela, kKora}},
        {"built-ins in order", false, "", {kMira, kSela, kKora}, 0, kMira, {kMira}},
        {"none answering", true, "x.y\n", {}, -1, kKora, {"x.y", kMira, kSela, kKora}},
    };
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        std::string cfg = VtnPathForWrite("/etc/vtncfg");
        remove(cfg.c_str());
        if (c.hasConfig) {
            ASSERT_TRUE(WriteFileText(cfg, c.config));
        }
        gFake.answering = c.answering;
        EXPECT_EQ(InitVtnProcFile(), c.result);
        EXPECT_STREQ(ourfile, c.chosen);
        EXPECT_EQ(gFake.names, c.probed);
    }
}

TEST_F(ChannelTest, ProbeAsksForTheVersion)
{
    gFake.answering = {kMira};
    ASSERT_EQ(InitVtnProcFile1(kMira), 0);
    ASSERT_EQ(gFake.requests.size(), 1u);
    const _VTN_DRIVER_REQUEST& r = gFake.requests[0];
    EXPECT_EQ(r.magic, 0x1a2b3c4du);
    EXPECT_EQ(r.code, 0xFF00u);
    EXPECT_EQ(r.in, nullptr);
    EXPECT_EQ(r.inSize, 0u);
    EXPECT_NE(r.out, nullptr);
    EXPECT_EQ(r.outSize, 4u);
    EXPECT_EQ(r.returned, nullptr);
    // A name that does not answer stays stored and gives the probe's result.
    EXPECT_EQ(InitVtnProcFile1(kSela), -1);
    EXPECT_STREQ(ourfile, kSela);
}

TEST_F(ChannelTest, LongFirstLineIsCutAt254Characters)
{
    std::string name(300, 'a');
    ASSERT_TRUE(WriteFileText(VtnPathForWrite("/etc/vtncfg"), name + "\n"));
    EXPECT_EQ(GetProcFileFromFile(), 0);
    EXPECT_EQ(strlen(ourfile), 254u);
}

TEST(ChannelName, Validity)
{
    struct Case {
        const char* text;
        int result;
        const char* after;   // the text afterwards, when valid
    };
    const Case cases[] = {
        {"vtnmira.status", 0, "vtnmira.status"},
        {"  dev/raid.0\n", 0, "  dev/raid.0"},
        {"\tAbc9", 0, "\tAbc9"},
        {"name rest-is-ignored", 0, "name"},
        {"name\nnext-line", 0, "name"},
        {"", -1, nullptr},
        {"   ", -1, nullptr},
        {"  \n", -1, nullptr},
        {"raid-ctl", -1, nullptr},
        {"raid_ctl", -1, nullptr},
        {"name\r\n", -1, nullptr},
        {"caf\xe9", -1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        char buf[64];
        CopyText(buf, c.text);
        EXPECT_EQ(is_valid_name(buf), c.result);
        if (c.result == 0) {
            EXPECT_STREQ(buf, c.after);
        }
    }
    EXPECT_EQ(is_valid_name(nullptr), -1);
}

TEST_F(ChannelTest, FirstCallChoosesOnceAndPassesTheRequest)
{
    gFake.answering = {kSela};
    gFake.result = -1;
    uint32_t in = 7;
    unsigned char out[16];
    uint32_t returned = 0;
    EXPECT_EQ(Server_User_DeviceIoControl(0xFF05, &in, 4, out, sizeof out, &returned), -1);
    EXPECT_STREQ(ourfile, kSela);
    ASSERT_FALSE(gFake.requests.empty());
    const _VTN_DRIVER_REQUEST& r = gFake.requests.back();
    EXPECT_EQ(gFake.names.back(), kSela);
    EXPECT_EQ(r.magic, 0x1a2b3c4du);
    EXPECT_EQ(r.code, 0xFF05u);
    EXPECT_EQ(r.in, &in);
    EXPECT_EQ(r.inSize, 4u);
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.outSize, sizeof out);
    EXPECT_EQ(r.returned, &returned);

    gFake.names.clear();
    gFake.result = 0;
    EXPECT_EQ(Server_User_DeviceIoControl(0xFF12, nullptr, 0, nullptr, 0, nullptr), 0);
    EXPECT_EQ(gFake.names, std::vector<std::string>{kSela});   // no new probe
}

using ChannelDeathTest = ChannelTest;

TEST_F(ChannelDeathTest, NoChannelEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    gFake.answering = {};
    EXPECT_EXIT(Server_User_DeviceIoControl(0xFF00, nullptr, 0, nullptr, 0, nullptr),
                ::testing::ExitedWithCode(255), "");
}

// The real simulated controller behind the channel, state under the temporary root.
TEST(ChannelOnSimulatedController, AnswersOnlyTheNamesItsStateLists)
{
    TempRoot root;
    unsetenv("VTN_SIM_STATE");
    VtnSetDriverHandler(nullptr);
    ResetVtnProcFile();
    std::string message;

    EXPECT_EQ(InitVtnProcFile(), -1) << "no state file: nothing answers";

    ASSERT_TRUE(VtnSimInit("sata4", &message)) << message;
    ResetVtnProcFile();
    EXPECT_EQ(InitVtnProcFile(), 0);
    EXPECT_STREQ(ourfile, kMira);

    ASSERT_TRUE(VtnSimSetChannel("raid/node.7", &message)) << message;
    ASSERT_TRUE(WriteFileText(VtnPathForWrite("/etc/vtncfg"), "  raid/node.7\n"));
    ResetVtnProcFile();
    EXPECT_EQ(InitVtnProcFile(), 0);
    EXPECT_STREQ(ourfile, "raid/node.7");

    ASSERT_TRUE(VtnSimSetChannel(kKora, &message)) << message;
    ResetVtnProcFile();
    uint32_t version = 0;
    EXPECT_EQ(Server_User_DeviceIoControl(0xFF00, nullptr, 0, &version, sizeof version, nullptr), 0);
    EXPECT_STREQ(ourfile, kKora);
    EXPECT_EQ(version, 0x01000100u);
    ResetVtnProcFile();
}

}  // namespace
