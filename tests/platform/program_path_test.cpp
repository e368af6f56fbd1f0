#include "platform/program_path.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/system_error.h"
#include "platform_names.h"

namespace fs = std::filesystem;

namespace {

// The directory's path in one form, with a trailing separator whether it was given one or not.
fs::path AsDirectory(const fs::path& directory) {
    return (directory / "").lexically_normal();
}

}  // namespace

TEST(ProgramPathTest, NamesThisTestProgram) {
    const fs::path path(platform::ProgramPath());
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(path.is_absolute()) << path;
    EXPECT_EQ(path.filename().u16string(), platform_names::kTestProgramFileName);
}

TEST(ProgramPathTest, TheProgramDirectoryHoldsTheProgramWithoutATrailingSeparator) {
    const std::u16string directory = platform::ProgramDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_NE(directory.back(), platform::kPathSeparator);
    EXPECT_EQ(directory + platform::kPathSeparator + platform_names::kTestProgramFileName,
              platform::ProgramPath());
}

TEST(ProgramPathTest, TheModuleOfTheProgramsOwnCodeIsTheProgram) {
    const std::u16string module =
        platform::ModuleFileOf(reinterpret_cast<const void*>(&platform::ProgramPath));
    ASSERT_FALSE(module.empty());
    EXPECT_TRUE(fs::equivalent(module, platform::ProgramPath()));
    EXPECT_EQ(platform::ModuleFileOf(nullptr), u"");
}

TEST(ProgramPathTest, ChangeCurrentDirectoryChangesTheWorkingDirectory) {
    const fs::path before = fs::current_path();
    const fs::path elsewhere = fs::temp_directory_path();
    EXPECT_EQ(platform::error::kNone, platform::ChangeCurrentDirectory(elsewhere.u16string()));
    EXPECT_EQ(AsDirectory(fs::current_path()), AsDirectory(elsewhere));
    EXPECT_NE(platform::error::kNone,
              platform::ChangeCurrentDirectory((elsewhere / "no-such-directory").u16string()));
    EXPECT_EQ(AsDirectory(fs::current_path()), AsDirectory(elsewhere));
    fs::current_path(before);
}
