// The client's reading of replies, login answers and pushed events, fed by a fake server on a
// socket pair: the input is what the server sends; its first bytes choose the calls. The
// remote implementations are called directly (the server library has functions of the API's
// names, and every project library is linked here).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "drvrec.h"
#include "netfuncs.h"
#include "svrrec.h"

namespace {

void OnLost() {}

bool Connected()
{
    return gConnections[0].flags & VTN_CONN_CONNECTED;
}

void RunCall(uint8_t op)
{
    switch (op % 12) {
    case 0: {
        _VTN_USER_INFO u;
        net_vtn_enum_user(0, &u, 0);
        break;
    }
    case 1: {
        _CS_SERVER_INFO s;
        net_vtn_get_server_info(0, &s);
        break;
    }
    case 2: {
        _VTN_USER_INFO u{};
        net_vtn_set_user(0, &u, VTN_USER_ADD);
        break;
    }
    case 3: {
        _VTN_LOG_EVENT e;
        net_vtn_enum_event(0, &e, 3);
        break;
    }
    case 4: {
        _LOGICAL_DEVICE_INFO_V2 d;
        gConnections[0].driverVersion = 0x01000000;
        net_vtn_get_device_info(0, 1, &d);
        break;
    }
    case 5: {
        _LOGICAL_DEVICE_INFO_V2 d;
        gConnections[0].driverVersion = 0x01010000;
        net_vtn_get_device_info(0, 1, &d);
        break;
    }
    case 6: {
        unsigned int ids[8];
        net_vtn_get_logical_devices(0, ids, 8);
        break;
    }
    case 7: {
        _CREATE_ARRAY_PARAMS_V2 p{};
        p.memberCount = 2;
        net_vtn_create_array(0, &p);
        break;
    }
    case 8: {
        _DRIVER_CAPABILITIES c{};
        c.size = sizeof(c);
        net_vtn_get_driver_capabilities(0, &c);
        break;
    }
    case 9:
        net_vtn_delete_array(0, 1, 0);
        break;
    case 10: {
        _VTN_LOG_EVENT e;
        net_vtn_get_log_event(0, &e);
        break;
    }
    default: {
        _VTN_TASK_INFO t;
        net_vtn_enum_tasks(0, &t, 0);
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > 32 * 1024)
        return 0;
    SetClientWaitSeconds(1);

    uint8_t mode = data[0];
    uint8_t calls = data[1];
    data += 2;
    size -= 2;

    int cmd[2];
    int ev[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, cmd) != 0)
        return 0;
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ev) != 0) {
        close(cmd[0]);
        close(cmd[1]);
        return 0;
    }
    // Login answers go on the request connection, events on the event connection.
    bool events = (mode & 0x80) != 0;
    int peer = events ? ev[1] : cmd[1];
    if (size > 0 && send(peer, data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) {
        close(cmd[0]);
        close(cmd[1]);
        close(ev[0]);
        close(ev[1]);
        return 0;
    }
    // The fake server says nothing more: every read ends at once.
    shutdown(cmd[1], SHUT_WR);
    shutdown(ev[1], SHUT_WR);

    _Vtn_Client_Connection& c = gConnections[0];
    ResetConnectionSlot(&c);
    memcpy(c.host, "127.0.0.1", 10);
    c.commandSocket = cmd[0];
    c.eventSocket = ev[0];

    if (!events && (mode & 0x7F) == 0) {
        // The login exchange on its own.
        _CS_CONNECTION_INFO info{};
        memcpy(info.user, "RAID", 4);
        memcpy(info.password, "wqx", 3);
        info.callback = OnLost;
        handshakewithserver(&c, &info);
    } else {
        c.flags = VTN_CONN_CONNECTED;
        c.transportCallback = {internal_callback, 0};
        c.userCallback = OnLost;
        c.driverVersion = 0x01010000;
        for (int i = 0; i < 1 + (calls % 16) && Connected(); ++i)
            RunCall(events ? 10 : static_cast<uint8_t>(mode + i));
    }

    // Whatever is still open is ours to close.
    if (c.commandSocket >= 0)
        close(c.commandSocket);
    if (c.eventSocket >= 0)
        close(c.eventSocket);
    ResetConnectionSlot(&c);
    close(cmd[1]);
    close(ev[1]);
    return 0;
}
