// Changes of the users file against a process that dies at each step of the write, or whose
// write comes up short: after a restart every user is as it was or as changed, never absent.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "fileio.h"
#include "global_user.h"
#include "intfimp.h"
#include "paths.h"
#include "testutil.h"
#include "textutil.h"
#include "vtnstatus.h"

namespace {

const char kFile[] = "/etc/vtnuser.dat";

_VTN_USER_INFO User(const char* name, const char* password, uint32_t rights)
{
    _VTN_USER_INFO u{};
    CopyText(u.name, name);
    CopyText(u.password, password);
    u.rights = rights;
    u.flags = VTN_USER_VALID;
    return u;
}

std::string Line(const char* name, const char* password, uint32_t rights)
{
    char line[256];
    FormatText(line, sizeof line, "%s:%s:%x:0:1:\n", name, password, rights);
    return line;
}

// Every valid user as "name|password|rights", in file order.
std::vector<std::string> Users()
{
    std::vector<std::string> out;
    _VTN_USER_INFO u;
    for (int i = 0; EnumUser(&u, i) == VTN_SUCCESS; ++i)
        out.push_back(std::string(u.name) + "|" + u.password + "|" + std::to_string(u.rights));
    return out;
}

enum class Failure { DieAtStep, ShortWrite };

struct Point {
    Failure how;
    const char* step;   // DieAtStep: the step of the replacement it dies at
    bool changed;       // what a restart must find
};

// Runs the change in a child that fails as told; returns the child's exit status.
int RunFailing(const _VTN_USER_INFO& request, uint8_t action, const Point& point)
{
    return JoinChild(ForkChild([&] {
        if (point.how == Failure::DieAtStep) {
            DieAtFileStep(point.step);
        } else {
            // The disk is full a few bytes into the new file.
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{10, 10};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        _VTN_USER_INFO r = request;
        _exit(SetUser(&r, action) == VTN_SUCCESS ? 0 : 1);
    }));
}

}  // namespace

TEST(UsersFileDurability, EveryUserIsOldOrNewWhateverInstantTheWriteFails)
{
    struct Change {
        const char* what;
        std::string before;
        uint8_t action;
        _VTN_USER_INFO request;
        std::vector<std::string> oldUsers, newUsers;
    };
    const std::string raid = Line("RAID", "R1", 0xff);
    const std::string bob = Line("bob", "B1", 0x3);
    const Change changes[] = {
        {"add", raid + bob, VTN_USER_ADD, User("carol", "C1", 0x10),
         {"RAID|R1|255", "bob|B1|3"}, {"RAID|R1|255", "bob|B1|3", "carol|C1|16"}},
        {"password", raid + bob, VTN_USER_SET_PASSWORD, User("bob", "B2", 0),
         {"RAID|R1|255", "bob|B1|3"}, {"RAID|R1|255", "bob|B2|3"}},
        {"rights", raid + bob, VTN_USER_SET_RIGHTS, User("bob", "", 0x7),
         {"RAID|R1|255", "bob|B1|3"}, {"RAID|R1|255", "bob|B1|7"}},
        {"the only user's password", raid, VTN_USER_SET_PASSWORD, User("RAID", "R2", 0),
         {"RAID|R1|255"}, {"RAID|R2|255"}},
    };
    const Point points[] = {
        {Failure::DieAtStep, "create", false}, {Failure::DieAtStep, "write", false},
        {Failure::DieAtStep, "sync", false},   {Failure::DieAtStep, "rename", false},
        {Failure::DieAtStep, "done", true},    {Failure::ShortWrite, "", false},
    };
    for (const Change& c : changes) {
        for (const Point& p : points) {
            SCOPED_TRACE(std::string(c.what) + ", " + (p.how == Failure::ShortWrite ? "short write" : p.step));
            TempRoot root;
            ASSERT_TRUE(WriteFileText(VtnPathForWrite(kFile), c.before));
            int status = RunFailing(c.request, c.action, p);
            if (p.how == Failure::ShortWrite) {
                EXPECT_EQ(status, 1) << "a short write is a failure";
                EXPECT_EQ(ReadFileText(root.Path(kFile)), c.before) << "a failed change leaves the file as it was";
            } else {
                EXPECT_EQ(status, 137);
            }

            // The restart: stale files removed, the file cleaned.
            RemoveStaleServerFiles();
            Init_User_File();
            EXPECT_EQ(Users(), p.changed ? c.newUsers : c.oldUsers);
            EXPECT_EQ(FolderEntries(root.Path("/etc")), std::vector<std::string>{"vtnuser.dat"});
            std::string text = ReadFileText(root.Path(kFile));
            ASSERT_FALSE(text.empty());
            EXPECT_EQ(text.back(), '\n') << "no partial line";

            // A later add reads back.
            _VTN_USER_INFO dave = User("dave", "D1", 0x1);
            ASSERT_EQ(SetUser(&dave, VTN_USER_ADD), VTN_SUCCESS);
            char name[] = "dave";
            char password[] = "D1";
            EXPECT_TRUE(isvaliduserpass(name, password, false));
        }
    }
}

TEST(UsersFileDurability, AnAddAfterAPartialLastLineStartsOnItsOwnLine)
{
    TempRoot root;
    ASSERT_TRUE(WriteFileText(VtnPathForWrite(kFile), "RAID:R1:ff:0:1:\nhalf:H1:f"));
    _VTN_USER_INFO eve = User("eve", "E1", 0x1);
    ASSERT_EQ(SetUser(&eve, VTN_USER_ADD), VTN_SUCCESS);
    EXPECT_EQ(ReadFileText(root.Path(kFile)), "RAID:R1:ff:0:1:\nhalf:H1:f\neve:E1:1:0:1:\n");
    char name[] = "eve";
    char password[] = "E1";
    EXPECT_TRUE(isvaliduserpass(name, password, false));
}
