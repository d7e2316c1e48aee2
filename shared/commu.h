// Packet transport over TCP: the packet head, the status packet, send, receive, peek, connect.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#pragma pack(push, 1)
// Every packet on both ports begins with this head.
struct _Packet_Head {
    uint32_t length;     // total length, head included
    char magic[8];       // "vtn_stor", no NUL
    uint8_t type;        // VTN_PACKET_*
    uint8_t unused[3];
    uint32_t group;      // request group
    uint32_t code;       // request code
};
// Status packet: a head of type 4 and the status word.
struct _Packet_Error {
    _Packet_Head head;
    uint32_t status;
};
#pragma pack(pop)
static_assert(sizeof(_Packet_Head) == 24);
static_assert(offsetof(_Packet_Head, magic) == 4);
static_assert(offsetof(_Packet_Head, type) == 12);
static_assert(offsetof(_Packet_Head, group) == 16);
static_assert(offsetof(_Packet_Head, code) == 20);
static_assert(sizeof(_Packet_Error) == 28);
static_assert(offsetof(_Packet_Error, status) == 24);

constexpr char VTN_PACKET_MAGIC[8] = {'v', 't', 'n', '_', 's', 't', 'o', 'r'};
constexpr uint8_t VTN_PACKET_REQUEST = 1;  // also the greeting and the event-channel bind
constexpr uint8_t VTN_PACKET_REPLY = 2;    // reply that carries data
constexpr uint8_t VTN_PACKET_NOTICE = 3;   // post-login notice and pushed events
constexpr uint8_t VTN_PACKET_STATUS = 4;   // a _Packet_Error

// Connection-lost callback: run once when a send or receive fails or times out.
struct _CALLBACK_PARAM {
    void (*func)(int);
    int param;
};

// Fills a head: length, magic, type, group and code (unused bytes zero).
void FillPacketHead(_Packet_Head* head, uint32_t length, uint8_t type, uint32_t group, uint32_t code);
// True when the head carries the magic.
bool IsPacketMagic(const _Packet_Head* head);

// Time-outs are in seconds: -1 waits without limit, 0 only looks. A failing call runs the
// callback (when given) once; the caller must not use the socket after that.

// Sends the whole length within the time-out: the length, or -1 (callback run).
int SendBufToRemote(int sock, char* buf, int length, int timeout, _CALLBACK_PARAM* cb);
// Receives the whole length within the time-out. Without MSG_PEEK: the count (short only on a
// close or time-out after part of it came), VTN_CONN_CLOSED (callback) or VTN_RECV_TIMEOUT
// (callback when timeout > 0); a 0 time-out takes nothing of a packet that is only half there.
// With MSG_PEEK: the peeked count, 0 when closed, -1 on error (no callback), or VTN_RECV_TIMEOUT.
int GetPacket(int sock, char* buf, int length, int flags, int timeout, _CALLBACK_PARAM* cb);
// Whole packets from one stream, for a reader that waits without limit between packets. One
// receive takes what the peer has sent, so a request usually costs one system call; bytes of the
// next packet wait in the buffer.
struct _PACKET_INPUT {
    std::vector<char> data;
    size_t have = 0;       // bytes received
    size_t consumed = 0;   // bytes of the packet handed out last
};
// Receives the next packet: waits without limit for its first byte, then for the rest of its head
// and body at most timeout seconds. Its head must carry the magic and a length of 24 to maxLength.
// The packet's length, its bytes at in->data.data() (valid until the next call); or VTN_CONN_CLOSED,
// VTN_RECV_TIMEOUT, or -1 for a head that fails the check.
int RecvNextPacket(int sock, _PACKET_INPUT* in, uint32_t maxLength, int timeout);
// Receives the whole length on a blocking socket whose receive time-out (SO_RCVTIMEO) bounds the
// wait for all of it: one system call when the peer sends it at once. The count (short on a
// time-out or a close), or VTN_CONN_CLOSED.
int RecvWholeBlocking(int sock, char* buf, int length);
// Peeks the 24-byte head; it stays in the socket.
int PeekPacketHead(int sock, _Packet_Head* head, int timeout, _CALLBACK_PARAM* cb);
int RecvBufFromRemote(int sock, char* buf, int length, int timeout, _CALLBACK_PARAM* cb);
// Sends a 28-byte status packet, waiting at most GetErrorSendTimeout() seconds.
int SendErrorToRemote(int sock, int status, _CALLBACK_PARAM* cb);
// IPv4 connection to host:port (first address of the name); the socket, or -1.
int ConnectToServer(char* host, unsigned short port);
// shutdown both ways, then close.
void DisConnect(int sock);

// How long SendErrorToRemote waits, in seconds: 60 by default (server); the GUI sets 160.
void SetErrorSendTimeout(int seconds);
int GetErrorSendTimeout();
