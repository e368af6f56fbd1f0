#include "webservice/web/server_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/scratch_directory.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

TEST(ServerSettingsTest, NoSettingsLeaveTheServerAsItAlwaysWas) {
    ServerSettings settings;
    std::string problem;
    ASSERT_TRUE(
        ParseServerSettings("# nothing set\n\n   \n\t# indented comment\r\n", settings, problem));
    EXPECT_EQ(settings.listenAddress, "0.0.0.0");
    EXPECT_TRUE(settings.anyOrigin);
    EXPECT_TRUE(settings.allowedOrigins.empty());
    EXPECT_FALSE(settings.anyHost);
    EXPECT_TRUE(settings.allowedHosts.empty());
    EXPECT_EQ(settings.idleTimeout, 60s);
    EXPECT_EQ(settings.maxConnections, 500u);
}

TEST(ServerSettingsTest, EverySettingIsTaken) {
    ServerSettings settings;
    std::string problem;
    ASSERT_TRUE(
        ParseServerSettings("listen = 127.0.0.1\r\n"
                            "allowed_origins = https://Intranet.example  http://[::1]:8080 "
                            "null\n"
                            "  allowed_hosts=Reader.Example\treader\n"
                            "idle_timeout = 15\n"
                            "max_connections = 40",
                            settings, problem))
        << problem;
    EXPECT_EQ(settings.listenAddress, "127.0.0.1");
    EXPECT_FALSE(settings.anyOrigin);
    EXPECT_EQ(settings.allowedOrigins,
              (std::vector<std::string>{"https://intranet.example", "http://[::1]:8080", "null"}));
    EXPECT_FALSE(settings.anyHost);
    EXPECT_EQ(settings.allowedHosts, (std::vector<std::string>{"reader.example", "reader"}));
    EXPECT_EQ(settings.idleTimeout, 15s);
    EXPECT_EQ(settings.maxConnections, 40u);

    ASSERT_TRUE(ParseServerSettings("allowed_origins = *\nallowed_hosts = *\n", settings, problem));
    EXPECT_TRUE(settings.anyOrigin);
    EXPECT_TRUE(settings.anyHost);
    // An empty origin list admits no page of another origin at all.
    ASSERT_TRUE(ParseServerSettings("allowed_origins =\n", settings, problem));
    EXPECT_FALSE(settings.anyOrigin);
    EXPECT_TRUE(settings.allowedOrigins.empty());
}

TEST(ServerSettingsTest, NumbersAreTakenUpToTheirBoundsInclusive) {
    struct Case {
        const char* text;
        std::chrono::seconds idleTimeout;
        std::size_t maxConnections;
    };
    const Case cases[] = {
        {"idle_timeout = 1\nmax_connections = 1\n", 1s, 1},
        {"idle_timeout = 86400\nmax_connections = 10000\n", 86400s, 10000},
    };
    for (const Case& c : cases) {
        ServerSettings settings;
        std::string problem;
        ASSERT_TRUE(ParseServerSettings(c.text, settings, problem)) << c.text << problem;
        EXPECT_EQ(settings.idleTimeout, c.idleTimeout) << c.text;
        EXPECT_EQ(settings.maxConnections, c.maxConnections) << c.text;
    }
}

TEST(ServerSettingsTest, LinesEndAsAnyEditorEndsThemAndAByteOrderMarkIsSkipped) {
    const std::string texts[] = {
        "# narrowed\nlisten = 127.0.0.1\nidle_timeout = 30\n",
        "# narrowed\r\nlisten = 127.0.0.1\r\nidle_timeout = 30\r\n",
        "# narrowed\rlisten = 127.0.0.1\ridle_timeout = 30\r",
        "# narrowed\rlisten = 127.0.0.1\r\nidle_timeout = 30",
        "\xEF\xBB\xBF# narrowed\r\nlisten = 127.0.0.1\r\nidle_timeout = 30\r\n",
        "\xEF\xBB\xBFlisten = 127.0.0.1\nidle_timeout = 30\n",
    };
    for (const std::string& text : texts) {
        ServerSettings settings;
        std::string problem;
        ASSERT_TRUE(ParseServerSettings(text, settings, problem)) << text << problem;
        EXPECT_EQ(settings.listenAddress, "127.0.0.1") << text;
        EXPECT_EQ(settings.idleTimeout, 30s) << text;
    }
    // Each kind of line end counts one line.
    ServerSettings settings;
    std::string problem;
    EXPECT_FALSE(ParseServerSettings("a = 1\r\rb = 2\n\r\nc\r", settings, problem));
    EXPECT_EQ(problem.rfind("line 1: unknown setting \"a\"", 0), 0u) << problem;
    EXPECT_FALSE(ParseServerSettings("\r\r\n\n\rc\r", settings, problem));
    EXPECT_EQ(problem, "line 5: expected \"key = value\", found \"c\"");
}

TEST(ServerSettingsTest, AFileInUtf16IsRefusedWithWhatToDo) {
    const std::string texts[] = {
        "\xFF\xFEl\0i\0s\0t\0"s,  // as Notepad saves "Unicode"
        "\xFE\xFF\0l\0i\0s\0t"s,
        "l\0i\0s\0t\0"s,
        "\0l\0i\0s\0t"s,
    };
    for (const std::string& text : texts) {
        ServerSettings settings;
        settings.idleTimeout = 7s;
        std::string problem;
        EXPECT_FALSE(ParseServerSettings(text, settings, problem));
        EXPECT_EQ(problem, "line 1: the file is saved as UTF-16; save it as UTF-8");
        EXPECT_EQ(settings.idleTimeout, 7s);
    }
}

TEST(ServerSettingsTest, AMistakeIsNamedByItsLineAndChangesNothing) {
    struct Case {
        std::string text;
        std::string problem;
    };
    const Case cases[] = {
        {"listen = 127.0.0.1\nallowed_host = a\n", "line 2: unknown setting \"allowed_host\""},
        {"listen\n", "line 1: expected \"key = value\""},
        {"= 1\n", "line 1: expected \"key = value\""},
        {"listen = localhost\n", "line 1: listen takes one IPv4 address"},
        {"listen = 127.0.0.1 10.0.0.1\n", "line 1: listen takes one IPv4 address"},
        {"listen = ::1\n", "line 1: listen takes one IPv4 address"},
        {"listen = 127.1\n", "line 1: listen takes one IPv4 address"},
        {"listen = 127.0.0.1 # loopback\n", "line 1: listen takes one IPv4 address"},
        {"\n\nallowed_origins = https://a.example/\n",
         "line 3: allowed_origins: \"https://a.example/\" is not an origin"},
        {"allowed_origins = a.example\n", "\"a.example\" is not an origin"},
        {"allowed_origins = https://a.example:0\n", "is not an origin"},
        {"allowed_origins = https://a.example:65536\n", "is not an origin"},
        {"allowed_origins = https://a.example,https://b.example\n", "is not an origin"},
        {"allowed_origins = https://a.example *\n", "\"*\" stands alone"},
        {"allowed_hosts = reader:19196\n", "\"reader:19196\" is not a host name"},
        {"allowed_hosts = .example\n", "is not a host name"},
        {"allowed_hosts = a..example\n", "is not a host name"},
        {"idle_timeout = 0\n", "line 1: idle_timeout takes a whole number of seconds"},
        {"idle_timeout = 1.5\n", "idle_timeout takes a whole number"},
        {"idle_timeout = -5\n", "idle_timeout takes a whole number"},
        {"idle_timeout = 86401\n", "idle_timeout takes a whole number"},
        {"idle_timeout =\n", "idle_timeout takes a whole number"},
        {"max_connections = 0\n", "max_connections takes a whole number from 1 to 10000"},
        {"max_connections = 10001\n", "max_connections takes a whole number"},
        {"max_connections = 99999999999999999999\n", "max_connections takes a whole number"},
        {"idle_timeout = 5\nidle_timeout = 6\n", "line 2: idle_timeout is set twice"},
        {"Listen = 127.0.0.1\n", "unknown setting \"Listen\""},
        // Found by fuzzing: the address was read up to the NUL and the rest of the value ignored.
        {"# Only.\nlisten = 127.0.0.1\0\0\0\0\0\0\0\0_origins = https://intranet.example.com "
         "http://09ed_o<<gins = 100\n"s,
         "line 2: the control byte 0x00 stands in the line"},
        {"allowed_hosts = a\x1b[2Jb\n", "line 1: the control byte 0x1B stands in the line"},
        {"idle_timeout = 5\x7f\n", "line 1: the control byte 0x7F stands in the line"},
    };
    for (const Case& c : cases) {
        ServerSettings settings;
        settings.idleTimeout = 7s;
        std::string problem;
        EXPECT_FALSE(ParseServerSettings(c.text, settings, problem)) << c.text;
        EXPECT_NE(problem.find(c.problem), std::string::npos) << c.text << "\n" << problem;
        EXPECT_EQ(settings.idleTimeout, 7s) << c.text;
    }
}

TEST(ServerSettingsTest, TheFileIsOptionalButMustBeReadableWhenThere) {
    ScratchDirectory scratch;
    const std::filesystem::path file = scratch.Path() / "zembra.conf";
    const auto load = [&file](ServerSettings& settings, std::string& problem) {
        return LoadServerSettings(file.u16string(), settings, problem);
    };
    ServerSettings settings;
    settings.idleTimeout = 7s;
    std::string problem;
    ASSERT_TRUE(load(settings, problem));
    EXPECT_EQ(settings.idleTimeout, 60s);  // no file: the defaults

    std::ofstream(file) << "idle_timeout = 9\n";
    ASSERT_TRUE(load(settings, problem)) << problem;
    EXPECT_EQ(settings.idleTimeout, 9s);

    std::ofstream(file) << "# set\nidle_timeout = 9s\n";
    EXPECT_FALSE(load(settings, problem));
    EXPECT_EQ(problem.rfind(file.u8string() + ", line 2: idle_timeout", 0), 0u) << problem;

    // Up to 64 KiB is taken, comments and all; more is no settings file. Written as bytes: a
    // text stream on Windows would lengthen each line end by a CR.
    std::ofstream(file, std::ios::trunc | std::ios::binary)
        << std::string(64 * 1024 - 18, '#') << "\nidle_timeout = 8\n";
    ASSERT_TRUE(load(settings, problem)) << problem;
    EXPECT_EQ(settings.idleTimeout, 8s);
    std::ofstream(file, std::ios::app | std::ios::binary) << "\n";
    EXPECT_FALSE(load(settings, problem));
    EXPECT_EQ(problem, file.u8string() + ": larger than 65536 bytes");
    EXPECT_EQ(settings.idleTimeout, 8s);
}

}  // namespace
