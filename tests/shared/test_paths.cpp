#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "paths.h"
#include "testutil.h"
#include "textutil.h"

TEST(Paths, PrefixesRootOnlyWhenSet)
{
    {
        TempRoot root;
        EXPECT_EQ(VtnPath("/etc/vtn.ini"), root.Dir() + "/etc/vtn.ini");
        EXPECT_TRUE(VtnUnderRoot());
        std::string real = VtnPathForWrite("/var/log/deep/vtn.log");
        struct stat st;
        EXPECT_EQ(stat((root.Dir() + "/var/log/deep").c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(real, root.Dir() + "/var/log/deep/vtn.log");
    }
    unsetenv("VTN_ROOT");
    EXPECT_FALSE(VtnUnderRoot());
    EXPECT_EQ(VtnPath("/etc/vtn.ini"), "/etc/vtn.ini");
}

TEST(Paths, ARelativeRootIsMadeAbsoluteFromTheStartingFolder)
{
    TempRoot root;
    ASSERT_EQ(mkdir(root.Path("/demo-root").c_str(), 0755), 0);
    char* was = getcwd(nullptr, 0);
    ASSERT_NE(was, nullptr);
    ASSERT_EQ(chdir(root.Dir().c_str()), 0);
    char* here = getcwd(nullptr, 0);
    const std::string cwd = here ? here : "";
    free(here);
    struct Case {
        const char* value;
        bool mustExist;
        bool fixed;
        std::string after;
    } cases[] = {
        {"demo-root", true, true, cwd + "/demo-root"},
        {"./demo-root/", true, true, cwd + "/./demo-root/"},
        {"missing", false, true, cwd + "/missing"},
        {"missing", true, false, cwd + "/missing"},
        {"/elsewhere/missing", true, false, "/elsewhere/missing"},
        {"", true, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.value) + (c.mustExist ? ", must exist" : ""));
        setenv("VTN_ROOT", c.value, 1);
        EXPECT_EQ(VtnFixRoot("test", c.mustExist), c.fixed);
        EXPECT_EQ(getenv("VTN_ROOT"), c.after);
    }
    // The same folder after a change of folder.
    setenv("VTN_ROOT", "demo-root", 1);
    ASSERT_TRUE(VtnFixRoot("test", true));
    ASSERT_EQ(chdir("/"), 0);
    EXPECT_EQ(VtnPath("/etc/vtn.ini"), cwd + "/demo-root/etc/vtn.ini");
    EXPECT_EQ(chdir(was), 0);
    free(was);
}

TEST(TextUtil, CopiesAreBoundedAndTerminated)
{
    char small[5];
    EXPECT_EQ(CopyText(small, "abcdefgh"), 4u);
    EXPECT_STREQ(small, "abcd");
    const char field[4] = {'w', 'x', 'y', 'z'};  // no NUL
    char out[16];
    EXPECT_EQ(CopyField(out, sizeof out, field, sizeof field), 4u);
    EXPECT_STREQ(out, "wxyz");
    EXPECT_EQ(FormatText(small, sizeof small, "%d-%s", 12, "long"), 4u);
    EXPECT_STREQ(small, "12-l");
    CopyText(out, sizeof out, nullptr);
    EXPECT_STREQ(out, "");
}

TEST(TextUtil, FieldReadsStayInsideTheBuffer)
{
    unsigned char buf[8] = {1, 0, 0, 0, 2, 0, 0, 0};
    uint32_t v = 0;
    EXPECT_TRUE(ReadField(buf, sizeof buf, 4, &v));
    EXPECT_EQ(v, 2u);
    EXPECT_FALSE(ReadField(buf, sizeof buf, 5, &v));
    EXPECT_FALSE(ReadField(buf, sizeof buf, SIZE_MAX, &v));
    EXPECT_TRUE(WriteField(buf, sizeof buf, 0, uint32_t{7}));
    EXPECT_FALSE(WriteField(buf, sizeof buf, 6, uint32_t{7}));
    EXPECT_EQ(buf[0], 7);
}
