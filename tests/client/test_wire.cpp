// The client's bytes on the wire and its handling of bad replies, against a scripted peer on
// a socket pair attached to connection slot 0.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "client.h"
#include "drvrec.h"
#include "encript.h"
#include "netfuncs.h"
#include "svrrec.h"

namespace {

int gLost = 0;
void OnLost()
{
    ++gLost;
}

// Slot 0 connected to a peer end that the test reads and writes.
class PeerSlot : public ::testing::Test {
public:
    void SetUp() override
    {
        cs_vtn_client_init();
        gLost = 0;
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
        Attach(0, fds_[0], 0x01010000);
        SetClientWaitSeconds(2);
    }
    void TearDown() override
    {
        for (int i = 0; i < VTN_CLIENT_SLOTS; ++i)
            if (gConnections[i].flags != 0)
                net_vtn_disconnect_system(i);
        if (fds_[1] >= 0)
            close(fds_[1]);
        if (eventPeer_ >= 0)
            close(eventPeer_);
        SetClientWaitSeconds(VTN_CLIENT_WAIT_SECONDS);
    }
    static void Attach(int index, int sock, uint32_t version)
    {
        _Vtn_Client_Connection& c = gConnections[index];
        ResetConnectionSlot(&c);
        memcpy(c.host, "127.0.0.1", 10);
        c.commandSocket = sock;
        c.flags = VTN_CONN_CONNECTED;
        c.transportCallback = {internal_callback, index};
        c.userCallback = OnLost;
        c.driverVersion = version;
    }
    void SetVersion(uint32_t v) { gConnections[0].driverVersion = v; }
    // Queues bytes for the client to read.
    void Push(const void* data, size_t len) { ASSERT_EQ(send(fds_[1], data, len, 0), ssize_t(len)); }
    void PushStatus(uint32_t status, uint32_t length = 28)
    {
        _Packet_Error e;
        FillPacketHead(&e.head, length, VTN_PACKET_STATUS, 0, 0);
        e.status = status;
        Push(&e, sizeof(e));
    }
    void PushDriverReply(const void* out, uint32_t outSize)
    {
        std::string r(36 + outSize, '\0');
        auto* f = reinterpret_cast<_VTN_DRIVER_REPLY*>(r.data());
        FillPacketHead(&f->head, 36 + outSize, VTN_PACKET_REPLY, VTN_GROUP_DRIVER, 0);
        f->outSize = outSize;
        if (outSize > 0)
            memcpy(r.data() + 36, out, outSize);
        Push(r.data(), r.size());
    }
    // Everything the client has written so far.
    std::string Sent()
    {
        std::string all;
        char buf[4096];
        for (;;) {
            ssize_t n = recv(fds_[1], buf, sizeof(buf), MSG_DONTWAIT);
            if (n <= 0)
                break;
            all.append(buf, size_t(n));
        }
        return all;
    }
    std::string Unread()
    {
        std::string all;
        char buf[4096];
        for (;;) {
            ssize_t n = recv(fds_[0], buf, sizeof(buf), MSG_DONTWAIT);
            if (n <= 0)
                break;
            all.append(buf, size_t(n));
        }
        return all;
    }
    static uint32_t U32(const std::string& s, size_t off)
    {
        uint32_t v = 0;
        if (off + 4 <= s.size())
            memcpy(&v, s.data() + off, 4);
        return v;
    }

    int fds_[2] = {-1, -1};
    int eventPeer_ = -1;
};

}  // namespace

TEST(FunctionTable, EverySlotBoundInOrder)
{
    ASSERT_EQ(cs_vtn_client_init(), 0);
    const void* expected[] = {
        (void*)net_vtn_connect_system, (void*)net_vtn_disconnect_system, (void*)net_vtn_get_server_info,
        (void*)net_vtn_get_server_param, (void*)net_vtn_set_server_param, (void*)net_vtn_reboot_server,
        (void*)net_vtn_get_current_user, (void*)net_vtn_enum_user, (void*)net_vtn_set_user,
        (void*)net_vtn_enable_event_notify, (void*)net_vtn_enum_event, (void*)net_vtn_get_log_event,
        (void*)net_vtn_save_log_event, (void*)net_vtn_clear_event_log, (void*)net_vtn_get_smtp_server,
        (void*)net_vtn_set_smtp_server, (void*)net_vtn_enum_mail_recipient, (void*)net_vtn_set_mail_recipients,
        (void*)net_vtn_test_mail, (void*)net_vtn_enum_tasks, (void*)net_vtn_set_task, (void*)net_vtn_get_version,
        (void*)net_vtn_get_driver_capabilities, (void*)net_vtn_get_controller_count,
        (void*)net_vtn_get_controller_info, (void*)net_vtn_get_channel_info, (void*)net_vtn_get_logical_devices,
        (void*)net_vtn_get_device_info, (void*)net_vtn_create_array, (void*)net_vtn_delete_array,
        (void*)net_vtn_add_disk_to_array, (void*)net_vtn_add_spare_disk, (void*)net_vtn_remove_spare_disk,
        (void*)net_vtn_set_array_state, (void*)net_vtn_set_array_info, (void*)net_vtn_set_device_info,
        (void*)net_vtn_set_device_info_v2, (void*)net_vtn_rescan_devices, (void*)net_vtn_get_qzr_info,
        (void*)net_vtn_set_qzr_info, (void*)net_vtn_lock_device, (void*)net_vtn_unlock_device,
        (void*)net_vtn_ide_pass_through, (void*)net_vtn_add_dedicated_spare, (void*)net_vtn_remove_devices,
        (void*)net_vtn_query_remove};
    static_assert(sizeof(expected) / sizeof(expected[0]) == VTN_CLIENT_FUNCTION_SLOTS);
    void* slots[VTN_CLIENT_FUNCTION_SLOTS];
    memcpy(slots, &gFuncs, sizeof(slots));
    for (int i = 0; i < VTN_CLIENT_FUNCTION_SLOTS; ++i)
        EXPECT_EQ(slots[i], expected[i]) << "slot " << i;

    _CS_INTERFACE_INFO info;
    EXPECT_EQ(cs_vtn_get_lib_info(&info), 0);
    EXPECT_EQ(info.version, 0x01010000u);
    EXPECT_EQ(info.major, 2);
    EXPECT_EQ(info.minor, 6);
    for (const auto& c : gConnections) {
        EXPECT_EQ(c.flags, 0);
        EXPECT_EQ(c.commandSocket, -1);
        EXPECT_EQ(c.eventSocket, -1);
    }
}

// Every call that takes a handle refuses -1, 2 and a free slot without a byte on the wire.
TEST_F(PeerSlot, BadHandlesSendNothing)
{
    _CS_SERVER_INFO si{};
    _CS_ALTERABLE_SERVER_PARAM sp{};
    _VTN_USER_INFO u{};
    _VTN_LOG_EVENT ev{};
    _VTN_SMTP_SERVER_INFO smtp{};
    _VTN_MAIL_RECIPIENT_INFO mr{};
    _VTN_TASK_INFO task{};
    _DRIVER_CAPABILITIES caps{};
    caps.size = 44;
    _CONTROLLER_INFO ci{};
    _CHANNEL_INFO ch{};
    unsigned int ids[4] = {1, 2, 3, 4};
    _LOGICAL_DEVICE_INFO_V2 di{};
    _CREATE_ARRAY_PARAMS_V2 cp{};
    cp.memberCount = 2;
    _ALTERABLE_ARRAY_INFO aa{};
    _ALTERABLE_DEVICE_INFO ad{};
    _ALTERABLE_DEVICE_INFO_V2 ad2{};
    _VTNQZR_INFO q{};
    std::function<long long(int)> calls[] = {
        [&](int h) { return cs_vtn_disconnect_system(h); },
        [&](int h) { return cs_vtn_get_server_info(h, &si); },
        [&](int h) { return cs_vtn_get_server_param(h, &sp); },
        [&](int h) { return cs_vtn_set_server_param(h, &sp); },
        [&](int h) { return cs_vtn_reboot_server(h); },
        [&](int h) { return cs_vtn_get_current_user(h, &u); },
        [&](int h) { return cs_vtn_enum_user(h, &u, 0); },
        [&](int h) { return cs_vtn_set_user(h, &u, 0); },
        [&](int h) { return cs_vtn_enable_event_notify(h, 1); },
        [&](int h) { return cs_vtn_enable_event_notify(h, 0); },
        [&](int h) { return cs_vtn_enum_event(h, &ev, 0); },
        [&](int h) { return cs_vtn_get_log_event(h, &ev); },
        [&](int h) { return cs_vtn_save_log_event(h, &ev); },
        [&](int h) { return cs_vtn_clear_event_log(h); },
        [&](int h) { return cs_vtn_get_smtp_server(h, &smtp); },
        [&](int h) { return cs_vtn_set_smtp_server(h, &smtp); },
        [&](int h) { return cs_vtn_enum_mail_recipient(h, &mr, 0); },
        [&](int h) { return cs_vtn_set_mail_recipients(h, &mr, 0); },
        [&](int h) { return cs_vtn_test_mail(h, &mr); },
        [&](int h) { return cs_vtn_enum_tasks(h, &task, 0); },
        [&](int h) { return cs_vtn_set_task(h, &task, 1); },
        [&](int h) { return cs_vtn_get_version(h) == 0 ? -1 : 0; },
        [&](int h) { return cs_vtn_get_driver_capabilities(h, &caps); },
        [&](int h) { return cs_vtn_get_controller_count(h); },
        [&](int h) { return cs_vtn_get_controller_info(h, 0, &ci); },
        [&](int h) { return cs_vtn_get_channel_info(h, 0, 0, &ch); },
        [&](int h) { return cs_vtn_get_logical_devices(h, ids, 4); },
        [&](int h) { return cs_vtn_get_device_info(h, 1, &di); },
        [&](int h) { return cs_vtn_create_array(h, &cp) == 0 ? -1 : 0; },
        [&](int h) { return cs_vtn_delete_array(h, 1, 0); },
        [&](int h) { return cs_vtn_add_disk_to_array(h, 1, 2); },
        [&](int h) { return cs_vtn_add_spare_disk(h, 1); },
        [&](int h) { return cs_vtn_remove_spare_disk(h, 1); },
        [&](int h) { return cs_vtn_set_array_state(h, 1, 1); },
        [&](int h) { return cs_vtn_set_array_info(h, 1, &aa); },
        [&](int h) { return cs_vtn_set_device_info(h, 1, &ad); },
        [&](int h) { return cs_vtn_set_device_info_v2(h, 1, &ad2); },
        [&](int h) { return cs_vtn_rescan_devices(h); },
        [&](int h) { return cs_vtn_get_qzr_info(h, 1, &q); },
        [&](int h) { return cs_vtn_set_qzr_info(h, 1, &q); },
        [&](int h) { return cs_vtn_lock_device(h, 1, 0, 0); },
        [&](int h) { return cs_vtn_unlock_device(h, 1); },
        [&](int h) { return cs_vtn_ide_pass_through(h, nullptr); },
        [&](int h) { return cs_vtn_add_dedicated_spare(h, 1, 2); },
        [&](int h) { return cs_vtn_remove_devices(h, 1, ids); },
        [&](int h) { return cs_vtn_query_remove(h, 1, ids); },
    };
    static_assert(sizeof(calls) / sizeof(calls[0]) == VTN_CLIENT_FUNCTION_SLOTS);  // 45 + channel off
    for (int handle : {-1, 2, 1}) {
        for (size_t i = 0; i < sizeof(calls) / sizeof(calls[0]); ++i)
            EXPECT_EQ(calls[i](handle), -1) << "call " << i << " handle " << handle;
    }
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(gConnections[0].flags, VTN_CONN_CONNECTED);
    EXPECT_EQ(gLost, 0);
}

// Malformed replies fail the call and drop the connection once; the stream is never reused.
TEST_F(PeerSlot, BadRepliesDropTheConnection)
{
    struct Case {
        const char* what;
        std::function<void(PeerSlot*)> reply;
    } cases[] = {
        {"peer closed", [](PeerSlot* t) { close(t->fds_[1]); t->fds_[1] = -1; }},
        {"short head, then closed",
         [](PeerSlot* t) {
             t->Push("vtn_", 4);
             shutdown(t->fds_[1], SHUT_WR);
         }},
        {"notice instead of a reply",
         [](PeerSlot* t) {
             _Packet_Head h;
             FillPacketHead(&h, 300, VTN_PACKET_NOTICE, 0, 0);
             t->Push(&h, sizeof(h));
         }},
        {"reply longer than asked",
         [](PeerSlot* t) {
             std::string r(400, '\0');
             FillPacketHead(reinterpret_cast<_Packet_Head*>(r.data()), 400, VTN_PACKET_REPLY, 0, 0);
             t->Push(r.data(), r.size());
         }},
        {"reply shorter than its record",
         [](PeerSlot* t) {
             std::string r(100, '\0');
             FillPacketHead(reinterpret_cast<_Packet_Head*>(r.data()), 100, VTN_PACKET_REPLY, 0, 0);
             t->Push(r.data(), r.size());
         }},
        {"status packet of the wrong length", [](PeerSlot* t) { t->PushStatus(0xC0000005, 40); }},
        {"reply cut short by a close",
         [](PeerSlot* t) {
             std::string r(300, '\0');
             FillPacketHead(reinterpret_cast<_Packet_Head*>(r.data()), 300, VTN_PACKET_REPLY, 0, 0);
             t->Push(r.data(), 200);
             shutdown(t->fds_[1], SHUT_WR);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        c.reply(this);
        _VTN_USER_INFO u;
        memset(&u, 0x5A, sizeof(u));
        EXPECT_EQ(cs_vtn_enum_user(0, &u, 0), -1);
        EXPECT_EQ(gLost, 1);
        EXPECT_EQ(gConnections[0].flags, 0);
        EXPECT_EQ(gConnections[0].commandSocket, -1);
        EXPECT_EQ(reinterpret_cast<unsigned char*>(&u)[0], 0x5A) << "record filled from a bad reply";
        // The lost handle refuses every later call.
        EXPECT_EQ(cs_vtn_get_current_user(0, &u), -1);
        EXPECT_EQ(cs_vtn_disconnect_system(0), -1);
        EXPECT_EQ(gLost, 1);
    }
}

// Every management request: its group, code, length and index or action byte, as sent.
TEST_F(PeerSlot, ManagementRequestsOnTheWire)
{
    _CS_SERVER_INFO si{};
    _CS_ALTERABLE_SERVER_PARAM sp{};
    _VTN_USER_INFO u{};
    _VTN_LOG_EVENT ev{};
    _VTN_SMTP_SERVER_INFO smtp{};
    _VTN_MAIL_RECIPIENT_INFO mr{};
    _VTN_TASK_INFO task{};
    struct Case {
        const char* what;
        std::function<int()> call;
        uint32_t group;
        uint32_t code;
        uint32_t length;
        bool data;          // answered by a data reply of the request's length
        size_t fieldAt;     // index (u32) or action (u8) offset, 0 when none
        uint32_t field;
    } cases[] = {
        {"server information", [&] { return cs_vtn_get_server_info(0, &si); }, 0x100, 0x102, 228, true, 0, 0},
        {"server parameters", [&] { return cs_vtn_get_server_param(0, &sp); }, 0x100, 0x104, 36, true, 0, 0},
        {"set server parameters", [&] { return cs_vtn_set_server_param(0, &sp); }, 0x100, 0x105, 36, false, 0, 0},
        {"reboot", [&] { return cs_vtn_reboot_server(0); }, 0x100, 0x101, 24, false, 0, 0},
        {"current user", [&] { return cs_vtn_get_current_user(0, &u); }, 0x400, 0x404, 300, true, 0, 0},
        {"enumerate users", [&] { return cs_vtn_enum_user(0, &u, 5); }, 0x400, 0x401, 300, true, 296, 5},
        {"change a user", [&] { return cs_vtn_set_user(0, &u, VTN_USER_DELETE); }, 0x400, 0x403, 300, false, 296,
         VTN_USER_DELETE},
        {"enumerate events", [&] { return cs_vtn_enum_event(0, &ev, 9); }, 0x300, 0x301, 588, true, 584, 9},
        {"save an event", [&] { return cs_vtn_save_log_event(0, &ev); }, 0x300, 0x303, 588, false, 0, 0},
        {"clear events", [&] { return cs_vtn_clear_event_log(0); }, 0x300, 0x304, 24, false, 0, 0},
        {"mail server", [&] { return cs_vtn_get_smtp_server(0, &smtp); }, 0x200, 0x201, 284, true, 0, 0},
        {"store mail server", [&] { return cs_vtn_set_smtp_server(0, &smtp); }, 0x200, 0x202, 284, false, 0, 0},
        {"enumerate recipients", [&] { return cs_vtn_enum_mail_recipient(0, &mr, 2); }, 0x200, 0x203, 160, true,
         156, 2},
        {"change a recipient", [&] { return cs_vtn_set_mail_recipients(0, &mr, VTN_RECIPIENT_SET_NAME); }, 0x200,
         0x205, 160, false, 156, VTN_RECIPIENT_SET_NAME},
        {"test mail", [&] { return cs_vtn_test_mail(0, &mr); }, 0x200, 0x206, 156, false, 0, 0},
        {"enumerate tasks", [&] { return cs_vtn_enum_tasks(0, &task, 4); }, 0x600, 0x601, 272, true, 268, 4},
        {"change a task", [&] { return cs_vtn_set_task(0, &task, VTN_TASK_ACTION_MODIFY); }, 0x600, 0x602, 272,
         false, 268, VTN_TASK_ACTION_MODIFY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.data) {
            std::string r(c.length, '\0');
            FillPacketHead(reinterpret_cast<_Packet_Head*>(r.data()), c.length, VTN_PACKET_REPLY, c.group, c.code);
            Push(r.data(), r.size());
        } else {
            PushStatus(0);
        }
        EXPECT_EQ(c.call(), 0);
        std::string sent = Sent();
        ASSERT_EQ(sent.size(), c.length);
        EXPECT_EQ(U32(sent, 0), c.length);
        EXPECT_EQ(sent.substr(4, 8), "vtn_stor");
        EXPECT_EQ(sent[12], VTN_PACKET_REQUEST);
        EXPECT_EQ(U32(sent, 16), c.group);
        EXPECT_EQ(U32(sent, 20), c.code);
        if (c.fieldAt != 0) {
            EXPECT_EQ(c.data ? U32(sent, c.fieldAt) : uint32_t(uint8_t(sent[c.fieldAt])), c.field);
        }
        EXPECT_EQ(Unread(), "");
    }
    EXPECT_EQ(gLost, 0);
}

// Text fields of data replies end inside their fields, whatever the server sent.
TEST_F(PeerSlot, ReplyTextsEndInsideTheirFields)
{
    _CS_SERVER_INFO si;
    _VTN_SMTP_SERVER_INFO smtp;
    _VTN_MAIL_RECIPIENT_INFO mr;
    _VTN_TASK_INFO task;
    _VTN_USER_INFO user;
    _VTN_LOG_EVENT ev;
    struct Field {
        const char* text;
        size_t size;
    };
    struct Case {
        const char* what;
        uint32_t length;
        std::function<int()> call;
        std::vector<Field> fields;
    } cases[] = {
        {"server information", 228, [&] { return cs_vtn_get_server_info(0, &si); },
         {{si.osName, sizeof(si.osName)}, {si.hostName, sizeof(si.hostName)}, {si.osVersion, sizeof(si.osVersion)}}},
        {"mail server", 284, [&] { return cs_vtn_get_smtp_server(0, &smtp); },
         {{smtp.host, sizeof(smtp.host)}, {smtp.sender, sizeof(smtp.sender)}}},
        {"recipient", 160, [&] { return cs_vtn_enum_mail_recipient(0, &mr, 0); },
         {{mr.address, sizeof(mr.address)}, {mr.name, sizeof(mr.name)}}},
        {"task", 272, [&] { return cs_vtn_enum_tasks(0, &task, 0); },
         {{task.name, sizeof(task.name)}, {task.creator, sizeof(task.creator)},
          {task.arrayName, sizeof(task.arrayName)}}},
        {"user", 300, [&] { return cs_vtn_enum_user(0, &user, 0); },
         {{user.name, sizeof(user.name)}, {user.description, sizeof(user.description)}}},
        {"event", 588, [&] { return cs_vtn_enum_event(0, &ev, 0); }, {{ev.text, sizeof(ev.text)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string r(c.length, 'A');
        FillPacketHead(reinterpret_cast<_Packet_Head*>(r.data()), c.length, VTN_PACKET_REPLY, 0, 0);
        Push(r.data(), r.size());
        ASSERT_EQ(c.call(), 0);
        for (const Field& f : c.fields)
            EXPECT_EQ(strnlen(f.text, f.size), f.size - 1);
        Sent();
    }
    EXPECT_EQ(gLost, 0);
}

// A command request takes only a whole status packet; anything else drops the connection.
TEST_F(PeerSlot, CommandRequestTakesOnlyAStatus)
{
    struct Case {
        const char* what;
        uint8_t type;
        uint32_t length;
        size_t bytes;  // how many of them arrive before the peer closes
    } cases[] = {
        {"data reply", VTN_PACKET_REPLY, 28, 28},
        {"notice", VTN_PACKET_NOTICE, 28, 28},
        {"status of the wrong length", VTN_PACKET_STATUS, 24, 24},
        {"status cut short", VTN_PACKET_STATUS, 28, 26},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        _Packet_Error e;
        FillPacketHead(&e.head, c.length, c.type, 0, 0);
        e.status = 0;
        Push(&e, c.bytes);
        shutdown(fds_[1], SHUT_WR);
        EXPECT_EQ(cs_vtn_clear_event_log(0), -1);
        EXPECT_EQ(gLost, 1);
        EXPECT_EQ(gConnections[0].flags, 0);
    }
}

TEST_F(PeerSlot, DriverReplyOutsideItsFrameDropsTheConnection)
{
    struct Case {
        const char* what;
        uint32_t length;
    } cases[] = {{"below the 36-byte frame", 30}, {"above the output asked for", 36 + 44 + 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        std::string r(c.length, '\0');
        FillPacketHead(reinterpret_cast<_Packet_Head*>(r.data()), c.length, VTN_PACKET_REPLY, VTN_GROUP_DRIVER, 0);
        Push(r.data(), r.size());
        _DRIVER_CAPABILITIES caps{};
        caps.size = 44;
        EXPECT_EQ(cs_vtn_get_driver_capabilities(0, &caps), -1);
        EXPECT_EQ(gLost, 1);
        EXPECT_EQ(gConnections[0].flags, 0);
    }
}

// Status packets answer without dropping: the word comes back, nothing stays in the socket.
TEST_F(PeerSlot, StatusRepliesKeepTheConnection)
{
    struct Case {
        const char* what;
        uint32_t status;
        std::function<long long()> call;
        long long expected;
    } cases[] = {
        {"end of list", 0xC0000005, [] { _VTN_USER_INFO u; return cs_vtn_enum_user(0, &u, 7); }, (int)0xC0000005},
        {"status 0 where data was expected", 0,
         [] { _CS_SERVER_INFO s; return cs_vtn_get_server_info(0, &s); }, -1},
        {"no right", 0xC000000D, [] { return cs_vtn_clear_event_log(0); }, (int)0xC000000D},
        {"driver call refused", 0xC0000008, [] { return cs_vtn_add_spare_disk(0, 5); }, (int)0xC0000008},
        {"count call refused", 0xC0000008, [] { return cs_vtn_get_controller_count(0); }, -1},
        {"version call refused", 0xC0000008, [] { return (long long)cs_vtn_get_version(0); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PushStatus(c.status);
        EXPECT_EQ(c.call(), c.expected);
        EXPECT_EQ(Unread(), "");
        EXPECT_EQ(gConnections[0].flags, VTN_CONN_CONNECTED);
        Sent();
    }
    EXPECT_EQ(gLost, 0);
}

// The driver version picks the record generation: at most 0x0100FFFF the older one.
TEST_F(PeerSlot, DriverVersionSelectsRecords)
{
    struct Case {
        uint32_t version;
        uint32_t infoCode;
        uint32_t infoSize;
        uint32_t createCode;
        uint32_t createSize;
    } cases[] = {
        {0x00000000, 0xFF05, 174, 0xFF06, 136},
        {0x0100FFFF, 0xFF05, 174, 0xFF06, 136},
        {0x01010000, 0xFF21, 216, 0xFF20, 176},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        SetVersion(c.version);
        // Device information: an array record of the generation asked for.
        std::string out(c.infoSize, '\0');
        out[0] = VTN_DEVICE_ARRAY;
        uint32_t cap = 0x1000;
        memcpy(&out[4], &cap, 4);
        out[c.infoSize == 216 ? 118 : 114] = 2;
        PushDriverReply(out.data(), c.infoSize);
        _LOGICAL_DEVICE_INFO_V2 info;
        memset(&info, 0x77, sizeof(info));
        EXPECT_EQ(cs_vtn_get_device_info(0, 0x42, &info), 0);
        std::string sent = Sent();
        ASSERT_EQ(sent.size(), 44u);
        EXPECT_EQ(U32(sent, 0), 44u);
        EXPECT_EQ(U32(sent, 16), VTN_GROUP_DRIVER);
        EXPECT_EQ(U32(sent, 24), c.infoCode);
        EXPECT_EQ(U32(sent, 28), 4u);
        EXPECT_EQ(U32(sent, 32), c.infoSize);
        EXPECT_EQ(U32(sent, 40), 0x42u);
        EXPECT_EQ(info.type, VTN_DEVICE_ARRAY);
        EXPECT_EQ(+info.capacity, 0x1000ull);
        EXPECT_EQ(info.u.array.memberCount, 2);

        // Creation: the new id comes from the 4-byte output.
        uint32_t newId = 0x99;
        PushDriverReply(&newId, 4);
        _CREATE_ARRAY_PARAMS_V2 p;
        memset(&p, 0, sizeof(p));
        p.raidType = VTN_RAID0;
        p.memberCount = 8;
        for (int i = 0; i < 8; ++i)
            p.members[i] = 0x10 + i;
        EXPECT_EQ(cs_vtn_create_array(0, &p), 0x99u);
        sent = Sent();
        ASSERT_EQ(sent.size(), 40u + c.createSize);
        EXPECT_EQ(U32(sent, 24), c.createCode);
        EXPECT_EQ(U32(sent, 28), c.createSize);
        EXPECT_EQ(U32(sent, 32), 4u);
        size_t ids = 40 + (c.createSize == 136 ? 104 : 112);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(U32(sent, ids + 4 * i), 0x10u + i);
    }
}

TEST_F(PeerSlot, RefusedBeforeTheWire)
{
    SetVersion(0x01000000);
    _CREATE_ARRAY_PARAMS_V2 p;
    memset(&p, 0, sizeof(p));
    p.raidType = VTN_RAID0;
    p.memberCount = 9;
    EXPECT_EQ(cs_vtn_create_array(0, &p), 0u);

    _DRIVER_CAPABILITIES caps;
    memset(&caps, 0, sizeof(caps));
    caps.size = 40;
    EXPECT_EQ(cs_vtn_get_driver_capabilities(0, &caps), -1);
    EXPECT_EQ(cs_vtn_set_array_info(0, 1, nullptr), -1);
    EXPECT_EQ(cs_vtn_set_device_info_v2(0, 1, nullptr), -1);
    EXPECT_EQ(cs_vtn_ide_pass_through(0, nullptr), -1);
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(gConnections[0].flags, VTN_CONN_CONNECTED);
}

// Input blocks of the calls that carry more than ids.
TEST_F(PeerSlot, DriverCallInputBlocks)
{
    unsigned int ids[3] = {0x31, 0x32, 0x33};
    struct Case {
        const char* what;
        std::function<long long()> call;
        uint32_t code;
        std::string input;
        uint32_t outSize;
    };
    auto words = [](std::initializer_list<uint32_t> w) {
        std::string s;
        for (uint32_t v : w)
            s.append(reinterpret_cast<const char*>(&v), 4);
        return s;
    };
    _ALTERABLE_ARRAY_INFO aa;
    memset(&aa, 0, sizeof(aa));
    aa.validMask = VTN_ALTER_ARRAY_NAME;
    memcpy(aa.name, "NewName", 7);
    _ALTERABLE_DEVICE_INFO_V2 ad;
    memset(&ad, 0, sizeof(ad));
    ad.validMask = VTN_ALTER_NCQ;
    ad.ncq = 1;
    Case cases[] = {
        {"remove devices: count word 0x101, one id", [&] { return cs_vtn_remove_devices(0, 0x101, ids); }, 0xFF1F,
         words({0x101, 0x31}), 4},
        {"query remove: count and ids", [&] { return cs_vtn_query_remove(0, 3, ids); }, 0xFF1E,
         words({3, 0x31, 0x32, 0x33}), 4},
        {"lock: id, word, byte", [&] { return cs_vtn_lock_device(0, 7, 9, 1); }, 0xFF16,
         words({7, 9}) + std::string(1, '\1'), 0},
        {"rename", [&] { return cs_vtn_set_array_info(0, 5, &aa); }, 0xFF10,
         words({5}) + std::string(reinterpret_cast<char*>(&aa), 84), 0},
        {"disk setting", [&] { return cs_vtn_set_device_info_v2(0, 6, &ad); }, 0xFF22,
         words({6}) + std::string(reinterpret_cast<char*>(&ad), 64), 0},
        {"channel", [&] { _CHANNEL_INFO ch; return cs_vtn_get_channel_info(0, 1, 3, &ch); }, 0xFF03, words({1, 3}),
         16},
        {"top-level ids", [&] { unsigned int got[2]; return cs_vtn_get_logical_devices(0, got, 2); }, 0xFF04,
         words({2}), 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string out(c.outSize, '\0');
        PushDriverReply(out.data(), c.outSize);
        EXPECT_EQ(c.call(), 0);
        std::string sent = Sent();
        ASSERT_EQ(sent.size(), 40 + c.input.size());
        EXPECT_EQ(U32(sent, 24), c.code);
        EXPECT_EQ(U32(sent, 28), c.input.size());
        EXPECT_EQ(U32(sent, 32), c.outSize);
        EXPECT_EQ(sent.substr(40), c.input);
    }
}

TEST_F(PeerSlot, LogicalDeviceCountNeverExceedsTheCallersArray)
{
    uint32_t out[3] = {9, 0x11, 0x12};  // the driver claims 9
    PushDriverReply(out, sizeof(out));
    unsigned int ids[2] = {0, 0};
    EXPECT_EQ(cs_vtn_get_logical_devices(0, ids, 2), 2);
    EXPECT_EQ(ids[0], 0x11u);
    EXPECT_EQ(ids[1], 0x12u);
}

TEST_F(PeerSlot, UserChangeSendsTheStoredPasswordOnly)
{
    _VTN_USER_INFO u;
    memset(&u, 0, sizeof(u));
    memcpy(u.name, "alice", 5);
    // Longer than 16: the clear tail must not travel.
    memcpy(u.password, "secret-password-with-a-much-longer-tail!", 40);
    _VTN_USER_INFO expectMapped = u;
    vtn_encrypt_and_map(reinterpret_cast<uint8_t*>(expectMapped.password));

    struct Case {
        uint8_t action;
        bool mapped;
    } cases[] = {{VTN_USER_ADD, true}, {VTN_USER_SET_PASSWORD, true}, {VTN_USER_SET_RIGHTS, false},
                 {VTN_USER_DELETE, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.action));
        PushStatus(0);
        EXPECT_EQ(cs_vtn_set_user(0, &u, c.action), 0);
        std::string sent = Sent();
        ASSERT_EQ(sent.size(), 300u);
        EXPECT_EQ(U32(sent, 16), 0x400u);
        EXPECT_EQ(U32(sent, 20), 0x403u);
        EXPECT_EQ(uint8_t(sent[296]), c.action);
        std::string field = sent.substr(24 + 64, 64);
        if (c.mapped) {
            EXPECT_EQ(field.substr(0, 32), std::string(expectMapped.password, 32));
            EXPECT_EQ(field.substr(32), std::string(32, '\0'));
        } else {
            EXPECT_EQ(field, std::string(u.password, 64));
        }
        EXPECT_EQ(0, memcmp(u.password, "secret-password-with-a-much-longer-tail!", 40)) << "caller's record changed";
    }
}

// A pushed event is taken only whole; a partial one waits in the socket.
TEST_F(PeerSlot, EventChannelTakesWholeEventsOnly)
{
    int ev[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ev), 0);
    gConnections[0].eventSocket = ev[0];
    eventPeer_ = ev[1];

    _VTN_EVENT_PACKET packet;
    memset(&packet, 0, sizeof(packet));
    FillPacketHead(&packet.head, 588, VTN_PACKET_NOTICE, 0, 0);
    packet.event.severity = 'W';
    memset(packet.event.text, 'x', sizeof(packet.event.text));  // no terminator
    const char* bytes = reinterpret_cast<const char*>(&packet);

    _VTN_LOG_EVENT got;
    EXPECT_EQ(cs_vtn_get_log_event(0, &got), -1) << "nothing waiting";
    ASSERT_EQ(send(ev[1], bytes, 300, 0), 300);
    EXPECT_EQ(cs_vtn_get_log_event(0, &got), -1) << "partial event";
    ASSERT_EQ(send(ev[1], bytes + 300, 588 - 300, 0), 588 - 300);
    ASSERT_EQ(send(ev[1], bytes, 588, 0), 588);
    for (int i = 0; i < 2; ++i) {
        memset(&got, 0, sizeof(got));
        ASSERT_EQ(cs_vtn_get_log_event(0, &got), 0) << "event " << i;
        EXPECT_EQ(got.severity, 'W');
        EXPECT_EQ(strlen(got.text), sizeof(got.text) - 1);
    }
    EXPECT_EQ(cs_vtn_get_log_event(0, &got), -1);
    EXPECT_EQ(gLost, 0);

    // A closed event connection is a lost connection.
    close(ev[1]);
    eventPeer_ = -1;
    EXPECT_EQ(cs_vtn_get_log_event(0, &got), -1);
    EXPECT_EQ(gLost, 1);
    EXPECT_EQ(gConnections[0].flags, 0);
}

// The event channel's bind, its switch-off and the logout, byte for byte; switching the channel
// on again closes the earlier connection.
TEST_F(PeerSlot, EventChannelAndLogoutPackets)
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t len = sizeof(a);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    gConnections[0].eventPort = ntohs(a.sin_port);
    gConnections[0].clientIndex = 3;

    // Reads a whole bind packet from an accepted event connection.
    auto readBind = [](int fd) {
        std::string got(28, '\0');
        size_t have = 0;
        while (have < got.size()) {
            ssize_t n = recv(fd, got.data() + have, got.size() - have, 0);
            if (n <= 0)
                break;
            have += size_t(n);
        }
        got.resize(have);
        return got;
    };
    int accepted[2] = {-1, -1};
    for (int& fd : accepted) {
        ASSERT_EQ(cs_vtn_enable_event_notify(0, 1), 0);
        EXPECT_GE(gConnections[0].eventSocket, 0);
        fd = accept(listener, nullptr, nullptr);
        ASSERT_GE(fd, 0);
        std::string bindPacket = readBind(fd);
        ASSERT_EQ(bindPacket.size(), 28u);
        EXPECT_EQ(U32(bindPacket, 0), 28u);
        EXPECT_EQ(bindPacket.substr(4, 8), "vtn_stor");
        EXPECT_EQ(bindPacket[12], 1);
        EXPECT_EQ(U32(bindPacket, 16), 0u);
        EXPECT_EQ(U32(bindPacket, 20), 0u);
        EXPECT_EQ(U32(bindPacket, 24), uint32_t(gConnections[0].eventPort) | (3u << 16));
    }
    char c;
    EXPECT_EQ(recv(accepted[0], &c, 1, 0), 0) << "the first channel is closed";
    EXPECT_EQ(Sent(), "") << "the bind goes on the event connection only";

    PushStatus(0);
    EXPECT_EQ(cs_vtn_enable_event_notify(0, 0), 0);
    EXPECT_EQ(gConnections[0].eventSocket, -1);
    EXPECT_EQ(recv(accepted[1], &c, 1, 0), 0) << "switched off: the channel is closed";
    std::string off = Sent();
    ASSERT_EQ(off.size(), 24u);
    EXPECT_EQ(U32(off, 0), 24u);
    EXPECT_EQ(off[12], 1);
    EXPECT_EQ(U32(off, 16), 0x300u);
    EXPECT_EQ(U32(off, 20), 0x305u);

    EXPECT_EQ(cs_vtn_disconnect_system(0), 0);
    std::string logout = Sent();
    ASSERT_EQ(logout.size(), 24u);
    EXPECT_EQ(U32(logout, 0), 24u);
    EXPECT_EQ(logout.substr(4, 8), "vtn_stor");
    EXPECT_EQ(logout[12], 1);
    EXPECT_EQ(U32(logout, 16), 0x500u);
    EXPECT_EQ(U32(logout, 20), 0u);
    EXPECT_EQ(gConnections[0].flags, 0);
    EXPECT_EQ(gConnections[0].commandSocket, -1);
    EXPECT_EQ(gLost, 0) << "a disconnect runs no callback";
    for (int fd : accepted)
        close(fd);
    close(listener);
}

TEST_F(PeerSlot, InitForgetsConnectionsWithoutClosing)
{
    int fd = gConnections[0].commandSocket;
    ASSERT_EQ(cs_vtn_client_init(), 0);
    EXPECT_EQ(gConnections[0].flags, 0);
    EXPECT_EQ(gConnections[0].commandSocket, -1);
    // The old socket is still open: its peer sees no close.
    EXPECT_EQ(send(fds_[1], "x", 1, 0), 1);
    char c;
    EXPECT_EQ(recv(fd, &c, 1, MSG_DONTWAIT), 1);
    close(fd);
}
