// A logged-in client slot whose command socket is one end of a socket pair: requests run
// through the dispatcher in this process, and their answers are read from the other end.
#pragma once
#include <cstdint>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "commonsvr.h"
#include "svrrec.h"
#include "textutil.h"

class FakeSlot {
public:
    explicit FakeSlot(const char* user = "RAID", uint32_t rights = VTN_RIGHTS_ALL)
    {
        int sv[2] = {-1, -1};
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0) {
            slot.commandSocket = sv[0];
            peer = sv[1];
        }
        slot.eventSocket = -1;
        slot.flags = VTN_SLOT_IN_USE;
        CopyText(slot.ip, "127.0.0.1");
        CopyText(slot.user.name, user);
        slot.user.rights = rights;
        slot.user.flags = VTN_USER_VALID;
    }
    ~FakeSlot()
    {
        for (int fd : {slot.commandSocket, slot.eventSocket, peer})
            if (fd >= 0)
                close(fd);
    }
    FakeSlot(const FakeSlot&) = delete;
    FakeSlot& operator=(const FakeSlot&) = delete;

    // Runs one request; the bytes that came back, empty when nothing did. The dispatcher has
    // sent its whole answer by the time it returns.
    std::vector<uint8_t> Run(void* packet)
    {
        ProcessUserCommand(&slot, static_cast<char*>(packet));
        std::vector<uint8_t> got;
        uint8_t buf[1 << 16];
        for (;;) {
            ssize_t n = recv(peer, buf, sizeof(buf), MSG_DONTWAIT);
            if (n <= 0)
                break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    // The status word of a 28-byte status answer; 0 for anything else.
    static uint32_t StatusOf(const std::vector<uint8_t>& answer)
    {
        uint32_t status = 0;
        if (answer.size() == sizeof(_Packet_Error) && answer[12] == VTN_PACKET_STATUS)
            memcpy(&status, answer.data() + offsetof(_Packet_Error, status), sizeof(status));
        return status;
    }

    _VTN_CLIENT_INFO slot{};
    int peer = -1;
};
