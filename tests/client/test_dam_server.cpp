// The device model end to end: arrays of every level created through the real vtnsvr on the
// simulated controller, read back, deleted, and their sentences found in the server's event log.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "damfake.h"
#include "netfuncs.h"
#include "svrfixture.h"

namespace {

void OnLost() {}

constexpr uint64_t kGB = 2097152;

class DamServer : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (handle >= 0)
            cs_vtn_disconnect_system(handle);
        handle = -1;
        SetClientWaitSeconds(VTN_CLIENT_WAIT_SECONDS);
    }

    // Starts the server on a preset (after the given controller changes) and logs in as the
    // default user; the model then works on the global handle.
    void Start(const std::string& preset, const std::vector<std::vector<std::string>>& simSteps = {})
    {
        cs_vtn_client_init();
        gShownBoxes.clear();
        gEventRows.clear();
        SetClientWaitSeconds(30);
        ASSERT_EQ(server_.Sim({"init", "--preset", preset}), 0);
        for (const auto& step : simSteps)
            ASSERT_EQ(server_.Sim(step), 0);
        ASSERT_TRUE(server_.Start(""));
        int r = -1;
        for (int attempt = 0; attempt < 100; ++attempt) {
            _CS_CONNECTION_INFO info{};
            CopyText(info.host, "127.0.0.1");
            info.port = static_cast<uint16_t>(server_.Port());
            CopyText(info.user, "RAID");
            CopyText(info.password, "wqx");
            info.callback = OnLost;
            r = cs_vtn_connect_system(&info);
            if (r != static_cast<int>(VTN_LOGIN_HANDSHAKE))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_GE(r, 0);
        handle = r;
    }

    // Top-level disks by (channel, device) of controller 0.
    std::map<std::pair<int, int>, uint32_t> Disks()
    {
        std::map<std::pair<int, int>, uint32_t> out;
        for (ClDiskArrayIterator it(0); it; ++it) {
            CDisk d;
            d = **it;
            if (d.nType == VTN_DEVICE_DISK && d.Info.u.disk.controller == 0)
                out[{d.Info.u.disk.channel, d.Info.u.disk.device}] = d.GetID();
        }
        return out;
    }

    bool OnTopLevel(uint32_t id)
    {
        for (ClDiskArrayIterator it(0); it; ++it)
            if (**it == id)
                return true;
        return false;
    }

    std::string ServerLog() { return ReadFileText(root_.Path("/var/log/vtn.log")); }

    TempRoot root_;
    ServerProcess server_{root_.Dir()};
};

struct LevelCase {
    const char* what;
    int code;                      // for the default name
    std::vector<int> channels;     // members by channel, device 0
    std::function<unsigned int(CDiskArray&)> make;
    const char* typeText;
    uint64_t gb;
    const char* status;
    const char* sentence;          // start of the creation sentence
    const char* deletion;          // start of the deletion sentence
};

TEST_F(DamServer, EveryLevelIsCreatedReadBackAndDeleted)
{
    Start("sata8");   // one controller, 8 channels: 80 80 120 160 80 80 120 250 GB

    CSupportPara caps;
    caps.ProbeVersion();
    ASSERT_FALSE(caps.IsOldVersion());
    for (int row = 0; row < VTN_CAP_ROWS; ++row)
        EXPECT_TRUE(caps.SupportRAID(row)) << row;
    EXPECT_EQ(GetControllNum(), 8);

    const LevelCase cases[] = {
        {"RAID 0", VTN_RAID0, {0, 1}, [](CDiskArray& a) { return a.CreateRAID0(); }, "RAID 0", 160, "Not Available",
         "Creating RAID 0 (Striping) Array 'RAID_0_0' succeeded.  ", "Deleting RAID 0 (Striping) Array 'RAID_0_0'"},
        {"RAID 1", VTN_RAID1, {0, 1}, [](CDiskArray& a) { return a.CreateRAID1(false); }, "RAID 1", 80,
         "Not Available", "Creating RAID 1 (Mirroring) Array 'RAID_1_0' succeeded. (Orignal disk:",
         "Deleting RAID 1 (Mirroring) Array 'RAID_1_0'"},
        {"RAID 1 duplicate", VTN_RAID1, {0, 1}, [](CDiskArray& a) { return a.CreateRAID1(true); }, "RAID 1", 80,
         "Duplicating", "Creating RAID 1 (Mirroring) Array 'RAID_1_0' succeeded. (Orignal disk:",
         "Deleting RAID 1 (Mirroring) Array 'RAID_1_0'"},
        {"RAID 5 no build", VTN_RAID5, {0, 1, 4}, [](CDiskArray& a) { return a.CreateRAID5(1); }, "RAID 5", 160,
         "Not Available", "Creating RAID 5  Array 'RAID_5_0' succeeded.  ", "Deleting RAID 5 Array 'RAID_5_0'"},
        {"RAID 5 zero build", VTN_RAID5, {0, 1, 4}, [](CDiskArray& a) { return a.CreateRAID5(2); }, "RAID 5", 160,
         "Initialize", "Creating RAID 5  Array 'RAID_5_0' succeeded.  ", "Deleting RAID 5 Array 'RAID_5_0'"},
        {"RAID 5 scrub", VTN_RAID5, {0, 1, 4}, [](CDiskArray& a) { return a.CreateRAID5(4); }, "RAID 5", 160,
         "Initialize", "Creating RAID 5  Array 'RAID_5_0' succeeded.  ", "Deleting RAID 5 Array 'RAID_5_0'"},
        {"JBOD", VTN_JBOD, {2, 3}, [](CDiskArray& a) { return a.CreateJBOD(); }, "JBOD", 280, "Not Available",
         "Creating JBOD (Volume) Array 'JBOD___0' succeeded.  ", "Deleting JBOD (Volume) Array 'JBOD___0'"},
        {"RAID 0/1", VTN_RAID01, {0, 1, 4, 5}, [](CDiskArray& a) { return a.CreateRAID01(false); }, "RAID 0/1", 160,
         "Not Available", "Creating RAID 0/1 (Mirrored Striping) Array 'RAID01_0' succeeded . ",
         "Deleting RAID 0/1 (Mirrored Striping) Array 'RAID01_0'"},
        {"RAID 1/0", VTN_RAID10, {0, 1, 4, 5}, [](CDiskArray& a) { return a.CreateRAID10(false); }, "RAID 1/0", 160,
         "Not Available", "Creating RAID 1/0 (Striped Mirroring) Array 'RAID10_0' succeeded . ",
         "Deleting RAID 1/0 (Striped Mirroring) Array 'RAID10_0'"},
    };
    for (const LevelCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto disks = Disks();
        ASSERT_EQ(disks.size(), 8u) << "every disk free again";
        CDiskArray a;
        for (int ch : c.channels)
            a.AddMember(disks.at({ch, 0}), -1);
        char name[32] = "";
        DefaultRAIDName(c.code, name, sizeof name);
        a.SetName(name, false);
        const size_t rowsBefore = gEventRows.size();

        const unsigned int id = c.make(a);
        ASSERT_NE(id, 0u);
        ASSERT_EQ(gEventRows.size(), rowsBefore + 1);
        EXPECT_EQ(gEventRows.back().text.rfind(c.sentence, 0), 0u) << gEventRows.back().text;

        CDiskArray back;
        back = id;
        char type[32], status[64];
        back.GetArrayType(type, sizeof type);
        EXPECT_STREQ(type, c.typeText);
        EXPECT_EQ(back.GetCapacity(), c.gb * kGB);
        back.GetWorkStatus(status, sizeof status);
        EXPECT_STREQ(status, c.status);
        EXPECT_STREQ(back.szName, name);
        EXPECT_TRUE(GetSameRAIDName(name));
        EXPECT_EQ(GetRAIDID(name), id);
        if (c.code == VTN_RAID10) {
            ClDiskArrayIterator halves(id);
            ASSERT_TRUE(halves);
            ++halves;
            ASSERT_TRUE(halves);
            const uint32_t second = **halves;
            CDiskArray half;
            half = second;
            EXPECT_STREQ(half.szName, "Member 2 of 'RAID10_0'");
            EXPECT_EQ(GetRAIDID("Member 2 of 'RAID10_0'"), second);
            CDisk member;
            member = disks.at({4, 0});
            member.GetWorkStatus(status, sizeof status);
            EXPECT_STREQ(status, "Member of Member 2 of 'RAID10_0'(RAID 1/0) ");
        }
        if (c.code == VTN_RAID01) {
            CDisk member;
            member = disks.at({5, 0});
            member.GetWorkStatus(status, sizeof status);
            EXPECT_STREQ(status, "Member of Member 2 of 'RAID01_0'(RAID 0/1) ");
        }

        EXPECT_EQ(back.Delete(true), 1);
        EXPECT_EQ(gEventRows.back().text.rfind(std::string(c.deletion) + " succeeded.  ", 0), 0u)
            << gEventRows.back().text;
        EXPECT_FALSE(OnTopLevel(id));
    }
    EXPECT_TRUE(gShownBoxes.empty());

    // Every sentence reached the server's log, stamped by the server.
    const std::string log = ServerLog();
    for (const EventRow& row : gEventRows) {
        EXPECT_NE(log.find("\t" + row.text + "\n"), std::string::npos) << row.text;
        EXPECT_EQ(row.time.size(), 19u) << row.time;
    }
    EXPECT_EQ(ReadFileText(root_.Path("/usr/bin/log_loacl.txt")).size() > 0, true);
}

TEST_F(DamServer, RefusedCreationIsShownAndLogged)
{
    Start("sata4");
    const auto disks = Disks();
    CDiskArray a;
    a.AddMember(disks.at({0, 0}), -1);
    a.AddMember(disks.at({0, 0}), -1);   // the controller refuses a disk twice
    a.SetName("Twice", false);
    EXPECT_EQ(a.CreateRAID0(), 0u);
    ASSERT_EQ(gShownBoxes.size(), 1u);
    EXPECT_EQ(gShownBoxes[0].text, "Creating RAID 0 (Striping) Array failed.  ");
    ASSERT_EQ(gEventRows.size(), 1u);
    EXPECT_NE(ServerLog().find("\tCreating RAID 0 (Striping) Array failed.  Location : Controller 1, Channel 1, "
                               "Device 1  Location : Controller 1, Channel 1, Device 1  \n"),
              std::string::npos);
}

TEST_F(DamServer, DedicatedSpareOfAMirrorIsSeenOnLoad)
{
    Start("sata4");   // 80 80 120 160 GB
    const auto disks = Disks();
    CDiskArray mirror;
    mirror.AddMember(disks.at({0, 0}), -1);
    mirror.AddMember(disks.at({1, 0}), -1);
    mirror.SetName("Mirror", false);
    const unsigned int id = mirror.CreateRAID1(false);
    ASSERT_NE(id, 0u);
    CDiskArray before;
    before = id;
    EXPECT_FALSE(before.HaveSpare());

    CDiskArray spare;
    spare.AddMember(disks.at({2, 0}), -1);
    EXPECT_EQ(spare.EditArraySpare(id), 1);
    EXPECT_EQ(gEventRows.back().text,
              "Add spare disk (Location : Controller 1, Channel 3, Device 1) to spare pool succeeded.  ");
    CDiskArray back;
    back = id;
    EXPECT_TRUE(back.HaveSpare());
    EXPECT_EQ(back.GetChildNum(), 2);
    char type[32];
    back.GetArrayType(type, sizeof type);
    EXPECT_STREQ(type, "RAID 1");
    EXPECT_EQ(back.Delete(true), 1);
    EXPECT_TRUE(gShownBoxes.empty());

    const std::string log = ServerLog();
    for (const EventRow& row : gEventRows)
        EXPECT_NE(log.find("\t" + row.text + "\n"), std::string::npos) << row.text;
}

TEST_F(DamServer, TwoChannelControllerBuildsSparesAndMirroredStripes)
{
    // The first disk is the machine's boot disk; put a plain one in its place.
    Start("pata2", {{"pull", "1"}, {"plug", "0", "0", "0", "40"}});
    EXPECT_EQ(GetControllNum(), 2);
    const auto disks = Disks();
    ASSERT_EQ(disks.size(), 4u);

    // RAID 1 with a third disk: that one joins the spare pool.
    CDiskArray mirror;
    mirror.AddMember(disks.at({0, 1}), -1);
    mirror.AddMember(disks.at({1, 0}), -1);
    mirror.AddMember(disks.at({1, 1}), -1);
    mirror.SetName("Mirror", false);
    const unsigned int id = mirror.CreateRAID1(false);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(gEventRows.back().text,
              "Creating RAID 1 (Mirroring) Array 'Mirror' succeeded. (Orignal disk:Location : Controller 0, Channel 0, "
              "Device 1  Mirror disk:Location : Controller 0, Channel 1, Device 0  Spare disk:Location : Controller 0, "
              "Channel 1, Device 1)");
    CDisk spare;
    spare = disks.at({1, 1});
    char status[64];
    spare.GetWorkStatus(status, sizeof status);
    EXPECT_STREQ(status, "Spare disk");
    CDiskArray back;
    back = id;
    EXPECT_EQ(back.GetCapacity(), 40 * kGB);
    EXPECT_EQ(back.Delete(true), 1);
    CDiskArray out;
    out.AddMember(disks.at({1, 1}), -1);
    EXPECT_EQ(out.EditSpare(false), 1);
    EXPECT_EQ(gEventRows.back().text,
              "Delete spare disk (Location : Controller 0, Channel 1, Device 1) from spare pool succeeded.  ");

    // RAID 0/1 from two halves: 40+40 GB first, 80+80 GB second.
    CDiskArray nested;
    for (auto place : {std::pair{0, 0}, {0, 1}, {1, 0}, {1, 1}})
        nested.AddMember(disks.at(place), -1);
    nested.SetName("Nested", false);
    const unsigned int nid = nested.CreateRAID01(true);
    ASSERT_NE(nid, 0u);
    CDiskArray n;
    n = nid;
    char type[32];
    n.GetArrayType(type, sizeof type);
    EXPECT_STREQ(type, "RAID 0/1");
    EXPECT_EQ(n.GetCapacity(), 80 * kGB);
    n.GetWorkStatus(status, sizeof status);
    EXPECT_STREQ(status, "Duplicating");
    ClDiskArrayIterator halves(nid);
    ASSERT_TRUE(halves);
    CDisk first;
    first = **halves;
    EXPECT_STREQ(first.szName, "(RAID0)");
    EXPECT_EQ(first.GetCapacity(), 80 * kGB);
    EXPECT_EQ(n.Delete(true), 1);
    EXPECT_EQ(Disks().size(), 4u);
    EXPECT_TRUE(gShownBoxes.empty());

    const std::string log = ServerLog();
    for (const EventRow& row : gEventRows)
        EXPECT_NE(log.find("\t" + row.text + "\n"), std::string::npos) << row.text;
}

}  // namespace
