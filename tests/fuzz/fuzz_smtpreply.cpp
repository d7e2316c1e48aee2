// The SMTP reply reader on arbitrary peer bytes: one reply read from a socket whose peer sent
// the input and closed, and the line parser on the input itself.
#include <cstddef>
#include <cstdint>
#include <sys/socket.h>
#include <unistd.h>

#include "vtnsmtp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    bool last = false;
    SmtpParseReplyLine(reinterpret_cast<const char*>(data), size, &last);

    // Bounded so that the whole input fits the socket pair's buffer before the read.
    if (size > 32 * 1024)
        size = 32 * 1024;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
        return 0;
    SmtpSetByteWait(1);
    size_t sent = 0;
    while (sent < size) {
        ssize_t n = send(sv[1], data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    shutdown(sv[1], SHUT_WR);
    int code = SmtpReadReply(sv[0]);
    if (code < 0)
        __builtin_trap();   // a code is never negative
    close(sv[0]);
    close(sv[1]);
    return 0;
}
