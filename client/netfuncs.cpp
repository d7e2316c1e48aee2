// Remote implementations of the client API: connection slots, login, event channel,
// management requests and driver calls, all on the slot's sockets through the packet layer.
#include "netfuncs.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <sys/socket.h>
#include <vector>

#include "drvrec.h"
#include "encript.h"
#include "svrrec.h"
#include "textutil.h"
#include "vtnstatus.h"

_Vtn_Client_Connection gConnections[VTN_CLIENT_SLOTS] = {
    {{}, -1, -1, 0, 0, 0, 0, nullptr, {nullptr, 0}, 0},
    {{}, -1, -1, 0, 0, 0, 0, nullptr, {nullptr, 0}, 0},
};

namespace {

std::atomic<int> gWaitSeconds{VTN_CLIENT_WAIT_SECONDS};

constexpr int kHead = static_cast<int>(sizeof(_Packet_Head));
constexpr int kStatus = static_cast<int>(sizeof(_Packet_Error));
constexpr int kGreeting = static_cast<int>(sizeof(_VTN_LOGIN_GREETING));
constexpr int kLogin = static_cast<int>(sizeof(_VTN_LOGIN_REQUEST));
constexpr int kNotice = static_cast<int>(sizeof(_VTN_LOGIN_NOTICE));
constexpr int kEventPacket = static_cast<int>(sizeof(_VTN_EVENT_PACKET));
constexpr int kCallFrame = static_cast<int>(sizeof(_VTN_DRIVER_CALL));
constexpr int kReplyFrame = static_cast<int>(sizeof(_VTN_DRIVER_REPLY));
// The longest management request (an event and its index).
constexpr int kMaxRequest = static_cast<int>(sizeof(_VTN_REQ_ENUM_EVENT));

// Driver-call blocks are small; these bounds keep every size sum far from overflow.
constexpr uint32_t kMaxCallInput = 64 * 1024;
constexpr uint32_t kMaxCallOutput = VTN_MAX_DRIVER_OUTPUT;
constexpr unsigned int kMaxRemoveCount = 4096;
constexpr int kMaxLogicalDevices = 4096;

// Device removal, sent by the client only.
constexpr uint32_t kCtlQueryRemove = 0xFF1E;
constexpr uint32_t kCtlRemoveDevices = 0xFF1F;

int Wait()
{
    return gWaitSeconds.load();
}

// Runs the connection-lost path for a stream that is out of step.
void Drop(_CALLBACK_PARAM* cb)
{
    if (cb && cb->func)
        cb->func(cb->param);
}

// ---- event input --------------------------------------------------------------------------------

// What the event socket delivered and the GUI has not taken yet. The socket is read empty into
// it, so the server's pushes never wait on this side for a packet that is taken only whole;
// packets are cut from it in order.
struct EventInput {
    std::vector<char> data;  // grows up to kEventInputMax bytes
    size_t start = 0;        // first byte not handed out; always at a packet boundary
    size_t have = 0;         // bytes held from start
    uint64_t received = 0;   // bytes read from the socket
    int sock = -1;           // the socket they came from
    bool ended = false;      // the peer closed or the socket failed: nothing more comes
    // The packet of which only a part has come, and since when.
    uint64_t partPacket = UINT64_MAX;
    std::chrono::steady_clock::time_point partSince;
};

EventInput gEventInput[VTN_CLIENT_SLOTS];

// A whole number of events, about 4 MB: when it is full nothing more is read, and TCP holds the
// rest back at the server.
constexpr size_t kEventInputMax = size_t(kEventPacket) * 7000;
constexpr size_t kEventInputFirst = size_t(kEventPacket) * 64;

void ClearEventInput(EventInput* in)
{
    *in = EventInput();  // the storage goes too
}

// The input of a slot of gConnections; emptied when its socket is not the one it was filled from.
EventInput* InputOf(const _Vtn_Client_Connection* c)
{
    EventInput* in = &gEventInput[c - gConnections];
    if (in->sock != c->eventSocket) {
        ClearEventInput(in);
        in->sock = c->eventSocket;
    }
    return in;
}

// Reads what the socket holds without waiting, until it has no more or the input is full.
void ReadEventSocket(EventInput* in)
{
    while (!in->ended && in->have < kEventInputMax) {
        if (in->start + in->have == in->data.size()) {
            if (in->start > 0) {
                memmove(in->data.data(), in->data.data() + in->start, in->have);
                in->start = 0;
            } else {
                in->data.resize(std::min(kEventInputMax, std::max(kEventInputFirst, 2 * in->data.size())));
            }
        }
        char* end = in->data.data() + in->start + in->have;
        ssize_t n = recv(in->sock, end, in->data.size() - in->start - in->have, MSG_DONTWAIT);
        if (n > 0) {
            in->have += size_t(n);
            in->received += uint64_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        in->ended = true;  // closed by the peer, or failed
    }
    const uint64_t packet = in->received / uint64_t(kEventPacket);
    if (in->received % uint64_t(kEventPacket) == 0) {
        in->partPacket = UINT64_MAX;
    } else if (in->partPacket != packet) {
        in->partPacket = packet;
        in->partSince = std::chrono::steady_clock::now();
    }
}

// True when no further event can come whole: the peer has finished, or a packet that has begun
// was not completed within the reply time-out (a full input holds whole events only, so a part
// left waiting is the peer's).
bool EventStreamOver(const EventInput* in)
{
    if (in->ended)
        return true;
    return in->partPacket != UINT64_MAX &&
           std::chrono::steady_clock::now() - in->partSince >= std::chrono::seconds(Wait());
}

// Whether the bytes at p can begin an event packet: the server writes no magic in it, so the
// length tells.
bool EventHeadAt(const char* p)
{
    uint32_t length;
    memcpy(&length, p, sizeof length);
    return length == static_cast<uint32_t>(kEventPacket);
}

// Peeks one whole head. 0 when it is there; otherwise the connection is gone (or the wait
// ended) and the result is -1 or VTN_RECV_TIMEOUT.
int PeekHead(int sock, _Packet_Head* head, int timeout, _CALLBACK_PARAM* cb)
{
    int r = PeekPacketHead(sock, head, timeout, cb);
    if (r == kHead)
        return 0;
    if (r == static_cast<int>(VTN_RECV_TIMEOUT))
        return r;  // the packet layer has run the callback
    Drop(cb);      // closed, failed, or a short head from a peer that has finished
    return -1;
}

// Receives exactly len bytes; a short count drops the connection.
bool RecvWhole(int sock, char* buf, int len, int timeout, _CALLBACK_PARAM* cb)
{
    int r = RecvBufFromRemote(sock, buf, len, timeout, cb);
    if (r == len)
        return true;
    if (r > 0)
        Drop(cb);  // short: the packet layer ran no callback
    return false;
}

// A request whose reply carries the record back at offset 24 (get, enum). The reply has the
// request's length; a status 0 in its place is a failure.
int DataRequest(int handle, uint32_t group, uint32_t code, void* record, size_t recordSize, int total,
                const uint32_t* index, size_t indexOffset)
{
    _Vtn_Client_Connection* c = ConnectedSlot(handle);
    if (c == nullptr || record == nullptr || total > kMaxRequest || recordSize + kHead > size_t(total))
        return -1;
    char buf[kMaxRequest] = {};
    FillPacketHead(reinterpret_cast<_Packet_Head*>(buf), static_cast<uint32_t>(total), VTN_PACKET_REQUEST, group,
                   code);
    if (index != nullptr && !WriteField(buf, size_t(total), indexOffset, *index))
        return -1;
    int sock = c->commandSocket;
    _CALLBACK_PARAM* cb = &c->transportCallback;
    if (SendBufToRemote(sock, buf, total, Wait(), cb) != total)
        return -1;
    int r = GetResultFromServer(sock, buf, total, Wait(), cb);
    if (r == 0) {
        memcpy(record, buf + kHead, recordSize);
        return 0;
    }
    if (r == static_cast<int>(VTN_STATUS_INSTEAD)) {
        _Packet_Error err;
        if (GetErrorFromServer(sock, &err, Wait(), cb) != 0)
            return -1;
        return err.status == 0 ? -1 : static_cast<int>(err.status);
    }
    return r;
}

// A request answered by a status packet (set, save, clear, test, reboot).
int CommandRequest(int handle, uint32_t group, uint32_t code, const void* record, size_t recordSize, int total,
                   const uint8_t* action, size_t actionOffset)
{
    _Vtn_Client_Connection* c = ConnectedSlot(handle);
    if (c == nullptr || (recordSize > 0 && record == nullptr) || total > kMaxRequest ||
        recordSize + kHead > size_t(total))
        return -1;
    char buf[kMaxRequest] = {};
    FillPacketHead(reinterpret_cast<_Packet_Head*>(buf), static_cast<uint32_t>(total), VTN_PACKET_REQUEST, group,
                   code);
    if (recordSize > 0)
        memcpy(buf + kHead, record, recordSize);
    if (action != nullptr && !WriteField(buf, size_t(total), actionOffset, *action))
        return -1;
    int sock = c->commandSocket;
    _CALLBACK_PARAM* cb = &c->transportCallback;
    if (SendBufToRemote(sock, buf, total, Wait(), cb) != total)
        return -1;
    _Packet_Error err;
    if (GetErrorFromServer(sock, &err, Wait(), cb) != 0)
        return -1;
    return static_cast<int>(err.status);
}

int DeviceCall(int handle, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize)
{
    return User_DeviceIoControl(code, const_cast<void*>(in), inSize, out, outSize, nullptr, handle);
}

bool NewerRecords(const _Vtn_Client_Connection* c)
{
    return c->driverVersion > VTN_DRIVER_OLD_RECORDS_MAX;
}

// A text field from a reply ends inside its field, whatever the server sent.
template <size_t N>
void EndText(char (&field)[N])
{
    field[N - 1] = '\0';
}

}  // namespace

void SetClientWaitSeconds(int seconds)
{
    gWaitSeconds.store(seconds < 0 ? 0 : seconds);
}

int GetClientWaitSeconds()
{
    return gWaitSeconds.load();
}

void ResetConnectionSlot(_Vtn_Client_Connection* slot)
{
    for (int i = 0; i < VTN_CLIENT_SLOTS; ++i)
        if (slot == &gConnections[i])
            ClearEventInput(&gEventInput[i]);
    memset(slot, 0, sizeof(*slot));
    slot->commandSocket = -1;
    slot->eventSocket = -1;
}

_Vtn_Client_Connection* ConnectedSlot(int handle)
{
    if (handle < 0 || handle >= VTN_CLIENT_SLOTS)
        return nullptr;
    _Vtn_Client_Connection* c = &gConnections[handle];
    return (c->flags & VTN_CONN_CONNECTED) ? c : nullptr;
}

void InitFunctions(_CS_FUNCTION_TABLE* t)
{
    t->connect_system = net_vtn_connect_system;
    t->disconnect_system = net_vtn_disconnect_system;
    t->get_server_info = net_vtn_get_server_info;
    t->get_server_param = net_vtn_get_server_param;
    t->set_server_param = net_vtn_set_server_param;
    t->reboot_server = net_vtn_reboot_server;
    t->get_current_user = net_vtn_get_current_user;
    t->enum_user = net_vtn_enum_user;
    t->set_user = net_vtn_set_user;
    t->enable_event_notify = net_vtn_enable_event_notify;
    t->enum_event = net_vtn_enum_event;
    t->get_log_event = net_vtn_get_log_event;
    t->save_log_event = net_vtn_save_log_event;
    t->clear_event_log = net_vtn_clear_event_log;
    t->get_smtp_server = net_vtn_get_smtp_server;
    t->set_smtp_server = net_vtn_set_smtp_server;
    t->enum_mail_recipient = net_vtn_enum_mail_recipient;
    t->set_mail_recipients = net_vtn_set_mail_recipients;
    t->test_mail = net_vtn_test_mail;
    t->enum_tasks = net_vtn_enum_tasks;
    t->set_task = net_vtn_set_task;
    t->get_version = net_vtn_get_version;
    t->get_driver_capabilities = net_vtn_get_driver_capabilities;
    t->get_controller_count = net_vtn_get_controller_count;
    t->get_controller_info = net_vtn_get_controller_info;
    t->get_channel_info = net_vtn_get_channel_info;
    t->get_logical_devices = net_vtn_get_logical_devices;
    t->get_device_info = net_vtn_get_device_info;
    t->create_array = net_vtn_create_array;
    t->delete_array = net_vtn_delete_array;
    t->add_disk_to_array = net_vtn_add_disk_to_array;
    t->add_spare_disk = net_vtn_add_spare_disk;
    t->remove_spare_disk = net_vtn_remove_spare_disk;
    t->set_array_state = net_vtn_set_array_state;
    t->set_array_info = net_vtn_set_array_info;
    t->set_device_info = net_vtn_set_device_info;
    t->set_device_info_v2 = net_vtn_set_device_info_v2;
    t->rescan_devices = net_vtn_rescan_devices;
    t->get_qzr_info = net_vtn_get_qzr_info;
    t->set_qzr_info = net_vtn_set_qzr_info;
    t->lock_device = net_vtn_lock_device;
    t->unlock_device = net_vtn_unlock_device;
    t->ide_pass_through = net_vtn_ide_pass_through;
    t->add_dedicated_spare = net_vtn_add_dedicated_spare;
    t->remove_devices = net_vtn_remove_devices;
    t->query_remove = net_vtn_query_remove;
}

// ---- connection, login, event channel -------------------------------------------------------

int handshakewithserver(_Vtn_Client_Connection* slot, _CS_CONNECTION_INFO* info)
{
    int sock = slot->commandSocket;
    int wait = Wait();
    int result = static_cast<int>(VTN_LOGIN_HANDSHAKE);
    // Negative words (a time-out, the server's refusal) pass; a close or a short packet is a
    // failed handshake.
    auto failure = [](int r) {
        if (r == static_cast<int>(VTN_RECV_TIMEOUT))
            return r;
        return static_cast<int>(VTN_LOGIN_HANDSHAKE);
    };

    _VTN_LOGIN_GREETING greeting;
    _VTN_LOGIN_REQUEST login;
    _Packet_Error status;
    _VTN_LOGIN_NOTICE notice;
    memset(&login, 0, sizeof(login));
    int r = RecvBufFromRemote(sock, reinterpret_cast<char*>(&greeting), kGreeting, wait, nullptr);
    if (r != kGreeting) {
        result = failure(r);
        goto done;
    }
    FillPacketHead(&login.head, kLogin, VTN_PACKET_REQUEST, 0, 0);
    CopyField(login.name, sizeof(login.name), info->user, sizeof(info->user));
    // Only the first 16 bytes count, and only they are encrypted: the rest stays zero.
    memcpy(login.password, info->password, 16);
    vtn_encrypt(reinterpret_cast<uint8_t*>(greeting.key), reinterpret_cast<uint8_t*>(login.password), 2);
    login.kind = info->loginKind;
    if (SendBufToRemote(sock, reinterpret_cast<char*>(&login), kLogin, wait, nullptr) != kLogin)
        goto done;

    r = RecvBufFromRemote(sock, reinterpret_cast<char*>(&status), kStatus, wait, nullptr);
    if (r != kStatus || status.head.length != static_cast<uint32_t>(kStatus)) {
        result = r == kStatus ? static_cast<int>(VTN_LOGIN_HANDSHAKE) : failure(r);
        goto done;
    }
    if (status.status != 0) {
        result = static_cast<int32_t>(status.status) < 0 ? static_cast<int>(status.status)
                                                          : static_cast<int>(VTN_LOGIN_HANDSHAKE);
        goto done;
    }
    // Accepted but without its notice (closed, short or timed out): a failed handshake.
    r = RecvBufFromRemote(sock, reinterpret_cast<char*>(&notice), kNotice, wait, nullptr);
    if (r != kNotice || notice.head.length != static_cast<uint32_t>(kNotice))
        goto done;
    slot->eventPort = notice.eventPort;
    slot->clientIndex = notice.slot;
    result = 0;

done:
    memset(info->password, 0, sizeof(info->password));
    memset(&login, 0, sizeof(login));
    return result;
}

int net_vtn_connect_system(_CS_CONNECTION_INFO* info)
{
    if (info == nullptr || info->callback == nullptr)
        return -1;
    int index = -1;
    for (int i = 0; i < VTN_CLIENT_SLOTS; ++i) {
        if (gConnections[i].flags == 0) {
            index = i;
            break;
        }
    }
    if (index < 0)
        return -1;
    _Vtn_Client_Connection* c = &gConnections[index];
    ResetConnectionSlot(c);
    CopyField(c->host, sizeof(c->host), info->host, sizeof(info->host));
    c->port = info->port;
    int sock = ConnectToServer(c->host, c->port);
    if (sock < 0)
        return static_cast<int>(VTN_CANNOT_CONNECT);
    c->commandSocket = sock;

    int r = handshakewithserver(c, info);
    if (r != 0) {
        DisConnect(c->commandSocket);
        if (c->eventSocket >= 0)
            DisConnect(c->eventSocket);
        ResetConnectionSlot(c);
        return r;
    }
    c->flags = VTN_CONN_CONNECTED;
    c->transportCallback.func = internal_callback;
    c->transportCallback.param = index;
    c->driverVersion = net_vtn_get_version(index);
    // A connection lost while reading the version is a failed connect, reported only here.
    if (!(c->flags & VTN_CONN_CONNECTED))
        return static_cast<int>(VTN_LOGIN_HANDSHAKE);
    c->userCallback = info->callback;
    return index;
}

int net_vtn_disconnect_system(int handle)
{
    _Vtn_Client_Connection* c = ConnectedSlot(handle);
    if (c == nullptr)
        return -1;
    _Packet_Head logout;
    FillPacketHead(&logout, kHead, VTN_PACKET_REQUEST, VTN_GROUP_LOGOUT, 0);
    // No reply comes; the connection is closed whatever the send did.
    SendBufToRemote(c->commandSocket, reinterpret_cast<char*>(&logout), kHead, Wait(), nullptr);
    if (c->eventSocket >= 0)
        DisConnect(c->eventSocket);
    DisConnect(c->commandSocket);
    ResetConnectionSlot(c);
    return 0;
}

void internal_callback(int slot)
{
    if (slot < 0 || slot >= VTN_CLIENT_SLOTS)
        return;
    _Vtn_Client_Connection* c = &gConnections[slot];
    void (*userCallback)() = c->userCallback;
    if (c->eventSocket >= 0)
        DisConnect(c->eventSocket);
    if (c->commandSocket >= 0)
        DisConnect(c->commandSocket);
    ResetConnectionSlot(c);
    if (userCallback != nullptr)
        userCallback();
}

int net_vtn_enable_event_notify(int handle, uint8_t on)
{
    _Vtn_Client_Connection* c = ConnectedSlot(handle);
    if (c == nullptr)
        return -1;
    if (c->eventSocket >= 0) {
        DisConnect(c->eventSocket);
        c->eventSocket = -1;
    }
    ClearEventInput(&gEventInput[c - gConnections]);  // what the old channel brought goes with it
    if (on == 1) {
        int sock = ConnectToServer(c->host, c->eventPort);
        if (sock < 0)
            return -1;
        _VTN_EVENT_BIND bind;
        FillPacketHead(&bind.head, kNotice, VTN_PACKET_REQUEST, 0, 0);
        bind.eventPort = c->eventPort;
        bind.slot = c->clientIndex;
        // An unbound channel would never carry an event: report the failed bind.
        if (SendBufToRemote(sock, reinterpret_cast<char*>(&bind), kNotice, Wait(), nullptr) != kNotice) {
            DisConnect(sock);
            return -1;
        }
        c->eventSocket = sock;
        return 0;
    }
    if (on == 0)
        return CommandRequest(handle, VTN_GROUP_EVENT, VTN_CODE_EVENT_CHANNEL_OFF, nullptr, 0, kHead, nullptr, 0);
    return -1;
}

int net_vtn_get_log_event(int handle, _VTN_LOG_EVENT* event)
{
    _Vtn_Client_Connection* c = ConnectedSlot(handle);
    if (c == nullptr || c->eventSocket < 0 || event == nullptr)
        return -1;
    if (net_vtn_drain_log_events(handle) <= 0)
        return -1;
    EventInput* in = InputOf(c);
    const char* p = in->data.data() + in->start;
    // The head of the packet after this one, when it is there, shows a stream that lost its step
    // inside this one (a short packet followed by the next).
    const bool nextThere = in->have >= size_t(kEventPacket) + sizeof(uint32_t);
    if (!EventHeadAt(p) || (nextThere && !EventHeadAt(p + kEventPacket))) {
        Drop(&c->transportCallback);  // out of step: nothing more can be cut from it
        return -1;
    }
    _VTN_EVENT_PACKET packet;
    memcpy(&packet, p, sizeof packet);
    in->start += size_t(kEventPacket);
    in->have -= size_t(kEventPacket);
    if (in->have == 0)
        in->start = 0;
    memcpy(event, &packet.event, sizeof(*event));
    event->text[sizeof(event->text) - 1] = '\0';
    return 0;
}

int net_vtn_drain_log_events(int handle)
{
    _Vtn_Client_Connection* c = ConnectedSlot(handle);
    if (c == nullptr || c->eventSocket < 0)
        return -1;
    EventInput* in = InputOf(c);
    ReadEventSocket(in);
    const int whole = static_cast<int>(in->have / size_t(kEventPacket));
    // Events that came whole are handed out first; the break is told once none is left.
    if (whole == 0 && EventStreamOver(in)) {
        Drop(&c->transportCallback);
        return -1;
    }
    return whole;
}

// ---- reply readers --------------------------------------------------------------------------

int GetErrorFromServer(int sock, _Packet_Error* err, int timeout_s, _CALLBACK_PARAM* cb)
{
    _Packet_Head head;
    if (PeekHead(sock, &head, timeout_s, cb) != 0)
        return -1;
    if (head.type != VTN_PACKET_STATUS || head.length != static_cast<uint32_t>(kStatus)) {
        Drop(cb);
        return -1;
    }
    return RecvWhole(sock, reinterpret_cast<char*>(err), kStatus, timeout_s, cb) ? 0 : -1;
}

int GetResultFromServer(int sock, char* buf, int len, int timeout_s, _CALLBACK_PARAM* cb)
{
    _Packet_Head head;
    int r = PeekHead(sock, &head, timeout_s, cb);
    if (r != 0)
        return r;
    if (head.type == VTN_PACKET_STATUS && head.length == static_cast<uint32_t>(kStatus))
        return static_cast<int>(VTN_STATUS_INSTEAD);  // left for GetErrorFromServer
    if (head.type != VTN_PACKET_REPLY || len < kHead || head.length != static_cast<uint32_t>(len)) {
        Drop(cb);
        return -1;
    }
    return RecvWhole(sock, buf, len, timeout_s, cb) ? 0 : -1;
}

// ---- management requests -------------------------------------------------------------------

int net_vtn_get_server_info(int handle, _CS_SERVER_INFO* info)
{
    int r = DataRequest(handle, VTN_GROUP_SYSTEM, VTN_CODE_SERVER_INFO, info, sizeof(*info),
                        sizeof(_VTN_REQ_SERVER_INFO), nullptr, 0);
    if (r == 0) {
        EndText(info->osName);
        EndText(info->hostName);
        EndText(info->osVersion);
    }
    return r;
}

int net_vtn_get_server_param(int handle, _CS_ALTERABLE_SERVER_PARAM* param)
{
    return DataRequest(handle, VTN_GROUP_SYSTEM, VTN_CODE_GET_SERVER_PARAM, param, sizeof(*param),
                       sizeof(_VTN_REQ_SERVER_PARAM), nullptr, 0);
}

int net_vtn_set_server_param(int handle, _CS_ALTERABLE_SERVER_PARAM* param)
{
    return CommandRequest(handle, VTN_GROUP_SYSTEM, VTN_CODE_SET_SERVER_PARAM, param, sizeof(*param),
                          sizeof(_VTN_REQ_SERVER_PARAM), nullptr, 0);
}

int net_vtn_reboot_server(int handle)
{
    return CommandRequest(handle, VTN_GROUP_SYSTEM, VTN_CODE_REBOOT, nullptr, 0, kHead, nullptr, 0);
}

int net_vtn_get_current_user(int handle, _VTN_USER_INFO* user)
{
    // 300 bytes like the other user requests; the server fills the record at 24.
    int r = DataRequest(handle, VTN_GROUP_USER, VTN_CODE_CURRENT_USER, user, sizeof(*user),
                        sizeof(_VTN_REQ_ENUM_USER), nullptr, 0);
    if (r == 0) {
        user->name[sizeof(user->name) - 1] = '\0';
        user->description[sizeof(user->description) - 1] = '\0';
    }
    return r;
}

int net_vtn_enum_user(int handle, _VTN_USER_INFO* user, int index)
{
    uint32_t n = static_cast<uint32_t>(index);
    int r = DataRequest(handle, VTN_GROUP_USER, VTN_CODE_ENUM_USER, user, sizeof(*user),
                        sizeof(_VTN_REQ_ENUM_USER), &n, offsetof(_VTN_REQ_ENUM_USER, index));
    if (r == 0) {
        user->name[sizeof(user->name) - 1] = '\0';
        user->description[sizeof(user->description) - 1] = '\0';
    }
    return r;
}

int net_vtn_set_user(int handle, _VTN_USER_INFO* user, uint8_t action)
{
    if (user == nullptr)
        return -1;
    _VTN_USER_INFO copy = *user;
    if (action == VTN_USER_ADD || action == VTN_USER_SET_PASSWORD) {
        vtn_encrypt_and_map(reinterpret_cast<uint8_t*>(copy.password));
        // Only the 32 mapped characters travel; the clear rest of the field does not.
        memset(copy.password + 33, 0, sizeof(copy.password) - 33);
    }
    int r = CommandRequest(handle, VTN_GROUP_USER, VTN_CODE_SET_USER, &copy, sizeof(copy),
                           sizeof(_VTN_REQ_ENUM_USER), &action, offsetof(_VTN_REQ_SET_USER, action));
    memset(copy.password, 0, sizeof(copy.password));
    return r;
}

int net_vtn_enum_event(int handle, _VTN_LOG_EVENT* event, int index)
{
    uint32_t n = static_cast<uint32_t>(index);
    int r = DataRequest(handle, VTN_GROUP_EVENT, VTN_CODE_ENUM_EVENT, event, sizeof(*event),
                        sizeof(_VTN_REQ_ENUM_EVENT), &n, offsetof(_VTN_REQ_ENUM_EVENT, index));
    if (r == 0)
        event->text[sizeof(event->text) - 1] = '\0';
    return r;
}

int net_vtn_save_log_event(int handle, _VTN_LOG_EVENT* event)
{
    return CommandRequest(handle, VTN_GROUP_EVENT, VTN_CODE_SAVE_EVENT, event, sizeof(*event),
                          sizeof(_VTN_REQ_ENUM_EVENT), nullptr, 0);
}

int net_vtn_clear_event_log(int handle)
{
    return CommandRequest(handle, VTN_GROUP_EVENT, VTN_CODE_CLEAR_EVENTS, nullptr, 0, kHead, nullptr, 0);
}

int net_vtn_get_smtp_server(int handle, _VTN_SMTP_SERVER_INFO* info)
{
    int r = DataRequest(handle, VTN_GROUP_MAIL, VTN_CODE_GET_SMTP, info, sizeof(*info), sizeof(_VTN_REQ_SMTP),
                        nullptr, 0);
    if (r == 0) {
        EndText(info->host);
        EndText(info->sender);
    }
    return r;
}

int net_vtn_set_smtp_server(int handle, _VTN_SMTP_SERVER_INFO* info)
{
    return CommandRequest(handle, VTN_GROUP_MAIL, VTN_CODE_SET_SMTP, info, sizeof(*info), sizeof(_VTN_REQ_SMTP),
                          nullptr, 0);
}

int net_vtn_enum_mail_recipient(int handle, _VTN_MAIL_RECIPIENT_INFO* r, int index)
{
    uint32_t n = static_cast<uint32_t>(index);
    int result = DataRequest(handle, VTN_GROUP_MAIL, VTN_CODE_ENUM_RECIPIENT, r, sizeof(*r),
                             sizeof(_VTN_REQ_ENUM_RECIPIENT), &n, offsetof(_VTN_REQ_ENUM_RECIPIENT, index));
    if (result == 0) {
        EndText(r->address);
        EndText(r->name);
    }
    return result;
}

int net_vtn_set_mail_recipients(int handle, _VTN_MAIL_RECIPIENT_INFO* r, uint8_t action)
{
    return CommandRequest(handle, VTN_GROUP_MAIL, VTN_CODE_SET_RECIPIENT, r, sizeof(*r),
                          sizeof(_VTN_REQ_ENUM_RECIPIENT), &action, offsetof(_VTN_REQ_SET_RECIPIENT, action));
}

int net_vtn_test_mail(int handle, _VTN_MAIL_RECIPIENT_INFO* r)
{
    return CommandRequest(handle, VTN_GROUP_MAIL, VTN_CODE_TEST_MAIL, r, sizeof(*r), sizeof(_VTN_REQ_RECIPIENT),
                          nullptr, 0);
}

int net_vtn_enum_tasks(int handle, _VTN_TASK_INFO* task, int index)
{
    uint32_t n = static_cast<uint32_t>(index);
    int r = DataRequest(handle, VTN_GROUP_TASK, VTN_CODE_ENUM_TASK, task, sizeof(*task),
                        sizeof(_VTN_REQ_ENUM_TASK), &n, offsetof(_VTN_REQ_ENUM_TASK, index));
    if (r == 0) {
        EndText(task->name);
        EndText(task->creator);
        EndText(task->arrayName);
    }
    return r;
}

int net_vtn_set_task(int handle, _VTN_TASK_INFO* task, uint8_t action)
{
    return CommandRequest(handle, VTN_GROUP_TASK, VTN_CODE_SET_TASK, task, sizeof(*task),
                          sizeof(_VTN_REQ_ENUM_TASK), &action, offsetof(_VTN_REQ_SET_TASK, action));
}

// ---- driver calls ---------------------------------------------------------------------------

int User_DeviceIoControl(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                         uint32_t* returned, int handle)
{
    _Vtn_Client_Connection* c = ConnectedSlot(handle);
    if (c == nullptr)
        return -1;
    if (inSize > kMaxCallInput || outSize > kMaxCallOutput || (inSize > 0 && in == nullptr))
        return -1;
    int sock = c->commandSocket;
    _CALLBACK_PARAM* cb = &c->transportCallback;
    int wait = Wait();

    int total = kCallFrame + static_cast<int>(inSize);
    std::unique_ptr<char[]> request(new (std::nothrow) char[size_t(total)]());
    if (!request)
        return static_cast<int>(VTN_NO_MEMORY);
    auto* frame = reinterpret_cast<_VTN_DRIVER_CALL*>(request.get());
    FillPacketHead(&frame->head, static_cast<uint32_t>(total), VTN_PACKET_REQUEST, VTN_GROUP_DRIVER, 0);
    frame->code = code;
    frame->inSize = inSize;
    frame->outSize = outSize;
    frame->returned = returned != nullptr ? *returned : 0;
    if (inSize > 0)
        memcpy(request.get() + kCallFrame, in, inSize);
    int sent = SendBufToRemote(sock, request.get(), total, wait, cb);
    request.reset();
    if (sent != total)
        return -1;

    _Packet_Head head;
    if (PeekHead(sock, &head, wait, cb) != 0)
        return -1;
    if (head.type == VTN_PACKET_STATUS && head.length == static_cast<uint32_t>(kStatus)) {
        _Packet_Error err;
        if (!RecvWhole(sock, reinterpret_cast<char*>(&err), kStatus, wait, cb))
            return -1;
        // Success must come with the reply frame.
        return err.status == 0 ? -1 : static_cast<int>(err.status);
    }
    uint32_t maxLen = static_cast<uint32_t>(kReplyFrame) + outSize;
    if (head.type != VTN_PACKET_REPLY || head.length < static_cast<uint32_t>(kReplyFrame) || head.length > maxLen) {
        Drop(cb);
        return -1;
    }
    size_t length = head.length;
    std::unique_ptr<char[]> reply(new (std::nothrow) char[length]);
    if (!reply) {
        Drop(cb);  // the reply cannot be taken out of the stream
        return static_cast<int>(VTN_NO_MEMORY);
    }
    if (!RecvWhole(sock, reply.get(), static_cast<int>(length), wait, cb))
        return -1;
    if (out != nullptr && outSize > 0) {
        // A shorter output than asked for leaves the rest of the caller's record zero.
        size_t got = length - kReplyFrame;
        memcpy(out, reply.get() + kReplyFrame, got);
        if (got < outSize)
            memset(static_cast<char*>(out) + got, 0, outSize - got);
    }
    if (returned != nullptr)
        ReadField(reply.get(), length, offsetof(_VTN_DRIVER_REPLY, returned), returned);
    return 0;
}

int convertDeviceInfo(_LOGICAL_DEVICE_INFO* from, _LOGICAL_DEVICE_INFO_V2* to)
{
    memset(to, 0, sizeof(*to));
    memcpy(to, from, 4);  // type byte and the three after it
    to->capacity = from->capacity;
    to->parent = from->parent;
    if (from->type == VTN_DEVICE_DISK) {
        // The disk part is the same layout four bytes further on.
        memcpy(&to->u, &from->u, sizeof(from->u));
        return 1;
    }
    memcpy(to->u.array.name, from->u.array.name, sizeof(from->u.array.name));
    memcpy(to->u.array.reserved2, from->u.array.reserved2, sizeof(from->u.array.reserved2));
    to->u.array.raidType = from->u.array.raidType;
    to->u.array.blockCode = from->u.array.blockCode;
    to->u.array.memberCount = from->u.array.memberCount > VTN_MAX_MEMBERS ? VTN_MAX_MEMBERS : from->u.array.memberCount;
    to->u.array.reserved3 = from->u.array.reserved3;
    to->u.array.status = from->u.array.status;
    memcpy(to->u.array.members, from->u.array.members, sizeof(from->u.array.members));
    to->u.array.progress = from->u.array.progress;
    to->u.array.reserved4 = from->u.array.reserved4;
    return 1;
}

int convertParam(_CREATE_ARRAY_PARAMS_V2* from, _CREATE_ARRAY_PARAMS* to)
{
    if (from->memberCount > VTN_MAX_MEMBERS)
        return 0;
    memset(to, 0, sizeof(*to));
    memcpy(to, from, offsetof(_CREATE_ARRAY_PARAMS, members));
    memcpy(to->members, from->members, from->memberCount * sizeof(uint32_t));
    return 1;
}

unsigned int net_vtn_get_version(int handle)
{
    uint32_t version = 0;
    if (DeviceCall(handle, VTN_CTL_GET_VERSION, nullptr, 0, &version, sizeof(version)) != 0)
        return 0;
    return version;
}

int net_vtn_get_driver_capabilities(int handle, _DRIVER_CAPABILITIES* caps)
{
    if (ConnectedSlot(handle) == nullptr || caps == nullptr || caps->size != sizeof(_DRIVER_CAPABILITIES))
        return -1;
    return DeviceCall(handle, VTN_CTL_GET_DRIVER_CAPABILITIES, nullptr, 0, caps, sizeof(*caps));
}

int net_vtn_get_controller_count(int handle)
{
    uint32_t count = 0;
    if (DeviceCall(handle, VTN_CTL_GET_CONTROLLER_COUNT, nullptr, 0, &count, sizeof(count)) != 0)
        return -1;
    return static_cast<int>(count);
}

int net_vtn_get_controller_info(int handle, int controller, _CONTROLLER_INFO* info)
{
    if (info == nullptr)
        return -1;
    uint32_t in = static_cast<uint32_t>(controller);
    return DeviceCall(handle, VTN_CTL_GET_CONTROLLER_INFO, &in, sizeof(in), info, sizeof(*info));
}

int net_vtn_get_channel_info(int handle, int controller, int channel, _CHANNEL_INFO* info)
{
    if (info == nullptr)
        return -1;
    uint32_t in[2] = {static_cast<uint32_t>(controller), static_cast<uint32_t>(channel)};
    return DeviceCall(handle, VTN_CTL_GET_CHANNEL_INFO, in, sizeof(in), info, sizeof(*info));
}

int net_vtn_get_logical_devices(int handle, unsigned int* ids, int max)
{
    if (ConnectedSlot(handle) == nullptr || max < 0 || max > kMaxLogicalDevices || (max > 0 && ids == nullptr))
        return -1;
    size_t n = static_cast<size_t>(max) + 1;
    std::unique_ptr<uint32_t[]> words(new (std::nothrow) uint32_t[n]());
    if (!words)
        return -1;
    uint32_t in = static_cast<uint32_t>(max);
    if (DeviceCall(handle, VTN_CTL_GET_LOGICAL_DEVICES, &in, sizeof(in), words.get(),
                   static_cast<uint32_t>(n * sizeof(uint32_t))) != 0)
        return -1;
    // Never more than the caller's array holds.
    uint32_t count = words[0] > static_cast<uint32_t>(max) ? static_cast<uint32_t>(max) : words[0];
    for (uint32_t i = 0; i < count; ++i)
        ids[i] = words[i + 1];
    return static_cast<int>(count);
}

int net_vtn_get_device_info(int handle, unsigned int id, _LOGICAL_DEVICE_INFO_V2* info)
{
    _Vtn_Client_Connection* c = ConnectedSlot(handle);
    if (c == nullptr || info == nullptr)
        return -1;
    uint32_t in = id;
    if (NewerRecords(c)) {
        int r = DeviceCall(handle, VTN_CTL_GET_DEVICE_INFO_V2, &in, sizeof(in), info, sizeof(*info));
        if (r == 0 && info->type == VTN_DEVICE_ARRAY && info->u.array.memberCount > VTN_MAX_MEMBERS_V2)
            info->u.array.memberCount = VTN_MAX_MEMBERS_V2;
        return r;
    }
    _LOGICAL_DEVICE_INFO old;
    int r = DeviceCall(handle, VTN_CTL_GET_DEVICE_INFO, &in, sizeof(in), &old, sizeof(old));
    if (r == 0)
        convertDeviceInfo(&old, info);
    return r;
}

unsigned int net_vtn_create_array(int handle, _CREATE_ARRAY_PARAMS_V2* params)
{
    _Vtn_Client_Connection* c = ConnectedSlot(handle);
    if (c == nullptr || params == nullptr)
        return 0;
    uint32_t id = 0;
    int r;
    if (NewerRecords(c)) {
        r = DeviceCall(handle, VTN_CTL_CREATE_ARRAY_V2, params, sizeof(*params), &id, sizeof(id));
    } else {
        _CREATE_ARRAY_PARAMS old;
        if (!convertParam(params, &old))
            return 0;
        r = DeviceCall(handle, VTN_CTL_CREATE_ARRAY, &old, sizeof(old), &id, sizeof(id));
    }
    return r == 0 ? id : 0;
}

int net_vtn_delete_array(int handle, unsigned int id, unsigned int flag)
{
    uint32_t in[2] = {id, flag};
    uint32_t out = 0;
    if (DeviceCall(handle, VTN_CTL_DELETE_ARRAY, in, sizeof(in), &out, sizeof(out)) != 0)
        return -1;
    return static_cast<int>(out);
}

int net_vtn_add_disk_to_array(int handle, unsigned int array, unsigned int disk)
{
    uint32_t in[2] = {array, disk};
    return DeviceCall(handle, VTN_CTL_ADD_DISK_TO_ARRAY, in, sizeof(in), nullptr, 0);
}

int net_vtn_add_spare_disk(int handle, unsigned int disk)
{
    uint32_t in = disk;
    return DeviceCall(handle, VTN_CTL_ADD_SPARE_DISK, &in, sizeof(in), nullptr, 0);
}

int net_vtn_remove_spare_disk(int handle, unsigned int disk)
{
    uint32_t in = disk;
    return DeviceCall(handle, VTN_CTL_REMOVE_SPARE_DISK, &in, sizeof(in), nullptr, 0);
}

int net_vtn_set_array_state(int handle, unsigned int array, unsigned int state)
{
    uint32_t in[2] = {array, state};
    return DeviceCall(handle, VTN_CTL_SET_ARRAY_STATE, in, sizeof(in), nullptr, 0);
}

namespace {
// u32 device id followed by a record.
template <typename Record>
int IdAndRecordCall(int handle, uint32_t code, unsigned int id, const Record* record)
{
    if (record == nullptr)
        return -1;
    unsigned char in[4 + sizeof(Record)];
    uint32_t id32 = id;
    memcpy(in, &id32, 4);
    memcpy(in + 4, record, sizeof(Record));
    return DeviceCall(handle, code, in, sizeof(in), nullptr, 0);
}
}  // namespace

int net_vtn_set_array_info(int handle, unsigned int array, _ALTERABLE_ARRAY_INFO* info)
{
    return IdAndRecordCall(handle, VTN_CTL_SET_ARRAY_INFO, array, info);
}

int net_vtn_set_device_info(int handle, unsigned int id, _ALTERABLE_DEVICE_INFO* info)
{
    return IdAndRecordCall(handle, VTN_CTL_SET_DEVICE_INFO, id, info);
}

int net_vtn_set_device_info_v2(int handle, unsigned int id, _ALTERABLE_DEVICE_INFO_V2* info)
{
    return IdAndRecordCall(handle, VTN_CTL_SET_DEVICE_INFO_V2, id, info);
}

int net_vtn_rescan_devices(int handle)
{
    return DeviceCall(handle, VTN_CTL_RESCAN_DEVICES, nullptr, 0, nullptr, 0);
}

int net_vtn_get_qzr_info(int handle, unsigned int id, _VTNQZR_INFO* info)
{
    if (info == nullptr)
        return -1;
    uint32_t in = id;
    return DeviceCall(handle, VTN_CTL_GET_QZR_INFO, &in, sizeof(in), info, sizeof(*info));
}

int net_vtn_set_qzr_info(int handle, unsigned int id, _VTNQZR_INFO* info)
{
    return IdAndRecordCall(handle, VTN_CTL_SET_QZR_INFO, id, info);
}

int net_vtn_lock_device(int handle, unsigned int id, unsigned int how, uint8_t flag)
{
    unsigned char in[9];
    uint32_t words[2] = {id, how};
    memcpy(in, words, 8);
    in[8] = flag;
    return DeviceCall(handle, VTN_CTL_LOCK_DEVICE, in, sizeof(in), nullptr, 0);
}

int net_vtn_unlock_device(int handle, unsigned int id)
{
    uint32_t in = id;
    return DeviceCall(handle, VTN_CTL_UNLOCK_DEVICE, &in, sizeof(in), nullptr, 0);
}

int net_vtn_ide_pass_through(int, _IDE_PASS_THROUGH_HEADER*)
{
    return -1;
}

int net_vtn_add_dedicated_spare(int handle, unsigned int array, unsigned int disk)
{
    uint32_t in[2] = {array, disk};
    return DeviceCall(handle, VTN_CTL_ADD_DEDICATED_SPARE, in, sizeof(in), nullptr, 0);
}

namespace {
// Count word, then `ids` of the caller's ids; answered by one u32.
int RemovalCall(int handle, uint32_t code, unsigned int countWord, unsigned int ids, const unsigned int* list)
{
    if (ConnectedSlot(handle) == nullptr || ids > kMaxRemoveCount || (ids > 0 && list == nullptr))
        return -1;
    size_t n = size_t(ids) + 1;
    std::unique_ptr<uint32_t[]> in(new (std::nothrow) uint32_t[n]);
    if (!in)
        return -1;
    in[0] = countWord;
    for (unsigned int i = 0; i < ids; ++i)
        in[i + 1] = list[i];
    uint32_t out = 0;
    if (DeviceCall(handle, code, in.get(), static_cast<uint32_t>(n * sizeof(uint32_t)), &out, sizeof(out)) != 0)
        return -1;
    return static_cast<int>(out);
}
}  // namespace

int net_vtn_remove_devices(int handle, unsigned int count, unsigned int* ids)
{
    return RemovalCall(handle, kCtlRemoveDevices, count, count & 0xFF, ids);
}

int net_vtn_query_remove(int handle, unsigned int count, unsigned int* ids)
{
    return RemovalCall(handle, kCtlQueryRemove, count, count, ids);
}
