// The request dispatcher: one table of every served request with the length it needs and the
// right it asks, checked before any handler runs, then one handler per request.
#include <cstdlib>
#include <cstring>

#include "commonsvr.h"
#include "drvdep.h"
#include "drvrec.h"
#include "intfimp.h"
#include "svrrec.h"
#include "vtnsmtp.h"

namespace {

// One request in progress. The buffer holds `len` bytes (the head's length, at least 24).
struct Request {
    _VTN_CLIENT_INFO* slot;
    char* buf;
    uint32_t len;
    int sock;
    _VTN_USER_INFO user;   // the slot's user, copied when the request came
    char ip[64];
};

// What a handler asks the dispatcher to send.
struct Answer {
    enum Kind { Status, Data, Nothing } kind;
    uint32_t status;
};

Answer StatusOf(uint32_t status) { return {Answer::Status, status}; }
Answer DataReply() { return {Answer::Data, VTN_SUCCESS}; }
Answer DataOrStatus(uint32_t status) { return status == VTN_SUCCESS ? DataReply() : StatusOf(status); }
// The handler sent its own answer (or none is due).
Answer Sent(uint32_t status) { return {Answer::Nothing, status}; }

template <typename T>
T* RecordAt(Request& r)
{
    return reinterpret_cast<T*>(r.buf + sizeof(_Packet_Head));  // packed: any address will do
}

template <typename T>
T FieldAt(const Request& r, size_t off)
{
    T v{};
    ReadField(r.buf, r.len, off, &v);  // the table made sure it fits
    return v;
}

int IndexOf(uint32_t index) { return index > 0x7FFFFFFFu ? -1 : static_cast<int>(index); }

// ---- group 0x100: server ----

Answer Reboot(Request& r)
{
    // The answer goes out before the machine goes down.
    SendErrorToRemote(r.sock, VTN_SUCCESS, nullptr);
    cs_vtn_reboot_server(0);
    return Sent(VTN_SUCCESS);
}

Answer ServerInfo(Request& r)
{
    VtnFillServerInfo(RecordAt<_CS_SERVER_INFO>(r));
    return DataReply();
}

Answer GetServerParam(Request& r)
{
    auto* p = RecordAt<_CS_ALTERABLE_SERVER_PARAM>(r);
    VtnGetDataFromInitFile(p);  // zeroes the record; a missing file leaves the flags 0
    // A port the file does not give is the port in use.
    if ((p->flags & VTN_PARAM_SERVER_PORT) == 0)
        p->serverPort = gSvrGlobal.serverPort;
    if ((p->flags & VTN_PARAM_EVENT_PORT) == 0)
        p->eventPort = gSvrGlobal.eventPort;
    return DataReply();
}

Answer SetServerParam(Request& r)
{
    return StatusOf(static_cast<uint32_t>(UpdateServerParams(RecordAt<_CS_ALTERABLE_SERVER_PARAM>(r))));
}

// ---- group 0x200: mail ----

Answer GetSmtp(Request& r)
{
    uint32_t st = cs_vtn_get_smtp_server(0, RecordAt<_VTN_SMTP_SERVER_INFO>(r));
    if (st == VTN_SUCCESS)
        SetSvrFlag(VTN_FLAG_RELOAD_MAIL);
    return DataOrStatus(st);
}

Answer SetSmtp(Request& r)
{
    uint32_t st = cs_vtn_set_smtp_server(0, RecordAt<_VTN_SMTP_SERVER_INFO>(r));
    if (st == VTN_SUCCESS)
        SetSvrFlag(VTN_FLAG_RELOAD_MAIL);
    return StatusOf(st);
}

Answer EnumRecipient(Request& r)
{
    int index = IndexOf(FieldAt<uint32_t>(r, offsetof(_VTN_REQ_ENUM_RECIPIENT, index)));
    if (index < 0)
        return StatusOf(VTN_NO_MORE_ENTRIES);
    return DataOrStatus(cs_vtn_enum_mail_recipient(0, RecordAt<_VTN_MAIL_RECIPIENT_INFO>(r), index));
}

Answer SetRecipient(Request& r)
{
    auto action = FieldAt<uint8_t>(r, offsetof(_VTN_REQ_SET_RECIPIENT, action));
    uint32_t st = cs_vtn_set_mail_recipients(0, RecordAt<_VTN_MAIL_RECIPIENT_INFO>(r), action);
    if (st == VTN_SUCCESS)
        SetSvrFlag(VTN_FLAG_RELOAD_MAIL);
    return StatusOf(st);
}

Answer TestMail(Request& r)
{
    _VTN_SMTP_SERVER_INFO smtp{};
    uint32_t st = cs_vtn_get_smtp_server(0, &smtp);
    if (st != VTN_SUCCESS)
        return StatusOf(st);
    auto* rcpt = RecordAt<_VTN_MAIL_RECIPIENT_INFO>(r);
    rcpt->address[sizeof(rcpt->address) - 1] = '\0';
    rcpt->name[sizeof(rcpt->name) - 1] = '\0';
    return StatusOf(vtn_test_mail(&smtp, rcpt));
}

// ---- group 0x300: event log ----

Answer EnumEvents(Request& r)
{
    int index = IndexOf(FieldAt<uint32_t>(r, offsetof(_VTN_REQ_ENUM_EVENT, index)));
    if (index < 0)
        return StatusOf(VTN_NO_MORE_ENTRIES);
    return DataOrStatus(cs_vtn_enum_event(0, RecordAt<_VTN_LOG_EVENT>(r), index));
}

Answer SaveEvent(Request& r)
{
    auto* ev = RecordAt<_VTN_LOG_EVENT>(r);
    // One event is one line of the log: the text ends in the record, and holds no line break.
    ev->text[sizeof(ev->text) - 1] = '\0';
    for (char& c : ev->text)
        if (c == '\r' || c == '\n')
            c = ' ';
    // A control character as severity would break the line's columns.
    if (static_cast<unsigned char>(ev->severity) < 0x20)
        ev->severity = 'I';
    SetTimeRecord(&ev->time);
    cs_vtn_save_log_event(0, ev);
    EventNotification(ev, r.slot);
    return StatusOf(TimeRecordValue(ev->time));
}

Answer ClearEvents(Request&)
{
    return StatusOf(cs_vtn_clear_event_log(0));
}

Answer EventChannelOff(Request& r)
{
    DropEventChannel(r.slot);
    return StatusOf(VTN_SUCCESS);
}

// ---- group 0x400: users ----

Answer EnumUsers(Request& r)
{
    int index = IndexOf(FieldAt<uint32_t>(r, offsetof(_VTN_REQ_ENUM_USER, index)));
    if (index < 0)
        return StatusOf(VTN_NO_MORE_ENTRIES);
    return DataOrStatus(cs_vtn_enum_user(0, RecordAt<_VTN_USER_INFO>(r), index));
}

Answer SetUserRecord(Request& r)
{
    auto* rec = RecordAt<_VTN_USER_INFO>(r);
    rec->name[sizeof(rec->name) - 1] = '\0';
    rec->password[sizeof(rec->password) - 1] = '\0';
    rec->description[sizeof(rec->description) - 1] = '\0';
    auto action = FieldAt<uint8_t>(r, offsetof(_VTN_REQ_SET_USER, action));

    bool own = strcmp(rec->name, r.user.name) == 0 &&
               ((rec->flags ^ r.user.flags) & VTN_USER_SYSTEM) == 0;
    // Without the users right, only one's own password may be changed.
    if ((r.user.rights & VTN_RIGHT_USERS) == 0 && !(own && action == VTN_USER_SET_PASSWORD))
        return StatusOf(VTN_NO_RIGHT);
    if (action == VTN_USER_SET_PASSWORD && (rec->flags & VTN_USER_SYSTEM) != 0)
        return StatusOf(VTN_FAILURE);
    uint32_t st = cs_vtn_set_user(0, rec, action);
    // A change of one's own rights holds for this session at once, not only from the next login.
    if (st == VTN_SUCCESS && own && action == VTN_USER_SET_RIGHTS) {
        std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
        if (strncmp(r.slot->user.name, r.user.name, sizeof(r.user.name)) == 0) {
            r.slot->user.rights = rec->rights;
            r.slot->user.rights2 = rec->rights2;
        }
    }
    return StatusOf(st);
}

Answer CurrentUser(Request& r)
{
    memcpy(RecordAt<_VTN_USER_INFO>(r), &r.user, sizeof(r.user));
    return DataReply();
}

// ---- group 0x500: logout ----

Answer Logout(Request& r)
{
    char name[64];
    CopyField(name, sizeof(name), r.user.name, sizeof(r.user.name));
    char text[256];
    FormatText(text, sizeof(text), "User %s(from %s) exited from system.", name, r.ip);
    SaveStrEvent('I', text);
    SetSvrFlag(VTN_FLAG_NEW_EVENT);
    return Sent(VTN_SUCCESS);  // no answer: the client closes the connection
}

// ---- group 0x600: scheduled tasks ----

Answer EnumTasks(Request& r)
{
    int index = IndexOf(FieldAt<uint32_t>(r, offsetof(_VTN_REQ_ENUM_TASK, index)));
    if (index < 0)
        return StatusOf(VTN_NO_MORE_ENTRIES);
    return DataOrStatus(vtn_enum_tasks(RecordAt<_VTN_TASK_INFO>(r), index));
}

Answer SetTask(Request& r)
{
    auto* task = RecordAt<_VTN_TASK_INFO>(r);
    auto action = FieldAt<uint8_t>(r, offsetof(_VTN_REQ_SET_TASK, action));
    task->name[sizeof(task->name) - 1] = '\0';
    task->creator[sizeof(task->creator) - 1] = '\0';
    task->arrayName[sizeof(task->arrayName) - 1] = '\0';
    if (action == VTN_TASK_ACTION_ADD && !FillTaskKey(task))
        return StatusOf(VTN_ARRAY_NOT_USABLE);
    task->arrayId = VTN_ID_NONE;  // the file never keeps an id: tasks find their array by key
    uint32_t st = vtn_set_task(task, action);
    if (st == VTN_SUCCESS)
        SetSvrFlag(VTN_FLAG_RELOAD_TASKS);
    return StatusOf(st);
}

// ---- group 0x10000000: driver call ----

constexpr size_t kTaskKeySize = sizeof(_VTN_TASK_INFO::serial) + sizeof(_VTN_TASK_INFO::model);

// The 60-byte key of the tasks of an array that is deleted or renamed, taken before the call.
bool CaptureTaskKey(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t key[kTaskKeySize])
{
    uint32_t id = 0;
    if (code == VTN_CTL_DELETE_ARRAY) {
        if (!ReadField(in, inSize, 0, &id))
            return false;
    } else if (code == VTN_CTL_SET_ARRAY_INFO) {
        uint32_t valid = 0;
        if (inSize < 4 + sizeof(_ALTERABLE_ARRAY_INFO) || !ReadField(in, inSize, 0, &id) ||
            !ReadField(in, inSize, 4, &valid) || (valid & VTN_ALTER_ARRAY_NAME) == 0)
            return false;
    } else {
        return false;
    }
    _LOGICAL_DEVICE_INFO disk{};
    if (!GetFirstPhysicalDevice(id, &disk) || (disk.u.disk.status & VTN_DISK_DISABLED) != 0)
        return false;
    memcpy(key, disk.u.disk.serial, sizeof(disk.u.disk.serial));
    memcpy(key + sizeof(disk.u.disk.serial), disk.u.disk.model, sizeof(disk.u.disk.model));
    return true;
}

// Deletes (0xFF07) or renames (0xFF10) the tasks that carry the key.
void UpdateTasksOfArray(uint32_t code, const uint8_t* in, const uint8_t key[kTaskKeySize])
{
    _VTN_TASK_INFO task{};
    // Bounded: every pass either moves on or removes one task.
    for (int i = 0, passes = 0; passes < 100000 && vtn_enum_tasks(&task, i) == VTN_SUCCESS; ++passes) {
        if (memcmp(task.serial, key, kTaskKeySize) != 0) {
            ++i;
            continue;
        }
        if (code == VTN_CTL_DELETE_ARRAY) {
            if (vtn_set_task(&task, VTN_TASK_ACTION_DELETE) != VTN_SUCCESS)
                ++i;  // keep walking rather than retry the same entry
        } else {
            memcpy(task.arrayName, in + 8, VTN_ARRAY_NAME_FIELD);
            vtn_set_task(&task, VTN_TASK_ACTION_MODIFY);  // one failed rename does not stop the others
            ++i;
        }
    }
}

Answer DriverCall(Request& r)
{
    auto* call = reinterpret_cast<_VTN_DRIVER_CALL*>(r.buf);
    const size_t inSize = call->inSize;
    const size_t outSize = call->outSize;
    if (sizeof(_VTN_DRIVER_CALL) + inSize > r.len)
        return StatusOf(VTN_UNSUPPORTED);  // the input is not all there
    if (outSize > VTN_MAX_DRIVER_OUTPUT)
        return StatusOf(VTN_DRIVER_FAILED);

    uint8_t* input = inSize != 0 ? reinterpret_cast<uint8_t*>(r.buf) + sizeof(_VTN_DRIVER_CALL) : nullptr;
    const size_t replyLen = sizeof(_VTN_DRIVER_REPLY) + outSize;
    auto* reply = static_cast<_VTN_DRIVER_REPLY*>(calloc(1, replyLen));
    if (reply == nullptr)
        return StatusOf(VTN_NO_MEMORY);
    memcpy(&reply->head, &call->head, sizeof(_Packet_Head));
    reply->head.length = static_cast<uint32_t>(replyLen);
    reply->head.type = VTN_PACKET_REPLY;
    reply->code = call->code;
    reply->outSize = static_cast<uint32_t>(outSize);
    uint8_t* output = outSize != 0 ? reinterpret_cast<uint8_t*>(reply) + sizeof(_VTN_DRIVER_REPLY) : nullptr;

    // Tasks follow their array only on a call the caller may make.
    const VtnControlRule* rule = VtnFindControlRule(call->code);
    bool allowed = rule != nullptr && (rule->rights == 0 || (r.user.rights & rule->rights) != 0);
    uint8_t key[kTaskKeySize];
    bool haveKey = allowed && CaptureTaskKey(call->code, input, static_cast<uint32_t>(inSize), key);

    uint32_t returned = call->returned;
    int rc = vtn_call_driver(call->code, input, static_cast<uint32_t>(inSize), output,
                             static_cast<uint32_t>(outSize), &returned, r.user.rights);
    reply->returned = call->returned;  // sent back unchanged

    // Tasks follow an array only that the driver deleted (output word 0) or renamed.
    uint32_t word = 0;
    bool done = rc == 0 && (call->code != VTN_CTL_DELETE_ARRAY || (ReadField(output, outSize, 0, &word) && word == 0));

    uint32_t st = VTN_SUCCESS;
    if (rc != 0) {
        st = VTN_DRIVER_FAILED;
        SendErrorToRemote(r.sock, static_cast<int>(st), nullptr);
    } else {
        SendBufToRemote(r.sock, reinterpret_cast<char*>(reply), static_cast<int>(replyLen), SvrReplyTimeout(),
                        nullptr);
    }
    free(reply);

    if (haveKey && done)
        UpdateTasksOfArray(call->code, input, key);
    return Sent(st);
}

// ---- the table ----

constexpr uint32_t kAnyCode = 0xFFFFFFFFu;
constexpr uint32_t kNoRight = 0;

struct RequestRule {
    uint32_t group;
    uint32_t code;     // kAnyCode: every code of the group
    uint32_t size;     // bytes the request must hold
    uint32_t right;    // bit the caller needs; kNoRight: none, or the handler decides
    Answer (*handler)(Request&);
};

constexpr uint32_t kHead = sizeof(_Packet_Head);

constexpr RequestRule kRequests[] = {
    {VTN_GROUP_SYSTEM, VTN_CODE_REBOOT, kHead, VTN_RIGHT_REBOOT, Reboot},
    {VTN_GROUP_SYSTEM, VTN_CODE_SERVER_INFO, sizeof(_VTN_REQ_SERVER_INFO), kNoRight, ServerInfo},
    {VTN_GROUP_SYSTEM, VTN_CODE_GET_SERVER_PARAM, sizeof(_VTN_REQ_SERVER_PARAM), kNoRight, GetServerParam},
    {VTN_GROUP_SYSTEM, VTN_CODE_SET_SERVER_PARAM, sizeof(_VTN_REQ_SERVER_PARAM), VTN_RIGHT_SERVER_PARAM,
     SetServerParam},
    {VTN_GROUP_MAIL, VTN_CODE_GET_SMTP, sizeof(_VTN_REQ_SMTP), VTN_RIGHT_MAIL, GetSmtp},
    {VTN_GROUP_MAIL, VTN_CODE_SET_SMTP, sizeof(_VTN_REQ_SMTP), VTN_RIGHT_MAIL, SetSmtp},
    {VTN_GROUP_MAIL, VTN_CODE_ENUM_RECIPIENT, sizeof(_VTN_REQ_ENUM_RECIPIENT), VTN_RIGHT_MAIL, EnumRecipient},
    {VTN_GROUP_MAIL, VTN_CODE_SET_RECIPIENT, sizeof(_VTN_REQ_SET_RECIPIENT), VTN_RIGHT_MAIL, SetRecipient},
    {VTN_GROUP_MAIL, VTN_CODE_TEST_MAIL, sizeof(_VTN_REQ_RECIPIENT), VTN_RIGHT_MAIL, TestMail},
    {VTN_GROUP_EVENT, VTN_CODE_ENUM_EVENT, sizeof(_VTN_REQ_ENUM_EVENT), kNoRight, EnumEvents},
    {VTN_GROUP_EVENT, VTN_CODE_SAVE_EVENT, sizeof(_VTN_REQ_SAVE_EVENT), kNoRight, SaveEvent},
    {VTN_GROUP_EVENT, VTN_CODE_CLEAR_EVENTS, kHead, VTN_RIGHT_CLEAR_EVENTS, ClearEvents},
    {VTN_GROUP_EVENT, VTN_CODE_EVENT_CHANNEL_OFF, kHead, kNoRight, EventChannelOff},
    {VTN_GROUP_USER, VTN_CODE_ENUM_USER, sizeof(_VTN_REQ_ENUM_USER), VTN_RIGHT_USERS, EnumUsers},
    {VTN_GROUP_USER, VTN_CODE_SET_USER, sizeof(_VTN_REQ_SET_USER), kNoRight, SetUserRecord},
    {VTN_GROUP_USER, VTN_CODE_CURRENT_USER, sizeof(_VTN_REQ_USER), kNoRight, CurrentUser},
    {VTN_GROUP_LOGOUT, kAnyCode, kHead, kNoRight, Logout},
    {VTN_GROUP_TASK, VTN_CODE_ENUM_TASK, sizeof(_VTN_REQ_ENUM_TASK), kNoRight, EnumTasks},
    {VTN_GROUP_TASK, VTN_CODE_SET_TASK, sizeof(_VTN_REQ_SET_TASK), VTN_RIGHT_TASKS, SetTask},
    {VTN_GROUP_DRIVER, kAnyCode, sizeof(_VTN_DRIVER_CALL), kNoRight, DriverCall},
};

const RequestRule* FindRequest(uint32_t group, uint32_t code)
{
    for (const RequestRule& rule : kRequests)
        if (rule.group == group && (rule.code == kAnyCode || rule.code == code))
            return &rule;
    return nullptr;
}

Answer Dispatch(Request& r)
{
    auto* head = reinterpret_cast<_Packet_Head*>(r.buf);
    if (head->type != VTN_PACKET_REQUEST)
        return StatusOf(VTN_UNSUPPORTED);
    head->type = VTN_PACKET_REPLY;
    // Mail settings: the right comes before the code, so an unknown code is refused too.
    if (head->group == VTN_GROUP_MAIL && (r.user.rights & VTN_RIGHT_MAIL) == 0)
        return StatusOf(VTN_NO_RIGHT);
    const RequestRule* rule = FindRequest(head->group, head->code);
    if (rule == nullptr || r.len < rule->size)
        return StatusOf(VTN_UNSUPPORTED);
    if (rule->right != kNoRight && (r.user.rights & rule->right) == 0)
        return StatusOf(VTN_NO_RIGHT);
    return rule->handler(r);
}

}  // namespace

int ProcessUserCommand(_VTN_CLIENT_INFO* slot, char* request)
{
    if (slot == nullptr || request == nullptr)
        return -1;
    Request r{};
    r.slot = slot;
    r.buf = request;
    memcpy(&r.len, request, sizeof(r.len));
    if (r.len < sizeof(_Packet_Head))
        return -1;  // the request thread never passes such a head
    {
        std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
        r.sock = slot->commandSocket;
        r.user = slot->user;
        CopyField(r.ip, sizeof(r.ip), slot->ip, sizeof(slot->ip));
    }
    r.user.name[sizeof(r.user.name) - 1] = '\0';

    Answer a = Dispatch(r);
    switch (a.kind) {
    case Answer::Status:
        SendErrorToRemote(r.sock, static_cast<int>(a.status), nullptr);
        break;
    case Answer::Data:
        SendBufToRemote(r.sock, r.buf, static_cast<int>(r.len), SvrReplyTimeout(), nullptr);
        break;
    case Answer::Nothing:
        break;
    }
    return static_cast<int>(a.status);
}
