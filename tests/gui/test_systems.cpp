// The managed-systems file and the Remote Control list: file texts to rows to file bytes, the
// default system, duplicates, the current row, and the fields a typed system may not hold.
#include <string>
#include <vector>

#include "drivergui.h"
#include "drivergui_list.h"
#include "harness.h"
#include "signfunc.h"

namespace {

using Systems = GuiTest;

struct Row {
    std::string address, name, port;
    bool operator==(const Row& o) const { return address == o.address && name == o.name && port == o.port; }
};

std::vector<Row> Rows(GtkWidget* list)
{
    std::vector<Row> out;
    for (int r = 0; r < ColumnListRows(list); ++r) {
        out.push_back({ColumnListText(list, r, 0), ColumnListText(list, r, 1), ColumnListText(list, r, 2)});
        EXPECT_EQ(ColumnListText(list, r, 3), "Disconnected");
    }
    return out;
}

// A text with NUL bytes in it: a literal's bytes up to its end.
template <size_t N>
std::string Bytes(const char (&text)[N])
{
    return std::string(text, N - 1);
}

TEST_F(Systems, FileTextsBecomeRowsAndAreWrittenBack)
{
    const std::string f199(199, 'n');
    const std::string f250(250, 'n');
    const std::string f100(100, 'n');
    const std::string f149(149, 'm');
    struct Case {
        const char* what;
        std::string file;
        std::vector<Row> rows;
        std::string written;
    } cases[] = {
        {"one line", "10.0.0.1\tserver\t7402\n", {{"10.0.0.1", "server", "7402"}}, "10.0.0.1\tserver\t7402\n"},
        {"two lines", "a\tb\tc\nd\te\tf\n", {{"a", "b", "c"}, {"d", "e", "f"}}, "a\tb\tc\nd\te\tf\n"},
        {"no final line end", "a\tb\tc", {{"a", "b", "c"}}, "a\tb\tc\n"},
        {"file ends in the name", "a\tb", {{"a", "b", ""}}, "a\tb\t\n"},
        {"file ends in the address", "x\ty\tz\nlonely", {{"x", "y", "z"}}, "x\ty\tz\n"},
        {"empty file", "", {}, ""},
        {"empty fields", "\t\t\n", {{"", "", ""}}, "\t\t\n"},
        {"a carriage return stays in the port", "h\tn\t7402\r\n", {{"h", "n", "7402\r"}}, "h\tn\t7402\r\n"},
        {"fields cut at 199 bytes", "h\t" + f250 + "\t7402\n", {{"h", f199, "7402"}}, "h\t" + f199 + "\t7402\n"},
        {"bytes that are not UTF-8 are kept", "h\xff\xfe\tn\xc3\t1\n", {{"h\xff\xfe", "n\xc3", "1"}},
         "h\xff\xfe\tn\xc3\t1\n"},
        // A cell shows a field up to a NUL; the file keeps the whole field.
        {"a NUL in the port", Bytes("h\tn\t74\0" "02\n"), {{"h", "n", "74"}}, Bytes("h\tn\t74\0" "02\n")},
        {"a NUL in every field", Bytes("a\0x\tn\0\0y\t\0" "1\n"), {{"a", "n", ""}}, Bytes("a\0x\tn\0\0y\t\0" "1\n")},
        {"a field with a NUL is still cut at 199 bytes", "h\t" + f100 + Bytes("\0") + f149 + "\t1\n", {{"h", f100, "1"}},
         "h\t" + (f100 + Bytes("\0") + f149).substr(0, 199) + "\t1\n"},
    };
    CMainWindow* win = StartMainWindow();
    const std::string path = root_.Path("/usr/bin/vtnsys.log");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteFileText(path, c.file));
        LoadSystem(win->pSysList);
        EXPECT_EQ(Rows(win->pSysList), c.rows);
        EXPECT_EQ(ColumnListSelectedRow(win->pSysList), c.rows.empty() ? -1 : 0);
        for (int r = 0; r < ColumnListRows(win->pSysList); ++r)
            for (int col = 0; col < 4; ++col)
                EXPECT_TRUE(g_utf8_validate(ColumnListShownText(win->pSysList, r, col).c_str(), -1, nullptr));
        SaveSystem(win->pSysList);
        EXPECT_EQ(ReadFileText(path), c.written);
        // Written through a temporary file that is gone afterwards.
        EXPECT_EQ(FolderEntries(root_.Path("/usr/bin")), std::vector<std::string>{"vtnsys.log"});
    }
}

TEST_F(Systems, AMissingFileGivesTheDefaultSystem)
{
    CMainWindow* win = StartMainWindow();
    EXPECT_EQ(Rows(win->pSysList), (std::vector<Row>{{"127.0.0.1", "127.0.0.1", "7402"}}));
    EXPECT_EQ(ReadFileText(root_.Path("/usr/bin/vtnsys.log")), "127.0.0.1\t127.0.0.1\t7402\n");
    EXPECT_EQ(ColumnListSelectedRow(win->pSysList), 0);
    // Nobody is logged in on a freshly built list.
    EXPECT_STREQ(NewSys.szUserName, "");
}

TEST_F(Systems, OneLineAtATimeThroughTheStagingRecord)
{
    EXPECT_FALSE(LoadSystemInfor(nullptr));
    SaveSystemInfor(nullptr);
    FILE* f = fmemopen(const_cast<char*>("a\tb\tc\nd\te\tf"), 12, "r");
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(LoadSystemInfor(f));
    EXPECT_STREQ(SysInfor.szAddress, "a");
    EXPECT_STREQ(SysInfor.szName, "b");
    EXPECT_STREQ(SysInfor.szPort, "c");
    ASSERT_TRUE(LoadSystemInfor(f));
    EXPECT_STREQ(SysInfor.szPort, "f");
    EXPECT_FALSE(LoadSystemInfor(f));
    fclose(f);
}

TEST_F(Systems, RepeatedAddressesAreFoundByExactText)
{
    ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log", "10.0.0.1\tone\t7402\n127.0.0.1\tlocal\t7402\nHost\th\t1\n"));
    StartMainWindow();
    struct Case {
        const char* text;
        bool repeated;
    } cases[] = {{"10.0.0.1", true},  {"127.0.0.1", true},  {"Host", true}, {"host", false},
                 {"10.0.0.10", false}, {"localhost", false}, {"", false},    {" 10.0.0.1", false}};
    for (const Case& c : cases)
        EXPECT_EQ(IsRepeatIP(c.text), c.repeated) << c.text;
}

TEST_F(Systems, ListDataOfTheCurrentRow)
{
    ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log", "10.0.0.1\tone\t7402\n10.0.0.2\ttwo\t7403\n"));
    CMainWindow* win = StartMainWindow();
    std::string texts[4];
    ColumnListSelectRow(win->pSysList, 1);
    ASSERT_TRUE(GetListData(win->pSysList, 3, texts));
    EXPECT_EQ(texts[0], "10.0.0.2");
    EXPECT_EQ(texts[1], "two");
    EXPECT_EQ(texts[2], "7403");
    EXPECT_EQ(texts[3], "Disconnected");
    std::string two[2];
    ColumnListSelectRow(win->pSysList, 0);
    ASSERT_TRUE(GetListData(win->pSysList, 1, two));
    EXPECT_EQ(two[1], "one");
    ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log", ""));
    LoadSystem(win->pSysList);
    EXPECT_FALSE(GetListData(win->pSysList, 3, texts));
}

TEST_F(Systems, TypedFieldsWithTheFilesSeparatorsAreRefused)
{
    StartMainWindow();
    struct Case {
        const char *address, *name, *port;
        bool valid;
    } cases[] = {
        {"10.0.0.1", "name", "7402", true}, {"", "", "", true},         {"10.0.0.1\t", "n", "1", false},
        {"a", "two\nlines", "1", false},     {"a", "n", "7402\r", false}, {"a", "café", "1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Responder r(c.valid ? std::vector<Answer>{} : std::vector<Answer>{{"Warning", "OK"}});
        EXPECT_EQ(SystemFieldsValid(c.address, c.name, c.port), c.valid);
        EXPECT_TRUE(r.Done());
    }
}

// ---- through the toolbar and the dialogs, with the real pointer and keys ---------------------------

enum { kNewSystem = 0, kModify = 1, kDelete = 2 };

// Selects the row with the pointer.
void ClickRow(GtkWidget* list, int row)
{
    ASSERT_TRUE(PointerClickRow(list, row));
    ASSERT_TRUE(PumpUntil([&] { return ColumnListSelectedRow(list) == row; }));
}

// Clicks the Remote Control toolbar's button with the pointer and answers the windows it opens;
// what they showed once all are gone.
std::vector<SeenWindow> Toolbar(int button, std::vector<Answer> script)
{
    Responder r(std::move(script), 20000);
    EXPECT_TRUE(PointerClick(RemoteConToolbar[button].button));
    EXPECT_TRUE(PumpUntil([&] { return r.Done() && TopWindows().size() == 1; }, 25000));
    return r.Seen();
}

// Types the texts into the open system dialog's name and port (and, when given, address) entries.
std::function<void(GtkWidget*)> TypeSystem(const std::string& address, const std::string& name, const std::string& port,
                                           std::function<void()> then = nullptr)
{
    return [=](GtkWidget*) {
        if (!address.empty()) {
            EXPECT_TRUE(TypeIntoEntry(NewSys.pAddressEntry, address));
        }
        EXPECT_TRUE(TypeIntoEntry(NewSys.pNameEntry, name));
        EXPECT_TRUE(TypeIntoEntry(NewSys.pPortEntry, port));
        if (then)
            then();
    };
}

// A row's NULs survive a rewrite that a change of another row causes.
TEST_F(Systems, ARewriteKeepsTheBytesOfEveryOtherRow)
{
    const std::string one = "10.0.0.1\tone\t7402\n";
    const std::string two = Bytes("10.0.0.2\ttw\0o\t74\0" "02\n");
    const std::string three = Bytes("10\0.0.0.3\tthree\t7403\n");
    struct Case {
        const char* what;
        int button;
        int row;  // selected first
        std::vector<Answer> script;
        std::string written;
    } cases[] = {
        {"another row modified", kModify, 0,
         {{"Modify the system", "OK", TypeSystem("", "uno", "7410"), nullptr, true}},
         "10.0.0.1\tuno\t7410\n" + two + three},
        {"a system added", kNewSystem, 2,
         {{"Add a new system", "OK", TypeSystem("10.0.0.9", "nine", "7409"), nullptr, true}},
         one + two + three + "10.0.0.9\tnine\t7409\n"},
        {"another row deleted", kDelete, 0, {{"Warning", "OK", nullptr, nullptr, true}}, two + three},
    };
    CMainWindow* win = StartMainWindow();
    const std::string path = root_.Path("/usr/bin/vtnsys.log");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteFileText(path, one + two + three));
        LoadSystem(win->pSysList);
        ClickRow(win->pSysList, c.row);
        Toolbar(c.button, c.script);
        EXPECT_EQ(ReadFileText(path), c.written);
    }
}

// A save that fails (full disk, read-only folder) says so; the list keeps what the user did and
// the file stays as it was.
TEST_F(Systems, ASaveThatFailsIsSaidAndTheListKeepsWhatTheUserDid)
{
    const std::string file = "10.0.0.1\tone\t7402\n10.0.0.2\ttwo\t7403\n";
    const std::string notSaved = "The list of systems could not be saved\nto /usr/bin/vtnsys.log.";
    CMainWindow* win = StartMainWindow();
    const std::string path = root_.Path("/usr/bin/vtnsys.log");
    for (WriteFailure::Kind kind : {WriteFailure::kFullDisk, WriteFailure::kReadOnlyFolder}) {
        WriteFailure failure(kind, root_.Path("/usr/bin"));
        auto on = [&failure] { failure.On(); };
        const Answer error{"Error", "OK", [&failure](GtkWidget*) { failure.Off(); }, nullptr, true};
        struct Case {
            const char* what;
            int button;
            int row;
            std::vector<Answer> script;
            std::vector<Row> rows;
        } cases[] = {
            {"add", kNewSystem, 0,
             {{"Add a new system", "OK", TypeSystem("10.0.0.9", "nine", "7409", on), nullptr, true}, error},
             {{"10.0.0.1", "one", "7402"}, {"10.0.0.2", "two", "7403"}, {"10.0.0.9", "nine", "7409"}}},
            {"modify", kModify, 1,
             {{"Modify the system", "OK", TypeSystem("", "deux", "7410", on), nullptr, true}, error},
             {{"10.0.0.1", "one", "7402"}, {"10.0.0.2", "deux", "7410"}}},
            {"delete", kDelete, 0, {{"Warning", "OK", [on](GtkWidget*) { on(); }, nullptr, true}, error},
             {{"10.0.0.2", "two", "7403"}}},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(kind == WriteFailure::kFullDisk ? "full disk, " : "read-only folder, ") + c.what);
            ASSERT_TRUE(WriteFileText(path, file));
            LoadSystem(win->pSysList);
            ClickRow(win->pSysList, c.row);
            auto seen = Toolbar(c.button, c.script);
            failure.Off();
            ASSERT_EQ(seen.size(), c.script.size());
            EXPECT_EQ(seen.back().title, "Error");
            EXPECT_EQ(seen.back().labels.front(), notSaved);
            EXPECT_EQ(Rows(win->pSysList), c.rows);
            EXPECT_EQ(ReadFileText(path), file) << "nothing torn";
            EXPECT_EQ(FolderEntries(root_.Path("/usr/bin")), std::vector<std::string>{"vtnsys.log"});
        }
    }
}

}  // namespace
