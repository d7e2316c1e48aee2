// Bursts of events pushed by the real vtnsvr to the logged-in window: every event the server
// logged reaches its box, the Event View and the local copy, in order, when the boxes are answered
// at once and when one of them is left open for two minutes meanwhile; and a fake server whose
// event packet stops short breaks the connection within the reply time-out. A burst takes up to
// four minutes on a loaded machine, the held box two more: VTN_TEST_TIMEOUT=450
#include <chrono>
#include <string>
#include <vector>

#include "drivergui_list.h"
#include "fakeevents.h"
#include "serverfixture.h"
#include "simctl.h"
#include "simmodel.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kBroken = "Connection broken. You have to connect\n the system again.";

// Fields of a tab-separated line.
std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> out;
    size_t pos = 0;
    for (size_t tab; (tab = line.find('\t', pos)) != std::string::npos; pos = tab + 1)
        out.push_back(line.substr(pos, tab - pos));
    out.push_back(line.substr(pos));
    return out;
}

// Answers every message box with its OK as soon as it is shown, from a 1 ms source that also runs
// in the boxes' own loops; while held, the first box stays open until Release.
class FastAnswerer {
public:
    explicit FastAnswerer(bool holdFirst = false) : holding_(holdFirst) { source_ = g_timeout_add(1, Look, this); }
    ~FastAnswerer() { g_source_remove(source_); }
    FastAnswerer(const FastAnswerer&) = delete;
    FastAnswerer& operator=(const FastAnswerer&) = delete;

    // Title and text of each box answered (and of one held), in the order shown.
    const std::vector<std::pair<std::string, std::string>>& Seen() const { return seen_; }
    // When the first box was shown; only once Seen() is not empty.
    Clock::time_point FirstShown() const { return firstShown_; }
    void Release() { holding_ = false; }

private:
    static gboolean Look(gpointer p)
    {
        auto* self = static_cast<FastAnswerer*>(p);
        for (const char* title : {"Confirmation", "Warning", "Error"})
            for (GtkWidget* w : TopWindows(title)) {
                if (!gtk_widget_get_mapped(w))
                    continue;
                if (!g_object_get_data(G_OBJECT(w), "vtn-fast-seen")) {
                    g_object_set_data(G_OBJECT(w), "vtn-fast-seen", GINT_TO_POINTER(1));
                    auto labels = FindWidgets(w, [](GtkWidget* x) { return GTK_IS_LABEL(x); });
                    self->seen_.push_back({title, labels.empty() ? "" : gtk_label_get_text(GTK_LABEL(labels.front()))});
                    if (self->seen_.size() == 1)
                        self->firstShown_ = Clock::now();
                }
                if (self->holding_ || g_object_get_data(G_OBJECT(w), "vtn-fast-answered"))
                    continue;
                for (GtkWidget* b : FindWidgets(w, [](GtkWidget* x) { return GTK_IS_BUTTON(x); }))
                    if (WidgetCaption(b) == "OK") {
                        g_object_set_data(G_OBJECT(w), "vtn-fast-answered", GINT_TO_POINTER(1));
                        gtk_button_clicked(GTK_BUTTON(b));
                        break;
                    }
            }
        return G_SOURCE_CONTINUE;
    }

    bool holding_;
    std::vector<std::pair<std::string, std::string>> seen_;
    Clock::time_point firstShown_;
    unsigned int source_ = 0;
};

// Queues count driver events on the simulated controller in rounds the size of its queue, each
// once the server's log has taken the round before; from a source, so it goes on while a box
// waits. Each event names the array "Nnnnn" and no device the window would look at.
class Feeder {
public:
    Feeder(const TempRoot& root, int count) : log_(root.Path("/var/log/vtn.log")), count_(count)
    {
        base_ = Logged();
        source_ = g_timeout_add(50, Tick, this);
    }
    ~Feeder() { g_source_remove(source_); }
    Feeder(const Feeder&) = delete;
    Feeder& operator=(const Feeder&) = delete;

    bool AllLogged() const { return queued_ == count_ && logged_ >= count_; }
    // Lines of the server's log before the first event.
    size_t Base() const { return base_; }
    bool Failed() const { return failed_; }

private:
    size_t Logged() const { return Lines(ReadFileText(log_)).size(); }
    static gboolean Tick(gpointer p)
    {
        auto* self = static_cast<Feeder*>(p);
        self->logged_ = static_cast<int>(self->Logged() - self->base_);
        if (self->queued_ == self->count_ || self->logged_ < self->queued_ || self->failed_)
            return G_SOURCE_CONTINUE;
        const int first = self->queued_;
        const int n = std::min<int>(vtnsim::kMaxEvents, self->count_ - first);
        std::string message;
        self->failed_ = !VtnSimEdit(
            [&](vtnsim::Model& m, int64_t now, std::string*) {
                for (int i = first; i < first + n; ++i) {
                    char name[16];
                    snprintf(name, sizeof name, "N%04d", i);
                    m.PushEvent(VTN_EVENT_INIT_ABORTED, VTN_ID_NONE, 0, name, now);
                }
                return true;
            },
            &message);
        self->queued_ += n;
        return G_SOURCE_CONTINUE;
    }

    std::string log_;
    int count_;
    size_t base_ = 0;
    int queued_ = 0;
    int logged_ = 0;
    bool failed_ = false;
    unsigned int source_ = 0;
};

class EventBurst : public ServerGuiTest {
protected:
    static constexpr int kEvents = 2000;

    // Logged in to the real server on a small controller, the window's Event View as loaded.
    void Begin()
    {
        ASSERT_TRUE(StartServer(raw::UserLine("admin", "secret1", 0xFFFFFFFFu), "pata2"));
        win_ = StartMainWindow();
        LogInAs("admin", "secret1");
        ASSERT_GE(handle, 0);
        rowsBefore_ = ColumnListRows(win_->pLogList);
        linesBefore_ = Lines(ReadFileText(root_.Path(kLocalLogFile))).size();
    }

    // Every event the server logged from the first of the burst on is a box, a row and a line of
    // the local copy, in the log's order; no break came.
    void ExpectAllShown(const FastAnswerer& boxes, const Feeder& feed)
    {
        const std::vector<std::string> log = Lines(server_->Log());
        ASSERT_EQ(log.size(), feed.Base() + kEvents);
        const std::vector<std::string> local = Lines(ReadFileText(root_.Path(kLocalLogFile)));
        ASSERT_EQ(ColumnListRows(win_->pLogList), rowsBefore_ + kEvents);
        ASSERT_EQ(local.size(), linesBefore_ + kEvents);
        ASSERT_EQ(boxes.Seen().size(), size_t(kEvents));
        int wrong = 0;
        for (int i = 0; i < kEvents && wrong < 5; ++i) {
            const std::vector<std::string> want = Fields(log[feed.Base() + i]);  // mark, severity, time, text
            const std::vector<std::string> line = Fields(local[linesBefore_ + i]);  // severity, time, text
            ASSERT_EQ(want.size(), 4u) << log[feed.Base() + i];
            char name[8];
            snprintf(name, sizeof name, "N%04d", i);
            const std::string text = std::string("Array '") + name + "' initializing aborted, the array is deleted.";
            const bool ok = want[1] == "W" && want[3] == text && line.size() == 3 && line[0] == "W" &&
                            line[2] == text && ColumnListText(win_->pLogList, rowsBefore_ + i, 0) == "Warning" &&
                            ColumnListText(win_->pLogList, rowsBefore_ + i, 1) == line[1] &&
                            ColumnListText(win_->pLogList, rowsBefore_ + i, 2) == text &&
                            boxes.Seen()[i] == std::pair<std::string, std::string>{"Warning", text};
            wrong += !ok;
            EXPECT_TRUE(ok) << "event " << i << ": logged '" << log[feed.Base() + i] << "', copied '"
                            << local[linesBefore_ + i] << "', row '"
                            << ColumnListText(win_->pLogList, rowsBefore_ + i, 2) << "', box '" << boxes.Seen()[i].second
                            << "'";
        }
        EXPECT_GE(handle, 0);
        EXPECT_EQ(win_->nLogRows, rowsBefore_ + kEvents);
    }

    // Runs the main loop until the server logged the burst and the window showed it (or the time
    // is up); false when it is.
    bool Shown(const FastAnswerer& boxes, const Feeder& feed, int timeoutMs)
    {
        return PumpUntil(
            [&] {
                for (const auto& [title, text] : boxes.Seen())
                    if (text == kBroken)
                        return true;
                return feed.Failed() ||
                       (feed.AllLogged() && ColumnListRows(win_->pLogList) >= rowsBefore_ + kEvents &&
                        TopWindows("Warning").empty());
            },
            timeoutMs);
    }

    CMainWindow* win_ = nullptr;
    int rowsBefore_ = 0;
    size_t linesBefore_ = 0;
};

TEST_F(EventBurst, TwoThousandEventsAnsweredAsTheyComeAllShownInOrder)
{
    ASSERT_NO_FATAL_FAILURE(Begin());
    const auto start = Clock::now();
    FastAnswerer boxes;
    Feeder feed(root_, kEvents);
    ASSERT_TRUE(Shown(boxes, feed, 240000)) << boxes.Seen().size() << " boxes";
    ASSERT_FALSE(feed.Failed());
    printf("%d events shown in %.1f s\n", kEvents, std::chrono::duration<double>(Clock::now() - start).count());
    ExpectAllShown(boxes, feed);
}

TEST_F(EventBurst, TwoThousandEventsWhileABoxStaysOpenTwoMinutesAllShownInOrder)
{
    ASSERT_NO_FATAL_FAILURE(Begin());
    const auto start = Clock::now();
    FastAnswerer boxes(true);
    Feeder feed(root_, kEvents);
    std::pair<FastAnswerer*, Feeder*> both{&boxes, &feed};
    // The first box stays open while the whole burst comes, and for two minutes at least.
    const unsigned int release = g_timeout_add(
        100,
        [](gpointer p) -> gboolean {
            auto* self = static_cast<std::pair<FastAnswerer*, Feeder*>*>(p);
            if (!self->first->Seen().empty() && self->second->AllLogged() &&
                Clock::now() - self->first->FirstShown() >= std::chrono::seconds(120))
                self->first->Release();
            return G_SOURCE_CONTINUE;  // removed by the test
        },
        &both);
    // The two minutes the box is held, then as long as a burst may take (as above).
    const bool shown = Shown(boxes, feed, 120000 + 240000);
    g_source_remove(release);
    ASSERT_TRUE(shown) << boxes.Seen().size() << " boxes";
    ASSERT_FALSE(feed.Failed());
    EXPECT_GE(Clock::now() - boxes.FirstShown(), std::chrono::seconds(120));
    printf("%d events shown in %.1f s\n", kEvents, std::chrono::duration<double>(Clock::now() - start).count());
    ExpectAllShown(boxes, feed);
}

using ShortEventPacket = ServerGuiTest;

TEST_F(ShortEventPacket, BreaksTheConnectionWithinTheReplyTimeOut)
{
    FakeEventServer peer(EventPacketBytes("never whole").substr(0, 584));
    ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log", "127.0.0.1\tfake\t" + std::to_string(peer.Port()) + "\n"));
    SetClientWaitSeconds(2);
    CMainWindow* win = StartMainWindow();
    {
        Responder r(std::vector<Answer>{{"Login Form", "OK", [](GtkWidget*) {
                                             gtk_entry_set_text(GTK_ENTRY(NewSys.pUserEntry), "admin");
                                             gtk_entry_set_text(GTK_ENTRY(NewSys.pPasswordEntry), "secret1");
                                         }}});
        LogSystem();
        ASSERT_TRUE(r.WaitDone());
    }
    ASSERT_GE(handle, 0);
    ASSERT_EQ(ColumnListText(win->pSysList, 0, 3), "Connected");
    ASSERT_GE(peer.EventConnection(), 0);
    BoxAnswerer boxes;
    ASSERT_TRUE(boxes.PumpUntil([&] { return boxes.Count() >= 1 && win->nConnectOutSource == 0; }, 10000));
    const double waited = std::chrono::duration<double>(Clock::now() - peer.BoundAt()).count();
    EXPECT_EQ(boxes.Seen(), (std::vector<std::pair<std::string, std::string>>{{"Error", kBroken}}));
    EXPECT_GE(waited, 1.5);
    EXPECT_LT(waited, 5.0) << "the reply time-out is 2 s";
    EXPECT_EQ(handle, -1);
    EXPECT_FALSE(win->bLoggedIn);
    EXPECT_STREQ(win->szCurrForm, "Remote Control");
    EXPECT_EQ(ColumnListText(win->pSysList, 0, 3), "Disconnected");
    EXPECT_EQ(ColumnListRows(win->pLogList), 0) << "no event was shown";
    EXPECT_EQ(StatusText(), "No system connected");
}

}  // namespace
