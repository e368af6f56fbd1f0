#include "platform/file_stamp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/system_error.h"
#include "tests/support/scratch_directory.h"

namespace {

void Write(const std::filesystem::path& file, const char* text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace

TEST(FileStampTest, TellsAFileWrittenToOrReplacedFromTheSameFile) {
    ScratchDirectory scratch("file-stamp-");
    const std::filesystem::path file = scratch.Path() / "settings";
    const std::filesystem::path other = scratch.Path() / "other";
    EXPECT_EQ(platform::error::kFileNotFound, platform::StampOfFile(file.u16string()).Error());
    EXPECT_FALSE(platform::StampOfFile(u"").has_value());

    Write(file, "one");
    const auto first = platform::StampOfFile(file.u16string());
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->size, 3u);
    EXPECT_EQ(*platform::StampOfFile(file.u16string()), *first);
    // Its times are those of the system clock.
    const auto age = std::chrono::system_clock::now() - first->modified;
    EXPECT_GT(age, -std::chrono::minutes(1));
    EXPECT_LT(age, std::chrono::minutes(1));

    Write(file, "longer");
    const auto written = platform::StampOfFile(file.u16string());
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(written->size, 6u);
    EXPECT_FALSE(*written == *first);

    // Another file of the same size and times put in its place is another file.
    Write(other, "longer");
    std::filesystem::last_write_time(other, std::filesystem::last_write_time(file));
    std::filesystem::rename(other, file);
    const auto replaced = platform::StampOfFile(file.u16string());
    ASSERT_TRUE(replaced.has_value());
    EXPECT_NE(replaced->file, written->file);
}
