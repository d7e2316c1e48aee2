// vtnsim from the shell, on the state file that this process reads through the driver channel.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "drvrec.h"
#include "simctl.h"
#include "testutil.h"
#include "vtnsysctl.h"

namespace {

const std::string kTool = VTN_BINARY_DIR "/platform/vtnsim";

int Tool(const std::vector<std::string>& args, std::string* out = nullptr)
{
    std::vector<std::string> argv{kTool};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string text;
    const int rc = RunProgram(argv, &text);
    if (out)
        *out = text;
    return rc;
}

int Call(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize)
{
    _VTN_DRIVER_REQUEST r{};
    r.magic = VTN_DRIVER_MAGIC;
    r.code = code;
    r.in = const_cast<void*>(in);
    r.inSize = inSize;
    r.out = out;
    r.outSize = outSize;
    return sysctlbyname("vtnmira.status", nullptr, nullptr, &r, sizeof r);
}

class VtnsimTool : public ::testing::Test {
protected:
    TempRoot root_;
};

TEST_F(VtnsimTool, RefusesBadInputWithAMessage)
{
    std::string out;
    EXPECT_NE(0, Tool({"show"}, &out));
    EXPECT_NE(out.find("missing"), std::string::npos) << out;
    EXPECT_NE(0, Tool({"fail", "3"}, &out));

    ASSERT_EQ(0, Tool({"init", "--preset", "sata4"}, &out)) << out;
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{"fail", "77"}, "no disk with id 77"},
        {{"pull", "x1"}, "bad id 'x1'"},
        {{"fail", "-1"}, "bad id"},
        {{"plug", "0", "9", "0", "80"}, "no channel 9"},
        {{"plug", "0", "1", "0", "80"}, "already sits"},
        {{"plug", "0", "1", "0", "big"}, "bad size"},
        {{"progress", "1", "50"}, "no array with id 1"},
        {{"progress", "1", "101"}, "bad percent"},
        {{"finish", "99"}, "no array with id 99"},
        {{"event", "300", "1"}, "bad kind"},
        {{"set", "version", "0xZZ"}, "bad version"},
        {{"set", "rate", "fast"}, "bad rate"},
        {{"set", "colour", "red"}, "wrong arguments"},
        {{"fail-next", "0x12"}, "0xFF00"},
        {{"init", "--preset", "sata16"}, "unknown preset"},
        {{"frobnicate"}, "unknown command"},
        {{"fail"}, "wrong arguments"},
    };
    for (const Case& c : cases) {
        EXPECT_NE(0, Tool(c.args, &out)) << c.args[0];
        EXPECT_NE(out.find(c.says), std::string::npos) << c.args[0] << ": " << out;
    }
    // Refused commands left the state as it was.
    ASSERT_EQ(0, Tool({"show", "--json"}, &out));
    const auto j = nlohmann::json::parse(out);
    EXPECT_EQ(4u, j["disks"].size());
    EXPECT_TRUE(j["events"].empty());
}

TEST_F(VtnsimTool, ChangesAreSeenByADriverUserInAnotherProcess)
{
    std::string out;
    ASSERT_EQ(0, Tool({"init", "--preset", "demo"}, &out)) << out;
    EXPECT_NE(out.find("demo"), std::string::npos);

    // This process reads first, so it holds the state in memory when the tool changes it.
    uint32_t version = 0;
    ASSERT_EQ(0, Call(VTN_CTL_GET_VERSION, nullptr, 0, &version, 4));
    EXPECT_EQ(0x01000100u, version);

    ASSERT_EQ(0, Tool({"set", "version", "01020000"}, &out)) << out;
    ASSERT_EQ(0, Call(VTN_CTL_GET_VERSION, nullptr, 0, &version, 4));
    EXPECT_EQ(0x01020000u, version);

    ASSERT_EQ(0, Tool({"fail", "2"}, &out)) << out;
    EXPECT_EQ("disk 2 failed\n", out);
    ASSERT_EQ(0, Tool({"plug", "1", "6", "0", "500"}, &out)) << out;
    ASSERT_EQ(0, Tool({"event", "15", "4242", "Gone"}, &out)) << out;

    std::vector<_VTN_EVENT> events;
    _VTN_EVENT e{};
    while (Call(VTN_CTL_GET_EVENT, nullptr, 0, &e, sizeof e) == 0)
        events.push_back(e);
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ(VTN_EVENT_MEMBER_FAILED, events[0].kind);
    EXPECT_EQ(2u, events[0].device);
    EXPECT_EQ(VTN_EVENT_DEVICE_PLUGGED, events[1].kind);
    EXPECT_EQ(VTN_EVENT_INIT_FAILED, events[2].kind);
    EXPECT_EQ(4242u, events[2].device);
    EXPECT_STREQ("Gone", events[2].u.name);

    ASSERT_EQ(0, Tool({"set", "channel", "vtnsela.status"}, &out)) << out;
    EXPECT_EQ(-1, Call(VTN_CTL_GET_VERSION, nullptr, 0, &version, 4));

    ASSERT_EQ(0, Tool({"log"}, &out)) << out;
    EXPECT_NE(out.find("vtnmira.status 0xFF0A"), std::string::npos) << out;
}

TEST_F(VtnsimTool, CallLogKeepsTheNewestCallsOfEveryProcessInOrder)
{
    std::string out;
    ASSERT_EQ(0, Tool({"init", "--preset", "sata4"}, &out)) << out;
    // The output size of a call tells which call it was.
    std::vector<uint8_t> buf(30000);
    auto call = [&buf](uint32_t tag) { return Call(VTN_CTL_GET_VERSION, nullptr, 0, buf.data(), tag); };
    const uint32_t total = kVtnSimCallLogSize + 100;
    for (uint32_t i = 0; i < total; ++i)
        ASSERT_EQ(0, call(4 + i));
    auto log = VtnSimCallLog();
    ASSERT_EQ(kVtnSimCallLogSize, log.size());
    for (uint32_t k = 0; k < log.size(); ++k)
        ASSERT_EQ(4 + 100 + k, log[k].outSize) << k;
    ASSERT_EQ(0, Tool({"log"}, &out));
    EXPECT_NE(out.find("vtnmira.status 0xFF00 in 0 out " + std::to_string(total + 3) + " -> ok\n"),
              std::string::npos);

    // Another process makes the controller anew: the state this process holds and its log go.
    ASSERT_EQ(0, Tool({"set", "version", "01020000"}, &out)) << out;
    uint32_t version = 0;
    ASSERT_EQ(0, Call(VTN_CTL_GET_VERSION, nullptr, 0, &version, 4));
    ASSERT_EQ(0, Tool({"init", "--preset", "sata8"}, &out)) << out;
    ASSERT_EQ(0, Tool({"log"}, &out));
    EXPECT_EQ("no calls received\n", out);
    ASSERT_EQ(0, Call(VTN_CTL_GET_VERSION, nullptr, 0, &version, 4));
    EXPECT_EQ(0x01000100u, version);

    // Two processes calling at once: every call logged, each process's calls in their order.
    const pid_t child = ForkChild([&call] {
        for (uint32_t i = 0; i < 300; ++i)
            if (call(10000 + i) != 0)
                _exit(1);
    });
    for (uint32_t i = 0; i < 300; ++i)
        ASSERT_EQ(0, call(20000 + i));
    ASSERT_EQ(0, JoinChild(child));
    log = VtnSimCallLog();
    ASSERT_EQ(601u, log.size());
    uint32_t next[2] = {10000, 20000};
    for (size_t k = 1; k < log.size(); ++k) {
        const int who = log[k].outSize >= 20000 ? 1 : 0;
        EXPECT_EQ(next[who]++, log[k].outSize) << k;
    }
    EXPECT_EQ(10300u, next[0]);
    EXPECT_EQ(20300u, next[1]);
}

TEST_F(VtnsimTool, OperationsFromTheShell)
{
    std::string out;
    ASSERT_EQ(0, Tool({"init", "--preset", "sata4"}, &out)) << out;
    _CREATE_ARRAY_PARAMS p{};
    p.raidType = VTN_RAID1;
    p.memberCount = 2;
    p.option = VTN_CREATE_RAID1_DUPLICATE;
    memcpy(p.name, "Copy", 4);
    p.members[0] = 1;
    p.members[1] = 2;
    uint32_t id = 0;
    ASSERT_EQ(0, Call(VTN_CTL_CREATE_ARRAY, &p, sizeof p, &id, 4));
    const std::string ids = std::to_string(id);

    ASSERT_EQ(0, Tool({"set", "rate", "0"}, &out)) << out;
    ASSERT_EQ(0, Tool({"progress", ids, "37.5"}, &out)) << out;
    _LOGICAL_DEVICE_INFO d{};
    ASSERT_EQ(0, Call(VTN_CTL_GET_DEVICE_INFO, &id, 4, &d, sizeof d));
    EXPECT_EQ(3750u, uint32_t{d.u.array.progress});

    ASSERT_EQ(0, Tool({"finish", ids}, &out)) << out;
    ASSERT_EQ(0, Tool({"reboot"}, &out)) << out;
    EXPECT_NE(out.find("1 array(s)"), std::string::npos) << out;
    ASSERT_EQ(0, Call(VTN_CTL_GET_DEVICE_INFO, &id, 4, &d, sizeof d));
    EXPECT_EQ(0u, uint32_t{d.u.array.status});

    ASSERT_EQ(0, Tool({"fail-next", "0xFF05"}, &out)) << out;
    EXPECT_EQ(-1, Call(VTN_CTL_GET_DEVICE_INFO, &id, 4, &d, sizeof d));
    EXPECT_EQ(0, Call(VTN_CTL_GET_DEVICE_INFO, &id, 4, &d, sizeof d));

    ASSERT_EQ(0, Tool({"show"}, &out)) << out;
    EXPECT_NE(out.find("'Copy' RAID 1"), std::string::npos) << out;
}

}  // namespace
