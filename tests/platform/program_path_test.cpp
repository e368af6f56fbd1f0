#include "platform/program_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/code_page.h"

TEST(ProgramPathTest, NamesThisTestProgram) {
    const std::string path = platform::codepage::Utf16ToUtf8(platform::ProgramPath());
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "platform_tests");
}

TEST(ProgramPathTest, SetCurrentDirectoryChangesTheWorkingDirectory) {
    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    EXPECT_TRUE(platform::SetCurrentDirectory(u"/tmp"));
    char now[4096];
    ASSERT_NE(getcwd(now, sizeof now), nullptr);
    EXPECT_STREQ(now, "/tmp");
    EXPECT_FALSE(platform::SetCurrentDirectory(u"/nonexistent/dir"));
    ASSERT_EQ(chdir(before), 0);
}
