// The configuration fetch through the real HTTP client and transport, against the configuration-
// endpoint stand-in on 127.0.0.1.
#include "relay/engine/relay_config.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/environment.h"
#include "sim/configserver/config_server.h"
#include "tests/relay/http/http_test_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class RelayConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        http_test::ClearSystemProxy();
        platform::SetEnvironmentValue(u"OSTREL_DEFAULT_SERVER", u"127.0.0.9");
        const std::string host = "127.0.0.1:" + std::to_string(endpoint_.Port());
        platform::SetEnvironmentValue(u"OSTREL_CONFIG_HOST",
                                      std::u16string(host.begin(), host.end()));
    }

    void TearDown() override {
        platform::SetEnvironmentValue(u"OSTREL_DEFAULT_SERVER", std::nullopt);
        platform::SetEnvironmentValue(u"OSTREL_CONFIG_HOST", std::nullopt);
    }

    sim::ConfigServer endpoint_;
    ConfigClient config_;
    RelayState state_;
};

// The endpoint sends its answer a byte at a time, 10 ms apart: no wait without progress runs out,
// and only the fetch's own bound ends it. Past the bound the fetch ends as one whose endpoint
// could not be asked: the default server, and a load that counts as done.
TEST_F(RelayConfigTest, AFetchThatOutlastsItsBoundFallsBackToTheDefaultServer) {
    sim::ConfigAnswer trickle;
    trickle.body = sim::ConfigurationBody("10.1.2.3", 7000);
    trickle.pieceSize = 1;
    trickle.pieceDelay = 10ms;
    endpoint_.SetAnswer(trickle);
    struct Case {
        std::chrono::milliseconds bound;
        std::string server;  // "host:port" afterwards
    } cases[] = {
        {500ms, "127.0.0.9:9977"}, {30s, "10.1.2.3:7000"},  // the whole answer takes about 2 s
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bound.count());
        state_.serverHost = "192.0.2.1";
        state_.serverPort = 1234;
        const auto start = Clock::now();
        EXPECT_EQ(ConfigResult::Loaded, LoadRelayConfig(config_, state_, c.bound));
        const auto took = Clock::now() - start;
        EXPECT_EQ(c.server, state_.serverHost + ":" + std::to_string(state_.serverPort));
        EXPECT_LT(took, c.bound + 5s);
    }
}

// Forty seconds: as long as an endpoint that works needs, and part of the worst case of a relay
// call that the halvane unit's stop time-out counts on.
TEST(RelayConfigBoundTest, TheFetchBoundIsFortySeconds) {
    EXPECT_EQ(std::chrono::seconds(40), kConfigFetchBound);
}

}  // namespace
