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

TEST(ProgramPathTest, TheProgramDirectoryHoldsTheProgramWithoutATrailingSeparator) {
    const std::u16string directory = platform::ProgramDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_NE(directory.back(), platform::kPathSeparator);
    EXPECT_EQ(directory + platform::kPathSeparator + u"platform_tests", platform::ProgramPath());
}

TEST(ProgramPathTest, ChangeCurrentDirectoryChangesTheWorkingDirectory) {
    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    EXPECT_TRUE(platform::ChangeCurrentDirectory(u"/tmp"));
    char now[4096];
    ASSERT_NE(getcwd(now, sizeof now), nullptr);
    EXPECT_STREQ(now, "/tmp");
    EXPECT_FALSE(platform::ChangeCurrentDirectory(u"/nonexistent/dir"));
    ASSERT_EQ(chdir(before), 0);
}
