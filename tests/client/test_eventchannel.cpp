// The event channel against a fake server on loopback: events cut whole and in order from what
// the socket delivered, however TCP splits them; a packet that stops short, a stream out of step
// and a close each break the connection, after the whole events that came before.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "client.h"
#include "fakeevents.h"
#include "netfuncs.h"
#include "svrfixture.h"

namespace {

int gLost = 0;
void OnLost()
{
    ++gLost;
}

using Clock = std::chrono::steady_clock;

class EventChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        cs_vtn_client_init();
        gLost = 0;
        SetClientWaitSeconds(2);
    }
    void TearDown() override
    {
        for (int i = 0; i < VTN_CLIENT_SLOTS; ++i)
            cs_vtn_disconnect_system(i);
        SetClientWaitSeconds(VTN_CLIENT_WAIT_SECONDS);
    }
    // Logged in to the fake with the event channel on and bound.
    void Open(FakeEventServer& peer)
    {
        cs_vtn_disconnect_system(0);  // what an earlier case left
        gLost = 0;
        ASSERT_EQ(LoginTo(peer.Port(), "RAID", "wqx", OnLost), 0);
        ASSERT_EQ(cs_vtn_enable_event_notify(0, 1), 0);
        ASSERT_GE(peer.EventConnection(), 0);
    }
    // Takes events until count came, the connection breaks or `until` passes; the texts handed out.
    static std::vector<std::string> Take(size_t count, Clock::time_point until)
    {
        std::vector<std::string> texts;
        _VTN_LOG_EVENT ev;
        while (texts.size() < count && gLost == 0 && Clock::now() < until) {
            if (cs_vtn_get_log_event(0, &ev) == 0)
                texts.push_back(ev.text);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return texts;
    }
    static std::vector<std::string> TakeUntilBreak(Clock::time_point until) { return Take(SIZE_MAX, until); }
    static std::vector<std::string> Take(size_t count) { return Take(count, Clock::now() + std::chrono::seconds(30)); }
    static std::vector<std::string> Numbered(size_t count)
    {
        std::vector<std::string> texts;
        for (size_t i = 0; i < count; ++i)
            texts.push_back("event " + std::to_string(i));
        return texts;
    }
    // The packets of Numbered(count), one after the other.
    static std::string Packets(size_t count)
    {
        std::string bytes;
        for (const std::string& text : Numbered(count))
            bytes += EventPacketBytes(text);
        return bytes;
    }
};

TEST_F(EventChannel, PacketThatStopsShortBreaksWithinTheReplyTimeOut)
{
    const std::string event = EventPacketBytes("never whole");
    struct Case {
        const char* what;
        size_t bytes;
    } cases[] = {{"one byte", 1}, {"4 bytes short", 584}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeEventServer peer(event.substr(0, c.bytes));
        Open(peer);
        const auto start = Clock::now();
        const std::vector<std::string> texts = TakeUntilBreak(start + std::chrono::seconds(10));
        const double waited = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_EQ(gLost, 1) << "no break after " << waited << " s";
        EXPECT_TRUE(texts.empty());
        EXPECT_GE(waited, 1.5);
        EXPECT_LT(waited, 5.0) << "the reply time-out is 2 s";
        EXPECT_EQ(gConnections[0].flags, 0);
        EXPECT_EQ(gConnections[0].eventSocket, -1);
    }
}

TEST_F(EventChannel, ShortPacketBeforeAnEventBreaksWithoutHandingOutEitherEvent)
{
    const std::string first = EventPacketBytes("first"), second = EventPacketBytes("second");
    struct Case {
        const char* what;
        size_t bytes;
        bool pause;  // the client looks at the short packet alone before the event comes
    } cases[] = {{"4 bytes short, at once", 584, false},
                 {"4 bytes short, then the event", 584, true},
                 {"half, at once", 300, false},
                 {"half, then the event", 300, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeEventServer peer;
        Open(peer);
        ASSERT_TRUE(peer.Send(first.substr(0, c.bytes)));
        if (c.pause) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            _VTN_LOG_EVENT ev;
            EXPECT_EQ(cs_vtn_get_log_event(0, &ev), -1);
            EXPECT_EQ(gLost, 0);
        }
        ASSERT_TRUE(peer.Send(second));
        const std::vector<std::string> texts = TakeUntilBreak(Clock::now() + std::chrono::seconds(10));
        EXPECT_EQ(gLost, 1);
        EXPECT_TRUE(texts.empty()) << texts.front();
        EXPECT_EQ(gConnections[0].flags, 0);
    }
}

TEST_F(EventChannel, EveryEventComesOutWholeAndInOrder)
{
    struct Case {
        const char* what;
        size_t count;
        size_t piece;  // bytes per write; 0: everything in one write
    } cases[] = {{"a burst of 3000 events in one write", 3000, 0},
                 {"an event a byte at a time", 1, 1},
                 {"ten events in writes of 7 bytes", 10, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeEventServer peer;
        Open(peer);
        const std::string bytes = Packets(c.count);
        // The writer blocks while the client's side is full, as the server's push does.
        std::thread writer([&] {
            const size_t piece = c.piece ? c.piece : bytes.size();
            for (size_t at = 0; at < bytes.size(); at += piece) {
                EXPECT_TRUE(peer.Send(bytes.substr(at, piece)));
                if (c.piece)
                    std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
        const std::vector<std::string> texts = Take(c.count);
        writer.join();
        EXPECT_EQ(texts.size(), c.count);
        EXPECT_EQ(texts, Numbered(c.count));
        _VTN_LOG_EVENT ev;
        EXPECT_EQ(cs_vtn_get_log_event(0, &ev), -1) << "each event came once";
        EXPECT_EQ(gLost, 0);
        EXPECT_EQ(cs_vtn_disconnect_system(0), 0);
    }
}

TEST_F(EventChannel, EventsBeforeACloseAreHandedOutThenTheBreak)
{
    struct Case {
        const char* what;
        size_t tail;  // bytes of a further event that never completes
    } cases[] = {{"whole events", 0}, {"whole events and a part of one", 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeEventServer peer;
        Open(peer);
        ASSERT_TRUE(peer.Send(Packets(5) + EventPacketBytes("cut").substr(0, c.tail)));
        peer.CloseEvents();
        // The close is read with the events; the events still come out, one by one.
        const auto until = Clock::now() + std::chrono::seconds(10);
        while (cs_vtn_drain_log_events(0) < 5 && gLost == 0 && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::vector<std::string> texts;
        _VTN_LOG_EVENT ev;
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(cs_vtn_get_log_event(0, &ev), 0) << i;
            texts.push_back(ev.text);
            EXPECT_EQ(gLost, 0);
        }
        EXPECT_EQ(texts, Numbered(5));
        EXPECT_EQ(cs_vtn_get_log_event(0, &ev), -1);
        EXPECT_EQ(gLost, 1) << "the break comes once no event is left";
        EXPECT_EQ(gConnections[0].flags, 0);
        EXPECT_EQ(cs_vtn_get_log_event(0, &ev), -1);
        EXPECT_EQ(gLost, 1);
    }
}

// Events the library holds belong to the channel they came on.
TEST_F(EventChannel, ReopeningTheChannelDropsWhatTheOldOneBrought)
{
    FakeEventServer peer;
    Open(peer);
    ASSERT_TRUE(peer.Send(EventPacketBytes("old") + EventPacketBytes("old too")));
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (cs_vtn_drain_log_events(0) < 2 && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(cs_vtn_drain_log_events(0), 2);
    ASSERT_EQ(cs_vtn_enable_event_notify(0, 1), 0);
    while (peer.EventConnections() < 2 && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(peer.EventConnections(), 2);
    ASSERT_TRUE(peer.Send(EventPacketBytes("new")));
    EXPECT_EQ(Take(1), std::vector<std::string>{"new"});
    EXPECT_EQ(cs_vtn_drain_log_events(0), 0);
    EXPECT_EQ(gLost, 0);
}

}  // namespace
