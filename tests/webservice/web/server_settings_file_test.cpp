// The settings file's name on Linux, where it may stand for a link, a pipe or a device.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "tests/support/scratch_directory.h"
#include "webservice/web/server_settings.h"

namespace {

using namespace std::chrono_literals;

TEST(ServerSettingsFileTest, AnythingButAFileAtItsNameStopsTheStartWithTheReason) {
    ScratchDirectory scratch;
    const std::filesystem::path file = scratch.Path() / "zembra.conf";
    struct Case {
        const char* name;
        std::function<void()> make;
        std::string reason;
    };
    const Case cases[] = {
        {"directory", [&] { std::filesystem::create_directory(file); },
         "is a directory, not a file"},
        {"link to nothing",
         [&] { std::filesystem::create_symlink(scratch.Path() / "gone.conf", file); },
         "is a symbolic link to nothing"},
        {"link in a loop",
         [&] {
             std::filesystem::create_symlink(scratch.Path() / "other.conf", file);
             std::filesystem::create_symlink(file, scratch.Path() / "other.conf");
         },
         "is a symbolic link in a loop"},
        {"named pipe", [&] { ASSERT_EQ(mkfifo(file.c_str(), 0644), 0); },
         "is a named pipe, not a file"},
        {"device", [&] { std::filesystem::create_symlink("/dev/zero", file); },
         "is a device, not a file"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(scratch.Path() / "other.conf");
        std::filesystem::remove_all(file);
        c.make();
        ServerSettings settings;
        settings.idleTimeout = 7s;
        std::string problem;
        EXPECT_FALSE(LoadServerSettings(file.u16string(), settings, problem)) << c.name;
        EXPECT_EQ(problem, file.u8string() + ": cannot be read: it " + c.reason) << c.name;
        EXPECT_EQ(settings.idleTimeout, 7s) << c.name;
    }
    // A link to a file is the file.
    std::filesystem::remove_all(file);
    std::ofstream(scratch.Path() / "real.conf") << "idle_timeout = 9\n";
    std::filesystem::create_symlink(scratch.Path() / "real.conf", file);
    ServerSettings settings;
    std::string problem;
    ASSERT_TRUE(LoadServerSettings(file.u16string(), settings, problem)) << problem;
    EXPECT_EQ(settings.idleTimeout, 9s);
}

}  // namespace
