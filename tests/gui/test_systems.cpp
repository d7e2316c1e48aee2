// The managed-systems file and the Remote Control list: file texts to rows to file bytes, the
// default system, duplicates, the current row, and the fields a typed system may not hold.
#include <dirent.h>
#include <string>
#include <vector>

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

std::vector<std::string> FolderEntries(const std::string& dir)
{
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                out.push_back(e->d_name);
        closedir(d);
    }
    return out;
}

TEST_F(Systems, FileTextsBecomeRowsAndAreWrittenBack)
{
    const std::string f199(199, 'n');
    const std::string f250(250, 'n');
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

}  // namespace
