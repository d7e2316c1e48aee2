// Management requests round trip through the real vtnsvr: server information and parameters,
// users, the event log, mail settings and recipients, scheduled tasks, and the refusals a user
// without rights gets.
#include <gtest/gtest.h>

#include <ctime>

#include <chrono>

#include <thread>

#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "client.h"
#include "drvrec.h"
#include "encript.h"
#include "netfuncs.h"
#include "svrfixture.h"
#include "svrrec.h"

namespace {

void OnLost() {}

class Requests : public ::testing::Test {
protected:
    void SetUp() override
    {
        cs_vtn_client_init();
        SetClientWaitSeconds(30);
        ASSERT_TRUE(server_.Start("sata4"));
        ASSERT_EQ(LoginTo(server_.Port(), kDefaultUser, kDefaultPassword, OnLost), 0);
    }
    void TearDown() override
    {
        cs_vtn_disconnect_system(0);
        SetClientWaitSeconds(VTN_CLIENT_WAIT_SECONDS);
    }
    static _VTN_USER_INFO User(const char* name, const char* password, uint32_t rights)
    {
        _VTN_USER_INFO u{};
        CopyText(u.name, name);
        CopyText(u.password, password);
        u.rights = rights;
        u.rights2 = rights;
        u.flags = VTN_USER_VALID;
        CopyText(u.description, "test user");
        return u;
    }
    static std::set<std::string> UserNames()
    {
        std::set<std::string> names;
        _VTN_USER_INFO u;
        int i = 0;
        for (int r; (r = cs_vtn_enum_user(0, &u, i)) == 0; ++i)
            names.insert(u.name);
        EXPECT_EQ(cs_vtn_enum_user(0, &u, i), int(VTN_NO_MORE_ENTRIES));
        return names;
    }
    // A RAID 1 over disks 1 and 2, for the requests that need an array.
    static uint32_t MakeMirror()
    {
        _CREATE_ARRAY_PARAMS_V2 p{};
        p.raidType = VTN_RAID1;
        p.memberCount = 2;
        CopyField(p.name, sizeof(p.name), "Mirror", 6);
        p.members[0] = 1;
        p.members[1] = 2;
        return cs_vtn_create_array(0, &p);
    }

    TempRoot root_;
    ServerProcess server_{root_.Dir()};
};

}  // namespace

TEST_F(Requests, ServerInformationAndParameters)
{
    _CS_SERVER_INFO info;
    memset(&info, 0xEE, sizeof(info));
    ASSERT_EQ(cs_vtn_get_server_info(0, &info), 0);
    EXPECT_EQ(+info.version, VTN_SERVER_INTERFACE_VERSION);
    EXPECT_EQ(info.kind, 3);
    EXPECT_EQ(+info.revision, 1);
    EXPECT_GT(strnlen(info.osName, sizeof(info.osName)), 0u);
    EXPECT_LT(strnlen(info.hostName, sizeof(info.hostName)), sizeof(info.hostName));
    EXPECT_NE(TimeRecordValue(info.time), 0u);

    _CS_ALTERABLE_SERVER_PARAM p{};
    ASSERT_EQ(cs_vtn_get_server_param(0, &p), 0);
    EXPECT_EQ(p.flags, VTN_PARAM_SERVER_PORT | VTN_PARAM_EVENT_PORT);
    EXPECT_EQ(p.serverPort, server_.Port());
    EXPECT_EQ(p.eventPort, server_.EventPort());

    // Only the event port is given: the file keeps its request port.
    _CS_ALTERABLE_SERVER_PARAM change{};
    change.flags = VTN_PARAM_EVENT_PORT;
    change.serverPort = 1111;
    change.eventPort = 2222;
    EXPECT_EQ(cs_vtn_set_server_param(0, &change), 0);
    ASSERT_EQ(cs_vtn_get_server_param(0, &p), 0);
    EXPECT_EQ(p.serverPort, server_.Port());
    EXPECT_EQ(p.eventPort, 2222);
    EXPECT_EQ(ReadFileText(root_.Path("/etc/vtn.ini")),
              "serverport\t" + std::to_string(server_.Port()) + "\neventport\t2222\n");

    // The reboot request under VTN_ROOT leaves only the marker.
    EXPECT_FALSE(FileExists(root_.Path("/var/run/vtn.reboot")));
    EXPECT_EQ(cs_vtn_reboot_server(0), 0);
    for (int i = 0; i < 100 && !FileExists(root_.Path("/var/run/vtn.reboot")); ++i)
        usleep(50 * 1000);
    EXPECT_TRUE(FileExists(root_.Path("/var/run/vtn.reboot")));
}

TEST_F(Requests, Users)
{
    _VTN_USER_INFO me;
    ASSERT_EQ(cs_vtn_get_current_user(0, &me), 0);
    EXPECT_STREQ(me.name, "RAID");
    EXPECT_EQ(me.rights, VTN_RIGHTS_ALL);
    EXPECT_EQ(UserNames(), (std::set<std::string>{"RAID"}));

    _VTN_USER_INFO bob = User("bob", "bob-password", VTN_RIGHT_VERIFY);
    EXPECT_EQ(cs_vtn_set_user(0, &bob, VTN_USER_ADD), 0);
    EXPECT_EQ(cs_vtn_set_user(0, &bob, VTN_USER_ADD), int(VTN_EXISTS));
    EXPECT_EQ(UserNames(), (std::set<std::string>{"RAID", "bob"}));

    // The users file holds the stored form of what the client sent.
    _VTN_USER_INFO stored = bob;
    vtn_encrypt_and_map(reinterpret_cast<uint8_t*>(stored.password));
    EXPECT_NE(ReadFileText(root_.Path("/etc/vtnuser.dat")).find(std::string("bob:") + stored.password + ":"),
              std::string::npos);

    struct Case {
        const char* what;
        _VTN_USER_INFO user;
        uint8_t action;
        int expected;
    } cases[] = {
        {"new rights", User("bob", "", VTN_RIGHT_VERIFY | VTN_RIGHT_REBUILD), VTN_USER_SET_RIGHTS, 0},
        {"new password", User("bob", "other-password", 0), VTN_USER_SET_PASSWORD, 0},
        {"password of nobody", User("nobody", "x", 0), VTN_USER_SET_PASSWORD, int(VTN_NOT_FOUND)},
        {"unknown action", User("bob", "", 0), 9, -1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(cs_vtn_set_user(0, &c.user, c.action), c.expected);
    }
    _VTN_USER_INFO u;
    bool found = false;
    for (int i = 0; cs_vtn_enum_user(0, &u, i) == 0; ++i) {
        if (strcmp(u.name, "bob") == 0) {
            found = true;
            EXPECT_EQ(u.rights, VTN_RIGHT_VERIFY | VTN_RIGHT_REBUILD);
        }
    }
    EXPECT_TRUE(found);

    // The new password logs in.
    cs_vtn_disconnect_system(0);
    ASSERT_EQ(LoginTo(server_.Port(), "bob", "other-password", OnLost), 0);
    cs_vtn_disconnect_system(0);
    ASSERT_EQ(LoginTo(server_.Port(), kDefaultUser, kDefaultPassword, OnLost), 0);

    EXPECT_EQ(cs_vtn_set_user(0, &bob, VTN_USER_DELETE), 0);
    EXPECT_EQ(UserNames(), (std::set<std::string>{"RAID"}));
}

TEST_F(Requests, EventLog)
{
    _VTN_LOG_EVENT ev{};
    ev.severity = 'I';
    ev.mark = '0';
    CopyText(ev.text, "Array 'Mirror' verifying started by the operator.");
    int stamp = cs_vtn_save_log_event(0, &ev);
    EXPECT_NE(stamp, 0);
    EXPECT_NE(stamp, -1);

    std::vector<std::string> texts;
    _VTN_LOG_EVENT got;
    int i = 0;
    for (; cs_vtn_enum_event(0, &got, i) == 0; ++i)
        texts.push_back(got.text);
    EXPECT_EQ(cs_vtn_enum_event(0, &got, i), int(VTN_NO_MORE_ENTRIES));
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "User RAID(from 127.0.0.1) logged on system.");
    EXPECT_EQ(texts[1], ev.text);
    ASSERT_EQ(cs_vtn_enum_event(0, &got, 1), 0);
    EXPECT_EQ(TimeRecordValue(got.time), uint32_t(stamp));
    EXPECT_EQ(got.severity, 'I');

    EXPECT_EQ(cs_vtn_clear_event_log(0), 0);
    EXPECT_NE(cs_vtn_enum_event(0, &got, 0), 0);
    // Still connected after the end of every list.
    _VTN_USER_INFO me;
    EXPECT_EQ(cs_vtn_get_current_user(0, &me), 0);
}

TEST_F(Requests, MailSettingsAndRecipients)
{
    _VTN_SMTP_SERVER_INFO smtp;
    EXPECT_EQ(cs_vtn_get_smtp_server(0, &smtp), int(VTN_FILE_MISSING));

    int closedPort = FreeTcpPort();
    memset(&smtp, 0, sizeof(smtp));
    CopyText(smtp.host, "127.0.0.1");
    smtp.port = uint16_t(closedPort);
    CopyText(smtp.sender, "raid@example.test");
    EXPECT_EQ(cs_vtn_set_smtp_server(0, &smtp), 0);
    _VTN_SMTP_SERVER_INFO back;
    memset(&back, 0xEE, sizeof(back));
    ASSERT_EQ(cs_vtn_get_smtp_server(0, &back), 0);
    EXPECT_STREQ(back.host, "127.0.0.1");
    EXPECT_EQ(+back.port, closedPort);
    EXPECT_STREQ(back.sender, "raid@example.test");

    _VTN_MAIL_RECIPIENT_INFO r{};
    CopyText(r.address, "admin@example.test");
    CopyText(r.name, "Admin");
    r.flags = VTN_MAIL_ERROR | VTN_MAIL_WARNING;
    struct Case {
        const char* what;
        uint8_t action;
        uint8_t flags;
        const char* name;
        int expected;
    } cases[] = {
        {"add", VTN_RECIPIENT_ADD, VTN_MAIL_ERROR, "Admin", 0},
        {"add twice", VTN_RECIPIENT_ADD, VTN_MAIL_ERROR, "Admin", int(0xC000000Fu)},
        {"flags", VTN_RECIPIENT_SET_FLAGS, VTN_MAIL_ERROR | VTN_MAIL_INFO, "Admin", 0},
        {"name", VTN_RECIPIENT_SET_NAME, VTN_MAIL_ERROR | VTN_MAIL_INFO, "Chief Admin", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        r.flags = c.flags;
        CopyText(r.name, c.name);
        EXPECT_EQ(cs_vtn_set_mail_recipients(0, &r, c.action), int(c.expected));
    }
    _VTN_MAIL_RECIPIENT_INFO got;
    ASSERT_EQ(cs_vtn_enum_mail_recipient(0, &got, 0), 0);
    EXPECT_STREQ(got.address, "admin@example.test");
    EXPECT_STREQ(got.name, "Chief Admin");
    EXPECT_EQ(got.flags & (VTN_MAIL_ERROR | VTN_MAIL_INFO | VTN_MAIL_WARNING), VTN_MAIL_ERROR | VTN_MAIL_INFO);
    EXPECT_EQ(cs_vtn_enum_mail_recipient(0, &got, 1), int(VTN_NO_MORE_ENTRIES));

    // Nothing listens on the mail server's port.
    EXPECT_EQ(cs_vtn_test_mail(0, &r), int(VTN_CANNOT_CONNECT));

    EXPECT_EQ(cs_vtn_set_mail_recipients(0, &r, VTN_RECIPIENT_DELETE), 0);
    EXPECT_EQ(cs_vtn_set_mail_recipients(0, &r, VTN_RECIPIENT_DELETE), int(VTN_NOT_FOUND));
    EXPECT_EQ(cs_vtn_enum_mail_recipient(0, &got, 0), int(VTN_NO_MORE_ENTRIES));
}

TEST_F(Requests, ScheduledTasks)
{
    uint32_t array = MakeMirror();
    ASSERT_NE(array, 0u);
    _VTN_TASK_INFO task{};
    task.arrayId = array;
    CopyText(task.name, "weekly verify");
    task.kind = VTN_TASK_WEEKS | VTN_TASK_VERIFY | VTN_TASK_ENABLED;
    CopyText(task.creator, "RAID");
    CopyText(task.arrayName, "Mirror");
    task.start = ConvertTimeT(VtnNow() + 3600);
    task.end = TimeRecordFromValue(0xFFFFFFFF);
    task.schedule.period.day = 1;
    task.schedule.period.every = 1;

    _VTN_TASK_INFO got;
    EXPECT_NE(cs_vtn_enum_tasks(0, &got, 0), 0) << "no tasks yet";

    _VTN_TASK_INFO noArray = task;
    noArray.arrayId = 0x7777;
    CopyText(noArray.name, "no such array");
    struct Case {
        const char* what;
        _VTN_TASK_INFO* task;
        uint8_t action;
        uint32_t expected;
    } cases[] = {
        {"add", &task, VTN_TASK_ACTION_ADD, 0},
        {"add twice", &task, VTN_TASK_ACTION_ADD, VTN_TASK_EXISTS},
        {"array that does not exist", &noArray, VTN_TASK_ACTION_ADD, VTN_ARRAY_NOT_USABLE},
    };
    // A task is known by its array and its creation second: both adds go at the start of a second.
    for (time_t now = time(nullptr); time(nullptr) == now;)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(cs_vtn_set_task(0, c.task, c.action), int(c.expected));
    }
    ASSERT_EQ(cs_vtn_enum_tasks(0, &got, 0), 0);
    EXPECT_STREQ(got.name, "weekly verify");
    EXPECT_EQ(got.arrayId, VTN_ID_NONE);  // tasks find their array by key
    EXPECT_EQ(0, memcmp(got.serial, "VS00000000000001", 16));
    EXPECT_EQ(cs_vtn_enum_tasks(0, &got, 1), int(VTN_NO_MORE_ENTRIES));

    // Changes name the task by the key the server filled in.
    got.kind = VTN_TASK_DAYS | VTN_TASK_VERIFY | VTN_TASK_ENABLED;
    got.schedule.days = 3;
    EXPECT_EQ(cs_vtn_set_task(0, &got, VTN_TASK_ACTION_MODIFY), 0);
    ASSERT_EQ(cs_vtn_enum_tasks(0, &got, 0), 0);
    EXPECT_EQ(got.kind, VTN_TASK_DAYS | VTN_TASK_VERIFY | VTN_TASK_ENABLED);
    EXPECT_EQ(+got.schedule.days, 3);
    EXPECT_EQ(cs_vtn_set_task(0, &got, VTN_TASK_ACTION_DELETE), 0);
    EXPECT_EQ(cs_vtn_set_task(0, &got, VTN_TASK_ACTION_DELETE), int(VTN_NO_SUCH_TASK));
    EXPECT_EQ(cs_vtn_enum_tasks(0, &got, 0), int(VTN_NO_MORE_ENTRIES));
}

// A user without rights reads what needs no right and is refused the rest; the connection
// stays usable after every refusal.
TEST_F(Requests, RefusalsWithoutRights)
{
    uint32_t array = MakeMirror();
    ASSERT_NE(array, 0u);
    _VTN_USER_INFO plain = User("plain", "plain-pw", 0);
    ASSERT_EQ(cs_vtn_set_user(0, &plain, VTN_USER_ADD), 0);
    cs_vtn_disconnect_system(0);
    ASSERT_EQ(LoginTo(server_.Port(), "plain", "plain-pw", OnLost), 0);

    _VTN_USER_INFO u{};
    _VTN_USER_INFO raid = User("RAID", "", 0);
    _VTN_USER_INFO own = User("plain", "new-plain-pw", 0);
    _VTN_SMTP_SERVER_INFO smtp{};
    _VTN_MAIL_RECIPIENT_INFO r{};
    CopyText(r.address, "x@example.test");
    _CS_ALTERABLE_SERVER_PARAM p{};
    p.flags = VTN_PARAM_SERVER_PORT;
    p.serverPort = 1;
    _VTN_TASK_INFO task{};
    task.arrayId = array;
    _VTN_LOG_EVENT ev{};
    _CS_SERVER_INFO si{};
    _CREATE_ARRAY_PARAMS_V2 cp{};
    cp.raidType = VTN_RAID0;
    cp.memberCount = 2;
    CopyField(cp.name, sizeof(cp.name), "Stripe", 6);
    cp.members[0] = 3;
    cp.members[1] = 4;
    _ALTERABLE_ARRAY_INFO rename{};
    rename.validMask = VTN_ALTER_ARRAY_NAME;
    CopyText(rename.name, "Renamed");
    _ALTERABLE_DEVICE_INFO_V2 feature{};
    feature.validMask = VTN_ALTER_WRITE_CACHE;
    feature.writeCache = 1;

    struct Case {
        const char* what;
        std::function<long long()> call;
        long long expected;
    } cases[] = {
        {"enumerate users", [&] { return cs_vtn_enum_user(0, &u, 0); }, int(VTN_NO_RIGHT)},
        {"change another user", [&] { return cs_vtn_set_user(0, &raid, VTN_USER_SET_RIGHTS); }, int(VTN_NO_RIGHT)},
        {"add a user", [&] { _VTN_USER_INFO n = User("new", "pw", 0); return cs_vtn_set_user(0, &n, 0); },
         int(VTN_NO_RIGHT)},
        {"mail settings", [&] { return cs_vtn_get_smtp_server(0, &smtp); }, int(VTN_NO_RIGHT)},
        {"store mail settings", [&] { return cs_vtn_set_smtp_server(0, &smtp); }, int(VTN_NO_RIGHT)},
        {"recipients", [&] { return cs_vtn_enum_mail_recipient(0, &r, 0); }, int(VTN_NO_RIGHT)},
        {"add recipient", [&] { return cs_vtn_set_mail_recipients(0, &r, 0); }, int(VTN_NO_RIGHT)},
        {"test mail", [&] { return cs_vtn_test_mail(0, &r); }, int(VTN_NO_RIGHT)},
        {"server ports", [&] { return cs_vtn_set_server_param(0, &p); }, int(VTN_NO_RIGHT)},
        {"reboot", [&] { return cs_vtn_reboot_server(0); }, int(VTN_NO_RIGHT)},
        {"clear events", [&] { return cs_vtn_clear_event_log(0); }, int(VTN_NO_RIGHT)},
        {"add task", [&] { return cs_vtn_set_task(0, &task, VTN_TASK_ACTION_ADD); }, int(VTN_NO_RIGHT)},
        {"create array", [&] { return (long long)cs_vtn_create_array(0, &cp); }, 0},
        {"delete array", [&] { return cs_vtn_delete_array(0, array, 0); }, -1},
        {"rename array", [&] { return cs_vtn_set_array_info(0, array, &rename); }, int(VTN_DRIVER_FAILED)},
        {"verify array", [&] { return cs_vtn_set_array_state(0, array, VTN_STATE_START_VERIFY); },
         int(VTN_DRIVER_FAILED)},
        {"add spare", [&] { return cs_vtn_add_spare_disk(0, 3); }, int(VTN_DRIVER_FAILED)},
        {"remove spare", [&] { return cs_vtn_remove_spare_disk(0, 3); }, int(VTN_DRIVER_FAILED)},
        {"dedicated spare", [&] { return cs_vtn_add_dedicated_spare(0, array, 3); }, int(VTN_DRIVER_FAILED)},
        {"add disk to array", [&] { return cs_vtn_add_disk_to_array(0, array, 3); }, int(VTN_DRIVER_FAILED)},
        {"disk setting", [&] { return cs_vtn_set_device_info_v2(0, 3, &feature); }, int(VTN_DRIVER_FAILED)},
        // Allowed without rights.
        {"own record", [&] { return cs_vtn_get_current_user(0, &u); }, 0},
        {"own password", [&] { return cs_vtn_set_user(0, &own, VTN_USER_SET_PASSWORD); }, 0},
        {"server information", [&] { return cs_vtn_get_server_info(0, &si); }, 0},
        {"read events", [&] { return cs_vtn_enum_event(0, &ev, 0); }, 0},
        {"controller count", [&] { return cs_vtn_get_controller_count(0); }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), c.expected);
        ASSERT_EQ(gConnections[0].flags, VTN_CONN_CONNECTED);
    }
    EXPECT_FALSE(FileExists(root_.Path("/var/run/vtn.reboot")));
    _LOGICAL_DEVICE_INFO_V2 info;
    ASSERT_EQ(cs_vtn_get_device_info(0, array, &info), 0);
    EXPECT_EQ(0, strncmp(info.u.array.name, "Mirror", 16)) << "refused rename changed nothing";
    EXPECT_EQ(info.u.array.status & VTN_ARRAY_VERIFYING, 0u);
}
