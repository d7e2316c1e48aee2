// Driver events end to end on the real server with the simulated controller: events raised with
// vtnsim become log lines and pushed 588-byte packets, an event the client saves is not pushed
// back, a client that resets its connection mid-push leaves the server running, and a new event
// is mailed through a real SMTP server (aiosmtpd on 127.0.0.1).
// VTN_THREADED_TEST: the poll, event, mail and request threads run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <sstream>
#include <thread>

#include "rawclient.h"
#include "smtpsink.h"

namespace {

using raw::Socket;
using raw::TestServer;

// Bounded waits: a broken server fails the test instead of hanging it.
constexpr auto kWait = std::chrono::seconds(30);

// Calls done() until it holds or the wait is over.
template <typename Done>
bool Eventually(Done done)
{
    auto end = std::chrono::steady_clock::now() + kWait;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// "severity text" of every line of the event log.
std::vector<std::string> LogTexts(const std::string& log)
{
    std::vector<std::string> texts;
    for (const raw::LogLine& line : raw::LogLines(log))
        texts.push_back(std::string(1, line.severity) + " " + line.text);
    return texts;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class EventsPush : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Prepare("sata4"));
        ASSERT_TRUE(server.Start()) << server.Stderr();
        ASSERT_EQ(server.Connect(&client).status, 0u);
        events = Socket(raw::BindEvents(server.eventPort, static_cast<uint16_t>(server.eventPort)));
        // The bind has no answer: a moment of silence says it was taken rather than refused.
        ASSERT_TRUE(raw::StaysOpenAndSilent(events.fd(), 300));
    }

    void Raise(const std::string& kind, const std::string& device)
    {
        std::string out;
        ASSERT_EQ(server.Sim({"event", kind, device}, &out), 0) << out;
    }

    // The next pushed packet (all zero when none came in time).
    _VTN_EVENT_PACKET NextPush()
    {
        _VTN_EVENT_PACKET p{};
        if (raw::RecvAll(events.fd(), &p, sizeof(p), 30000) != sizeof(p))
            return _VTN_EVENT_PACKET{};
        return p;
    }

    // The log line at index through request 0x301.
    _VTN_LOG_EVENT LogLine(uint32_t index)
    {
        _VTN_REQ_ENUM_EVENT req{};
        req.index = index;
        raw::Reply r = raw::Request(client.fd(), VTN_GROUP_EVENT, VTN_CODE_ENUM_EVENT, &req.event,
                                    sizeof(req) - sizeof(req.head));
        _VTN_LOG_EVENT e{};
        if (r.ok() && !r.isStatus())
            ReadField(r.bytes.data(), r.bytes.size(), sizeof(_Packet_Head), &e);
        return e;
    }

    TempRoot root;
    TestServer server{root};
    Socket client;
    Socket events;
};

TEST_F(EventsPush, RaisedEventsAreLoggedAndPushed)
{
    Raise("1", "1");
    Raise("2", "3");
    Raise("18", "1");   // no such kind: dropped
    Raise("9", "4");    // verify of a disk: dropped
    const struct {
        char severity;
        const char* text;
    } expected[] = {
        {'E', "Disk at Controller1-Channel1-Device1 failed."},
        {'W', "Plugging disk detected.(Controller1-Channel3-Device1)"},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.text);
        _VTN_EVENT_PACKET p = NextPush();
        EXPECT_EQ(p.head.length, 588u);
        EXPECT_EQ(p.head.type, VTN_PACKET_NOTICE);
        EXPECT_EQ(p.event.severity, e.severity);
        EXPECT_STREQ(p.event.text, e.text);

        // The same line in the log, with the same time.
        _VTN_LOG_EVENT line{};
        for (uint32_t i = 0; i < 10; ++i) {
            line = LogLine(i);
            if (strcmp(line.text, e.text) == 0)
                break;
        }
        EXPECT_STREQ(line.text, e.text);
        EXPECT_EQ(line.severity, e.severity);
        EXPECT_EQ(TimeRecordValue(line.time), TimeRecordValue(p.event.time));
    }
    std::vector<std::string> texts = LogTexts(server.Log());
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                            [](const std::string& t) { return t.find("Disk at") != std::string::npos ||
                                                              t.find("Plugging") != std::string::npos ||
                                                              t.find("verifying") != std::string::npos; }),
              2);
}

TEST_F(EventsPush, AnEventTheClientSavesIsNotPushedBack)
{
    _VTN_LOG_EVENT saved{};
    saved.severity = 'I';
    CopyText(saved.text, "Array 'Data' created by the client.");
    raw::Reply r = raw::Request(client.fd(), VTN_GROUP_EVENT, VTN_CODE_SAVE_EVENT, &saved, sizeof(saved));
    ASSERT_TRUE(r.isStatus());
    EXPECT_TRUE(Contains(LogTexts(server.Log()), "I Array 'Data' created by the client."));

    // The first push is the driver's event raised afterwards, not the saved one.
    Raise("2", "2");
    _VTN_EVENT_PACKET p = NextPush();
    EXPECT_STREQ(p.event.text, "Plugging disk detected.(Controller1-Channel2-Device1)");
}

TEST_F(EventsPush, AClientThatResetsMidPushLeavesTheServerRunning)
{
    for (int i = 0; i < 20; ++i)
        Raise(i % 2 ? "1" : "2", std::to_string(1 + i % 4));
    // Reset both connections while the server pushes: a close with linger 0 sends RST.
    ASSERT_TRUE(Eventually([&] {
        pollfd p{events.fd(), POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    }));
    linger reset{1, 0};
    setsockopt(events.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    events.Close();
    client.Close();
    for (int i = 0; i < 10; ++i)
        Raise("1", "1");

    // Every event is still logged, and the next client is served.
    ASSERT_TRUE(Eventually([&] {
        std::vector<std::string> texts = LogTexts(server.Log());
        return std::count_if(texts.begin(), texts.end(), [](const std::string& t) {
                   return t.find("Disk at") != std::string::npos || t.find("Plugging") != std::string::npos;
               }) == 30;
    })) << server.Log();
    EXPECT_TRUE(server.Running());
    Socket next;
    ASSERT_EQ(server.Connect(&next).status, 0u);
    Socket nextEvents(raw::BindEvents(server.eventPort, static_cast<uint16_t>(server.eventPort)));
    ASSERT_TRUE(raw::StaysOpenAndSilent(nextEvents.fd(), 300));
    events = std::move(nextEvents);
    Raise("2", "4");
    EXPECT_STREQ(NextPush().event.text, "Plugging disk detected.(Controller1-Channel4-Device1)");
    EXPECT_EQ(server.Stop(), 0);
}

TEST_F(EventsPush, ANewEventIsMailedSoonAfterItIsLogged)
{
    SmtpSink smtp;
    ASSERT_TRUE(smtp.Start(root.Dir())) << smtp.Errors();
    const std::string sink = smtp.Folder();

    // Errors only, to one recipient: the login line is marked without a mail.
    _VTN_REQ_SET_RECIPIENT rcpt{};
    CopyText(rcpt.recipient.address, "admin@example.com");
    CopyText(rcpt.recipient.name, "Admin");
    rcpt.recipient.flags = VTN_MAIL_ERROR;
    rcpt.action = VTN_RECIPIENT_ADD;
    EXPECT_EQ(raw::Request(client.fd(), VTN_GROUP_MAIL, VTN_CODE_SET_RECIPIENT, &rcpt.recipient,
                           sizeof(rcpt) - sizeof(rcpt.head))
                  .status(),
              0u);
    _VTN_SMTP_SERVER_INFO settings{};
    CopyText(settings.host, "127.0.0.1");
    settings.port = static_cast<uint16_t>(smtp.Port());
    CopyText(settings.sender, "raid@example.com");
    EXPECT_EQ(raw::Request(client.fd(), VTN_GROUP_MAIL, VTN_CODE_SET_SMTP, &settings, sizeof(settings)).status(), 0u);

    Raise("1", "2");
    EXPECT_STREQ(NextPush().event.text, "Disk at Controller1-Channel2-Device1 failed.");
    std::string mail;
    ASSERT_TRUE(Eventually([&] {
        mail = ReadFileText(sink + "/0001.eml");
        return !mail.empty();
    })) << server.Log();
    const std::string envelope = "MAIL FROM:<raid@example.com>\nRCPT TO:<admin@example.com>\n\n";
    EXPECT_EQ(mail.compare(0, envelope.size(), envelope), 0) << mail;
    EXPECT_NE(mail.find("To: Admin <admin@example.com>\r\n"), std::string::npos) << mail;
    EXPECT_NE(mail.find("\r\nDisk at Controller1-Channel2-Device1 failed.\r\n"), std::string::npos) << mail;

    // Every line is marked: mailed, or taken by nobody.
    ASSERT_TRUE(Eventually([&] {
        std::istringstream in(server.Log());
        std::string line;
        bool all = true;
        while (std::getline(in, line))
            all = all && !line.empty() && line[0] == '1';
        return all;
    })) << server.Log();
    EXPECT_FALSE(FileExists(sink + "/0002.eml"));
}

}  // namespace
