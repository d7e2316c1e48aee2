// Mail: the settings file, the SMTP client against a real SMTP server on 127.0.0.1 (aiosmtpd) and
// against a scripted peer for the failure replies, and the mail monitor's passes.
// VTN_THREADED_TEST: the monitor thread's wake-up runs under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "commonsvr.h"
#include "intfimp.h"
#include "fakeslot.h"
#include "smtppeer.h"
#include "smtpsink.h"
#include "testutil.h"
#include "vtnsmtp.h"

namespace {

time_t gNow = 0;
time_t TestClock() { return gNow; }

_VTN_MAIL_RECIPIENT_INFO Recipient(const char* address, const char* name, uint8_t flags)
{
    _VTN_MAIL_RECIPIENT_INFO r{};
    CopyText(r.address, address);
    CopyText(r.name, name);
    r.flags = flags;
    return r;
}

_VTN_SMTP_SERVER_INFO Smtp(int port, uint8_t flags = 0)
{
    _VTN_SMTP_SERVER_INFO s{};
    CopyText(s.host, "127.0.0.1");
    s.port = static_cast<uint16_t>(port);
    s.flags = flags;
    CopyText(s.sender, "raid@example.com");
    return s;
}

_VTN_LOG_EVENT Event(char severity, const char* text, time_t when)
{
    _VTN_LOG_EVENT e{};
    e.severity = severity;
    e.time = ConvertTimeT(when);
    CopyText(e.text, text);
    return e;
}

std::string MailDate(time_t t)
{
    tm local{};
    localtime_r(&t, &local);
    char text[128];
    strftime(text, sizeof(text), "%a, %d %b %Y %H:%M:%S %Z", &local);
    return text;
}

// ---- the settings file ----

class MailFileTest : public ::testing::Test {
protected:
    TempRoot root;
};

TEST_F(MailFileTest, RecipientChanges)
{
    _VTN_SMTP_SERVER_INFO smtp{};
    _VTN_MAIL_RECIPIENT_INFO r{};
    EXPECT_EQ(cs_vtn_get_smtp_server(0, &smtp), VTN_FILE_MISSING);
    EXPECT_EQ(cs_vtn_enum_mail_recipient(0, &r, 0), VTN_FILE_MISSING);

    // The first recipient creates the file with a zero SMTP record in front.
    _VTN_MAIL_RECIPIENT_INFO a = Recipient("a@example.com", "Alice", VTN_MAIL_ERROR);
    _VTN_MAIL_RECIPIENT_INFO b = Recipient("b@example.com", "Bob", VTN_MAIL_INFO);
    ASSERT_EQ(cs_vtn_set_mail_recipients(0, &a, VTN_RECIPIENT_ADD), VTN_SUCCESS);
    ASSERT_EQ(cs_vtn_set_mail_recipients(0, &b, VTN_RECIPIENT_ADD), VTN_SUCCESS);
    ASSERT_EQ(cs_vtn_get_smtp_server(0, &smtp), VTN_SUCCESS);
    const _VTN_SMTP_SERVER_INFO zero{};
    EXPECT_EQ(memcmp(&smtp, &zero, sizeof(smtp)), 0);
    struct stat st;
    ASSERT_EQ(stat(root.Path("/etc/vtnmailset.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 260 + 2 * 132);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    struct Step {
        const char* what;
        _VTN_MAIL_RECIPIENT_INFO rec;
        uint8_t action;
        uint32_t status;
    };
    const Step steps[] = {
        {"the same address again", Recipient("a@example.com", "Other", VTN_MAIL_INFO), VTN_RECIPIENT_ADD,
         VTN_RECIPIENT_EXISTS},
        {"flags of an unknown address", Recipient("x@example.com", "", VTN_MAIL_INFO), VTN_RECIPIENT_SET_FLAGS,
         VTN_NOT_FOUND},
        {"name of an unknown address", Recipient("x@example.com", "X", 0), VTN_RECIPIENT_SET_NAME, VTN_NOT_FOUND},
        {"flags", Recipient("a@example.com", "", VTN_MAIL_WARNING | VTN_MAIL_ERROR), VTN_RECIPIENT_SET_FLAGS,
         VTN_SUCCESS},
        {"name", Recipient("b@example.com", "Robert", 0), VTN_RECIPIENT_SET_NAME, VTN_SUCCESS},
        {"delete", Recipient("a@example.com", "", 0), VTN_RECIPIENT_DELETE, VTN_SUCCESS},
        {"delete again: only records in use match", Recipient("a@example.com", "", 0), VTN_RECIPIENT_DELETE,
         VTN_NOT_FOUND},
        {"an unknown action", Recipient("b@example.com", "", 0), 4, VTN_FAILURE},
        {"a CR in the address", Recipient("c@example.com\r", "", 0), VTN_RECIPIENT_ADD, VTN_FAILURE},
        {"a LF in the name", Recipient("c@example.com", "C\nRCPT TO:<evil>", 0), VTN_RECIPIENT_ADD, VTN_FAILURE},
        {"'<' in the address", Recipient("c<@example.com", "", 0), VTN_RECIPIENT_ADD, VTN_FAILURE},
        {"'>' in the name", Recipient("c@example.com", "C>", 0), VTN_RECIPIENT_ADD, VTN_FAILURE},
        {"added into the freed record", Recipient("c@example.com", "Carol", VTN_MAIL_INFO), VTN_RECIPIENT_ADD,
         VTN_SUCCESS},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        _VTN_MAIL_RECIPIENT_INFO rec = s.rec;
        EXPECT_EQ(cs_vtn_set_mail_recipients(0, &rec, s.action), s.status);
    }
    ASSERT_EQ(stat(root.Path("/etc/vtnmailset.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 260 + 2 * 132);

    // In file order: Carol took Alice's freed first record.
    const struct {
        const char* address;
        const char* name;
        uint8_t flags;
    } expected[] = {
        {"c@example.com", "Carol", VTN_MAIL_INFO | VTN_MAIL_IN_USE},
        {"b@example.com", "Robert", VTN_MAIL_INFO | VTN_MAIL_IN_USE},
    };
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(cs_vtn_enum_mail_recipient(0, &r, i), VTN_SUCCESS);
        EXPECT_STREQ(r.address, expected[i].address);
        EXPECT_STREQ(r.name, expected[i].name);
        EXPECT_EQ(r.flags, expected[i].flags);
    }
    EXPECT_EQ(cs_vtn_enum_mail_recipient(0, &r, 2), VTN_NO_MORE_ENTRIES);
    EXPECT_EQ(cs_vtn_enum_mail_recipient(0, &r, -1), VTN_NO_MORE_ENTRIES);
}

TEST_F(MailFileTest, SmtpRecord)
{
    _VTN_SMTP_SERVER_INFO smtp = Smtp(2525);
    memset(smtp.reserved1, 'x', sizeof(smtp.reserved1));
    ASSERT_EQ(cs_vtn_set_smtp_server(0, &smtp), VTN_SUCCESS);
    _VTN_SMTP_SERVER_INFO back{};
    ASSERT_EQ(cs_vtn_get_smtp_server(0, &back), VTN_SUCCESS);
    EXPECT_STREQ(back.host, "127.0.0.1");
    EXPECT_EQ(back.port, 2525);
    EXPECT_STREQ(back.sender, "raid@example.com");
    EXPECT_EQ(back.reserved1[63], '\0');

    for (const char* sender : {"a\r\nRCPT TO:<evil>", "a\nb", "<a", "a>"}) {
        SCOPED_TRACE(sender);
        _VTN_SMTP_SERVER_INFO bad = Smtp(2525);
        CopyText(bad.sender, sender);
        EXPECT_EQ(cs_vtn_set_smtp_server(0, &bad), VTN_FAILURE);
    }
    ASSERT_EQ(cs_vtn_get_smtp_server(0, &back), VTN_SUCCESS);
    EXPECT_STREQ(back.sender, "raid@example.com");

    // A short file is not a record.
    ASSERT_TRUE(WriteFileText(root.Path("/etc/vtnmailset.dat"), "short"));
    EXPECT_EQ(cs_vtn_get_smtp_server(0, &back), VTN_FAILURE);
}

// ---- the mail requests through the dispatcher ----

template <typename T>
std::vector<uint8_t> Bytes(const T& record)
{
    std::vector<uint8_t> bytes(sizeof(record));
    memcpy(bytes.data(), &record, sizeof(record));
    return bytes;
}

std::vector<uint8_t> SmtpRequest(const _VTN_SMTP_SERVER_INFO& smtp)
{
    _VTN_REQ_SMTP req{};
    req.smtp = smtp;
    return Bytes(req);
}

std::vector<uint8_t> RecipientChange(const _VTN_MAIL_RECIPIENT_INFO& r, uint8_t action)
{
    _VTN_REQ_SET_RECIPIENT req{};
    req.recipient = r;
    req.action = action;
    return Bytes(req);
}

std::vector<uint8_t> RecipientAt(uint32_t index)
{
    _VTN_REQ_ENUM_RECIPIENT req{};
    req.index = index;
    return Bytes(req);
}

std::vector<uint8_t> TestMailTo(const _VTN_MAIL_RECIPIENT_INFO& r)
{
    _VTN_REQ_RECIPIENT req{};
    req.recipient = r;
    return Bytes(req);
}

class MailRequestsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GE(fake.peer, 0);
        gSvrGlobal.flags.store(0);
    }
    void TearDown() override
    {
        gSvrGlobal.flags.store(0);
    }

    // Sends one request; the status word of the answer, or 0 for a data reply of the request's length.
    uint32_t Send(std::vector<uint8_t> packet, uint32_t code, bool* data)
    {
        FillPacketHead(reinterpret_cast<_Packet_Head*>(packet.data()), static_cast<uint32_t>(packet.size()),
                       VTN_PACKET_REQUEST, VTN_GROUP_MAIL, code);
        std::vector<uint8_t> answer = fake.Run(packet.data());
        EXPECT_GE(answer.size(), sizeof(_Packet_Head));
        *data = answer.size() > 12 && answer[12] == VTN_PACKET_REPLY;
        if (*data) {
            EXPECT_EQ(answer.size(), packet.size());
            return VTN_SUCCESS;
        }
        EXPECT_TRUE(answer.size() > 12 && answer[12] == VTN_PACKET_STATUS);
        return FakeSlot::StatusOf(answer);
    }

    TempRoot root;
    FakeSlot fake;
};

TEST_F(MailRequestsTest, StatusWordsAndTheReloadMark)
{
    const int closedPort = FreeTcpPort();   // nothing listens: a test mail cannot connect
    _VTN_SMTP_SERVER_INFO badSender = Smtp(closedPort);
    CopyText(badSender.sender, "raid@example.com\r\nRCPT TO:<x@example.com>");
    _VTN_MAIL_RECIPIENT_INFO alice = Recipient("a@example.com", "Alice", VTN_MAIL_ERROR);
    _VTN_MAIL_RECIPIENT_INFO noNul = Recipient("", "No end", 0);
    memset(noNul.address, 'a', sizeof(noNul.address));

    const struct {
        const char* what;
        uint32_t code;
        std::vector<uint8_t> packet;
        bool data;         // a data reply rather than a status
        uint32_t status;
        bool reload;       // the mail monitor is told to reload
    } steps[] = {
        {"get, no settings file", VTN_CODE_GET_SMTP, SmtpRequest({}), false, VTN_FILE_MISSING, false},
        {"set", VTN_CODE_SET_SMTP, SmtpRequest(Smtp(closedPort)), false, VTN_SUCCESS, true},
        {"set, a line break in the sender", VTN_CODE_SET_SMTP, SmtpRequest(badSender), false, VTN_FAILURE, false},
        {"get", VTN_CODE_GET_SMTP, SmtpRequest({}), true, VTN_SUCCESS, true},
        {"add", VTN_CODE_SET_RECIPIENT, RecipientChange(alice, VTN_RECIPIENT_ADD), false, VTN_SUCCESS, true},
        {"add again", VTN_CODE_SET_RECIPIENT, RecipientChange(alice, VTN_RECIPIENT_ADD), false, VTN_RECIPIENT_EXISTS,
         false},
        {"add, '<' in the name", VTN_CODE_SET_RECIPIENT,
         RecipientChange(Recipient("b@example.com", "B<", 0), VTN_RECIPIENT_ADD), false, VTN_FAILURE, false},
        {"an unknown action", VTN_CODE_SET_RECIPIENT, RecipientChange(alice, 9), false, VTN_FAILURE, false},
        {"the first recipient", VTN_CODE_ENUM_RECIPIENT, RecipientAt(0), true, VTN_SUCCESS, false},
        {"past the last recipient", VTN_CODE_ENUM_RECIPIENT, RecipientAt(1), false, VTN_NO_MORE_ENTRIES, false},
        {"an index past 0x7FFFFFFF", VTN_CODE_ENUM_RECIPIENT, RecipientAt(0x80000000u), false, VTN_NO_MORE_ENTRIES,
         false},
        {"test mail, '>' in the address", VTN_CODE_TEST_MAIL, TestMailTo(Recipient("a@example.com>", "A", 0)), false,
         VTN_FAILURE, false},
        {"test mail, an address that fills its field", VTN_CODE_TEST_MAIL, TestMailTo(noNul), false,
         VTN_CANNOT_CONNECT, false},
        {"delete", VTN_CODE_SET_RECIPIENT, RecipientChange(alice, VTN_RECIPIENT_DELETE), false, VTN_SUCCESS, true},
        {"delete again", VTN_CODE_SET_RECIPIENT, RecipientChange(alice, VTN_RECIPIENT_DELETE), false, VTN_NOT_FOUND,
         false},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        gSvrGlobal.flags.store(0);
        bool data = false;
        EXPECT_EQ(Send(step.packet, step.code, &data), step.status);
        EXPECT_EQ(data, step.data);
        EXPECT_EQ(TestSvrFlag(VTN_FLAG_RELOAD_MAIL), step.reload);
    }
}

// ---- a real SMTP server ----

// aiosmtpd on a free port of 127.0.0.1, writing each message to a folder under the test's root.
class SmtpSinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VtnSetTimeSource(TestClock);
        gNow = 1773000000;   // a fixed moment: the Date header is known
        SmtpSetByteWait(10000);
        ASSERT_TRUE(sink.Start(root.Dir())) << sink.Errors();
        port = sink.Port();
        FreeRecipientList();
        gSvrGlobal.flags.store(0);
    }
    void TearDown() override
    {
        FreeRecipientList();
        gSvrGlobal.flags.store(0);
        VtnSetTimeSource(nullptr);
    }

    std::vector<std::string> Mails() const { return sink.Mails(); }
    std::vector<std::string> WaitForMails(size_t count) const { return sink.WaitForMails(count); }

    // What the sink writes for a message of this program.
    static std::string Expected(const std::vector<std::string>& rcpts, const std::string& to, time_t eventTime,
                                const std::string& text)
    {
        std::string mail = "MAIL FROM:<raid@example.com>\n";
        for (const auto& r : rcpts)
            mail += "RCPT TO:<" + r + ">\n";
        return mail + "\nFrom: raid@example.com<raid@example.com>\r\n" + to +
               "\r\nSubject: Vorathine Storage Management Software Mail Notifiction\r\n" + "Date: " +
               MailDate(gNow) + "\r\nX-Mailer: Vorathine-SMTP v1.0\r\n" + "\r\n" + MailDate(eventTime) +
               ":    \r\n" + text + "\r\n";
    }

    std::string Marks()
    {
        std::string marks;
        _VTN_LOG_EVENT e{};
        for (int i = 0; EnumEvent(&e, i) == VTN_SUCCESS; ++i)
            marks += e.mark;
        return marks;
    }

    void Log(char severity, const char* text)
    {
        char buf[512];
        CopyText(buf, text);
        SaveStrEvent(static_cast<uint8_t>(severity), buf);
    }

    TempRoot root;
    SmtpSink sink;
    int port = 0;
};

TEST_F(SmtpSinkTest, ALineGoesToTheRecipientsOfItsSeverity)
{
    _VTN_SMTP_SERVER_INFO smtp = Smtp(port);
    _VTN_MAIL_RECIPIENT_INFO list[] = {
        Recipient("a@example.com", "Alice", VTN_MAIL_WARNING | VTN_MAIL_ERROR),
        Recipient("b@example.com", "Bob", VTN_MAIL_INFO),
        Recipient("c@example.com", "Carol", VTN_MAIL_WARNING),
        Recipient("d@example.com", "Dave", VTN_MAIL_ERROR),
    };
    const time_t eventTime = gNow - 3600;
    _VTN_LOG_EVENT warning = Event('W', "Array 'Data' rebuilding aborted.", eventTime);
    ASSERT_EQ(vtn_send_mail(&smtp, list, 4, &warning), VTN_SUCCESS);
    std::vector<std::string> mails = WaitForMails(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0], Expected({"a@example.com", "c@example.com"},
                                 "To: Alice <a@example.com>,Carol <c@example.com>", eventTime,
                                 "Array 'Data' rebuilding aborted."));

    // Nobody takes it: no mail, and done.
    _VTN_LOG_EVENT other = Event('X', "unknown severity", eventTime);
    EXPECT_EQ(vtn_send_mail(&smtp, list, 4, &other), VTN_SUCCESS);
    _VTN_LOG_EVENT info = Event('I', "information", eventTime);
    EXPECT_EQ(vtn_send_mail(&smtp, list + 2, 2, &info), VTN_SUCCESS);

    // Lines that begin with a dot arrive whole.
    for (const char* text : {".starts with a dot", "."}) {
        SCOPED_TRACE(text);
        size_t before = Mails().size();
        _VTN_LOG_EVENT dotted = Event('E', text, eventTime);
        ASSERT_EQ(vtn_send_mail(&smtp, list, 4, &dotted), VTN_SUCCESS);
        mails = WaitForMails(before + 1);
        ASSERT_EQ(mails.size(), before + 1);
        EXPECT_EQ(mails.back(), Expected({"a@example.com", "d@example.com"},
                                         "To: Alice <a@example.com>,Dave <d@example.com>", eventTime, text));
    }
}

TEST_F(SmtpSinkTest, TestMail)
{
    _VTN_SMTP_SERVER_INFO smtp = Smtp(port);
    _VTN_MAIL_RECIPIENT_INFO someone = Recipient("e@example.com", "Eve", 0);
    ASSERT_EQ(vtn_test_mail(&smtp, &someone), VTN_SUCCESS);
    std::vector<std::string> mails = WaitForMails(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0], Expected({"e@example.com"}, "To: Eve <e@example.com>", gNow, "This is a test mail."));

    _VTN_MAIL_RECIPIENT_INFO injected = Recipient("e@example.com>\r\nRCPT TO:<f@example.com", "Eve", 0);
    EXPECT_EQ(vtn_test_mail(&smtp, &injected), VTN_FAILURE);
    EXPECT_TRUE(vtn_test_smtp_server("127.0.0.1", static_cast<uint16_t>(port)));
}

TEST_F(SmtpSinkTest, MonitorPassMailsAndMarksEachLine)
{
    _VTN_SMTP_SERVER_INFO smtp = Smtp(port);
    ASSERT_EQ(cs_vtn_set_smtp_server(0, &smtp), VTN_SUCCESS);
    _VTN_MAIL_RECIPIENT_INFO a = Recipient("a@example.com", "Alice", VTN_MAIL_ERROR);
    _VTN_MAIL_RECIPIENT_INFO c = Recipient("c@example.com", "Carol", VTN_MAIL_ERROR | VTN_MAIL_WARNING);
    ASSERT_EQ(cs_vtn_set_mail_recipients(0, &a, VTN_RECIPIENT_ADD), VTN_SUCCESS);
    ASSERT_EQ(cs_vtn_set_mail_recipients(0, &c, VTN_RECIPIENT_ADD), VTN_SUCCESS);
    Log('E', "Disk at Controller1-Channel1-Device1 failed.");
    Log('I', "nobody takes information");
    Log('W', "Array 'Data' verifying failed.");

    VtnMailMonitorState state{};
    gSvrGlobal.flags.store(VTN_FLAG_RELOAD_MAIL | VTN_FLAG_NEW_EVENT);
    EXPECT_EQ(MailMonitorPass(&state), VtnMailPass::Mailed);
    EXPECT_FALSE(TestSvrFlag(VTN_FLAG_RELOAD_MAIL | VTN_FLAG_NEW_EVENT));
    EXPECT_EQ(Marks(), "111");
    std::vector<std::string> mails = WaitForMails(2);
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_NE(mails[0].find("RCPT TO:<a@example.com>\nRCPT TO:<c@example.com>\n\n"), std::string::npos);
    EXPECT_NE(mails[0].find("\r\nDisk at Controller1-Channel1-Device1 failed.\r\n"), std::string::npos);
    EXPECT_NE(mails[1].find("RCPT TO:<c@example.com>\n\n"), std::string::npos);
    EXPECT_NE(mails[1].find("\r\nArray 'Data' verifying failed.\r\n"), std::string::npos);

    // The next pass mails only the new line.
    Log('E', "one more");
    SetSvrFlag(VTN_FLAG_NEW_EVENT);
    EXPECT_EQ(MailMonitorPass(&state), VtnMailPass::Mailed);
    EXPECT_EQ(Marks(), "1111");
    EXPECT_EQ(WaitForMails(3).size(), 3u);

    // Mail switched off: the list is dropped, nothing is sent, the line waits.
    smtp.flags = VTN_SMTP_NOTIFY_OFF;
    ASSERT_EQ(cs_vtn_set_smtp_server(0, &smtp), VTN_SUCCESS);
    Log('E', "while off");
    gSvrGlobal.flags.store(VTN_FLAG_RELOAD_MAIL | VTN_FLAG_NEW_EVENT);
    EXPECT_EQ(MailMonitorPass(&state), VtnMailPass::BackOff);
    EXPECT_EQ(gSvrGlobal.recipients, nullptr);
    SetSvrFlag(VTN_FLAG_NEW_EVENT);
    EXPECT_EQ(MailMonitorPass(&state), VtnMailPass::BackOff);
    EXPECT_EQ(Marks(), "11110");
    EXPECT_EQ(Mails().size(), 3u);
}

TEST_F(SmtpSinkTest, APassStartsAtTheFirstLineNotMailedUnlessTheLogChanged)
{
    _VTN_SMTP_SERVER_INFO smtp = Smtp(port);
    ASSERT_EQ(cs_vtn_set_smtp_server(0, &smtp), VTN_SUCCESS);
    _VTN_MAIL_RECIPIENT_INFO a = Recipient("a@example.com", "Alice", VTN_MAIL_ERROR);
    ASSERT_EQ(cs_vtn_set_mail_recipients(0, &a, VTN_RECIPIENT_ADD), VTN_SUCCESS);
    Log('E', "one");
    Log('E', "two");
    VtnMailMonitorState state{};
    gSvrGlobal.flags.store(VTN_FLAG_RELOAD_MAIL | VTN_FLAG_NEW_EVENT);
    ASSERT_EQ(MailMonitorPass(&state), VtnMailPass::Mailed);
    ASSERT_EQ(WaitForMails(2).size(), 2u);
    EXPECT_EQ(state.firstUnmailed, 2);

    // Cleared: the new lines are numbered from 0 again and all of them go out.
    ASSERT_EQ(Clear_EventLog(), 0);
    Log('E', "after the clear");
    ASSERT_EQ(MailMonitorPass(&state), VtnMailPass::Mailed);
    EXPECT_EQ(Marks(), "1");
    ASSERT_EQ(WaitForMails(3).size(), 3u);

    // Rewritten behind the log's back with more lines, none mailed: all of them go out.
    ASSERT_TRUE(WriteFileText(root.Path("/var/log/vtn.log"), "0\tE\t03/08/26 10:00:00\tx\n"
                                                              "0\tE\t03/08/26 10:00:01\ty\n"
                                                              "0\tE\t03/08/26 10:00:02\tz\n"));
    ASSERT_EQ(MailMonitorPass(&state), VtnMailPass::Mailed);
    EXPECT_EQ(Marks(), "111");
    EXPECT_EQ(WaitForMails(6).size(), 6u);
}

TEST_F(SmtpSinkTest, NotificationOffFromTheStart)
{
    _VTN_SMTP_SERVER_INFO smtp = Smtp(port, VTN_SMTP_NOTIFY_OFF);
    ASSERT_EQ(cs_vtn_set_smtp_server(0, &smtp), VTN_SUCCESS);
    _VTN_MAIL_RECIPIENT_INFO a = Recipient("a@example.com", "Alice", VTN_MAIL_ERROR | VTN_MAIL_INFO);
    ASSERT_EQ(cs_vtn_set_mail_recipients(0, &a, VTN_RECIPIENT_ADD), VTN_SUCCESS);
    Log('E', "an error");
    VtnMailMonitorState state{};
    gSvrGlobal.flags.store(VTN_FLAG_RELOAD_MAIL | VTN_FLAG_NEW_EVENT);
    EXPECT_EQ(MailMonitorPass(&state), VtnMailPass::BackOff);
    EXPECT_EQ(Marks(), "0");
    EXPECT_TRUE(Mails().empty());
}

TEST_F(SmtpSinkTest, AReloadKeepsOrDropsTheRecipients)
{
    _VTN_SMTP_SERVER_INFO smtp = Smtp(port);
    ASSERT_EQ(cs_vtn_set_smtp_server(0, &smtp), VTN_SUCCESS);
    _VTN_MAIL_RECIPIENT_INFO a = Recipient("a@example.com", "Alice", VTN_MAIL_ERROR);
    ASSERT_EQ(cs_vtn_set_mail_recipients(0, &a, VTN_RECIPIENT_ADD), VTN_SUCCESS);
    VtnMailMonitorState state{};
    gSvrGlobal.flags.store(VTN_FLAG_RELOAD_MAIL | VTN_FLAG_NEW_EVENT);
    ASSERT_EQ(MailMonitorPass(&state), VtnMailPass::Mailed);
    ASSERT_NE(gSvrGlobal.recipients, nullptr);

    const int closedPort = FreeTcpPort();
    const struct {
        const char* what;
        bool (*change)(int closedPort, const std::string& file);
        bool listKept;
    } steps[] = {
        {"the SMTP server does not answer: the list loaded before stays",
         [](int closed, const std::string&) {
             _VTN_SMTP_SERVER_INFO unreachable = Smtp(closed);
             return cs_vtn_set_smtp_server(0, &unreachable) == VTN_SUCCESS;
         },
         true},
        {"the settings cannot be read: the list is dropped",
         [](int, const std::string& file) { return unlink(file.c_str()) == 0; }, false},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(step.change(closedPort, root.Path("/etc/vtnmailset.dat")));
        gSvrGlobal.flags.store(VTN_FLAG_RELOAD_MAIL | VTN_FLAG_NEW_EVENT);
        EXPECT_EQ(MailMonitorPass(&state), VtnMailPass::BackOff);
        EXPECT_EQ(gSvrGlobal.recipients != nullptr, step.listKept);
    }
}

void* MonitorThread(void*)
{
    return mailmonitor(nullptr);
}

TEST_F(SmtpSinkTest, MonitorBackOffEndsWhenTheSettingsChange)
{
    Log('E', "logged while mail is not set up");
    // No settings yet: the first pass backs off for a long time.
    MailMonitorSetPauses(50, 1000 * 1000);
    gSvrGlobal.flags.store(VTN_FLAGS_AT_START & ~VTN_FLAG_RELOAD_TASKS);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, MonitorThread, nullptr), 0);
    // The monitor is in its back-off once the start bits are gone.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (TestSvrFlag(VTN_FLAG_RELOAD_MAIL) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(TestSvrFlag(VTN_FLAG_RELOAD_MAIL));

    // Set up as a group 0x200 request does it: the change ends the back-off.
    _VTN_SMTP_SERVER_INFO smtp = Smtp(port);
    EXPECT_EQ(cs_vtn_set_smtp_server(0, &smtp), VTN_SUCCESS);
    _VTN_MAIL_RECIPIENT_INFO a = Recipient("a@example.com", "Alice", VTN_MAIL_ERROR);
    EXPECT_EQ(cs_vtn_set_mail_recipients(0, &a, VTN_RECIPIENT_ADD), VTN_SUCCESS);
    SetSvrFlag(VTN_FLAG_RELOAD_MAIL);
    std::vector<std::string> mails = WaitForMails(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].find("\r\nlogged while mail is not set up\r\n"), std::string::npos);

    SetSvrFlag(VTN_FLAG_STOP);
    pthread_join(thread, nullptr);
    MailMonitorSetPauses(2000, 1000 * 1000);
}

TEST_F(SmtpSinkTest, MonitorWakesForANewLine)
{
    _VTN_SMTP_SERVER_INFO smtp = Smtp(port);
    ASSERT_EQ(cs_vtn_set_smtp_server(0, &smtp), VTN_SUCCESS);
    _VTN_MAIL_RECIPIENT_INFO a = Recipient("a@example.com", "Alice", VTN_MAIL_ERROR);
    ASSERT_EQ(cs_vtn_set_mail_recipients(0, &a, VTN_RECIPIENT_ADD), VTN_SUCCESS);
    Log('E', "logged before the start");

    // As at start-up; the idle wait and back-off stay long, so only a wake-up gets the mail out.
    MailMonitorSetPauses(50, 1000 * 1000);
    gSvrGlobal.flags.store(VTN_FLAGS_AT_START & ~VTN_FLAG_RELOAD_TASKS);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, MonitorThread, nullptr), 0);
    EXPECT_EQ(WaitForMails(1).size(), 1u);

    _VTN_LOG_EVENT e = Event('E', "pushed later", gNow);
    SaveEventToFile(&e);
    EventNotification(&e, nullptr);
    std::vector<std::string> mails = WaitForMails(2);
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_NE(mails[1].find("\r\npushed later\r\n"), std::string::npos);

    SetSvrFlag(VTN_FLAG_STOP);
    pthread_join(thread, nullptr);
    MailMonitorSetPauses(2000, 1000 * 1000);
}

// ---- a scripted peer: the failure replies ----

smtppeer::Script Replies(std::vector<std::string> replies, int trickleMs = 0)
{
    smtppeer::Script s;
    s.replies = std::move(replies);
    s.trickleMs = trickleMs;
    return s;
}

smtppeer::Script StallAfter(std::vector<std::string> replies, int count, std::string partial)
{
    smtppeer::Script s = Replies(std::move(replies));
    s.stallAfter = count;
    s.partial = std::move(partial);
    return s;
}

class SmtpPeerTest : public ::testing::Test {
protected:
    void SetUp() override { SmtpSetByteWait(10000); }
    void TearDown() override { SmtpSetByteWait(10000); }
    TempRoot root;
};

struct PeerCase {
    const char* what;
    std::vector<std::string> replies;
    uint32_t status;
};

TEST_F(SmtpPeerTest, EachStepHasItsStatus)
{
    const std::string hi = "220 peer ready\r\n";
    const std::string ok = "250 ok\r\n";
    const std::string go = "354 go ahead\r\n";
    const PeerCase cases[] = {
        {"accepted", {hi, ok, ok, ok, ok, go, ok}, VTN_SUCCESS},
        {"one recipient of two refused", {hi, ok, ok, "550 no such user\r\n", ok, go, ok}, VTN_SUCCESS},
        {"greeting not 220", {"554 go away\r\n"}, VTN_SMTP_NO_GREETING},
        {"HELO refused", {hi, "501 who are you\r\n"}, VTN_SMTP_HELO_FAILED},
        {"MAIL FROM refused", {hi, ok, "550 not you\r\n"}, VTN_SMTP_FROM_FAILED},
        {"every RCPT TO refused", {hi, ok, ok, "550 no\r\n", "550 no\r\n"}, VTN_SMTP_NO_RECIPIENT},
        {"DATA refused", {hi, ok, ok, ok, ok, "451 later\r\n"}, VTN_SMTP_DATA_FAILED},
        {"message refused", {hi, ok, ok, ok, ok, go, "552 too big\r\n"}, VTN_SMTP_END_FAILED},
        {"a greeting of several lines", {"220-peer\r\n220-says\r\n220 hello\r\n", ok, ok, ok, ok, go, ok},
         VTN_SUCCESS},
        {"a HELO answer of several lines", {hi, "250-peer\r\n250-PIPELINING\r\n250 HELP\r\n", ok, ok, ok, go, ok},
         VTN_SUCCESS},
        {"the last line decides", {hi, "250-fine so far\r\n550 but no\r\n"}, VTN_SMTP_HELO_FAILED},
        {"a peer that closes at once", {}, VTN_SMTP_NO_GREETING},
    };
    _VTN_MAIL_RECIPIENT_INFO list[] = {
        Recipient("a@example.com", "Alice", VTN_MAIL_ERROR),
        Recipient("b@example.com", "Bob", VTN_MAIL_ERROR),
    };
    _VTN_LOG_EVENT e = Event('E', "Disk at Controller1-Channel1-Device1 failed.", 1773000000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        smtppeer::Peer peer(Replies(c.replies));
        _VTN_SMTP_SERVER_INFO smtp = Smtp(peer.Port());
        EXPECT_EQ(vtn_send_mail(&smtp, list, 2, &e), c.status);
        const std::string& got = peer.Received();
        // The dialogue always ends with QUIT.
        if (!c.replies.empty()) {
            ASSERT_GE(got.size(), 6u);
            EXPECT_EQ(got.substr(got.size() - 6), "QUIT\r\n");
        }
    }
}

TEST_F(SmtpPeerTest, TheCommandsInOrder)
{
    const std::string ok = "250 ok\r\n";
    smtppeer::Peer peer(Replies({"220 hi\r\n", ok, ok, ok, "250 ok\r\n", "354 go\r\n", ok}));
    _VTN_SMTP_SERVER_INFO smtp = Smtp(peer.Port());
    _VTN_MAIL_RECIPIENT_INFO list[] = {
        Recipient("a@example.com", "Alice", VTN_MAIL_ERROR),
        Recipient("x@example.com", "Xavier", VTN_MAIL_INFO),
        Recipient("b@example.com", "Bob", VTN_MAIL_ERROR),
    };
    _VTN_LOG_EVENT e = Event('E', "failed", 1773000000);
    ASSERT_EQ(vtn_send_mail(&smtp, list, 3, &e), VTN_SUCCESS);
    char host[129] = {};
    gethostname(host, sizeof(host) - 1);
    const std::string got = peer.Received();
    const std::string commands = std::string("HELO ") + host +
                                 "\r\nMAIL FROM:<raid@example.com>\r\nRCPT TO:<a@example.com>\r\n"
                                 "RCPT TO:<b@example.com>\r\nDATA\r\nFrom: raid@example.com<raid@example.com>\r\n"
                                 "To: Alice <a@example.com>,Bob <b@example.com>\r\nSubject: ";
    EXPECT_EQ(got.substr(0, commands.size()), commands);
    const std::string end = "\r\nfailed\r\n.\r\nQUIT\r\n";
    ASSERT_GE(got.size(), end.size());
    EXPECT_EQ(got.substr(got.size() - end.size()), end);
}

TEST_F(SmtpPeerTest, SlowAndStalledPeers)
{
    SmtpSetByteWait(2000);
    {
        // One byte at a time, each well within the wait.
        smtppeer::Peer peer(Replies({"220-slow\r\n220 peer\r\n"}, 10));
        EXPECT_TRUE(vtn_test_smtp_server("127.0.0.1", static_cast<uint16_t>(peer.Port())));
        EXPECT_EQ(peer.Received(), "QUIT\r\n");
    }
    {
        // Half a greeting, then silence: the wait for the next byte ends the reply.
        smtppeer::Peer peer(StallAfter({}, 0, "220"));
        _VTN_SMTP_SERVER_INFO smtp = Smtp(peer.Port());
        _VTN_MAIL_RECIPIENT_INFO a = Recipient("a@example.com", "Alice", VTN_MAIL_INFO);
        EXPECT_EQ(vtn_test_mail(&smtp, &a), VTN_SMTP_NO_GREETING);
    }
    {
        smtppeer::Peer peer(StallAfter({"220 hi\r\n"}, 1, "25"));
        _VTN_SMTP_SERVER_INFO smtp = Smtp(peer.Port());
        _VTN_MAIL_RECIPIENT_INFO a = Recipient("a@example.com", "Alice", VTN_MAIL_INFO);
        EXPECT_EQ(vtn_test_mail(&smtp, &a), VTN_SMTP_HELO_FAILED);
        EXPECT_EQ(peer.Received().substr(peer.Received().size() - 6), "QUIT\r\n");
    }
}

TEST_F(SmtpPeerTest, NothingListening)
{
    const int port = FreeTcpPort();
    _VTN_SMTP_SERVER_INFO smtp = Smtp(port);
    _VTN_MAIL_RECIPIENT_INFO a = Recipient("a@example.com", "Alice", VTN_MAIL_INFO);
    EXPECT_EQ(vtn_test_mail(&smtp, &a), VTN_CANNOT_CONNECT);
    EXPECT_FALSE(vtn_test_smtp_server("127.0.0.1", static_cast<uint16_t>(port)));
    // No recipient takes the line: not even a connection is tried.
    _VTN_LOG_EVENT e = Event('E', "error", 1773000000);
    _VTN_MAIL_RECIPIENT_INFO warnings = Recipient("w@example.com", "W", VTN_MAIL_WARNING);
    EXPECT_EQ(vtn_send_mail(&smtp, &warnings, 1, &e), VTN_SUCCESS);
}

}  // namespace
