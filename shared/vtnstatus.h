// Status words: the u32 result of every client call and every reply.
#pragma once
#include <cstdint>

constexpr uint32_t VTN_SUCCESS = 0;
constexpr uint32_t VTN_FAILURE = 0xFFFFFFFFu;           // -1, generic failure
constexpr uint32_t VTN_NOT_FOUND = 0xC0000002u;         // not found, or bad login
constexpr uint32_t VTN_EXISTS = 0xC0000004u;
constexpr uint32_t VTN_NO_MORE_ENTRIES = 0xC0000005u;
constexpr uint32_t VTN_UNSUPPORTED = 0xC0000006u;
constexpr uint32_t VTN_NO_MEMORY = 0xC0000007u;
constexpr uint32_t VTN_DRIVER_FAILED = 0xC0000008u;
constexpr uint32_t VTN_RECV_TIMEOUT = 0xC0000009u;
constexpr uint32_t VTN_CONN_CLOSED = 0xC000000Au;
constexpr uint32_t VTN_STATUS_INSTEAD = 0xC000000Bu;    // status received instead of data
constexpr uint32_t VTN_CANNOT_CONNECT = 0xC000000Cu;
constexpr uint32_t VTN_NO_RIGHT = 0xC000000Du;
constexpr uint32_t VTN_FILE_MISSING = 0xC0000010u;
constexpr uint32_t VTN_LOGIN_HANDSHAKE = 0xC0000011u;
constexpr uint32_t VTN_TASK_EXISTS = 0xC0000018u;
constexpr uint32_t VTN_NO_SUCH_TASK = 0xC0000019u;
constexpr uint32_t VTN_ARRAY_NOT_USABLE = 0xC000001Au;
// 0xC000000F and 0xC0000012 to 0xC0000017 belong to the mail functions (vtnsmtp.h).
