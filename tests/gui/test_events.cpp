// Events pushed by the real vtnsvr while the window is logged in, taken in by the window's own
// 2000 ms timer: per event its box, its line in the local copy and its row; a failure in a RAID 1/0
// that stops the other members' verify; the reboot question after a rebuild of an array that is
// not available yet.
#include <string>
#include <vector>

#include "drivergui_list.h"
#include "serverfixture.h"

namespace {

using ServerEvents = ServerGuiTest;

constexpr const char* kRebootQuestion =
    "The array will not be available until \nyou reboot the system.\nDo you want to reboot the system now?";

std::string Users()
{
    return raw::UserLine("admin", "secret1", 0xFFFFFFFFu);
}

// A new array of the given disks through the client API; its id, 0 on failure.
uint32_t MakeArray(const char* name, uint8_t type, std::vector<uint32_t> disks)
{
    _CREATE_ARRAY_PARAMS_V2 p{};
    p.raidType = type;
    p.memberCount = static_cast<uint8_t>(disks.size());
    p.blockCode = 7;
    CopyText(p.name, sizeof p.name, name);
    for (size_t i = 0; i < disks.size(); ++i)
        p.members[i] = disks[i];
    return cs_vtn_create_array(handle, &p);
}

// The line without its time: severity and message.
std::string WithoutTime(const std::string& line)
{
    const size_t a = line.find('\t'), b = line.find('\t', a + 1);
    return a == std::string::npos || b == std::string::npos ? line : line.substr(0, a) + "|" + line.substr(b + 1);
}

TEST_F(ServerEvents, EachEventBringsItsBoxLineAndRowInOrder)
{
    ASSERT_TRUE(StartServer(Users()));
    CMainWindow* win = StartMainWindow();
    LogInAs("admin", "secret1");
    ASSERT_GE(handle, 0);
    const uint32_t mirror = MakeArray("Mirror", VTN_RAID1, {1, 2});
    ASSERT_NE(mirror, 0u);
    const int rowsBefore = ColumnListRows(win->pLogList);
    const size_t linesBefore = Lines(ReadFileText(root_.Path(kLocalLogFile))).size();
    EXPECT_EQ(rowsBefore, static_cast<int>(linesBefore)) << "the load lists every line of the server's log";

    BoxAnswerer boxes;
    ASSERT_EQ(server_->Sim({"event", "2", "3"}), 0);
    ASSERT_EQ(server_->Sim({"fail", "4"}), 0);
    ASSERT_EQ(server_->Sim({"event", "12", std::to_string(mirror)}), 0);
    ASSERT_TRUE(boxes.PumpUntil([&] { return ColumnListRows(win->pLogList) >= rowsBefore + 3; }));

    const std::vector<std::pair<std::string, std::string>> want = {
        {"Warning", "Plugging disk detected.(Controller1-Channel3-Device1)"},
        {"Error", "Disk at Controller1-Channel4-Device1 failed."},
        {"Confirmation", "Array 'Mirror' verifying completed."},
    };
    EXPECT_EQ(boxes.Seen(), want);
    const auto lines = Lines(ReadFileText(root_.Path(kLocalLogFile)));
    ASSERT_EQ(lines.size(), linesBefore + 3);
    const char* words[] = {"Warning", "Critical", "Regular"};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const int row = rowsBefore + static_cast<int>(i);
        EXPECT_EQ(WithoutTime(lines[linesBefore + i]), std::string(1, "WEI"[i]) + "|" + want[i].second);
        EXPECT_EQ(ColumnListText(win->pLogList, row, 0), words[i]);
        EXPECT_EQ(ColumnListText(win->pLogList, row, 2), want[i].second);
        // The row's time is the line's.
        EXPECT_NE(lines[linesBefore + i].find("\t" + ColumnListText(win->pLogList, row, 1) + "\t"), std::string::npos);
    }
    EXPECT_EQ(win->nLogRows, rowsBefore + 3);
    LogOut();
}

TEST_F(ServerEvents, FailureInARaid10StopsTheOtherMembersVerify)
{
    ASSERT_TRUE(StartServer(Users()));
    StartMainWindow();
    LogInAs("admin", "secret1");
    ASSERT_GE(handle, 0);
    ASSERT_EQ(server_->Sim({"set", "rate", "1000"}), 0);
    const uint32_t top = MakeArray("Stripes", VTN_RAID1, {1, 2, 3, 4});
    ASSERT_NE(top, 0u);
    _LOGICAL_DEVICE_INFO_V2 info{};
    ASSERT_EQ(cs_vtn_get_device_info(handle, top, &info), 0);
    ASSERT_EQ(info.u.array.raidType, VTN_RAID0) << "a RAID 1/0: a stripe of mirrors";
    const uint32_t first = info.u.array.members[0], second = info.u.array.members[1];
    ASSERT_EQ(cs_vtn_set_array_state(handle, second, VTN_STATE_START_VERIFY), 0);
    auto status = [&](uint32_t id) {
        _LOGICAL_DEVICE_INFO_V2 d{};
        return cs_vtn_get_device_info(handle, id, &d) == 0 ? d.u.array.status : 0u;
    };
    ASSERT_TRUE(status(second) & VTN_ARRAY_VERIFYING);

    BoxAnswerer boxes;
    // Both disks of the first mirror fail: it is disabled, and the second mirror's verify stops.
    ASSERT_EQ(server_->Sim({"fail", "1"}), 0);
    ASSERT_EQ(server_->Sim({"fail", "2"}), 0);
    ASSERT_TRUE(boxes.PumpUntil([&] {
        for (const auto& [title, text] : boxes.Seen())
            if (title == "Warning" && text.find("verifying aborted") != std::string::npos)
                return true;
        return false;
    }));
    EXPECT_TRUE(status(first) & VTN_ARRAY_DISABLED);
    EXPECT_FALSE(status(second) & VTN_ARRAY_VERIFYING);
    std::string log;
    ASSERT_EQ(server_->Sim({"log"}, &log), 0);
    int stateCalls = 0;
    for (const std::string& line : Lines(log))
        if (line.find(" 0xFF0F ") != std::string::npos) {
            ++stateCalls;
            EXPECT_NE(line.find("-> ok"), std::string::npos) << line;
        }
    EXPECT_EQ(stateCalls, 2) << "the test's start of the verify and the window's abort\n" << log;
    int failures = 0;
    for (const auto& [title, text] : boxes.Seen())
        failures += title == "Error" && text.find("failed.") != std::string::npos;
    EXPECT_EQ(failures, 2);
    LogOut();
}

TEST_F(ServerEvents, RebuiltArrayThatIsNotAvailableOffersAReboot)
{
    ASSERT_TRUE(StartServer(Users()));
    StartMainWindow();
    LogInAs("admin", "secret1");
    ASSERT_GE(handle, 0);
    const uint32_t mirror = MakeArray("Mirror", VTN_RAID1, {1, 2});
    ASSERT_NE(mirror, 0u);
    _LOGICAL_DEVICE_INFO_V2 info{};
    ASSERT_EQ(cs_vtn_get_device_info(handle, mirror, &info), 0);
    ASSERT_TRUE(info.u.array.status & VTN_ARRAY_NOT_AVAILABLE);
    const std::string marker = root_.Path("/var/run/vtn.reboot");
    for (const char* answer : {"Cancel", "OK"}) {
        SCOPED_TRACE(answer);
        BoxAnswerer boxes([answer](const std::string&, const std::string& text) {
            return text == kRebootQuestion ? answer : "OK";
        });
        ASSERT_EQ(server_->Sim({"event", "6", std::to_string(mirror)}), 0);
        ASSERT_TRUE(boxes.PumpUntil([&] { return boxes.Count() == 2; }));
        EXPECT_EQ(boxes.Seen(), (std::vector<std::pair<std::string, std::string>>{
                                    {"Confirmation", "Array 'Mirror' rebuilding completed."},
                                    {"Confirmation", kRebootQuestion}}));
        if (std::string(answer) == "OK") {
            // Under VTN_ROOT the server's reboot only leaves its marker.
            EXPECT_TRUE(PumpUntil([&] { return FileExists(marker); }, 20000));
        } else {
            EXPECT_FALSE(FileExists(marker));
        }
    }
    LogOut();
}

}  // namespace
