#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

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
