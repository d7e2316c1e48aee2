// SMTP client: one plain dialogue per message, no authentication, no extensions.
#include "vtnsmtp.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "commu.h"

namespace {

constexpr int kSendTimeout = 60;
constexpr size_t kLineMax = 255;       // bytes of a reply line that are kept
constexpr int kReplyLinesMax = 64;     // lines of one reply read before giving up
constexpr size_t kReplyBytesMax = 16 * 1024;

std::atomic<int> gByteWaitMs{10000};

// One byte within the wait: 1, or 0 on close, time-out or error.
int ReadByte(int sock, char* c)
{
    for (;;) {
        pollfd p{sock, POLLIN, 0};
        int r = poll(&p, 1, gByteWaitMs.load());
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return 0;
        ssize_t n = recv(sock, c, 1, 0);
        if (n < 0 && errno == EINTR)
            continue;
        return n == 1 ? 1 : 0;
    }
}

void SendText(int sock, const std::string& text)
{
    // Not checked: a lost command shows in the reply that does not come.
    SendBufToRemote(sock, const_cast<char*>(text.data()), static_cast<int>(text.size()), kSendTimeout, nullptr);
}

std::string Field(const char* text, size_t size)
{
    return std::string(text, FieldLength(text, size));
}

std::string MailDate(time_t t)
{
    tm local{};
    char text[128] = {};
    if (localtime_r(&t, &local) == nullptr || strftime(text, sizeof(text), "%a, %d %b %Y %H:%M:%S %Z", &local) == 0)
        text[0] = '\0';
    return text;
}

bool Takes(const _VTN_MAIL_RECIPIENT_INFO& r, uint8_t flag)
{
    return (r.flags & flag) != 0;
}

// The dialogue after the connection is made; QUIT and the close are the caller's.
uint32_t Dialogue(int sock, const _VTN_SMTP_SERVER_INFO& server, const _VTN_MAIL_RECIPIENT_INFO* list, int count,
                  uint8_t flag, const _VTN_LOG_EVENT& event)
{
    if (!CheckCommandResponse(sock, 220))
        return VTN_SMTP_NO_GREETING;

    char host[129] = {};
    if (gethostname(host, sizeof(host) - 1) != 0)
        host[0] = '\0';
    SendText(sock, std::string("HELO ") + host + "\r\n");
    if (!CheckCommandResponse(sock, 250))
        return VTN_SMTP_HELO_FAILED;

    const std::string sender = Field(server.sender, sizeof(server.sender));
    SendText(sock, "MAIL FROM:<" + sender + ">\r\n");
    if (!CheckCommandResponse(sock, 250))
        return VTN_SMTP_FROM_FAILED;

    int accepted = 0;
    for (int i = 0; i < count; ++i) {
        if (!Takes(list[i], flag))
            continue;
        SendText(sock, "RCPT TO:<" + Field(list[i].address, sizeof(list[i].address)) + ">\r\n");
        if (CheckCommandResponse(sock, 250))
            ++accepted;
    }
    if (accepted == 0)
        return VTN_SMTP_NO_RECIPIENT;

    SendText(sock, "DATA\r\n");
    if (!CheckCommandResponse(sock, 354))
        return VTN_SMTP_DATA_FAILED;

    SendText(sock, "From: " + sender + "<" + sender + ">\r\n");
    bool first = true;
    for (int i = 0; i < count; ++i) {
        if (!Takes(list[i], flag))
            continue;
        const std::string name = Field(list[i].name, sizeof(list[i].name));
        const std::string address = Field(list[i].address, sizeof(list[i].address));
        SendText(sock, (first ? "To: " : ",") + name + " <" + address + ">");
        first = false;
    }
    SendText(sock, std::string("\r\nSubject: ") + VTN_MAIL_SUBJECT + "\r\n");
    SendText(sock, "Date: " + MailDate(VtnNow()) + "\r\nX-Mailer: " + VTN_MAIL_X_MAILER + "\r\n");

    _TIME_RECORD when = event.time;
    const std::string text = SmtpBodyText(Field(event.text, sizeof(event.text)).c_str());
    SendText(sock, "\r\n" + MailDate(ConvertTimeRecord(when)) + ":    \r\n" + text + "\r\n.\r\n");
    if (!CheckCommandResponse(sock, 250))
        return VTN_SMTP_END_FAILED;
    return VTN_SUCCESS;
}

}  // namespace

void SmtpSetByteWait(int milliseconds)
{
    gByteWaitMs.store(milliseconds > 0 ? milliseconds : 1);
}

uint8_t SmtpSeverityFlag(char severity)
{
    switch (severity) {
    case 'I': return VTN_MAIL_INFO;
    case 'W': return VTN_MAIL_WARNING;
    case 'E': return VTN_MAIL_ERROR;
    default: return 0;
    }
}

bool SmtpTextIsSafe(const char* text, size_t size)
{
    if (text == nullptr)
        return true;
    for (size_t i = 0; i < size && text[i] != '\0'; ++i)
        if (text[i] == '\r' || text[i] == '\n' || text[i] == '<' || text[i] == '>')
            return false;
    return true;
}

std::string SmtpBodyText(const char* text)
{
    std::string out;
    bool lineStart = true;
    for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
        if (*p == '\r' || *p == '\n') {
            if (*p == '\r' && p[1] == '\n')
                ++p;
            out += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && *p == '.')
            out += '.';
        out += *p;
        lineStart = false;
    }
    return out;
}

int SmtpParseReplyLine(const char* line, size_t len, bool* last)
{
    int code = 0;
    size_t i = 0;
    // A code has three digits; more are read as the number but the value stays bounded.
    while (i < len && line[i] >= '0' && line[i] <= '9') {
        if (code < 100000)
            code = code * 10 + (line[i] - '0');
        ++i;
    }
    if (last != nullptr)
        *last = !(i > 0 && i < len && line[i] == '-');
    return code;
}

int SmtpReadReply(int sock)
{
    size_t total = 0;
    for (int lines = 0; lines < kReplyLinesMax; ++lines) {
        char line[kLineMax + 1] = {};
        size_t kept = 0;
        bool ended = false;   // the line's '\n' came
        while (total < kReplyBytesMax) {
            char c = 0;
            if (ReadByte(sock, &c) != 1)
                break;
            ++total;
            if (kept < kLineMax)
                line[kept++] = c;
            if (c == '\n') {
                ended = true;
                break;
            }
        }
        // A line cut short by a close or a stall is no answer: its rest would be read as the
        // answer to the next command.
        if (!ended)
            return 0;
        bool last = true;
        int code = SmtpParseReplyLine(line, kept, &last);
        if (last)
            return code;
    }
    return 0;
}

bool CheckCommandResponse(int sock, int expected)
{
    return SmtpReadReply(sock) == expected;
}

uint32_t vtn_send_mail(_VTN_SMTP_SERVER_INFO* server, _VTN_MAIL_RECIPIENT_INFO* list, int count, _VTN_LOG_EVENT* event)
{
    if (server == nullptr || event == nullptr || count < 0 || (list == nullptr && count > 0))
        return VTN_FAILURE;
    const uint8_t flag = SmtpSeverityFlag(event->severity);
    int takers = 0;
    for (int i = 0; i < count; ++i)
        if (Takes(list[i], flag))
            ++takers;
    if (takers == 0)
        return VTN_SUCCESS;
    // A line break or angle bracket in a stored text would forge commands or headers.
    if (!SmtpTextIsSafe(server->sender, sizeof(server->sender)))
        return VTN_FAILURE;
    for (int i = 0; i < count; ++i)
        if (Takes(list[i], flag) && (!SmtpTextIsSafe(list[i].address, sizeof(list[i].address)) ||
                                     !SmtpTextIsSafe(list[i].name, sizeof(list[i].name))))
            return VTN_FAILURE;

    char host[sizeof(server->host) + 1] = {};
    CopyField(host, sizeof(host), server->host, sizeof(server->host));
    int sock = ConnectToServer(host, server->port);
    if (sock < 0)
        return VTN_CANNOT_CONNECT;
    uint32_t result = Dialogue(sock, *server, list, count, flag, *event);
    SendText(sock, "QUIT\r\n");   // its reply is not read
    DisConnect(sock);
    return result;
}

uint32_t vtn_test_mail(_VTN_SMTP_SERVER_INFO* server, _VTN_MAIL_RECIPIENT_INFO* recipient)
{
    if (server == nullptr || recipient == nullptr)
        return VTN_FAILURE;
    if (!SmtpTextIsSafe(recipient->address, sizeof(recipient->address)) ||
        !SmtpTextIsSafe(recipient->name, sizeof(recipient->name)))
        return VTN_FAILURE;
    _VTN_MAIL_RECIPIENT_INFO one = *recipient;
    one.flags |= VTN_MAIL_INFO;
    _VTN_LOG_EVENT event{};
    event.severity = 'I';
    SetTimeRecord(&event.time);
    CopyText(event.text, VTN_TEST_MAIL_TEXT);
    return vtn_send_mail(server, &one, 1, &event);
}

bool vtn_test_smtp_server(const char* host, uint16_t port)
{
    if (host == nullptr)
        return false;
    char name[256] = {};
    CopyText(name, host);
    int sock = ConnectToServer(name, port);
    if (sock < 0)
        return false;
    bool greeted = CheckCommandResponse(sock, 220);
    if (greeted)
        SendText(sock, "QUIT\r\n");
    DisConnect(sock);
    return greeted;
}
