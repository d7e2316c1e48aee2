// The event log view with the server's calls faked: the local copy's lines, the rows, the filter,
// the sorts, export, clear, the load after login, and the timer's intake of pushed events with the
// checks some events call for.
#include <cstring>
#include <deque>
#include <memory>
#include <sys/stat.h>
#include <string>
#include <vector>

#include "client.h"
#include "drivergui_list.h"
#include "fakedriver.h"
#include "harness.h"
#include "locallog.h"
#include "serverfixture.h"
#include "signfunc.h"
#include "vtnstatus.h"
#include "xpm_data.h"

namespace {

struct Row {
    std::string word, time, text;
    bool operator==(const Row& o) const { return word == o.word && time == o.time && text == o.text; }
};

std::vector<Row> Rows()
{
    GtkWidget* list = GetMainWindow()->pLogList;
    std::vector<Row> out;
    for (int r = 0; r < ColumnListRows(list); ++r)
        out.push_back({ColumnListText(list, r, 0), ColumnListText(list, r, 1), ColumnListText(list, r, 2)});
    return out;
}

// Texts of the rows, in display order.
std::vector<std::string> Texts()
{
    std::vector<std::string> out;
    for (const Row& r : Rows())
        out.push_back(r.text);
    return out;
}

std::string LocalCopy(const TempRoot& root)
{
    return ReadFileText(root.Path(kLocalLogFile));
}

_VTN_LOG_EVENT Event(char severity, const char* text, uint32_t device = VTN_ID_NONE, uint8_t kind = 0)
{
    _VTN_LOG_EVENT e{};
    e.severity = severity;
    e.time.year = 25;
    e.time.month = 3;
    e.time.day = 7;
    e.time.hour = 14;
    e.time.minute = 5;
    e.time.second = 9;
    memcpy(e.event, &device, sizeof device);
    e.event[4] = kind;
    CopyText(e.text, text);
    return e;
}

// The check boxes of the Event View: "Information", "Warning", "Error".
std::vector<GtkWidget*> FilterBoxes()
{
    return FindWidgets(GetMainWindow()->GetCurrForm("Event View")->container,
                       [](GtkWidget* w) { return GTK_IS_CHECK_BUTTON(w); });
}

void ClickColumn(int column)
{
    gtk_tree_view_column_clicked(gtk_tree_view_get_column(GTK_TREE_VIEW(GetMainWindow()->pLogList), column));
}

// A main window whose own timer is stopped, so that a test's direct ticks are the only ones.
class EventViewForm : public GuiTest {
protected:
    CMainWindow* Start()
    {
        CMainWindow* win = StartMainWindow();
        g_source_remove(win->nTimerSource);
        win->nTimerSource = 0;
        return win;
    }
    bool WriteCopy(const std::string& text) { return raw::WriteSystemFile(kLocalLogFile, text); }
};

TEST_F(EventViewForm, LocalCopyLinesAreReadFieldByField)
{
    const std::string long600(600, 'x');
    struct Line {
        char severity;
        std::string time, text;
        bool operator==(const Line& o) const { return severity == o.severity && time == o.time && text == o.text; }
    };
    struct Case {
        const char* what;
        std::string file;
        std::vector<Line> lines;
    } cases[] = {
        {"one line", "I\t03/07/2025 14:05:09\tDisk ok\n", {{'I', "03/07/2025 14:05:09", "Disk ok"}}},
        {"no final line end", "W\tt\tx", {{'W', "t", "x"}}},
        {"a TAB inside the message", "E\tt\ta\tb\n", {{'E', "t", "a\tb"}}},
        {"a line of its severity only", "I\nW\tt\tx\n", {{'I', "", ""}, {'W', "t", "x"}}},
        {"a line without a message", "I\ttime only\nW\tt\tx\n", {{'I', "time only", ""}, {'W', "t", "x"}}},
        {"a message cut to its buffer", "E\tt\t" + long600 + "\nI\tu\tv\n",
         {{'E', "t", std::string(511, 'x')}, {'I', "u", "v"}}},
        {"an empty file", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FILE* f = fmemopen(const_cast<char*>(c.file.data()), c.file.size(), "r");
        if (c.file.empty())
            f = fopen("/dev/null", "r");
        ASSERT_NE(f, nullptr);
        std::vector<Line> got;
        char severity, time[VTN_LOG_TIME_SIZE], text[VTN_LOG_TEXT_SIZE];
        while (LoadLogFile(f, &severity, time, sizeof time, text, sizeof text))
            got.push_back({severity, time, text});
        fclose(f);
        EXPECT_EQ(got, c.lines);
    }
    EXPECT_EQ(LoadLogFile(nullptr, nullptr, nullptr, 0, nullptr, 0), 0);
    // Written as one line whatever the texts hold.
    char* data = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&data, &size);
    SaveLogFile(out, 'W', "03/07/2025 14:05:09", "two\nlines\r");
    SaveLogFile(nullptr, 'W', "t", "x");
    fclose(out);
    EXPECT_EQ(std::string(data, size), "W\t03/07/2025 14:05:09\ttwo lines \n");
    free(data);
    char when[VTN_LOG_TIME_SIZE];
    LogTimeText(Event('I', "").time, when, sizeof when);
    EXPECT_STREQ(when, "03/07/2025 14:05:09");
}

TEST_F(EventViewForm, RowsCarryTheirIconWordAndOriginalBytes)
{
    CMainWindow* win = Start();
    AddToClist('I', "03/07/2025 14:05:09", "caf\xe9 ok");
    AddToClist('W', "03/07/2025 14:05:10", "warned");
    AddToClist('X', "03/07/2025 14:05:11", "no row");
    AddToClist('E', "03/07/2025 14:05:12", "failed");
    EXPECT_EQ(Rows(), (std::vector<Row>{{"Regular", "03/07/2025 14:05:09", "caf\xe9 ok"},
                                        {"Warning", "03/07/2025 14:05:10", "warned"},
                                        {"Critical", "03/07/2025 14:05:12", "failed"}}));
    EXPECT_EQ(win->nLogRows, 3);
    const char** icons[] = {xpm_d_Event_Normal_small, xpm_d_Event_Warning_small, xpm_d_Event_Error_small};
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(ColumnListPixbuf(win->pLogList, r, 0), XpmPixbuf(icons[r])) << r;
    EXPECT_TRUE(g_utf8_validate(ColumnListShownText(win->pLogList, 0, 2).c_str(), -1, nullptr));
    EXPECT_EQ(ColumnListSelectedRow(win->pLogList), 0);
    ClearLogList();
    EXPECT_EQ(ColumnListRows(win->pLogList), 0);
    EXPECT_EQ(win->nLogRows, 0);
}

TEST_F(EventViewForm, FilterFollowsEachCheckBox)
{
    ASSERT_TRUE(WriteCopy("I\tt\ta\nW\tt\tb\nE\tt\tc\nX\tt\td\nI\tt\te\nW\tt\tf\n"));
    CMainWindow* win = Start();
    auto boxes = FilterBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    const std::vector<std::pair<char, std::string>> file = {{'I', "a"}, {'W', "b"}, {'E', "c"},
                                                            {'X', "d"}, {'I', "e"}, {'W', "f"}};
    // Every combination, reached by switching one box at a time (Gray code).
    for (uint32_t step = 1; step <= 8; ++step) {
        const uint32_t mask = 7 & ~((step % 8) ^ ((step % 8) >> 1));
        SCOPED_TRACE(mask);
        for (int b = 0; b < 3; ++b)
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(boxes[static_cast<size_t>(b)]), (mask >> b) & 1);
        EXPECT_EQ(win->nLogMask, mask);
        std::vector<std::string> want;
        for (const auto& [severity, text] : file)
            if ((severity == 'I' && (mask & 1)) || (severity == 'W' && (mask & 2)) || (severity == 'E' && (mask & 4)))
                want.push_back(text);
        EXPECT_EQ(Texts(), want);
        EXPECT_EQ(win->nLogRows, static_cast<int>(want.size()));
    }
    // Without a local copy the list is empty.
    ASSERT_EQ(unlink(root_.Path(kLocalLogFile).c_str()), 0);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(boxes[0]), FALSE);
    EXPECT_TRUE(Texts().empty());
}

TEST_F(EventViewForm, SortsByEachColumnTitle)
{
    ASSERT_TRUE(WriteCopy("I\t12/31/2005 10:00:00\tbeta\n"
                          "E\t01/02/2006 09:00:00\talpha\n"
                          "W\t06/15/2005 08:00:00\tgamma\n"
                          "I\t01/02/2006 09:00:00\tdelta\n"
                          "E\t03/01/2005 07:00:00\talpha\n"));
    CMainWindow* win = Start();
    FilterLog();
    // Rows by description and month: b beta, a1 alpha of 2006, g gamma, d delta, a2 alpha of March.
    auto order = [] {
        std::vector<std::string> out;
        for (const Row& r : Rows())
            out.push_back(r.text == "alpha" ? (r.time[1] == '1' ? "a1" : "a2") : r.text.substr(0, 1));
        return out;
    };
    ASSERT_EQ(order(), (std::vector<std::string>{"b", "a1", "g", "d", "a2"}));
    auto boxes = FilterBoxes();
    struct Step {
        const char* what;
        int column;  // -1: the "Warning" box is unchecked instead
        std::vector<std::string> rows;
    } steps[] = {
        {"time, first click: ascending (texts, so month first)", 1, {"a1", "d", "a2", "g", "b"}},
        {"time again: descending, equal times keep their order", 1, {"b", "g", "a2", "a1", "d"}},
        {"description keeps the direction", 2, {"g", "d", "b", "a2", "a1"}},
        {"description again: ascending, equal texts keep their order", 2, {"a2", "a1", "b", "d", "g"}},
        {"icon: errors first, file order inside", 0, {"a1", "a2", "g", "b", "d"}},
        {"icon again: information first", 0, {"b", "d", "g", "a1", "a2"}},
        {"warnings hidden", -1, {"b", "a1", "d", "a2"}},
        {"icon with the filter: hidden rows stay hidden", 0, {"a1", "a2", "b", "d"}},
        {"time after the icon: the sort column is still 2, so no flip", 1, {"a1", "d", "a2", "b"}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.column < 0)
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(boxes[1]), FALSE);
        else
            ClickColumn(s.column);
        EXPECT_EQ(order(), s.rows);
        EXPECT_EQ(win->nLogRows, static_cast<int>(s.rows.size()));
    }
    // A row that comes later goes last, whatever the sort.
    AddToClist('I', "01/01/2000 00:00:00", "zzz-new");
    EXPECT_EQ(Texts().back(), "zzz-new");
}

TEST_F(EventViewForm, ExportWritesEachRowWithTheUserAndTheOriginalBytes)
{
    CMainWindow* win = Start();
    CopyText(NewSys.szUserName, "admin");
    auto exportTo = [&](const std::string& name, const std::string& button) {
        const std::string dir = root_.Dir();
        Responder r(std::vector<Answer>{{"File selection", button, [&](GtkWidget* dialog) {
                                             EXPECT_EQ(dialog, win->pFileSel);
                                             gchar* proposed = gtk_file_chooser_get_current_name(GTK_FILE_CHOOSER(dialog));
                                             EXPECT_STREQ(proposed, "raidlog.txt");
                                             g_free(proposed);
                                             gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), dir.c_str());
                                             gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), name.c_str());
                                         }}});
        SaveLog();
        EXPECT_TRUE(r.WaitDone());
        EXPECT_TRUE(PumpUntil([&] { return win->pFileSel == nullptr; }));
    };
    exportTo("empty.txt", "OK");
    EXPECT_EQ(ReadFileText(root_.Dir() + "/empty.txt"), "");
    EXPECT_TRUE(FileExists(root_.Dir() + "/empty.txt"));

    AddToClist('I', "03/07/2025 14:05:09", "caf\xe9 ok");
    AddToClist('E', "03/07/2025 14:05:10", "Disk at Controller1-Channel2-Device1 failed.");
    AddToClist('W', "12/31/2005 23:59:59", "Plugging disk detected.(Controller1-Channel3-Device1)");
    exportTo("raid log.txt", "OK");
    EXPECT_EQ(ReadFileText(root_.Dir() + "/raid log.txt"),
              "admin\tI\t03/07/2025 14:05:09\tcaf\xe9 ok\n"
              "admin\tE\t03/07/2025 14:05:10\tDisk at Controller1-Channel2-Device1 failed.\n"
              "admin\tW\t12/31/2005 23:59:59\tPlugging disk detected.(Controller1-Channel3-Device1)\n");
    // Cancel writes nothing.
    exportTo("cancelled.txt", "Cancel");
    EXPECT_FALSE(FileExists(root_.Dir() + "/cancelled.txt"));
}

// An export that cannot be written whole (a full disk, a folder that cannot be written) says so
// once, naming the file, and leaves the file as it was with no temporary file beside it; a good
// one says nothing. OK is pressed with the real pointer; the dialog closes either way.
TEST_F(EventViewForm, AnExportThatCannotBeWrittenIsSaidAndTheOldFileStays)
{
    CMainWindow* win = Start();
    CopyText(NewSys.szUserName, "admin");
    AddToClist('E', "03/07/2025 14:05:10", "Disk at Controller1-Channel2-Device1 failed.");
    AddToClist('W', "12/31/2005 23:59:59", "Plugging disk detected.(Controller1-Channel3-Device1)");
    const std::string exported = "admin\tE\t03/07/2025 14:05:10\tDisk at Controller1-Channel2-Device1 failed.\n"
                                 "admin\tW\t12/31/2005 23:59:59\tPlugging disk detected.(Controller1-Channel3-Device1)\n";
    const std::string dir = root_.Dir() + "/exports";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    const std::string file = dir + "/raidlog.txt";
    const std::string old = "the previous export\n";
    const std::string notSaved = "The event log could not be saved\nto " + file + ".";
    struct Case {
        const char* what;
        bool full;
        bool unwritable;
    } cases[] = {
        {"a full disk", true, false},
        {"a folder that cannot be written", false, true},
        {"a good export", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteFileText(file, old));
        std::unique_ptr<FileSizeLimit> full;
        std::unique_ptr<Unprivileged> user;
        if (c.unwritable) {
            ASSERT_EQ(chmod(root_.Dir().c_str(), 0755), 0);
            ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
        }
        if (c.full)
            full = std::make_unique<FileSizeLimit>(static_cast<off_t>(old.size()));   // less than the export
        BoxAnswerer boxes;
        Responder r(std::vector<Answer>{{"File selection", "OK",
                                         [&](GtkWidget* dialog) {
                                             gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), dir.c_str());
                                             gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), "raidlog.txt");
                                             // The user the folder refuses presses OK.
                                             if (c.unwritable)
                                                 user = std::make_unique<Unprivileged>();
                                         },
                                         nullptr, true}});
        SaveLog();
        ASSERT_TRUE(boxes.PumpUntil([&] { return r.Done() && win->pFileSel == nullptr; }));
        user.reset();
        full.reset();
        ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
        EXPECT_TRUE(TopWindows("File selection").empty());
        using Boxes = std::vector<std::pair<std::string, std::string>>;
        const bool saved = !c.full && !c.unwritable;
        const Boxes told = saved ? Boxes() : Boxes{{"Error", notSaved}};
        EXPECT_EQ(boxes.Seen(), told);
        EXPECT_EQ(ReadFileText(file), saved ? exported : old);
        EXPECT_EQ(FolderEntries(dir), std::vector<std::string>{"raidlog.txt"}) << "no temporary file left";
    }
}

TEST_F(EventViewForm, ClearTakesEffectOnlyWhenTheServerCleared)
{
    FakeDriver f;  // connected
    static int calls;
    static int result;
    gFuncs.clear_event_log = [](int) -> int { return ++calls, result; };
    const std::string copy = "I\tt\tone\nE\tt\ttwo\n";
    CMainWindow* win = Start();
    struct Case {
        const char* what;
        const char* answer;
        int server;
        bool cleared;
        const char* error;  // the box after the question, or null
    } cases[] = {
        {"question answered Cancel", "Cancel", 0, false, nullptr},
        {"question closed", "", 0, false, nullptr},
        {"refused by the server", "OK", static_cast<int>(VTN_NO_RIGHT), false, "Failed to clear the event log!"},
        {"cleared", "OK", 0, true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteCopy(copy));
        FilterLog();
        calls = 0;
        result = c.server;
        std::vector<Answer> script{{"Warning", c.answer}};
        if (c.error)
            script.push_back({"Error", "OK"});
        Responder r(script);
        gtk_button_clicked(GTK_BUTTON(win->pClearButton));
        ASSERT_TRUE(r.WaitDone());
        EXPECT_EQ(r.Seen()[0].labels.front(), "Are you sure to clear the event log?");
        if (c.error) {
            EXPECT_EQ(r.Seen()[1].labels.front(), c.error);
        }
        EXPECT_EQ(calls, strcmp(c.answer, "OK") == 0 ? 1 : 0);
        EXPECT_EQ(LocalCopy(root_), c.cleared ? "" : copy);
        const std::vector<std::string> kept{"one", "two"};
        EXPECT_EQ(Texts(), c.cleared ? std::vector<std::string>() : kept);
        EXPECT_EQ(win->nLogRows, c.cleared ? 0 : 2);
    }
}

TEST_F(EventViewForm, AClearAnsweredAfterTheConnectionBrokeSendsAndSaysNothingMore)
{
    FakeDriver f;  // connected
    static int calls;
    calls = 0;
    gFuncs.clear_event_log = [](int) -> int { return ++calls, -1; };
    CMainWindow* win = Start();
    ASSERT_TRUE(WriteCopy("I\tt\tkept\n"));
    FilterLog();
    // The connection breaks while the question waits; its box comes on top, then the question is
    // answered OK.
    const auto seen = Answering({{"Warning", "OK", [](GtkWidget*) { ConnectOut(); }}, {"Error", "OK"}},
                                [&] { gtk_button_clicked(GTK_BUTTON(win->pClearButton)); });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].labels.front(), "Are you sure to clear the event log?");
    EXPECT_EQ(seen[1].labels.front(), "Connection broken. You have to connect\n the system again.");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(LocalCopy(root_), "I\tt\tkept\n");
    EXPECT_EQ(Texts(), std::vector<std::string>{"kept"});
}

// The server's log as the fakes serve it, and what they were asked.
struct FakeLog {
    static inline std::vector<_VTN_LOG_EVENT> events;
    static inline std::vector<std::string> calls;
    static inline int breakAt = -1;   // index whose request finds the connection broken
    static inline int onResult = 0;   // answer to switching the channel on
    static inline bool endless = false;
    static inline int delayUs = 0;     // time each request takes

    static void Bind()
    {
        events.clear();
        calls.clear();
        breakAt = -1;
        onResult = 0;
        endless = false;
        delayUs = 0;
        gFuncs.enable_event_notify = [](int, uint8_t on) -> int {
            calls.push_back(on ? "on" : "off");
            return on ? onResult : 0;
        };
        gFuncs.enum_event = [](int, _VTN_LOG_EVENT* e, int index) -> int {
            if (delayUs > 0)
                g_usleep(static_cast<gulong>(delayUs));
            if (!endless)
                calls.push_back("enum " + std::to_string(index));
            if (index == breakAt) {
                ConnectOut();  // what the transport does for a dropped connection
                return -1;
            }
            if (endless) {
                *e = Event('X', "again");
                return 0;
            }
            if (index < 0 || static_cast<size_t>(index) >= events.size())
                return static_cast<int>(VTN_NO_MORE_ENTRIES);
            *e = events[static_cast<size_t>(index)];
            return 0;
        };
    }
};

TEST_F(EventViewForm, LoadReplacesTheListAndTheCopyOnlyOnceTheServerAnswered)
{
    CMainWindow* win = Start();
    const std::string old = "I\t01/01/2020 00:00:00\told\n";
    const std::string t = "03/07/2025 14:05:09";
    struct Case {
        const char* what;
        std::vector<_VTN_LOG_EVENT> events;
        int breakAt;
        int onResult;
        std::vector<std::string> calls;
        std::vector<std::string> rows;  // texts
        std::string copy;
        const char* box;  // the box that follows, or null
    } cases[] = {
        {"three events, every one listed whatever the filter",
         {Event('I', "in"), Event('W', "warn"), Event('E', "err")}, -1, 0,
         {"off", "enum 0", "enum 1", "enum 2", "enum 3", "on"}, {"in", "warn", "err"},
         "I\t" + t + "\tin\nW\t" + t + "\twarn\nE\t" + t + "\terr\n", nullptr},
        {"an empty log", {}, -1, 0, {"off", "enum 0", "on"}, {}, "", nullptr},
        {"the channel cannot be switched on again", {Event('W', "warn")}, -1, -1,
         {"off", "enum 0", "enum 1", "on"}, {"warn"}, "W\t" + t + "\twarn\n",
         "The event channel could not be opened.\nNew events will not be shown until\nyou connect the system again."},
        {"the connection breaks during the load", {Event('I', "in"), Event('W', "warn")}, 1, 0,
         {"off", "enum 0", "enum 1"}, {"old"}, old, "Connection broken. You have to connect\n the system again."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDriver f;
        FakeLog::Bind();
        FakeLog::events = c.events;
        FakeLog::breakAt = c.breakAt;
        FakeLog::onResult = c.onResult;
        ASSERT_TRUE(WriteCopy(old));
        win->nLogMask = 1;
        FilterLog();
        Responder r(c.box ? std::vector<Answer>{{"Error", "OK"}} : std::vector<Answer>{});
        LoadLog();
        EXPECT_TRUE(r.WaitDone());
        if (c.box) {
            EXPECT_EQ(r.Seen()[0].labels.front(), c.box);
        }
        EXPECT_EQ(FakeLog::calls, c.calls);
        EXPECT_EQ(Texts(), c.rows);
        EXPECT_EQ(LocalCopy(root_), c.copy);
        win->nLogMask = 7;
    }
    EXPECT_EQ(win->nLogLoadMax, VTN_LOG_LOAD_MAX);
    FakeDriver f;
    {
        // More events than the list keeps: every one is read, the newest are kept, and a box says
        // how many were left out.
        SCOPED_TRACE("over the bound");
        FakeLog::Bind();
        win->nLogLoadMax = 1000;
        std::string want;
        for (int i = 0; i < 2500; ++i) {
            FakeLog::events.push_back(Event("IWE"[i % 3], ("event " + std::to_string(i)).c_str()));
            if (i >= 1500)
                want += std::string(1, "IWE"[i % 3]) + "\t" + t + "\tevent " + std::to_string(i) + "\n";
        }
        Responder r(std::vector<Answer>{{"Warning", "OK"}});
        LoadLog();
        ASSERT_TRUE(r.WaitDone());
        EXPECT_EQ(r.Seen()[0].labels.front(), "The event log holds more events than are shown:\nthe 1500 oldest were left out.");
        EXPECT_EQ(FakeLog::calls.size(), 2503u);
        EXPECT_EQ(LocalCopy(root_), want);
        const std::vector<std::string> texts = Texts();
        ASSERT_EQ(texts.size(), 1000u);
        EXPECT_EQ(texts.front(), "event 1500");
        EXPECT_EQ(texts.back(), "event 2499");
        EXPECT_EQ(win->nLogRows, 1000);
        win->nLogLoadMax = VTN_LOG_LOAD_MAX;
    }
    {
        // A server that never ends its log holds the load only until the connection goes; what the
        // list and the copy held stays.
        SCOPED_TRACE("endless");
        FakeLog::Bind();
        FakeLog::endless = true;
        FakeLog::breakAt = 200000;
        const std::string before = LocalCopy(root_);
        Responder r(std::vector<Answer>{{"Error", "OK"}});
        LoadLog();
        EXPECT_TRUE(r.WaitDone());
        EXPECT_EQ(LocalCopy(root_), before);
        EXPECT_EQ(Texts().size(), 1000u);
    }
    const std::string copy = LocalCopy(root_);
    // Not connected: nothing is asked and nothing changes.
    handle = -1;
    FakeLog::calls.clear();
    LoadLog();
    EXPECT_TRUE(FakeLog::calls.empty());
    EXPECT_EQ(LocalCopy(root_), copy);
}

TEST_F(EventViewForm, ALongLoadKeepsTheWindowDrawnAndEndsWhenTheUserLeaves)
{
    CMainWindow* win = Start();
    FakeDriver f;
    FakeLog::Bind();
    FakeLog::delayUs = 2000;
    for (int i = 0; i < 400; ++i)
        FakeLog::events.push_back(Event('I', ("event " + std::to_string(i)).c_str()));
    static int draws;
    draws = 0;
    const gulong drawn = g_signal_connect_after(win->pWindow, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer) {
                                                    ++draws;
                                                    return FALSE;
                                                }),
                                                nullptr);
    gtk_widget_queue_draw(win->pWindow);
    LoadLog();
    g_signal_handler_disconnect(win->pWindow, drawn);
    EXPECT_GT(draws, 0) << "the window was drawn while the log was read";
    EXPECT_EQ(Texts().size(), 400u);

    // The user logs out while the load runs: it stops at once, and the list and copy keep theirs.
    FakeLog::Bind();
    FakeLog::endless = true;
    FakeLog::delayUs = 2000;
    const std::string before = LocalCopy(root_);
    // The endless load returns only once the connection went, so the source has run by then.
    g_timeout_add(300, [](gpointer) -> gboolean {
        LogoutSystem();
        return G_SOURCE_REMOVE;
    }, nullptr);
    Responder r(std::vector<Answer>{{"Confirmation", "OK"}});
    LoadLog();
    ASSERT_TRUE(r.WaitDone());
    EXPECT_EQ(LocalCopy(root_), before);
    EXPECT_EQ(Texts().size(), 400u);
}

// Pushed events as the fake event channel serves them.
struct FakeChannel {
    static inline std::deque<_VTN_LOG_EVENT> queue;
    static inline int polls = 0;
    static void Bind()
    {
        queue.clear();
        polls = 0;
        gFuncs.get_log_event = [](int, _VTN_LOG_EVENT* e) -> int {
            ++polls;
            if (queue.empty())
                return -1;
            *e = queue.front();
            queue.pop_front();
            return 0;
        };
    }
};

TEST_F(EventViewForm, TimerTakesEachEventInOrder)
{
    CMainWindow* win = Start();
    FakeDriver f;
    FakeChannel::Bind();
    // Rows come whatever the filter says.
    for (GtkWidget* b : FilterBoxes())
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(b), FALSE);
    ASSERT_TRUE(WriteCopy("I\tt\tbefore\n"));
    FakeChannel::queue = {Event('I', "Array 'R1' verifying completed."), Event('W', "Plugging disk detected.(x)"),
                          Event('E', "Disk at Controller1-Channel2-Device1 failed."), Event('Q', "odd severity"),
                          Event('I', "Scheduled task line", 0, 0)};
    Responder r(std::vector<Answer>{{"Confirmation", "OK"}, {"Warning", "OK"}, {"Error", "OK"}, {"Confirmation", "OK"}});
    EXPECT_EQ(CMainWindow::SysTimer(nullptr), 1);
    ASSERT_TRUE(r.WaitDone());
    std::vector<std::pair<std::string, std::string>> seen;
    for (const SeenWindow& w : r.Seen())
        seen.push_back({w.title, w.labels.front()});
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{
                        {"Confirmation", "Array 'R1' verifying completed."},
                        {"Warning", "Plugging disk detected.(x)"},
                        {"Error", "Disk at Controller1-Channel2-Device1 failed."},
                        {"Confirmation", "Scheduled task line"}}));
    const std::string t = "03/07/2025 14:05:09";
    EXPECT_EQ(LocalCopy(root_), "I\tt\tbefore\nI\t" + t + "\tArray 'R1' verifying completed.\nW\t" + t +
                                    "\tPlugging disk detected.(x)\nE\t" + t +
                                    "\tDisk at Controller1-Channel2-Device1 failed.\nQ\t" + t + "\todd severity\nI\t" +
                                    t + "\tScheduled task line\n");
    EXPECT_EQ(Rows(), (std::vector<Row>{{"Regular", t, "Array 'R1' verifying completed."},
                                        {"Warning", t, "Plugging disk detected.(x)"},
                                        {"Critical", t, "Disk at Controller1-Channel2-Device1 failed."},
                                        {"Regular", t, "Scheduled task line"}}));
    EXPECT_EQ(win->nLogRows, 4);
    EXPECT_EQ(FakeChannel::polls, 6);
    // A tick without events asks once and shows nothing.
    EXPECT_EQ(CMainWindow::SysTimer(nullptr), 1);
    EXPECT_EQ(FakeChannel::polls, 7);
    // Not connected, or held off: no poll at all.
    win->bTimerOn = false;
    EXPECT_EQ(CMainWindow::SysTimer(nullptr), -1);
    win->bTimerOn = true;
    handle = -1;
    EXPECT_EQ(CMainWindow::SysTimer(nullptr), -1);
    EXPECT_EQ(FakeChannel::polls, 7);
}

TEST_F(EventViewForm, ACopyThatCannotBeWrittenStaysWholeAndNeverPassesForThisServersLog)
{
    Start();
    FakeDriver f;
    FakeChannel::Bind();
    const std::string t = "03/07/2025 14:05:09";
    const char* const told = "The local copy of the event log\n(/usr/bin/log_loacl.txt) could not be written.";
    // Events taken by the timer: each one's box, then the box of the copy where one comes.
    auto take = [&](std::vector<_VTN_LOG_EVENT> events, std::vector<std::string> boxes) {
        FakeChannel::queue.assign(events.begin(), events.end());
        std::vector<Answer> script;
        for (const std::string& b : boxes)
            script.push_back({b == told ? "Error" : "Warning", "OK"});
        Responder r(script);
        EXPECT_EQ(CMainWindow::SysTimer(nullptr), 1);
        ASSERT_TRUE(r.WaitDone());
        std::vector<std::string> seen;
        for (const SeenWindow& w : r.Seen())
            seen.push_back(w.labels.front());
        EXPECT_EQ(seen, boxes);
    };
    const std::string before = "W\t" + t + "\tbefore\n";
    ASSERT_TRUE(WriteCopy(before));
    {
        SCOPED_TRACE("a full disk: nothing of a line goes in, and it is told once");
        FileSizeLimit full(static_cast<off_t>(before.size() + 10));
        take({Event('W', "first warning, longer than the room left"), Event('W', "second")},
             {"first warning, longer than the room left", told, "second"});
        CDisk disk;
        disk.SaveLog("A sentence of the model.");
        EXPECT_EQ(LocalCopy(root_), before);
    }
    {
        SCOPED_TRACE("room again: the next line stands on its own, and a new failure is told again");
        take({Event('W', "third")}, {"third"});
        EXPECT_EQ(LocalCopy(root_), before + "W\t" + t + "\tthird\n");
        FileSizeLimit full(0);
        take({Event('W', "fourth")}, {"fourth", told});
        EXPECT_EQ(LocalCopy(root_), before + "W\t" + t + "\tthird\n");
    }
    // Rows come whatever the copy did.
    EXPECT_EQ(Texts(), (std::vector<std::string>{"first warning, longer than the room left", "second",
                                                 "A sentence of the model.", "third", "fourth"}));

    // The copy of another server, then a login whose rewrite of it fails.
    const std::string other = "E\t01/01/2020 00:00:00\tanother server's event\n";
    struct Case {
        const char* what;
        bool unwritable;  // else a full disk
    } cases[] = {{"a full disk", false}, {"a folder and a file that cannot be written", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetLocalLogState();
        ASSERT_TRUE(WriteCopy(other));
        FakeLog::Bind();
        FakeLog::events = {Event('I', "this server's event")};
        std::unique_ptr<FileSizeLimit> full;
        std::unique_ptr<Unprivileged> user;
        if (c.unwritable) {
            // Readable by every user, writable by none.
            ASSERT_EQ(chmod(root_.Dir().c_str(), 0755), 0);
            ASSERT_EQ(chmod(root_.Path("/usr/bin").c_str(), 0555), 0);
            ASSERT_EQ(chmod(root_.Path(kLocalLogFile).c_str(), 0444), 0);
            user = std::make_unique<Unprivileged>();
        } else {
            full = std::make_unique<FileSizeLimit>(10);
        }
        {
            Responder r(std::vector<Answer>{{"Error", "OK"}});
            LoadLog();
            ASSERT_TRUE(r.WaitDone());
            EXPECT_EQ(r.Seen()[0].labels.front(), told);
        }
        EXPECT_EQ(Texts(), std::vector<std::string>{"this server's event"});
        // Neither a filter change nor a sort nor a later event shows the other server's lines.
        FilterLog();
        EXPECT_TRUE(Texts().empty());
        ClickColumn(0);
        EXPECT_TRUE(Texts().empty());
        take({Event('W', "later")}, {"later"});
        FilterLog();
        EXPECT_TRUE(Texts().empty());
        user.reset();
        full.reset();
        if (c.unwritable) {
            EXPECT_EQ(LocalCopy(root_), other) << "left as it was, and never shown";
            ASSERT_EQ(chmod(root_.Path("/usr/bin").c_str(), 0755), 0);
            ASSERT_EQ(chmod(root_.Path(kLocalLogFile).c_str(), 0644), 0);
        } else {
            EXPECT_EQ(LocalCopy(root_), "") << "the other server's copy is gone";
        }
    }
}

TEST_F(EventViewForm, EventsNamingADeviceRunTheirChecks)
{
    CMainWindow* win = Start();
    FakeDriver f;
    FakeChannel::Bind();
    static std::vector<std::string> states;
    states.clear();
    gFuncs.set_array_state = [](int, unsigned int id, unsigned int state) -> int {
        states.push_back(std::to_string(id) + ":" + std::to_string(state));
        return 0;
    };
    // A RAID 1/0 (50) of three mirrors: 40 disabled, 41 verifying, 42 rebuilding; a mirror at the
    // top (10); a mirror that is not available yet (60) and one that is (61).
    f.Disk(3, 0, 2, 0, 80);
    f.Disk(4, 0, 3, 0, 80);
    f.Array(10, "Top", VTN_RAID1, {3, 4});
    for (uint32_t d = 5; d <= 10; ++d)
        f.Disk(d + 100, 1, static_cast<int>(d), 0, 80, "Disk", 0, true);
    f.Array(40, "R10", VTN_RAID1, {105, 106}, VTN_ARRAY_DISABLED, 7, false);
    f.Array(41, "R10", VTN_RAID1, {107, 108}, VTN_ARRAY_VERIFYING, 7, false);
    f.Array(42, "R10", VTN_RAID1, {109, 110}, VTN_ARRAY_REBUILDING, 7, false);
    f.Array(50, "R10", VTN_RAID0, {40, 41, 42});
    f.Disk(11, 0, 0, 1, 80);
    f.Disk(12, 0, 1, 1, 80);
    f.Array(60, "New", VTN_RAID1, {11, 12}, VTN_ARRAY_NOT_AVAILABLE);
    f.Disk(13, 0, 0, 2, 80);
    f.Disk(14, 0, 1, 2, 80);
    f.Array(61, "Old", VTN_RAID1, {13, 14});
    f.devices[41].parent = 50;
    const char* question =
        "The array will not be available until \nyou reboot the system.\nDo you want to reboot the system now?";
    struct Case {
        const char* what;
        _VTN_LOG_EVENT event;
        const char* answer;  // to the reboot question; null: none comes
        std::vector<std::string> states;
        int reboots;
    } cases[] = {
        {"failed member of a disabled mirror in a RAID 1/0", Event('E', "failed", 105, VTN_EVENT_MEMBER_FAILED),
         nullptr, {"41:5", "42:2"}, 0},
        {"failed member of a mirror that still works", Event('E', "failed", 107, VTN_EVENT_MEMBER_FAILED), nullptr,
         {}, 0},
        {"failed member of a mirror at the top", Event('E', "failed", 3, VTN_EVENT_MEMBER_FAILED), nullptr, {}, 0},
        {"failed disk that is no member", Event('E', "failed", 12345, VTN_EVENT_DEVICE_FAILED), nullptr, {}, 0},
        {"rebuilt, not available: Cancel", Event('I', "done", 60, VTN_EVENT_REBUILD_COMPLETED), "Cancel", {}, 0},
        {"rebuilt, not available: OK", Event('I', "done", 60, VTN_EVENT_REBUILD_COMPLETED), "OK", {}, 1},
        {"initialized, not available", Event('I', "done", 60, VTN_EVENT_INIT_COMPLETED), "OK", {}, 1},
        {"rebuilt and available", Event('I', "done", 61, VTN_EVENT_REBUILD_COMPLETED), nullptr, {}, 0},
        {"no device", Event('I', "done", VTN_ID_NONE, VTN_EVENT_REBUILD_COMPLETED), nullptr, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        states.clear();
        f.rebootCalls = 0;
        FakeChannel::queue = {c.event};
        std::vector<Answer> script{{c.event.severity == 'E' ? "Error" : "Confirmation", "OK"}};
        if (c.answer)
            script.push_back({"Confirmation", c.answer});
        Responder r(script);
        EXPECT_EQ(CMainWindow::SysTimer(nullptr), 1);
        ASSERT_TRUE(r.WaitDone());
        ASSERT_EQ(r.Seen().size(), script.size());
        if (c.answer) {
            EXPECT_EQ(r.Seen()[1].labels.front(), question);
        }
        EXPECT_EQ(states, c.states);
        EXPECT_EQ(f.rebootCalls, c.reboots);
        EXPECT_EQ(Texts().back(), c.event.text);
    }
    EXPECT_EQ(win->nLogRows, static_cast<int>(std::size(cases)));
}

TEST_F(EventViewForm, EventNotificationToolbarFollowsTheRecipients)
{
    CMainWindow* win = Start();
    EventNotification();
    GtkWidget* list = win->pRecipientList;
    ASSERT_NE(list, nullptr);
    auto state = [] {
        std::vector<bool> out;
        for (auto& row : EventNotiToolbar)
            out.push_back(gtk_widget_get_sensitive(row.button) && gtk_widget_get_sensitive(row.menuitem));
        return out;
    };
    // "Add" is switched on by a filled list only (its menu item is left), "Setting" never.
    gtk_widget_set_sensitive(EventNotiToolbar[1].button, FALSE);
    win->FreshEventNotiTool();
    EXPECT_EQ(state(), (std::vector<bool>{true, false, false, false, false}));
    const char* recipient[] = {"admin", "admin@example.com", "Error"};
    ColumnListAppend(list, recipient);
    ColumnListUnselectAll(list);
    win->FreshEventNotiTool();
    EXPECT_EQ(state(), (std::vector<bool>{true, true, false, false, false}));
    ColumnListSelectRow(list, 0);
    win->FreshEventNotiTool();
    EXPECT_EQ(state(), (std::vector<bool>{true, true, true, true, true}));
    ColumnListClear(list);
    win->FreshEventNotiTool();
    EXPECT_EQ(state(), (std::vector<bool>{true, true, false, false, false}));
}

}  // namespace
