// Server process: start-up, the server record, signals, listening, the accept loop with the login
// exchange, the event-channel bind and the request thread of the logged-in client.
#include "commonsvr.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "commu.h"
#include "encript.h"
#include "intfimp.h"
#include "vtnintf.h"
#include "vtnthread.h"

_VTN_SERVER_GLOBAL gSvrGlobal;

namespace {

constexpr int kDefaultTimeout = 60;
constexpr int kMaxTopDevices = 32;
constexpr uint32_t kAbortInitialization = 8;
constexpr useconds_t kAcceptRetryPause = 100 * 1000;
constexpr time_t kFailedLoginPauseSeconds = 1;

std::atomic<int> gLoginTimeout{kDefaultTimeout};
std::atomic<int> gReplyTimeout{kDefaultTimeout};
// The listening sockets are written by the main thread and closed by the signal thread.
std::atomic<int> gServerListen{-1};
std::atomic<int> gEventListen{-1};

int TimeoutFromEnv(const char* name)
{
    const char* value = getenv(name);
    if (value == nullptr || *value == '\0')
        return kDefaultTimeout;
    char* end = nullptr;
    long n = strtol(value, &end, 10);
    if (*end != '\0' || n < 1 || n > 3600)
        return kDefaultTimeout;
    return static_cast<int>(n);
}

// Ends the process at once: other threads may still run, so no static destructors.
[[noreturn]] void EndProcess(int status)
{
    fflush(nullptr);
    _exit(status);
}

// A thread whose listening socket was closed by the shutdown waits here for the process end.
[[noreturn]] void ParkForever()
{
    for (;;)
        sleep(1000);
}

// Call with clientLock held.
void ClearSlot(_VTN_CLIENT_INFO* slot)
{
    memset(slot, 0, sizeof(*slot));
    slot->commandSocket = -1;
    slot->eventSocket = -1;
}

bool TransientAcceptError(int err)
{
    switch (err) {
    case EINTR:
    case ECONNABORTED:
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
    case EPROTO:
    case EAGAIN:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case ENETUNREACH:
        return true;
    default:
        return false;
    }
}

// Options that every accepted connection inherits from its listening socket. Small packets go
// out at once (a status followed by a notice must not wait for an ACK), and a client machine that
// vanished without a word frees its slot: probes after 60 s of silence, 3 of them 10 s apart.
// Failures only lose that.
void SetConnectionOptions(int sock)
{
    int on = 1, idle = 60, interval = 10, count = 3;
    // Blocking receives wait at most the login time-out (a longer wait polls again).
    timeval receive{SvrLoginTimeout(), 0};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof(receive));
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    setsockopt(sock, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
    setsockopt(sock, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
    setsockopt(sock, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval));
    setsockopt(sock, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof(count));
}

// accept() that retries transient failures after a short pause. -1 on a lasting failure.
int AcceptRetrying(int listenSock, char* ip, size_t ipSize)
{
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof(peer);
        int sock = accept(listenSock, reinterpret_cast<sockaddr*>(&peer), &len);
        if (SvrStopping()) {
            if (sock >= 0)
                close(sock);
            ParkForever();
        }
        if (sock >= 0) {
            // TCP_NODELAY and the keep-alive come from the listening socket.
            char text[INET_ADDRSTRLEN] = {};
            if (peer.sin_family != AF_INET || inet_ntop(AF_INET, &peer.sin_addr, text, sizeof(text)) == nullptr)
                text[0] = '\0';
            CopyText(ip, ipSize, text);
            return sock;
        }
        // The listening socket's receive time-out (which accepted sockets inherit) ends an idle
        // accept with EAGAIN: nothing is wrong, wait again at once.
        if (errno == EAGAIN || errno == EINTR)
            continue;
        if (!TransientAcceptError(errno))
            return -1;
        usleep(kAcceptRetryPause);
    }
}

void PauseAfterFailedLogin()
{
    timespec left{kFailedLoginPauseSeconds, 0};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// Control characters in a name would break its log line.
void CopyLogName(char* dst, size_t dstSize, const char* name)
{
    CopyText(dst, dstSize, name);
    for (char* p = dst; *p != '\0'; ++p)
        if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7f)
            *p = ' ';
}

int SlotIndex(const _VTN_CLIENT_INFO* slot)
{
    return static_cast<int>(slot - gSvrGlobal.client);
}

// Ends the session of the request thread that served `sock`, unless the slot was already reset.
void EndSession(_VTN_CLIENT_INFO* slot, int sock)
{
    int eventSock = -1;
    bool mine = false;
    {
        std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
        if ((slot->flags & VTN_SLOT_IN_USE) && slot->commandSocket == sock) {
            mine = true;
            eventSock = slot->eventSocket;
            ClearSlot(slot);
        }
    }
    if (mine) {
        // Only this thread uses the request socket: its close alone ends the connection.
        close(sock);
        DisConnect(eventSock);
    }
}

// The request thread: one long-lived thread serves the logged-in sessions one after another,
// so a login costs no thread creation. The slot of the next session waits here.
struct RequestWorker {
    std::mutex lock;
    std::condition_variable wake;
    _VTN_CLIENT_INFO* next = nullptr;
    bool started = false;
    pthread_t thread{};
};

RequestWorker& Worker()
{
    static RequestWorker worker;
    return worker;
}

void* RequestWorkerLoop(void*)
{
    RequestWorker& w = Worker();
    for (;;) {
        _VTN_CLIENT_INFO* slot;
        {
            std::unique_lock<std::mutex> lock(w.lock);
            w.wake.wait(lock, [&] { return w.next != nullptr; });
            slot = w.next;
            w.next = nullptr;
        }
        ProcessRemoteRequest(slot);
    }
    return nullptr;
}

sigset_t ShutdownSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void* SignalThread(void*)
{
    sigset_t set = ShutdownSignals();
    int sig = 0;
    while (sigwait(&set, &sig) != 0) {
    }
    sig_handle(sig);
    return nullptr;
}

}  // namespace

int SvrLoginTimeout()
{
    return gLoginTimeout.load();
}

int SvrReplyTimeout()
{
    return gReplyTimeout.load();
}

void SvrReadTimeouts()
{
    gLoginTimeout.store(TimeoutFromEnv("VTN_LOGIN_TIMEOUT"));
    gReplyTimeout.store(TimeoutFromEnv("VTN_REPLY_TIMEOUT"));
    SetErrorSendTimeout(gReplyTimeout.load());
}

// ---- process ----

int vtnmainthread(void*)
{
    // The first driver call chooses the channel; it ends the process when none answers.
    vtn_get_version();
    VTN_SET_ON_EXIT_HANDLER();
    Initialization();
    // Every server thread is detached: nothing joins them, the process end stops them.
    // The poll thread's creation is not checked: the server serves without it.
    VTN_CREATE_DETACHED_THREAD(&gSvrGlobal.pollThread, polleventthread, nullptr);
    if (StartCommunication() != 0)
        EndProcess(255);
    return 0;
}

void BlockShutdownSignals()
{
    sigset_t set = ShutdownSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void VTN_SET_ON_EXIT_HANDLER()
{
    BlockShutdownSignals();
    sigset_t set = ShutdownSignals();
    pthread_t thread;
    if (VTN_CREATE_DETACHED_THREAD(&thread, SignalThread, nullptr) != 0) {
        // Without the signal thread a signal must still end the process.
        perror("pthread_create()");
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

void sig_handle(int)
{
    terminate_all_child_threads();
    EndProcess(0);
}

int Initialization()
{
    VTN_INIT_LOCK_DATA();
    {
        std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
        for (auto& slot : gSvrGlobal.client)
            ClearSlot(&slot);
    }
    gSvrGlobal.serverSocket = -1;
    gSvrGlobal.eventServerSocket = -1;
    gSvrGlobal.flags.store(0);
    gSvrGlobal.recipients = nullptr;
    gSvrGlobal.tasks = nullptr;
    gSvrGlobal.taskCount = 0;
    SvrReadTimeouts();

    _CS_ALTERABLE_SERVER_PARAM param{};
    VtnGetDataFromInitFile(&param);
    gSvrGlobal.serverPort = (param.flags & VTN_PARAM_SERVER_PORT) ? param.serverPort : VTN_DEFAULT_SERVER_PORT;
    gSvrGlobal.eventPort = (param.flags & VTN_PARAM_EVENT_PORT) ? param.eventPort : VTN_DEFAULT_EVENT_PORT;

    gSvrGlobal.flags.store(VTN_FLAGS_AT_START);
    _TIME_RECORD now{};
    SetTimeRecord(&now);
    gSvrGlobal.taskDay = now.day;
    RemoveStaleServerFiles();
    Init_User_File();
    return 0;
}

int StartListening(uint16_t port)
{
    int sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0) {
        perror("Function socket() failed.");
        return -1;
    }
    int on = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));   // a failure only delays a restart
    SetConnectionOptions(sock);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        perror("bind()");
        close(sock);
        return -1;
    }
    if (listen(sock, 1) != 0) {
        perror("listen()");
        close(sock);
        return -1;
    }
    return sock;
}

int StartCommunication()
{
    int eventSock = StartListening(gSvrGlobal.eventPort);
    if (eventSock == -1)
        EndProcess(255);
    gSvrGlobal.eventServerSocket = eventSock;
    gEventListen.store(eventSock);
    int serverSock = StartListening(gSvrGlobal.serverPort);
    if (serverSock == -1)
        EndProcess(255);
    gSvrGlobal.serverSocket = serverSock;
    gServerListen.store(serverSock);
    if (VTN_CREATE_DETACHED_THREAD(&gSvrGlobal.eventThread, EventServer, nullptr) != 0)
        EndProcess(255);
    VTN_CREATE_DETACHED_THREAD(&gSvrGlobal.mailThread, mailmonitor, nullptr);   // not checked, as the poll thread

    for (;;) {
        char ip[64] = {};
        int sock = AcceptRetrying(serverSock, ip, sizeof(ip));
        if (sock < 0)
            return -1;
        _VTN_CLIENT_INFO* slot = nullptr;
        {
            std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
            slot = GetFreeClient();
            if (slot != nullptr) {
                slot->flags |= VTN_SLOT_IN_USE;
                slot->commandSocket = sock;
                CopyText(slot->ip, ip);
            }
        }
        if (slot == nullptr) {
            // One client at a time: the newcomer is closed without a word.
            close(sock);
            continue;
        }
        if (handshakewithclient(slot) >= 0 && ServeSession(slot))
            continue;
        ResetClient(slot);
    }
}

bool ServeSession(_VTN_CLIENT_INFO* slot)
{
    RequestWorker& w = Worker();
    {
        std::lock_guard<std::mutex> lock(w.lock);
        if (!w.started) {
            if (VTN_CREATE_DETACHED_THREAD(&w.thread, RequestWorkerLoop, nullptr) != 0)
                return false;
            w.started = true;
        }
        // The slot is free only once the last session ended, so no earlier one still waits here.
        w.next = slot;
    }
    {
        std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
        slot->requestThread = w.thread;
    }
    w.wake.notify_one();
    return true;
}

void terminate_all_child_threads()
{
    // The stop bit first: the accept loops then wait for the end instead of failing on the shut
    // listening sockets, and the other loops stop at their next turn.
    SetSvrFlag(VTN_FLAG_STOP);
    // The connections are shut down, not closed: the request thread may be using its socket right
    // now, and the process end closes them all a moment later.
    {
        std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
        for (auto& slot : gSvrGlobal.client) {
            if (!(slot.flags & VTN_SLOT_IN_USE))
                continue;
            for (int sock : {slot.commandSocket, slot.eventSocket})
                if (sock >= 0)
                    shutdown(sock, SHUT_RDWR);
        }
    }
    for (int sock : {gServerListen.load(), gEventListen.load()})
        if (sock >= 0)
            shutdown(sock, SHUT_RDWR);
    // The recipients and task lists stay: the poll and mail threads may be using them right now,
    // and the process end frees them.

    // An array still being initialised does not survive a stop of the server.
    uint32_t ids[kMaxTopDevices] = {};
    int count = vtn_get_logical_devices(ids, kMaxTopDevices);
    if (count > kMaxTopDevices)
        count = kMaxTopDevices;
    for (int i = 0; i < count; ++i) {
        _LOGICAL_DEVICE_INFO info{};
        if (vtn_get_device_info(ids[i], &info) != 0)
            continue;
        if (info.type == VTN_DEVICE_ARRAY && (info.u.array.status & VTN_ARRAY_INITIALIZING)) {
            vtn_set_array_state(ids[i], kAbortInitialization);
            vtn_delete_array(ids[i], 0);
        }
    }
}

// ---- client slot ----

_VTN_CLIENT_INFO* GetFreeClient()
{
    for (auto& slot : gSvrGlobal.client)
        if (!(slot.flags & VTN_SLOT_IN_USE))
            return &slot;
    return nullptr;
}

void ResetClient(_VTN_CLIENT_INFO* slot)
{
    if (slot == nullptr)
        return;
    int commandSock;
    int eventSock;
    {
        std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
        commandSock = slot->commandSocket;
        eventSock = slot->eventSocket;
        ClearSlot(slot);
    }
    DisConnect(commandSock);
    DisConnect(eventSock);
}

int GetClientPos(int sock)
{
    std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
    for (int i = 0; i < VTN_MAX_CLIENTS; ++i)
        if ((gSvrGlobal.client[i].flags & VTN_SLOT_IN_USE) && gSvrGlobal.client[i].commandSocket == sock)
            return i;
    return -1;
}

void ResetClient(int sock)
{
    int pos = GetClientPos(sock);
    if (pos >= 0)
        ResetClient(&gSvrGlobal.client[pos]);
}

void DropEventChannel(_VTN_CLIENT_INFO* slot)
{
    if (slot == nullptr)
        return;
    int eventSock;
    {
        std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
        eventSock = slot->eventSocket;
        slot->eventSocket = -1;
    }
    DisConnect(eventSock);
}

// ---- login and sessions ----

int handshakewithclient(_VTN_CLIENT_INFO* slot)
{
    // The status of an accepted login goes out with the notice, in one send.
    if (!Authenticated(slot))
        return -1;
    struct {
        _Packet_Error status;
        _VTN_LOGIN_NOTICE notice;
    } __attribute__((packed)) reply{};
    static_assert(sizeof(reply) == sizeof(_Packet_Error) + sizeof(_VTN_LOGIN_NOTICE));
    FillPacketHead(&reply.status.head, sizeof(reply.status), VTN_PACKET_STATUS, 0, 0);
    reply.status.status = VTN_SUCCESS;
    reply.notice.head.length = sizeof(reply.notice);
    reply.notice.head.type = VTN_PACKET_NOTICE;
    reply.notice.eventPort = gSvrGlobal.eventPort;
    reply.notice.slot = static_cast<uint16_t>(SlotIndex(slot));
    // Not checked: a client that missed the notice finds out at its first request.
    SendBufToRemote(slot->commandSocket, reinterpret_cast<char*>(&reply), sizeof(reply), SvrLoginTimeout(), nullptr);
    return 0;
}

bool Authenticated(_VTN_CLIENT_INFO* slot)
{
    int sock = slot->commandSocket;
    uint8_t key[16] = {};
    vtn_generate_key(key);

    _VTN_LOGIN_GREETING greeting{};
    greeting.head.length = sizeof(greeting);
    greeting.head.type = VTN_PACKET_REQUEST;
    memcpy(greeting.key, key, sizeof(greeting.key));
    if (SendBufToRemote(sock, reinterpret_cast<char*>(&greeting), sizeof(greeting), SvrLoginTimeout(), nullptr) !=
        static_cast<int>(sizeof(greeting)))
        return false;

    // The whole login must come within the time-out; a short one fails like a time-out.
    _VTN_LOGIN_REQUEST request{};
    // The socket's receive time-out (from its listening socket) is the login time-out.
    int got = RecvWholeBlocking(sock, reinterpret_cast<char*>(&request), sizeof(request));
    if (got != static_cast<int>(sizeof(request)) || !IsPacketMagic(&request.head))
        return false;
    vtn_decrypt(key, reinterpret_cast<uint8_t*>(request.password), 2);

    _VTN_USER_INFO login{};
    memcpy(login.name, request.name, sizeof(login.name));
    login.name[sizeof(login.name) - 1] = '\0';
    memcpy(login.password, request.password, sizeof(login.password));
    login.password[sizeof(login.password) - 1] = '\0';
    login.flags = request.kind == VTN_LOGIN_SYSTEM ? (VTN_USER_VALID | VTN_USER_SYSTEM) : VTN_USER_VALID;

    uint32_t status = check_user(&login, slot);
    if (status == VTN_SUCCESS) {
        std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
        slot->user = login;
        slot->flags |= VTN_SLOT_LOGGED_IN;
    }

    char name[64];
    CopyLogName(name, sizeof(name), login.name);
    char text[512];
    if (status == VTN_SUCCESS)
        FormatText(text, sizeof(text), "User %s(from %s) logged on system.", name, slot->ip);
    else
        FormatText(text, sizeof(text), "User %s(from %s) failed to log on system.", name, slot->ip);
    SaveStrEvent(status == VTN_SUCCESS ? 'I' : 'W', text);
    SetSvrFlag(VTN_FLAG_NEW_EVENT);

    if (status == VTN_SUCCESS)
        return true;
    // Guessing passwords costs a second a try.
    PauseAfterFailedLogin();
    SendErrorToRemote(sock, static_cast<int>(status), nullptr);
    return false;
}

uint32_t check_user(_VTN_USER_INFO* login, _VTN_CLIENT_INFO*)
{
    // Only users of the users file log in; system accounts never do, whatever the login kind.
    _VTN_USER_INFO found{};
    if (!isvaliduser(login->name, &found, false))
        return VTN_NOT_FOUND;
    login->rights = found.rights;
    login->rights2 = found.rights2;
    login->flags = found.flags;
    vtn_encrypt_and_map(reinterpret_cast<uint8_t*>(login->password));
    // The password of the line just found: one read of the users file per login.
    if (strncmp(found.password, login->password, sizeof(found.password)) != 0)
        return VTN_NOT_FOUND;
    return VTN_SUCCESS;
}

void BindEventChannel(int sock, const char* peerIp)
{
    _VTN_EVENT_BIND bind{};
    int got = RecvBufFromRemote(sock, reinterpret_cast<char*>(&bind), sizeof(bind), SvrLoginTimeout(), nullptr);
    bool kept = false;
    int previous = -1;
    if (got == static_cast<int>(sizeof(bind)) && IsPacketMagic(&bind.head) && bind.eventPort == gSvrGlobal.eventPort &&
        bind.slot < VTN_MAX_CLIENTS) {
        std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
        _VTN_CLIENT_INFO& slot = gSvrGlobal.client[bind.slot];
        // Only a client whose login was accepted, from its own address, may take its pushed events.
        const uint8_t loggedIn = VTN_SLOT_IN_USE | VTN_SLOT_LOGGED_IN;
        if ((slot.flags & loggedIn) == loggedIn && strcmp(slot.ip, peerIp) == 0) {
            previous = slot.eventSocket;
            slot.eventSocket = sock;
            kept = true;
        }
    }
    if (!kept)
        DisConnect(sock);
    DisConnect(previous);
}

void* EventServer(void*)
{
    for (;;) {
        char ip[64] = {};
        int sock = AcceptRetrying(gEventListen.load(), ip, sizeof(ip));
        if (sock < 0)
            return nullptr;
        BindEventChannel(sock, ip);
    }
}

void* ProcessRemoteRequest(void* arg)
{
    auto* slot = static_cast<_VTN_CLIENT_INFO*>(arg);
    int sock;
    {
        std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
        sock = slot->commandSocket;
    }
    // The wait for the next request has no time limit; once its first byte came, the rest of the
    // head and the body must come within the reply time-out.
    // The buffer outlives the session: the next one on this thread starts with it empty.
    static thread_local _PACKET_INPUT in;
    in.have = 0;
    in.consumed = 0;
    while (!SvrStopping()) {
        int length = RecvNextPacket(sock, &in, VTN_MAX_REQUEST, SvrReplyTimeout());
        if (length <= 0)
            break;
        // The request gets a buffer of exactly its length: a reply written past it can never reach
        // the bytes of a following packet kept in the input.
        char* buffer = static_cast<char*>(malloc(static_cast<size_t>(length)));
        if (buffer == nullptr)
            break;
        memcpy(buffer, in.data.data(), static_cast<size_t>(length));
        ProcessUserCommand(slot, buffer);
        free(buffer);
    }
    EndSession(slot, sock);
    return nullptr;
}
