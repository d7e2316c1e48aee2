// Poll thread: every 2 s drains the driver's events and checks the scheduled tasks.
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include "commonsvr.h"
#include "vtnintf.h"

namespace {

// A driver that never runs dry must not keep the poll thread from the task check.
constexpr int kMaxEventsPerPoll = 4096;

// Pushes go out one whole packet after the other, without holding the slot's lock while a slow
// client takes its time.
std::mutex gPushMutex;

}  // namespace

void* polleventthread(void*)
{
    while (!SvrStopping()) {
        sleep(2);
        PollingEvents();
    }
    return nullptr;
}

void PollingEvents()
{
    _VTN_EVENT event{};
    for (int n = 0; n < kMaxEventsPerPoll && vtn_get_event(&event) == 0; ++n) {
        _VTN_LOG_EVENT logEvent{};
        if (TranslateVtnEvent(&event, &logEvent) == 0) {
            // The log stamps the server's time, so the pushed event carries the log line's time.
            SaveEventToFile(&logEvent);
            EventNotification(&logEvent, nullptr);
        }
        memset(&event, 0, sizeof(event));
    }
    _TIME_RECORD now{};
    SetTimeRecord(&now);
    CheckScheduledTasks(now);
}

int EventNotification(_VTN_LOG_EVENT* event, _VTN_CLIENT_INFO* originator)
{
    if (event != nullptr) {
        _VTN_EVENT_PACKET packet{};
        packet.head.length = sizeof(packet);
        packet.head.type = VTN_PACKET_NOTICE;
        packet.event = *event;

        // Each push goes to a duplicate of the event socket taken under the lock: a close of the
        // slot meanwhile cannot turn the number into another file or socket.
        int socks[VTN_MAX_CLIENTS];
        int count = 0;
        {
            std::lock_guard<std::mutex> lock(gSvrGlobal.clientLock);
            // An event a client saved is not echoed to that client.
            if (originator == nullptr || (originator->flags & VTN_SLOT_IN_USE) == 0) {
                for (auto& slot : gSvrGlobal.client) {
                    if ((slot.flags & VTN_SLOT_IN_USE) == 0 || slot.eventSocket < 0)
                        continue;
                    int dup = fcntl(slot.eventSocket, F_DUPFD_CLOEXEC, 0);
                    if (dup >= 0)
                        socks[count++] = dup;
                }
            }
        }
        // Nothing to send: no wait behind another thread's push.
        std::unique_lock<std::mutex> push(gPushMutex, std::defer_lock);
        if (count > 0)
            push.lock();
        for (int i = 0; i < count; ++i) {
            // Not checked: the event stays in the log, where the client can read it.
            SendBufToRemote(socks[i], reinterpret_cast<char*>(&packet), sizeof(packet), SvrReplyTimeout(), nullptr);
            close(socks[i]);
        }
    }
    SetSvrFlag(VTN_FLAG_NEW_EVENT);
    return 0;
}
