// SMTP client: mails one event-log line to the recipients that take its severity.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "global.h"
#include "svrrec.h"

// Status words of the mail functions.
constexpr uint32_t VTN_RECIPIENT_EXISTS = 0xC000000Fu;
constexpr uint32_t VTN_SMTP_NO_GREETING = 0xC0000012u;
constexpr uint32_t VTN_SMTP_HELO_FAILED = 0xC0000013u;
constexpr uint32_t VTN_SMTP_FROM_FAILED = 0xC0000014u;
constexpr uint32_t VTN_SMTP_NO_RECIPIENT = 0xC0000015u;
constexpr uint32_t VTN_SMTP_DATA_FAILED = 0xC0000016u;
constexpr uint32_t VTN_SMTP_END_FAILED = 0xC0000017u;

constexpr const char* VTN_MAIL_SUBJECT = "Vorathine Storage Management Software Mail Notifiction";
constexpr const char* VTN_MAIL_X_MAILER = "Vorathine-SMTP v1.0";
constexpr const char* VTN_TEST_MAIL_TEXT = "This is a test mail.";

// 0 when the message was accepted or no recipient takes the event, else a status word.
uint32_t vtn_send_mail(_VTN_SMTP_SERVER_INFO* server, _VTN_MAIL_RECIPIENT_INFO* list, int count,
                       _VTN_LOG_EVENT* event);
// An information event "This is a test mail." with the current time, to this one recipient.
uint32_t vtn_test_mail(_VTN_SMTP_SERVER_INFO* server, _VTN_MAIL_RECIPIENT_INFO* recipient);
// True when the server greets with 220 (then QUIT is sent).
bool vtn_test_smtp_server(const char* host, uint16_t port);
// Reads one reply (all lines of a "250-" reply up to its last line) and compares its code.
bool CheckCommandResponse(int sock, int expected);

// The code of one reply read from sock: the number at the start of its last line, 0 when there is
// none. Each byte must come within the byte wait.
int SmtpReadReply(int sock);
// The code at the start of one reply line (0 when none) and whether the line ends its reply
// (anything but a '-' right after the code).
int SmtpParseReplyLine(const char* line, size_t len, bool* last);
// The recipient flag that takes a severity ('I' 0x01, 'W' 0x02, 'E' 0x04, else 0).
uint8_t SmtpSeverityFlag(char severity);
// False when text (a field of size bytes) holds CR, LF, '<' or '>': such a text would end an SMTP
// command or header early.
bool SmtpTextIsSafe(const char* text, size_t size);
// The body text as sent: line breaks as CRLF, a '.' that begins a line doubled.
std::string SmtpBodyText(const char* text);

// How long a reply's next byte may take, in milliseconds (10000 by default; tests shorten it).
void SmtpSetByteWait(int milliseconds);

// ---- the mail monitor's pass (commonsvr_mail.cpp) ----

// What the mail monitor keeps between passes: its copy of the SMTP record and the recipients count
// (the list itself is gSvrGlobal.recipients).
struct VtnMailMonitorState {
    _VTN_SMTP_SERVER_INFO smtp;
    int count;
    int firstUnmailed;        // where the next pass starts: every line before it is marked
    uint64_t logGeneration;   // EventLogGeneration() when firstUnmailed was taken
};

enum class VtnMailPass {
    Mailed,   // the log was walked; lines sent or taken are marked
    BackOff,  // settings unreadable or off, server unreachable, or no recipients: wait
};

// One pass as the monitor runs it once bit 0x04 was seen: clears 0x04, reloads the settings when
// 0x02 is set, then mails every line not yet marked '1'.
VtnMailPass MailMonitorPass(VtnMailMonitorState* state);
// The monitor's pauses in milliseconds: before a pass (2000) and the back-off (1000000).
void MailMonitorSetPauses(int passDelayMs, int backOffMs);
