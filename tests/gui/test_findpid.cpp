// The single-instance check's process search over a fake proc tree.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "drivergui.h"
#include "testutil.h"

namespace {

struct Entry {
    std::string name;        // folder name under the proc tree
    const char* firstLine;   // first line of its status file; null: no status file
};

std::vector<long> Search(const std::string& proc, const char* name)
{
    long* ids = find_pid_by_name(name, proc.c_str());
    std::vector<long> out;
    if (ids == nullptr)
        return out;
    size_t n = 0;
    while (ids[n] != 0)
        out.push_back(ids[n++]);
    free(ids);
    std::sort(out.begin(), out.end());
    return out;
}

TEST(FindPidByName, ReadsTheSecondWordOfEachNumericEntrysFirstStatusLine)
{
    const std::string longTail(120, 'x');
    const std::string cutName = "Name:" + std::string(43, ' ') + "vtnraid";  // "vtnraid" from column 48
    const std::string longLine = "Name:\tvtnraid " + longTail;
    struct Case {
        const char* what;
        std::vector<Entry> entries;
        const char* name;
        std::vector<long> ids;
    } cases[] = {
        {"no entries", {}, "vtnraid", {-1}},
        {"no entries, init", {}, "init", {1}},
        {"one match", {{"123", "Name:\tvtnraid\n"}, {"124", "Name:\tbash\n"}}, "vtnraid", {123}},
        {"two matches", {{"77", "Name:\tvtnraid\n"}, {"5000", "Name:\tvtnraid\n"}}, "vtnraid", {77, 5000}},
        {"non-numeric names are skipped", {{"self", "Name:\tvtnraid\n"}, {"x1", "Name:\tvtnraid\n"}}, "vtnraid",
         {-1}},
        {"the name as first word only", {{"10", "vtnraid Name:\n"}}, "vtnraid", {-1}},
        {"a longer name", {{"10", "Name:\tvtnraidx\n"}}, "vtnraid", {-1}},
        {"a name starting the same", {{"10", "Name:\tvtn\n"}}, "vtnraid", {-1}},
        {"a long line is cut after the word", {{"11", longLine.c_str()}}, "vtnraid", {11}},
        {"a word past 48 characters is cut away", {{"12", cutName.c_str()}}, "vtnraid", {-1}},
        {"a one-word line", {{"13", "vtnraid\n"}}, "vtnraid", {-1}},
        {"an empty status file", {{"14", ""}}, "vtnraid", {-1}},
        {"no status file", {{"15", nullptr}, {"16", "Name:\tvtnraid\n"}}, "vtnraid", {16}},
        {"init found as a process", {{"1", "Name:\tinit\n"}}, "init", {1}},
        {"init not there", {{"1", "Name:\tsystemd\n"}}, "init", {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempRoot root;
        const std::string proc = root.Dir() + "/proc";
        mkdir(proc.c_str(), 0755);
        for (const Entry& e : c.entries) {
            const std::string dir = proc + "/" + e.name;
            mkdir(dir.c_str(), 0755);
            if (e.firstLine) {
                ASSERT_TRUE(WriteFileText(dir + "/status", std::string(e.firstLine) + "State:\tS (sleeping)\n"));
            }
        }
        EXPECT_EQ(Search(proc, c.name), c.ids);
    }
}

TEST(FindPidByName, AProcFolderThatCannotBeOpenedFindsNothing)
{
    TempRoot root;
    testing::internal::CaptureStdout();
    std::vector<long> ids = Search(root.Dir() + "/missing", "vtnraid");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot open /proc");
    EXPECT_EQ(ids, std::vector<long>{-1});
}

TEST(FindPidByName, TheRealProcHoldsThisProcess)
{
    // The test program's own name, as the kernel keeps it (15 characters at most).
    std::string self = ReadFileText("/proc/self/comm");
    while (!self.empty() && self.back() == '\n')
        self.pop_back();
    std::vector<long> ids = Search("/proc", self.c_str());
    EXPECT_NE(std::find(ids.begin(), ids.end(), static_cast<long>(getpid())), ids.end());
}

}  // namespace
