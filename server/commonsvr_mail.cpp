// Mail monitor: mails the event-log lines not yet mailed.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "commonsvr.h"
#include "intfimp.h"
#include "vtnsmtp.h"

namespace {

std::mutex gWakeMutex;
std::condition_variable gWake;
std::atomic<int> gPassDelayMs{2000};
std::atomic<int> gBackOffMs{1000 * 1000};
// The flag bits whose setting ends the monitor's current wait; a setter of any other bit
// does not wake it (a log line with no mail configured costs nothing here).
std::atomic<uint32_t> gWantBits{0};

// Waits up to ms, or until one of the bits is set (checked under the mutex, so no wake is lost).
void WaitForBits(int ms, uint32_t bits)
{
    gWantBits.store(bits | VTN_FLAG_STOP);
    std::unique_lock<std::mutex> lock(gWakeMutex);
    gWake.wait_for(lock, std::chrono::milliseconds(ms), [&] { return TestSvrFlag(bits | VTN_FLAG_STOP); });
    gWantBits.store(0);
}

void BackOff()
{
    // A change of the mail settings ends the pause early.
    WaitForBits(gBackOffMs.load(), VTN_FLAG_RELOAD_MAIL);
}

// True when line n is there and marked as mailed.
bool LineMailed(int n)
{
    _VTN_LOG_EVENT event{};
    return EnumEvent(&event, n) == VTN_SUCCESS && event.mark == '1';
}

// Reads every recipient in use into a new list; false when none was read.
bool LoadRecipients(VtnMailMonitorState* state)
{
    FreeRecipientList();
    state->count = 0;
    _VTN_MAIL_RECIPIENT_INFO r{};
    for (int i = 0; cs_vtn_enum_mail_recipient(0, &r, i) == VTN_SUCCESS; ++i) {
        auto* grown = static_cast<_VTN_MAIL_RECIPIENT_INFO*>(
            realloc(gSvrGlobal.recipients, sizeof(r) * static_cast<size_t>(state->count + 1)));
        if (grown == nullptr) {
            FreeRecipientList();
            state->count = 0;
            break;
        }
        gSvrGlobal.recipients = grown;
        gSvrGlobal.recipients[state->count++] = r;
    }
    return state->count > 0;
}

}  // namespace

void FreeRecipientList()
{
    free(gSvrGlobal.recipients);
    gSvrGlobal.recipients = nullptr;
}

void MailMonitorWake(uint32_t bits)
{
    // The bit is already set: a waiter that stores its bits later sees it in its own check.
    if ((gWantBits.load() & bits) == 0)
        return;
    // Taking the mutex orders the wake after a waiter's check of the flags.
    std::lock_guard<std::mutex> lock(gWakeMutex);
    gWake.notify_all();
}

void MailMonitorSetPauses(int passDelayMs, int backOffMs)
{
    gPassDelayMs.store(passDelayMs < 0 ? 0 : passDelayMs);
    gBackOffMs.store(backOffMs < 0 ? 0 : backOffMs);
}

VtnMailPass MailMonitorPass(VtnMailMonitorState* state)
{
    ClearSvrFlag(VTN_FLAG_NEW_EVENT);
    if (TestSvrFlag(VTN_FLAG_RELOAD_MAIL)) {
        ClearSvrFlag(VTN_FLAG_RELOAD_MAIL);
        _VTN_SMTP_SERVER_INFO smtp{};
        if (cs_vtn_get_smtp_server(0, &smtp) != VTN_SUCCESS || (smtp.flags & VTN_SMTP_NOTIFY_OFF) != 0) {
            // Switching mail off (or losing the settings) stops the mail.
            FreeRecipientList();
            state->count = 0;
            return VtnMailPass::BackOff;
        }
        smtp.host[sizeof(smtp.host) - 1] = '\0';
        state->smtp = smtp;
        if (!vtn_test_smtp_server(smtp.host, smtp.port))
            return VtnMailPass::BackOff;   // a list loaded earlier is kept
        if (!LoadRecipients(state))
            return VtnMailPass::BackOff;
    }
    if (gSvrGlobal.recipients == nullptr)
        return VtnMailPass::BackOff;

    // Lines before the first one left unmailed by the last pass are all marked: start there,
    // unless the log was cleared or rewritten since.
    int first = state->firstUnmailed;
    if (first > 0 && (state->logGeneration != EventLogGeneration() || !LineMailed(first - 1)))
        first = 0;
    state->logGeneration = EventLogGeneration();
    int left = -1;
    int i = first;
    _VTN_LOG_EVENT event{};
    for (; !SvrStopping() && EnumEvent(&event, i) == VTN_SUCCESS; ++i) {
        if (event.mark == '1')
            continue;
        // A failed mark only means the line is mailed again.
        bool done = vtn_send_mail(&state->smtp, gSvrGlobal.recipients, state->count, &event) == VTN_SUCCESS &&
                    UpdateEvent(i, '1') == 0;
        if (!done && left < 0)
            left = i;
    }
    state->firstUnmailed = left >= 0 ? left : i;
    return VtnMailPass::Mailed;
}

void* mailmonitor(void*)
{
    VtnMailMonitorState state{};
    while (!SvrStopping()) {
        // Idle until a new line may exist or the settings changed; a wake ends the wait at once.
        const uint32_t kPassBits = VTN_FLAG_NEW_EVENT | VTN_FLAG_RELOAD_MAIL;
        WaitForBits(gBackOffMs.load(), kPassBits);
        if (SvrStopping() || !TestSvrFlag(kPassBits))
            continue;
        // A short pause lets a burst of events go out in one pass.
        WaitForBits(gPassDelayMs.load(), 0);
        if (SvrStopping())
            break;
        if (MailMonitorPass(&state) == VtnMailPass::BackOff)
            BackOff();
    }
    return nullptr;
}
