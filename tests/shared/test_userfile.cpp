#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>
#include <sys/stat.h>

#include "global_user.h"
#include "paths.h"
#include "testutil.h"
#include "textutil.h"
#include "vtnstatus.h"

namespace {

const char kFile[] = "/etc/vtnuser.dat";

_VTN_USER_INFO MakeUser(const char* name, const char* password, uint32_t rights, uint32_t flags,
                        const char* description = "", uint32_t rights2 = 0)
{
    _VTN_USER_INFO u;
    memset(&u, 0, sizeof u);
    CopyText(u.name, name);
    CopyText(u.password, password);
    u.rights = rights;
    u.rights2 = rights2;
    u.flags = flags;
    CopyText(u.description, description);
    return u;
}

// Writes the users file, making its folder.
bool WriteUsers(const std::string& text)
{
    return WriteFileText(VtnPathForWrite(kFile), text);
}

// Every valid user in file order, as "name|flags|password|rights".
std::vector<std::string> Listing()
{
    std::vector<std::string> out;
    _VTN_USER_INFO u;
    for (int i = 0; EnumUser(&u, i) == VTN_SUCCESS; ++i)
        out.push_back(std::string(u.name) + "|" + std::to_string(u.flags) + "|" + u.password + "|" +
                      std::to_string(u.rights));
    return out;
}

}  // namespace

TEST(UserLine, ParseTable)
{
    struct Case {
        const char* line;
        bool parsed;
        bool comment;
        const char* name;
        const char* password;
        uint32_t rights, rights2, flags;
        const char* description;
    };
    const std::string longName(80, 'n');
    const std::string longDesc(200, 'd');
    const std::string longNameLine = longName + ":pw:1:0:1:x\n";
    const std::string longDescLine = "u:pw:1:0:1:" + longDesc + "\n";
    const std::string name63 = longName.substr(0, 63);
    const std::string desc127 = longDesc.substr(0, 127);
    const Case cases[] = {
        {"alice:PASS:1f:0:1:Alice A\n", true, false, "alice", "PASS", 0x1f, 0, 1, "Alice A\n"},
        {"alice:PASS:1f:0:1:Alice A", true, false, "alice", "PASS", 0x1f, 0, 1, "Alice A"},
        {"# alice:PASS:1f:0:1:\n", false, true, "", "", 0, 0, 0, ""},
        {" \t#x:a:1:1:1:\n", false, true, "", "", 0, 0, 0, ""},
        {"bob:pw:1:0:1\n", false, false, "", "", 0, 0, 0, ""},  // four colons
        {"no colon at all\n", false, false, "", "", 0, 0, 0, ""},
        {"", false, false, "", "", 0, 0, 0, ""},
        {"sys\\root:pw:ff:0:3:Root\n", true, false, "root", "pw", 0xff, 0, 3, "Root\n"},
        {"SYS\\root:pw:ff:0:3:\n", true, false, "root", "pw", 0xff, 0, 3, "\n"},
        {"sYs\\root:pw:ff:0:2:\n", true, false, "root", "pw", 0xff, 0, 2, "\n"},
        // The prefix is stripped only for a system account.
        {"Sys\\root:pw:ff:0:1:\n", true, false, "Sys\\root", "pw", 0xff, 0, 1, "\n"},
        {"  carol:pw:ABCDEF01:0x10:1:d\n", true, false, "  carol", "pw", 0xABCDEF01, 0x10, 1, "d\n"},
        // Fields that are no number stay 0; a number with a tail reads up to the tail.
        {"dave:pw:zz:1-2:1:\n", true, false, "dave", "pw", 0, 0, 1, "\n"},
        {"erin:pw:12g:0:1:x:y:z\n", true, false, "erin", "pw", 0x12, 0, 1, "x:y:z\n"},
        {"frank:pw:1:1:0:gone\n", true, false, "frank", "pw", 1, 1, 0, "gone\n"},
        {"gina::0:0:1:", true, false, "gina", "", 0, 0, 1, ""},
        {longNameLine.c_str(), true, false, name63.c_str(), "pw", 1, 0, 1, "x\n"},
        {longDescLine.c_str(), true, false, "u", "pw", 1, 0, 1, desc127.c_str()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::string buffer = c.line;
        _VTN_USER_INFO u;
        memset(&u, 0x5A, sizeof u);
        bool comment = !c.comment;
        EXPECT_EQ(GetUserInfo(buffer.data(), &u, &comment), c.parsed);
        EXPECT_EQ(comment, c.comment);
        EXPECT_EQ(buffer, c.line);  // the line is left as it was
        EXPECT_STREQ(u.name, c.name);
        EXPECT_STREQ(u.password, c.password);
        EXPECT_EQ(u.rights, c.rights);
        EXPECT_EQ(u.rights2, c.rights2);
        EXPECT_EQ(u.unused, 0u);
        EXPECT_EQ(u.flags, c.flags);
        EXPECT_STREQ(u.description, c.description);
    }
}

TEST(UserLine, NameAndNumberHelpers)
{
    struct Case {
        const char* field;
        bool valid;
    };
    const Case numbers[] = {{"1f", true}, {"", true}, {"zz", true}, {"12345678-", true},
                            {"1-2", false}, {" 1", false}, {"0x10", true}};
    for (const Case& c : numbers) {
        std::string f = c.field;
        EXPECT_EQ(IsValidNumber(f.data()), c.valid) << c.field;
    }

    char name[64] = "root";
    convertsysuser(name);
    EXPECT_STREQ(name, "sys\\root");
    reversesysuser(name);
    EXPECT_STREQ(name, "root");
    CopyText(name, "SyS\\admin");
    reversesysuser(name);
    EXPECT_STREQ(name, "admin");
    CopyText(name, "system");
    reversesysuser(name);
    EXPECT_STREQ(name, "system");
    std::string longName(63, 'x');
    CopyText(name, longName.c_str());
    convertsysuser(name);
    EXPECT_EQ(std::string(name), "sys\\" + longName.substr(0, 59));
}

TEST(UserFile, EnumerationSkipsCommentsMalformedAndInvalidLines)
{
    TempRoot root;
    _VTN_USER_INFO u;
    EXPECT_EQ(EnumUser(&u, 0), VTN_FAILURE);  // no file
    EXPECT_FALSE(isvaliduser(const_cast<char*>("a"), nullptr, false));

    ASSERT_TRUE(WriteUsers(
                              "# users\n"
                              "a:pa:1:0:1:first\n"
                              "broken:pw:1:0:1\n"
                              "b:pb:2:0:0:deleted\n"
                              "\n"
                              "   # indented comment:x:1:0:1:\n"
                              "sys\\root:pr:ff:0:3:\n"
                              "c:pc:3:0:1:last, no newline"));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"a|1|pa|1", "root|3|pr|255", "c|1|pc|3"}));
    EXPECT_EQ(EnumUser(&u, 3), VTN_NO_MORE_ENTRIES);
    EXPECT_EQ(EnumUser(&u, -1), VTN_NO_MORE_ENTRIES);

    struct Case {
        const char* name;
        bool system;
        const char* password;
        bool user, userPass;
    };
    const Case lookups[] = {
        {"a", false, "pa", true, true},
        {"a", false, "pb", true, false},
        {"A", false, "pa", false, false},       // names are case-sensitive
        {"b", false, "pb", false, false},       // invalid line
        {"broken", false, "pw", false, false},  // malformed line
        {"root", true, "pr", true, true},
        {"root", false, "pr", false, false},    // system flag must agree
        {"sys\\root", false, "pr", false, false},
        {"c", false, "pc", true, true},
    };
    for (const Case& c : lookups) {
        SCOPED_TRACE(c.name);
        std::string name = c.name, password = c.password;
        _VTN_USER_INFO found;
        EXPECT_EQ(isvaliduser(name.data(), &found, c.system), c.user);
        if (c.user) {
            EXPECT_STREQ(found.name, c.name);
        }
        EXPECT_EQ(isvaliduserpass(name.data(), password.data(), c.system), c.userPass);
    }
}

TEST(UserFile, LongLineIsOneLine)
{
    TempRoot root;
    // The tail of an over-long line must not be read as a line of its own.
    std::string tail = "ghost:pw:1:0:1:\n";
    std::string longLine = "x:pw:1:0:1:" + std::string(2100 - tail.size(), 'd') + tail;
    ASSERT_TRUE(WriteUsers(longLine + "y:pw:1:0:1:\n"));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"x|1|pw|1", "y|1|pw|1"}));
}

TEST(UserFile, SetUserSequences)
{
    enum : uint8_t { Add = VTN_USER_ADD, Pass = VTN_USER_SET_PASSWORD, Rights = VTN_USER_SET_RIGHTS,
                     Del = VTN_USER_DELETE };
    struct Step {
        uint8_t action;
        const char* name;
        uint32_t flags;  // 0x2 = system account
        const char* password;
        uint32_t rights;
        uint32_t result;
    };
    struct Sequence {
        const char* title;
        std::vector<Step> steps;
        std::vector<std::string> listing;
    };
    const char* unknown = "vtn-no-such-account";
    const std::vector<Sequence> sequences = {
        {"add, then add again",
         {{Add, "alice", 0, "P1", 3, VTN_SUCCESS}, {Add, "alice", 0, "P9", 7, VTN_EXISTS}},
         {"alice|1|P1|3"}},
        {"password change moves the user last",
         {{Add, "alice", 0, "P1", 3, VTN_SUCCESS},
          {Add, "bob", 0, "B1", 1, VTN_SUCCESS},
          {Pass, "alice", 0, "P2", 99, VTN_SUCCESS}},
         {"bob|1|B1|1", "alice|1|P2|3"}},
        {"rights change keeps the password",
         {{Add, "alice", 0, "P1", 3, VTN_SUCCESS},
          {Add, "bob", 0, "B1", 1, VTN_SUCCESS},
          {Rights, "alice", 0, "ignored", 0x1ff, VTN_SUCCESS}},
         {"bob|1|B1|1", "alice|1|P1|511"}},
        {"changes and deletes of a missing user",
         {{Pass, "ghost", 0, "x", 0, VTN_NOT_FOUND},
          {Rights, "ghost", 0, "x", 0, VTN_NOT_FOUND},
          {Del, "ghost", 0, "x", 0, VTN_FAILURE},
          {Add, "alice", 0, "P1", 3, VTN_SUCCESS},
          {Del, "alice", 2, "", 0, VTN_FAILURE}},  // alice is no system account
         {"alice|1|P1|3"}},
        {"delete, then add again",
         {{Add, "alice", 0, "P1", 3, VTN_SUCCESS},
          {Del, "alice", 0, "", 0, VTN_SUCCESS},
          {Del, "alice", 0, "", 0, VTN_FAILURE},
          {Pass, "alice", 0, "P2", 0, VTN_NOT_FOUND},
          {Add, "alice", 0, "P3", 1, VTN_SUCCESS}},
         {"alice|1|P3|1"}},
        {"system accounts",
         {{Add, unknown, 2, "S", 1, VTN_NOT_FOUND},
          {Add, unknown, 0, "S", 1, VTN_SUCCESS},  // an ordinary user needs no account
          {Add, "root", 2, "R1", 0xff, VTN_SUCCESS},
          {Add, "root", 2, "R2", 0xff, VTN_EXISTS},
          {Add, "root", 0, "O1", 1, VTN_SUCCESS},   // same name, ordinary user
          {Pass, "root", 2, "R3", 0, VTN_SUCCESS}},
         {std::string(unknown) + "|1|S|1", "root|1|O1|1", "root|3|R3|255"}},
        {"lines that would not read back are refused",
         {{Add, "", 0, "P", 1, VTN_FAILURE},
          {Add, "a:b", 0, "P", 1, VTN_FAILURE},
          {Add, "a\nb", 0, "P", 1, VTN_FAILURE},
          {Add, "a\rb", 0, "P", 1, VTN_FAILURE},
          {Add, "#a", 0, "P", 1, VTN_FAILURE},
          {Add, "carol", 0, "P:1", 1, VTN_FAILURE},
          {Add, "carol", 0, "P\n1", 1, VTN_FAILURE},
          {Add, "carol", 0, "P1", 1, VTN_SUCCESS},
          // a refused password change leaves the user as it was
          {Pass, "carol", 0, "new:pw", 0, VTN_FAILURE},
          {Pass, "carol", 0, "new\rpw", 0, VTN_FAILURE}},
         {"carol|1|P1|1"}},
        {"unknown action", {{7, "alice", 0, "P", 1, VTN_FAILURE}}, {}},
    };
    for (const Sequence& seq : sequences) {
        SCOPED_TRACE(seq.title);
        TempRoot root;
        for (size_t i = 0; i < seq.steps.size(); ++i) {
            const Step& s = seq.steps[i];
            _VTN_USER_INFO u = MakeUser(s.name, s.password, s.rights, s.flags);
            EXPECT_EQ(SetUser(&u, s.action), s.result) << "step " << i;
        }
        EXPECT_EQ(Listing(), seq.listing);
    }
}

TEST(UserFile, FileTextOfChanges)
{
    TempRoot root;
    _VTN_USER_INFO alice = MakeUser("alice", "P1", 0x3f, VTN_USER_VALID, "Alice\nsecond line", 0x10);
    ASSERT_EQ(SetUser(&alice, VTN_USER_ADD), VTN_SUCCESS);
    _VTN_USER_INFO sysRoot = MakeUser("root", "R1", 0xff, VTN_USER_SYSTEM | 0x10, "Admin:main");
    ASSERT_EQ(SetUser(&sysRoot, VTN_USER_ADD), VTN_SUCCESS);
    EXPECT_EQ(ReadFileText(root.Path(kFile)),
              "alice:P1:3f:10:1:Alice\n"
              "sys\\root:R1:ff:0:3:Admin:main\n");

    _VTN_USER_INFO change = MakeUser("alice", "P2", 0, 0);
    ASSERT_EQ(SetUser(&change, VTN_USER_SET_PASSWORD), VTN_SUCCESS);
    _VTN_USER_INFO del = MakeUser("root", "", 0, VTN_USER_SYSTEM);
    ASSERT_EQ(SetUser(&del, VTN_USER_DELETE), VTN_SUCCESS);
    EXPECT_EQ(ReadFileText(root.Path(kFile)),
              "alice:P1:3f:10:0:Alice\n"
              "sys\\root:R1:ff:0:0:Admin:main\n"
              "alice:P2:3f:10:1:Alice\n");
}

TEST(UserFile, MarkingRewritesOnlyThatLine)
{
    TempRoot root;
    ASSERT_TRUE(WriteUsers(
                              "a:pa:1:0:1:\n"
                              "b:pb:1:0:1:no newline"));
    struct Case {
        const char* name;
        bool valid;
        bool result;
        const char* text;
    };
    const Case cases[] = {
        {"b", false, true, "a:pa:1:0:1:\nb:pb:1:0:0:no newline"},
        {"b", false, false, "a:pa:1:0:1:\nb:pb:1:0:0:no newline"},  // no valid line left
        {"a", true, true, "a:pa:1:0:1:\nb:pb:1:0:0:no newline"},
        {"a", false, true, "a:pa:1:0:0:\nb:pb:1:0:0:no newline"},
        {"zz", false, false, "a:pa:1:0:0:\nb:pb:1:0:0:no newline"},
    };
    for (const Case& c : cases) {
        std::string name = c.name;
        EXPECT_EQ(markuser(name.data(), c.valid, false), c.result) << c.name;
        EXPECT_EQ(ReadFileText(root.Path(kFile)), c.text);
    }

    // A flags field whose first digit is not the valid bit cannot be marked in place.
    ASSERT_TRUE(WriteUsers("h:ph:1:0:0x1:\n"));
    EXPECT_FALSE(markuser(const_cast<char*>("h"), false, false));
    EXPECT_EQ(ReadFileText(root.Path(kFile)), "h:ph:1:0:0x1:\n");
}

TEST(UserFile, MissingFileAndAppend)
{
    TempRoot root;
    EXPECT_FALSE(markuser(const_cast<char*>("a"), false, false));
    EXPECT_EQ(SetUser(nullptr, VTN_USER_ADD), VTN_FAILURE);
    // The file and its folder are made by the first append.
    EXPECT_TRUE(adduline(const_cast<char*>("a:pa:1:0:1:\n")));
    EXPECT_TRUE(isvaliduser(const_cast<char*>("a"), nullptr, false));
    EXPECT_TRUE(isvalidsysuser(const_cast<char*>("root")));
    EXPECT_FALSE(isvalidsysuser(const_cast<char*>("vtn-no-such-account")));
    EXPECT_FALSE(isvalidsysuser(const_cast<char*>("")));
}

TEST(UserFile, LookupsReadTheFileThatIsThereNow)
{
    // The file stays open between lookups; changes made by others must show at once.
    TempRoot root;
    const std::string path = root.Path(kFile);
    struct Step {
        const char* what;
        std::string text;   // empty: the file is removed
        bool viaRename;     // replaced by a new file rather than rewritten in place
        bool alice, bob;
    };
    const Step steps[] = {
        {"alice only", "alice:pa:1:0:1:\n", false, true, false},
        {"rewritten in place, same size", "bobby:pb:1:0:1:\n", false, false, false},
        {"replaced by bob", "bob:pb:1:0:1:\n", true, false, true},
        {"removed", "", false, false, false},
        {"made again", "alice:pa:1:0:1:\nbob:pb:1:0:1:\n", false, true, true},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.text.empty()) {
            ASSERT_EQ(unlink(path.c_str()), 0);
        } else if (s.viaRename) {
            ASSERT_TRUE(WriteFileText(path + ".new", s.text));
            ASSERT_EQ(rename((path + ".new").c_str(), path.c_str()), 0);
        } else {
            ASSERT_TRUE(WriteUsers(s.text));
        }
        EXPECT_EQ(isvaliduser(const_cast<char*>("alice"), nullptr, false), s.alice);
        EXPECT_EQ(isvaliduser(const_cast<char*>("bob"), nullptr, false), s.bob);
    }
    // Another root: its own file.
    TempRoot other;
    EXPECT_FALSE(isvaliduser(const_cast<char*>("alice"), nullptr, false));
}

TEST(UserFile, AddFailsWhenTheFileCannotBeOpened)
{
    TempRoot root;
    ASSERT_EQ(mkdir(root.Path("/etc").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(root.Path(kFile).c_str(), 0755), 0);  // a folder in the file's place
    _VTN_USER_INFO u = MakeUser("alice", "P1", 1, 0);
    EXPECT_EQ(SetUser(&u, VTN_USER_ADD), VTN_FAILURE);
    EXPECT_FALSE(adduline(const_cast<char*>("x:y:1:0:1:\n")));
}
