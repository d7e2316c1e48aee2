// Feeds whole request packets to the dispatcher: a logged-in client slot whose command socket is
// one end of a socket pair (the other end is drained after every packet), the simulated
// controller behind the driver channel, every file under a temporary VTN_ROOT.
//
// Input: byte 0 picks the caller's rights (even: every right, odd: none) and byte 1 the form:
// below 0x80 the rest is a packet as it is (its length field and magic are set to what the
// request thread lets through); otherwise byte 2 picks a group and code of the catalogue and the
// rest is the body after the head, so every handler is reached quickly.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "commonsvr.h"
#include "global.h"
#include "simctl.h"
#include "svrrec.h"

namespace {

constexpr uint32_t kCatalogue[][2] = {
    {0x100, 0x101}, {0x100, 0x102}, {0x100, 0x104}, {0x100, 0x105}, {0x200, 0x201}, {0x200, 0x202},
    {0x200, 0x203}, {0x200, 0x205}, {0x200, 0x206}, {0x300, 0x301}, {0x300, 0x303}, {0x300, 0x304},
    {0x300, 0x305}, {0x400, 0x401}, {0x400, 0x403}, {0x400, 0x404}, {0x500, 0x501}, {0x600, 0x601},
    {0x600, 0x602}, {0x10000000, 0}, {0x10000000, 0}, {0x10000000, 0}, {0x10000000, 0},
};

struct Harness {
    std::string root;
    int peer = -1;
    _VTN_CLIENT_INFO slot{};
    unsigned runs = 0;

    Harness()
    {
        char dir[] = "/tmp/vtnfuzzXXXXXX";
        if (mkdtemp(dir) == nullptr)
            abort();
        root = dir;
        atexit([] { std::error_code ec; std::filesystem::remove_all(getenv("VTN_ROOT"), ec); });
        setenv("VTN_ROOT", dir, 1);
        unsetenv("VTN_REBOOT_COMMAND");  // a reboot request only leaves the marker
        Reset();
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
            abort();
        int big = 1 << 20;
        setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof(big));
        slot.commandSocket = sv[0];
        peer = sv[1];
        gSvrGlobal.serverPort = 7402;
        gSvrGlobal.eventPort = 7403;
    }

    // Fresh controller and files, so the state does not grow without end.
    void Reset()
    {
        std::string message;
        if (!VtnSimInit("sata4", &message)) {
            fprintf(stderr, "simulated controller: %s\n", message.c_str());
            abort();
        }
        for (const char* f : {"/var/log/vtn.log", "/etc/vtnuser.dat", "/etc/vtntask.dat", "/etc/vtn.ini"})
            unlink(VtnPath(f).c_str());
        WriteUsers();
    }

    static void WriteUsers()
    {
        FILE* f = fopen(VtnPathForWrite("/etc/vtnuser.dat").c_str(), "w");
        if (f == nullptr)
            return;
        fputs("RAID:0123456789ABCDEFGHIJKLMNOPQRSTUV:ffffffff:ffffffff:1:fuzz\n", f);
        fputs("none:0123456789ABCDEFGHIJKLMNOPQRSTUV:0:0:1:fuzz\n", f);
        fclose(f);
    }

    void Drain()
    {
        char buf[1 << 16];
        while (recv(peer, buf, sizeof(buf), MSG_DONTWAIT) > 0) {
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Harness h;
    if (size < 2)
        return 0;
    if (++h.runs % 2000 == 0)
        h.Reset();

    bool allRights = (data[0] & 1) == 0;
    std::vector<char> packet;
    if (data[1] < 0x80) {
        packet.assign(data + 2, data + size);
        if (packet.size() < sizeof(_Packet_Head))
            packet.resize(sizeof(_Packet_Head), 0);
    } else {
        if (size < 3)
            return 0;
        const uint32_t* gc = kCatalogue[data[2] % (sizeof(kCatalogue) / sizeof(kCatalogue[0]))];
        packet.resize(sizeof(_Packet_Head));
        FillPacketHead(reinterpret_cast<_Packet_Head*>(packet.data()), 0, VTN_PACKET_REQUEST, gc[0], gc[1]);
        packet.insert(packet.end(), data + 3, data + size);
    }
    if (packet.size() > VTN_MAX_REQUEST)
        return 0;
    // The request thread passes only heads with the magic and their true length.
    auto* head = reinterpret_cast<_Packet_Head*>(packet.data());
    head->length = static_cast<uint32_t>(packet.size());
    memcpy(head->magic, VTN_PACKET_MAGIC, sizeof(head->magic));

    h.slot.eventSocket = -1;
    h.slot.flags = VTN_SLOT_IN_USE;
    CopyText(h.slot.ip, "127.0.0.1");
    memset(&h.slot.user, 0, sizeof(h.slot.user));
    CopyText(h.slot.user.name, allRights ? "RAID" : "none");
    h.slot.user.rights = allRights ? 0xFFFFFFFFu : 0;
    h.slot.user.flags = VTN_USER_VALID;

    ProcessUserCommand(&h.slot, packet.data());
    h.Drain();
    return 0;
}
