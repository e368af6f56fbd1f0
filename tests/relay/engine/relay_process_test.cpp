// The relay's process-wide objects release what a call left open when the process ends.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/environment.h"
#include "relay/engine/relay_process.h"
#include "sim/decoder/decoder_server.h"
#include "tests/relay/engine/relay_fixture.h"
#include "tests/sim/decoder_scripts.h"

namespace {

using namespace std::chrono_literals;
using RelayProcessTest = RelayFixture;

// A death test's child runs the test again from its start, with a server of its own:
// the port of the server of the test that started it comes from the environment, which is set
// only once.
std::uint16_t PortOfTheFirstServer(std::uint16_t port) {
    constexpr std::u16string_view kVariable = u"RELAY_PROCESS_TEST_PORT";
    if (const std::optional<std::u16string> inherited = platform::EnvironmentValue(kVariable)) {
        return static_cast<std::uint16_t>(
            std::stoi(std::string(inherited->begin(), inherited->end())));
    }
    const std::string text = std::to_string(port);
    platform::SetEnvironmentValue(kVariable, std::u16string(text.begin(), text.end()));
    return port;
}

TEST_F(RelayProcessTest, ABoxAndAConnectionLeftOpenAreReleasedWhenTheProcessEnds) {
    // The decoder stand-in runs a thread: a child forked beside it could find a lock held by a
    // thread that is not there and wait for ever, so the child starts afresh, as on Windows.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    decoder::DecoderServer server(DecoderScriptFrom("expect ??*1000\n"));
    ASSERT_TRUE(server.Ready()) << server.Error();
    UseServerPort(PortOfTheFirstServer(server.Port()));
    UseBox("");
    EXPECT_EXIT(
        {
            // Held as the library holds its own: destroyed when the process ends.
            static RelayProcess process;
            process.state = state_;
            ForgetCalls();
            process.box.ConnectUsb();
            RelayCycle(process.box, process.socket, process.state).ConnectServer();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    platform::SetEnvironmentValue(u"RELAY_PROCESS_TEST_PORT", std::nullopt);
    ASSERT_FALSE(Calls().empty());
    EXPECT_THAT(Calls(), ::testing::IsSupersetOf(
                             {"usb_open 001/001 -> ok", "usb_release_interface 001/001 0 -> 0"}));
    EXPECT_EQ("usb_close 001/001 -> 0", Calls().back());
    ASSERT_TRUE(server.WaitForEndedSessions(1, 10s));
    EXPECT_EQ("client closed", server.Sessions()[0].outcome);
}

}  // namespace
