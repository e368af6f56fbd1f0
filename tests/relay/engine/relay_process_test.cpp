// The relay's process-wide objects release what a call left open when the process ends.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "relay/engine/relay_process.h"
#include "sim/decoder/decoder_server.h"
#include "tests/relay/engine/relay_fixture.h"
#include "tests/sim/decoder_scripts.h"

namespace {

using namespace std::chrono_literals;
using RelayProcessTest = RelayFixture;

TEST_F(RelayProcessTest, ABoxAndAConnectionLeftOpenAreReleasedWhenTheProcessEnds) {
    decoder::DecoderServer server(DecoderScriptFrom("expect ??*1000\n"));
    ASSERT_TRUE(server.Ready()) << server.Error();
    UseServerPort(server.Port());
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
    EXPECT_THAT(Calls(), ::testing::IsSupersetOf(
                             {"usb_open 001/001 -> ok", "usb_release_interface 001/001 0 -> 0"}));
    EXPECT_EQ("usb_close 001/001 -> 0", Calls().back());
    ASSERT_TRUE(server.WaitForEndedSessions(1, 10s));
    EXPECT_EQ("client closed", server.Sessions()[0].outcome);
}

}  // namespace
