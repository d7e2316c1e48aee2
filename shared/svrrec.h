// Wire records between the GUI and the server: the login exchange, the request catalogue
// (groups, codes, rights, request layouts), the driver-call frame and the server and mail records.
#pragma once
#include <cstddef>
#include <cstdint>

#include "commu.h"
#include "global_log.h"
#include "global_task.h"
#include "global_time.h"
#include "global_user.h"
#include "vtnstatus.h"

// ---- Request groups and codes ----
constexpr uint32_t VTN_GROUP_SYSTEM = 0x100;
constexpr uint32_t VTN_CODE_REBOOT = 0x101;
constexpr uint32_t VTN_CODE_SERVER_INFO = 0x102;
constexpr uint32_t VTN_CODE_GET_SERVER_PARAM = 0x104;
constexpr uint32_t VTN_CODE_SET_SERVER_PARAM = 0x105;

constexpr uint32_t VTN_GROUP_MAIL = 0x200;
constexpr uint32_t VTN_CODE_GET_SMTP = 0x201;
constexpr uint32_t VTN_CODE_SET_SMTP = 0x202;
constexpr uint32_t VTN_CODE_ENUM_RECIPIENT = 0x203;
constexpr uint32_t VTN_CODE_SET_RECIPIENT = 0x205;
constexpr uint32_t VTN_CODE_TEST_MAIL = 0x206;

constexpr uint32_t VTN_GROUP_EVENT = 0x300;
constexpr uint32_t VTN_CODE_ENUM_EVENT = 0x301;
constexpr uint32_t VTN_CODE_SAVE_EVENT = 0x303;
constexpr uint32_t VTN_CODE_CLEAR_EVENTS = 0x304;
constexpr uint32_t VTN_CODE_EVENT_CHANNEL_OFF = 0x305;

constexpr uint32_t VTN_GROUP_USER = 0x400;
constexpr uint32_t VTN_CODE_ENUM_USER = 0x401;
constexpr uint32_t VTN_CODE_SET_USER = 0x403;
constexpr uint32_t VTN_CODE_CURRENT_USER = 0x404;

constexpr uint32_t VTN_GROUP_LOGOUT = 0x500;  // any code; no reply

constexpr uint32_t VTN_GROUP_TASK = 0x600;
constexpr uint32_t VTN_CODE_ENUM_TASK = 0x601;
constexpr uint32_t VTN_CODE_SET_TASK = 0x602;

constexpr uint32_t VTN_GROUP_DRIVER = 0x10000000;  // code: the client sends 0

// ---- Rights word bits (first rights word of the logged-in user) ----
constexpr uint32_t VTN_RIGHT_CREATE_ARRAY = 0x1;
constexpr uint32_t VTN_RIGHT_DELETE_ARRAY = 0x2;
constexpr uint32_t VTN_RIGHT_RENAME_ARRAY = 0x4;
constexpr uint32_t VTN_RIGHT_REBUILD = 0x8;
constexpr uint32_t VTN_RIGHT_VERIFY = 0x10;
constexpr uint32_t VTN_RIGHT_ARRAY_STATE = 0x20;
constexpr uint32_t VTN_RIGHT_DUPLICATE = 0x40;
constexpr uint32_t VTN_RIGHTS_ARRAY_STATE_ANY = 0x78;  // any of these: array state change
constexpr uint32_t VTN_RIGHT_REMOVE_SPARE = 0x10000;  // also add disk to array
constexpr uint32_t VTN_RIGHT_ADD_SPARE = 0x20000;     // also dedicated spare
constexpr uint32_t VTN_RIGHT_USERS = 0x100000;
constexpr uint32_t VTN_RIGHT_MAIL = 0x200000;
constexpr uint32_t VTN_RIGHT_REBOOT = 0x400000;
constexpr uint32_t VTN_RIGHT_CLEAR_EVENTS = 0x800000;
constexpr uint32_t VTN_RIGHT_SMART = 0x1000000;
constexpr uint32_t VTN_RIGHTS_DEVICE_ANY = 0x0F000000;  // any of these: disk settings
constexpr uint32_t VTN_RIGHT_SERVER_PARAM = 0x10000000;
constexpr uint32_t VTN_RIGHT_TASKS = 0x20000000;
constexpr uint32_t VTN_RIGHTS_ALL = 0xFFFFFFFFu;

// Largest driver-call output size the server accepts.
constexpr uint32_t VTN_MAX_DRIVER_OUTPUT = 64 * 1024;

// Login kind of _VTN_LOGIN_REQUEST.
constexpr uint32_t VTN_LOGIN_SYSTEM = 1;  // anything else: a user of the users file

#pragma pack(push, 1)

// ---- Login exchange (request port) ----

// Greeting, server -> client. Only length and type are written; the magic is not.
struct _VTN_LOGIN_GREETING {
    _Packet_Head head;      // length 40, type 1
    char key[16];           // 8 key characters, then 8 zero bytes
};
static_assert(sizeof(_VTN_LOGIN_GREETING) == 40);
static_assert(offsetof(_VTN_LOGIN_GREETING, key) == 24);

// Login, client -> server.
struct _VTN_LOGIN_REQUEST {
    _Packet_Head head;      // length 156, magic checked
    char name[64];
    char password[64];      // first 16 bytes DES-ECB encrypted with the key's first 8 bytes
    uint32_t kind;          // VTN_LOGIN_SYSTEM or a users-file user
};
static_assert(sizeof(_VTN_LOGIN_REQUEST) == 156);
static_assert(offsetof(_VTN_LOGIN_REQUEST, name) == 24);
static_assert(offsetof(_VTN_LOGIN_REQUEST, password) == 88);
static_assert(offsetof(_VTN_LOGIN_REQUEST, kind) == 152);

// Post-login notice, server -> client (type 3), and the event-channel bind, client -> server
// on the event port (type not checked): the same 28 bytes.
struct _VTN_LOGIN_NOTICE {
    _Packet_Head head;      // length 28
    uint16_t eventPort;
    uint16_t slot;          // always 0
};
static_assert(sizeof(_VTN_LOGIN_NOTICE) == 28);
static_assert(offsetof(_VTN_LOGIN_NOTICE, eventPort) == 24);
static_assert(offsetof(_VTN_LOGIN_NOTICE, slot) == 26);
using _VTN_EVENT_BIND = _VTN_LOGIN_NOTICE;

// Pushed event, server -> client on the event channel (type 3, length 588).
struct _VTN_EVENT_PACKET {
    _Packet_Head head;
    _VTN_LOG_EVENT event;
    uint32_t unused;        // zero; the packet is 4 bytes longer than head and event
};
static_assert(sizeof(_VTN_EVENT_PACKET) == 588);
static_assert(offsetof(_VTN_EVENT_PACKET, event) == 24);

// ---- Server records (group 0x100) ----

struct _CS_SERVER_INFO {
    uint32_t version;       // 0x01000000
    uint8_t kind;           // 3
    uint16_t revision;      // 1
    uint8_t zero;
    char osName[64];
    char hostName[64];
    char osVersion[64];
    _TIME_RECORD time;      // server's local time
};
static_assert(sizeof(_CS_SERVER_INFO) == 204);
static_assert(offsetof(_CS_SERVER_INFO, kind) == 4);
static_assert(offsetof(_CS_SERVER_INFO, revision) == 5);
static_assert(offsetof(_CS_SERVER_INFO, osName) == 8);
static_assert(offsetof(_CS_SERVER_INFO, hostName) == 72);
static_assert(offsetof(_CS_SERVER_INFO, osVersion) == 136);
static_assert(offsetof(_CS_SERVER_INFO, time) == 200);

constexpr uint32_t VTN_SERVER_INTERFACE_VERSION = 0x01000000;

constexpr uint32_t VTN_PARAM_SERVER_PORT = 0x1;
constexpr uint32_t VTN_PARAM_EVENT_PORT = 0x2;
constexpr uint32_t VTN_PARAM_OPTION = 0x4;

struct _CS_ALTERABLE_SERVER_PARAM {
    uint32_t flags;         // VTN_PARAM_* valid bits
    uint16_t serverPort;
    uint16_t eventPort;
    uint32_t option;        // carried, never stored
};
static_assert(sizeof(_CS_ALTERABLE_SERVER_PARAM) == 12);
static_assert(offsetof(_CS_ALTERABLE_SERVER_PARAM, serverPort) == 4);
static_assert(offsetof(_CS_ALTERABLE_SERVER_PARAM, eventPort) == 6);
static_assert(offsetof(_CS_ALTERABLE_SERVER_PARAM, option) == 8);

// ---- Mail records (group 0x200; also the records of "/etc/vtnmailset.dat") ----

constexpr uint8_t VTN_SMTP_NOTIFY_OFF = 0x02;

struct _VTN_SMTP_SERVER_INFO {
    char host[64];
    uint16_t port;
    uint8_t flags;          // VTN_SMTP_NOTIFY_OFF
    uint8_t unused;
    char reserved1[64];
    char reserved2[64];
    char sender[64];        // "Mail From"
};
static_assert(sizeof(_VTN_SMTP_SERVER_INFO) == 260);
static_assert(offsetof(_VTN_SMTP_SERVER_INFO, port) == 64);
static_assert(offsetof(_VTN_SMTP_SERVER_INFO, flags) == 66);
static_assert(offsetof(_VTN_SMTP_SERVER_INFO, reserved1) == 68);
static_assert(offsetof(_VTN_SMTP_SERVER_INFO, reserved2) == 132);
static_assert(offsetof(_VTN_SMTP_SERVER_INFO, sender) == 196);

constexpr uint8_t VTN_MAIL_INFO = 0x01;
constexpr uint8_t VTN_MAIL_WARNING = 0x02;
constexpr uint8_t VTN_MAIL_ERROR = 0x04;
constexpr uint8_t VTN_MAIL_IN_USE = 0x80;

constexpr uint8_t VTN_RECIPIENT_ADD = 0;
constexpr uint8_t VTN_RECIPIENT_SET_FLAGS = 1;
constexpr uint8_t VTN_RECIPIENT_SET_NAME = 2;
constexpr uint8_t VTN_RECIPIENT_DELETE = 3;

struct _VTN_MAIL_RECIPIENT_INFO {
    char address[64];       // the record's identity
    char name[64];
    uint8_t flags;          // VTN_MAIL_* severities, VTN_MAIL_IN_USE
    uint8_t unused[3];
};
static_assert(sizeof(_VTN_MAIL_RECIPIENT_INFO) == 132);
static_assert(offsetof(_VTN_MAIL_RECIPIENT_INFO, name) == 64);
static_assert(offsetof(_VTN_MAIL_RECIPIENT_INFO, flags) == 128);

// ---- Request packets: the record at 24, then an index (enumerations) or an action (changes) ----

struct _VTN_REQ_SERVER_INFO {           // 0x100/0x102
    _Packet_Head head;
    _CS_SERVER_INFO info;
};
static_assert(sizeof(_VTN_REQ_SERVER_INFO) == 228);

struct _VTN_REQ_SERVER_PARAM {          // 0x100/0x104, 0x105
    _Packet_Head head;
    _CS_ALTERABLE_SERVER_PARAM param;
};
static_assert(sizeof(_VTN_REQ_SERVER_PARAM) == 36);

struct _VTN_REQ_SMTP {                  // 0x200/0x201, 0x202
    _Packet_Head head;
    _VTN_SMTP_SERVER_INFO smtp;
};
static_assert(sizeof(_VTN_REQ_SMTP) == 284);

struct _VTN_REQ_ENUM_RECIPIENT {        // 0x200/0x203
    _Packet_Head head;
    _VTN_MAIL_RECIPIENT_INFO recipient;
    uint32_t index;
};
static_assert(sizeof(_VTN_REQ_ENUM_RECIPIENT) == 160);
static_assert(offsetof(_VTN_REQ_ENUM_RECIPIENT, index) == 156);

struct _VTN_REQ_SET_RECIPIENT {         // 0x200/0x205
    _Packet_Head head;
    _VTN_MAIL_RECIPIENT_INFO recipient;
    uint8_t action;                     // VTN_RECIPIENT_*
};
static_assert(sizeof(_VTN_REQ_SET_RECIPIENT) == 157);
static_assert(offsetof(_VTN_REQ_SET_RECIPIENT, action) == 156);

struct _VTN_REQ_RECIPIENT {             // 0x200/0x206 (test mail)
    _Packet_Head head;
    _VTN_MAIL_RECIPIENT_INFO recipient;
};
static_assert(sizeof(_VTN_REQ_RECIPIENT) == 156);

struct _VTN_REQ_ENUM_EVENT {            // 0x300/0x301
    _Packet_Head head;
    _VTN_LOG_EVENT event;
    uint32_t index;
};
static_assert(sizeof(_VTN_REQ_ENUM_EVENT) == 588);
static_assert(offsetof(_VTN_REQ_ENUM_EVENT, index) == 584);

struct _VTN_REQ_SAVE_EVENT {            // 0x300/0x303
    _Packet_Head head;
    _VTN_LOG_EVENT event;
};
static_assert(sizeof(_VTN_REQ_SAVE_EVENT) == 584);

struct _VTN_REQ_ENUM_USER {             // 0x400/0x401
    _Packet_Head head;
    _VTN_USER_INFO user;
    uint32_t index;
};
static_assert(sizeof(_VTN_REQ_ENUM_USER) == 300);
static_assert(offsetof(_VTN_REQ_ENUM_USER, index) == 296);

struct _VTN_REQ_SET_USER {              // 0x400/0x403
    _Packet_Head head;
    _VTN_USER_INFO user;
    uint8_t action;                     // VTN_USER_ADD ... VTN_USER_DELETE
};
static_assert(sizeof(_VTN_REQ_SET_USER) == 297);
static_assert(offsetof(_VTN_REQ_SET_USER, action) == 296);

struct _VTN_REQ_USER {                  // 0x400/0x404
    _Packet_Head head;
    _VTN_USER_INFO user;
};
static_assert(sizeof(_VTN_REQ_USER) == 296);

struct _VTN_REQ_ENUM_TASK {             // 0x600/0x601
    _Packet_Head head;
    _VTN_TASK_INFO task;
    uint32_t index;
};
static_assert(sizeof(_VTN_REQ_ENUM_TASK) == 272);
static_assert(offsetof(_VTN_REQ_ENUM_TASK, index) == 268);

struct _VTN_REQ_SET_TASK {              // 0x600/0x602
    _Packet_Head head;
    _VTN_TASK_INFO task;
    uint8_t action;                     // VTN_TASK_ACTION_*
};
static_assert(sizeof(_VTN_REQ_SET_TASK) == 269);
static_assert(offsetof(_VTN_REQ_SET_TASK, action) == 268);

// ---- Driver call (group 0x10000000) ----

// Request: this frame, then inSize input bytes.
struct _VTN_DRIVER_CALL {
    _Packet_Head head;
    uint32_t code;          // control code
    uint32_t inSize;
    uint32_t outSize;
    uint32_t returned;      // the client's returned-count word, sent back unchanged
};
static_assert(sizeof(_VTN_DRIVER_CALL) == 40);
static_assert(offsetof(_VTN_DRIVER_CALL, code) == 24);
static_assert(offsetof(_VTN_DRIVER_CALL, inSize) == 28);
static_assert(offsetof(_VTN_DRIVER_CALL, outSize) == 32);
static_assert(offsetof(_VTN_DRIVER_CALL, returned) == 36);

// Reply (type 2, length 36 + outSize): this frame, then outSize output bytes.
struct _VTN_DRIVER_REPLY {
    _Packet_Head head;
    uint32_t code;
    uint32_t returned;
    uint32_t outSize;
};
static_assert(sizeof(_VTN_DRIVER_REPLY) == 36);
static_assert(offsetof(_VTN_DRIVER_REPLY, code) == 24);
static_assert(offsetof(_VTN_DRIVER_REPLY, returned) == 28);
static_assert(offsetof(_VTN_DRIVER_REPLY, outSize) == 32);

#pragma pack(pop)
