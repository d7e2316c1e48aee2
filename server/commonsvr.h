// Shared server state: the server record gSvrGlobal with its single client slot and flags word,
// start-up, the accept loop and login, the request thread, and the entry points of the background
// threads (poll, tasks, mail) that other server sources define.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <pthread.h>

#include "drvrec.h"
#include "global.h"
#include "svrrec.h"

// One client slot. Not a wire record; shared between threads under gSvrGlobal.clientLock.
struct _VTN_CLIENT_INFO {
    char ip[64];              // peer's dotted IPv4 text, NUL-terminated
    _VTN_USER_INFO user;      // logged-in user's record; user.rights is checked by every request
    int commandSocket;        // request connection, -1 when none
    int eventSocket;          // bound event channel, -1 when none
    uint8_t flags;            // VTN_SLOT_IN_USE, VTN_SLOT_LOGGED_IN
    pthread_t requestThread;  // ProcessRemoteRequest of this client
};

constexpr uint8_t VTN_SLOT_IN_USE = 0x01;
constexpr uint8_t VTN_SLOT_LOGGED_IN = 0x02;  // the login was accepted: an event channel may bind
constexpr int VTN_MAX_CLIENTS = 1;   // the table has one slot

// Flags word bits.
constexpr uint32_t VTN_FLAG_RELOAD_MAIL = 0x02;    // mail settings and recipients must be reloaded
constexpr uint32_t VTN_FLAG_NEW_EVENT = 0x04;      // the event log may hold lines not yet mailed
constexpr uint32_t VTN_FLAG_RELOAD_TASKS = 0x08;   // today's task list must be rebuilt
constexpr uint32_t VTN_FLAG_STOP = 0x80000000u;    // loops run only while clear
constexpr uint32_t VTN_FLAGS_AT_START = VTN_FLAG_RELOAD_MAIL | VTN_FLAG_NEW_EVENT | VTN_FLAG_RELOAD_TASKS;

constexpr uint16_t VTN_DEFAULT_SERVER_PORT = 7402;
constexpr uint16_t VTN_DEFAULT_EVENT_PORT = 7403;

// A request head whose total length lies outside [24, VTN_MAX_REQUEST] ends the session.
constexpr uint32_t VTN_MAX_REQUEST = 64 * 1024;

struct _VTN_SERVER_GLOBAL {
    _VTN_CLIENT_INFO client[VTN_MAX_CLIENTS];
    int serverSocket;                 // request listen socket
    uint16_t serverPort;
    int eventServerSocket;            // event listen socket
    uint16_t eventPort;
    std::atomic<uint32_t> flags;      // VTN_FLAG_*
    pthread_t pollThread;
    pthread_t eventThread;
    pthread_t mailThread;
    _VTN_MAIL_RECIPIENT_INFO* recipients;  // mail monitor's list; nullptr when none
    _VTN_TASK_INFO* tasks;                 // today's task list (poll thread); nullptr when none
    int taskCount;
    uint32_t taskDay;                      // day of the month of the last task-list build
    std::mutex clientLock;                 // guards every field of client[] after start-up
};

extern _VTN_SERVER_GLOBAL gSvrGlobal;

// Wakes the mail monitor when its current wait is for one of bits (commonsvr_mail.cpp).
void MailMonitorWake(uint32_t bits);
inline void SetSvrFlag(uint32_t bit)
{
    gSvrGlobal.flags.fetch_or(bit);
    MailMonitorWake(bit);
}
inline void ClearSvrFlag(uint32_t bit) { gSvrGlobal.flags.fetch_and(~bit); }
inline bool TestSvrFlag(uint32_t bit) { return (gSvrGlobal.flags.load() & bit) != 0; }
inline bool SvrStopping() { return TestSvrFlag(VTN_FLAG_STOP); }

// Time-outs in seconds. Both default to 60 and can be shortened for tests through the environment,
// read once by Initialization:
//   VTN_LOGIN_TIMEOUT  greeting send, login receive, post-login notice, event-channel bind receive
//   VTN_REPLY_TIMEOUT  receive of a request body after its head, and every reply send
int SvrLoginTimeout();
int SvrReplyTimeout();
void SvrReadTimeouts();

// --- process (commonsvr.cpp; main.cpp holds main and Make_Daemon) ---
int vtnmainthread(void* arg);
// Blocks SIGINT and SIGTERM (taken later by one thread with sigwait) and ignores SIGPIPE.
void BlockShutdownSignals();
// Blocks SIGINT and SIGTERM in the calling thread (so in every thread started after it), ignores
// SIGPIPE, and starts the one thread that takes SIGINT and SIGTERM with sigwait and runs the shutdown.
void VTN_SET_ON_EXIT_HANDLER();
void sig_handle(int sig);
int Initialization();
int StartCommunication();
int StartListening(uint16_t port);
void terminate_all_child_threads();

// --- client slot (commonsvr.cpp) ---
// The first slot not in use, or nullptr. Call with clientLock held.
_VTN_CLIENT_INFO* GetFreeClient();
// Closes both sockets of a slot (shutdown, close), zeroes it, sets both sockets to -1. Takes the lock.
void ResetClient(_VTN_CLIENT_INFO* slot);
// Resets the slot whose command socket is sock (not called by the system).
void ResetClient(int sock);
int GetClientPos(int sock);
// Closes the slot's event channel and sets it to -1 (request 0x300/0x305). Takes the lock.
void DropEventChannel(_VTN_CLIENT_INFO* slot);

// --- login and sessions (commonsvr.cpp) ---
// Greeting, login and the answer: a refused login gets its status (after a pause); an accepted one
// the status and the notice. 0 when the client is logged in, -1 otherwise.
int handshakewithclient(_VTN_CLIENT_INFO* slot);
// Greeting, login check, log line; sends the status only of a refused login.
bool Authenticated(_VTN_CLIENT_INFO* slot);
// Hands a logged-in slot to the request thread (started with the first session). False when
// that thread cannot be started.
bool ServeSession(_VTN_CLIENT_INFO* slot);
uint32_t check_user(_VTN_USER_INFO* login, _VTN_CLIENT_INFO* slot);
void* EventServer(void* arg);
void* ProcessRemoteRequest(void* slot);
// Handles one event-channel bind on an accepted socket: keeps it as the slot's event socket or
// closes it. peerIp is the connection's dotted address.
void BindEventChannel(int sock, const char* peerIp);

// --- request dispatcher (defined by the dispatcher source) ---
// One whole request packet; the head's length field gives the buffer size (24 to VTN_MAX_REQUEST,
// checked by the request thread). Sends the reply on slot->commandSocket.
int ProcessUserCommand(_VTN_CLIENT_INFO* slot, char* request);

// --- poll thread and events (commonsvr_poll.cpp, drvdep_events.cpp) ---
void* polleventthread(void* arg);
void PollingEvents();
int TranslateVtnEvent(_VTN_EVENT* event, _VTN_LOG_EVENT* out);
void GetLocation(uint32_t id, char* out, size_t outSize);
void GetArrayName(uint32_t id, char* out, size_t outSize);
// Pushes a log event to the event channels (not to `originator`), sets VTN_FLAG_NEW_EVENT.
int EventNotification(_VTN_LOG_EVENT* event, _VTN_CLIENT_INFO* originator);

// --- scheduled tasks (commonsvr_tasks.cpp) ---
void CheckScheduledTasks(_TIME_RECORD now);
void AddTaskToList(_VTN_TASK_INFO* task);
void ExecuteTask(_VTN_TASK_INFO* entry);
void SaveTaskEvent(const char* taskName, bool started);
bool FillTaskKey(_VTN_TASK_INFO* task);
bool GetFirstPhysicalDevice(uint32_t id, _LOGICAL_DEVICE_INFO* out);
// Frees today's task list (before a rebuild).
void FreeTaskList();

// --- mail monitor (commonsvr_mail.cpp) ---
void* mailmonitor(void* arg);
// Frees the recipients list (before a reload).
void FreeRecipientList();
