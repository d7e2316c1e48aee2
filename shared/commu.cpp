// Packet transport over TCP. Waits use poll() against one deadline; partial transfers are
// completed within it, so the framing never depends on how TCP splits a packet.
#include "commu.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <netdb.h>
#include <optional>
#include <algorithm>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "vtnstatus.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> g_errorSendTimeout{60};

// Pause between looks at a packet that has only partly arrived.
constexpr int kPartialRetryMs = 5;

struct Deadline {
    bool unlimited;
    Clock::time_point at;

    explicit Deadline(int seconds)
        : unlimited(seconds < 0), at(Clock::now() + std::chrono::seconds(seconds < 0 ? 0 : seconds))
    {
    }
    // Milliseconds left for poll(): -1 without limit, 0 once passed.
    int LeftMs() const
    {
        if (unlimited)
            return -1;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now()).count();
        if (left <= 0)
            return 0;
        return left > INT_MAX ? INT_MAX : static_cast<int>(left);
    }
    bool Passed() const { return !unlimited && Clock::now() >= at; }
};

// Waits for events on the socket until the deadline. Returns the revents (non-zero) when
// something is ready, 0 when the wait ended without it (time-out or poll failure).
int WaitReady(int sock, short events, const Deadline& deadline)
{
    for (;;) {
        pollfd p{sock, events, 0};
        int r = poll(&p, 1, deadline.LeftMs());
        if (r > 0)
            return p.revents;
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return 0;
        if (deadline.Passed())
            return 0;
    }
}

// True when the peer will send nothing more (orderly close, reset or error).
bool PeerFinished(int sock)
{
    short events = POLLIN;
#ifdef POLLRDHUP
    events |= POLLRDHUP;
#endif
    pollfd p{sock, events, 0};
    int r;
    do {
        r = poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    if (r <= 0)
        return false;
    short gone = POLLHUP | POLLERR | POLLNVAL;
#ifdef POLLRDHUP
    gone |= POLLRDHUP;
#endif
    return (p.revents & gone) != 0;
}

void RunCallback(_CALLBACK_PARAM* cb)
{
    if (cb && cb->func)
        cb->func(cb->param);
}

void PauseMs(const Deadline& deadline)
{
    int ms = deadline.LeftMs();
    if (ms < 0 || ms > kPartialRetryMs)
        ms = kPartialRetryMs;
    poll(nullptr, 0, ms);  // a plain sleep; EINTR just ends it early
}

int TimedOut(int timeout, _CALLBACK_PARAM* cb)
{
    // A poll that finds nothing is not a lost connection.
    if (timeout > 0)
        RunCallback(cb);
    return static_cast<int>(VTN_RECV_TIMEOUT);
}

int Closed(_CALLBACK_PARAM* cb)
{
    RunCallback(cb);
    return static_cast<int>(VTN_CONN_CLOSED);
}

// Peek until the whole length is there, the peer has finished, or time runs out.
// Results are the raw counts of recv (0 closed, -1 error); no callback except on a time-out.
int PeekLoop(int sock, char* buf, int length, int flags, int timeout, _CALLBACK_PARAM* cb)
{
    Deadline deadline(timeout);
    // Try first: a packet that is already there costs no poll.
    for (;;) {
        ssize_t n = recv(sock, buf, static_cast<size_t>(length), flags | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (!WaitReady(sock, POLLIN, deadline))
                    return TimedOut(timeout, cb);
                continue;
            }
            return -1;
        }
        if (n == 0 || n >= length)
            return static_cast<int>(n);
        // Part of it is there: the rest may still be on its way.
        if (PeerFinished(sock))
            return static_cast<int>(n);
        if (deadline.Passed())
            return timeout == 0 ? TimedOut(timeout, cb) : static_cast<int>(n);
        PauseMs(deadline);
    }
}

// Receive the whole length. A short count comes back only on close or time-out.
int RecvLoop(int sock, char* buf, int length, int flags, int timeout, _CALLBACK_PARAM* cb)
{
    Deadline deadline(timeout);
    if (timeout == 0) {
        // A poll takes a whole packet or nothing: consuming half of one would leave the
        // stream out of step for every later read.
        ssize_t n;
        do {
            n = recv(sock, buf, static_cast<size_t>(length), flags | MSG_PEEK | MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return TimedOut(timeout, cb);
        if (n > 0 && n < length && !PeerFinished(sock))
            return TimedOut(timeout, cb);
        // Whole, closed or failed: the loop below takes what there is.
    }
    int got = 0;
    for (;;) {
        ssize_t n = recv(sock, buf + got, static_cast<size_t>(length - got), flags | MSG_DONTWAIT);
        if (n > 0) {
            got += static_cast<int>(n);
            if (got >= length)
                return got;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitReady(sock, POLLIN, deadline))
                return got > 0 ? got : TimedOut(timeout, cb);
            continue;
        }
        // Closed by the peer or failed.
        return got > 0 ? got : Closed(cb);
    }
}

}  // namespace

void FillPacketHead(_Packet_Head* head, uint32_t length, uint8_t type, uint32_t group, uint32_t code)
{
    if (!head)
        return;
    std::memset(head, 0, sizeof(*head));
    head->length = length;
    std::memcpy(head->magic, VTN_PACKET_MAGIC, sizeof(head->magic));
    head->type = type;
    head->group = group;
    head->code = code;
}

bool IsPacketMagic(const _Packet_Head* head)
{
    return head && std::memcmp(head->magic, VTN_PACKET_MAGIC, sizeof(head->magic)) == 0;
}

int SendBufToRemote(int sock, char* buf, int length, int timeout, _CALLBACK_PARAM* cb)
{
    if (sock < 0 || length < 0 || (!buf && length > 0)) {
        RunCallback(cb);
        return -1;
    }
    Deadline deadline(timeout);
    int sent = 0;
    while (sent < length) {
        // Never block inside send: a peer that stops reading must not hold us past the deadline.
        ssize_t n = send(sock, buf + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitReady(sock, POLLOUT, deadline))
            continue;
        RunCallback(cb);
        return -1;
    }
    return length;
}

int GetPacket(int sock, char* buf, int length, int flags, int timeout, _CALLBACK_PARAM* cb)
{
    if (length < 0 || (!buf && length > 0))
        return -1;
    if (sock < 0)  // what recv would say of it, without a wait that poll() would never end
        return (flags & MSG_PEEK) ? -1 : Closed(cb);
    if (length == 0)
        return 0;
    if (flags & MSG_PEEK)
        return PeekLoop(sock, buf, length, flags, timeout, cb);
    return RecvLoop(sock, buf, length, flags, timeout, cb);
}

namespace {

// One receive into buf: without limit (timeout < 0) or until the deadline. The count, or
// VTN_CONN_CLOSED / VTN_RECV_TIMEOUT.
int RecvSome(int sock, char* buf, size_t length, const Deadline& deadline)
{
    for (;;) {
        // Without a limit a blocking socket waits inside recv: one system call.
        ssize_t n = recv(sock, buf, length, deadline.unlimited ? 0 : MSG_DONTWAIT);
        if (n > 0)
            return static_cast<int>(n);
        if (n == 0)
            return static_cast<int>(VTN_CONN_CLOSED);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return static_cast<int>(VTN_CONN_CLOSED);
        if (!WaitReady(sock, POLLIN, deadline))
            return static_cast<int>(deadline.Passed() ? VTN_RECV_TIMEOUT : VTN_CONN_CLOSED);
    }
}

constexpr size_t kInputChunk = 8 * 1024;

// Receives until in->have >= need, waiting without limit while nothing of the packet is there.
int FillInput(int sock, _PACKET_INPUT* in, size_t need, std::optional<Deadline>* deadline, int timeout)
{
    while (in->have < need) {
        if (in->data.size() < std::max(need, in->have + kInputChunk))
            in->data.resize(std::max(need, in->have + kInputChunk));
        // The packet's first byte starts its time-out.
        if (in->have > 0 && !deadline->has_value())
            deadline->emplace(timeout);
        int n = RecvSome(sock, in->data.data() + in->have, in->data.size() - in->have,
                         deadline->has_value() ? **deadline : Deadline(-1));
        if (n < 0)
            return n;
        in->have += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace

int RecvNextPacket(int sock, _PACKET_INPUT* in, uint32_t maxLength, int timeout)
{
    if (in == nullptr || sock < 0)
        return static_cast<int>(VTN_CONN_CLOSED);
    // Drop the packet handed out last; what came after it stays.
    if (in->consumed > 0) {
        memmove(in->data.data(), in->data.data() + in->consumed, in->have - in->consumed);
        in->have -= in->consumed;
        in->consumed = 0;
    }
    std::optional<Deadline> deadline;
    if (in->have > 0)
        deadline.emplace(timeout);
    int r = FillInput(sock, in, sizeof(_Packet_Head), &deadline, timeout);
    if (r < 0)
        return r;
    _Packet_Head head;
    memcpy(&head, in->data.data(), sizeof(head));
    if (!IsPacketMagic(&head) || head.length < sizeof(_Packet_Head) || head.length > maxLength)
        return -1;
    r = FillInput(sock, in, head.length, &deadline, timeout);
    if (r < 0)
        return r;
    in->consumed = head.length;
    return static_cast<int>(head.length);
}

int RecvWholeBlocking(int sock, char* buf, int length)
{
    if (sock < 0 || length < 0 || (!buf && length > 0))
        return static_cast<int>(VTN_CONN_CLOSED);
    // One call: the time-out bounds the whole wait (a second call would start another one). A short
    // count is a time-out or a close; the server's threads take no signals, so none cuts it short.
    ssize_t n;
    do
        n = recv(sock, buf, static_cast<size_t>(length), MSG_WAITALL);
    while (n < 0 && errno == EINTR);
    return n > 0 ? static_cast<int>(n) : static_cast<int>(VTN_CONN_CLOSED);
}

int PeekPacketHead(int sock, _Packet_Head* head, int timeout, _CALLBACK_PARAM* cb)
{
    return GetPacket(sock, reinterpret_cast<char*>(head), static_cast<int>(sizeof(_Packet_Head)), MSG_PEEK,
                     timeout, cb);
}

int RecvBufFromRemote(int sock, char* buf, int length, int timeout, _CALLBACK_PARAM* cb)
{
    return GetPacket(sock, buf, length, 0, timeout, cb);
}

int SendErrorToRemote(int sock, int status, _CALLBACK_PARAM* cb)
{
    _Packet_Error packet;
    FillPacketHead(&packet.head, sizeof(packet), VTN_PACKET_STATUS, 0, 0);
    packet.status = static_cast<uint32_t>(status);
    return SendBufToRemote(sock, reinterpret_cast<char*>(&packet), static_cast<int>(sizeof(packet)),
                           g_errorSendTimeout.load(), cb);
}

void SetErrorSendTimeout(int seconds)
{
    g_errorSendTimeout.store(seconds);
}

int GetErrorSendTimeout()
{
    return g_errorSendTimeout.load();
}

int ConnectToServer(char* host, unsigned short port)
{
    if (!host)
        return -1;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &result) != 0 || !result)
        return -1;
    // Only the address is taken from the first result; the rest of the socket address is ours.
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    bool found = result->ai_addr && result->ai_addrlen >= sizeof(sockaddr_in);
    if (found) {
        sockaddr_in first;
        std::memcpy(&first, result->ai_addr, sizeof(first));
        addr.sin_addr = first.sin_addr;
    }
    freeaddrinfo(result);
    if (!found)
        return -1;

    int sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0)
        return -1;
    int r = connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    if (r < 0 && errno == EINTR) {
        // The connection goes on in the background: wait for its outcome.
        Deadline forever(-1);
        int err = 0;
        socklen_t len = sizeof(err);
        if (WaitReady(sock, POLLOUT, forever) && getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len) == 0 &&
            err == 0)
            r = 0;
    }
    if (r < 0) {
        DisConnect(sock);
        return -1;
    }
    // Every packet is one request or reply: send it at once rather than wait for an ACK.
    int one = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    return sock;
}

void DisConnect(int sock)
{
    if (sock < 0)
        return;
    shutdown(sock, SHUT_RDWR);  // results not needed: the socket is gone either way
    close(sock);
}
