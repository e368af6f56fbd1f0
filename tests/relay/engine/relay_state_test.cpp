#include "relay/engine/relay_process.h"

#include <gtest/gtest.h>

#include "platform/environment.h"

namespace {

// Clears the deployment variables for a test and puts back what was there before.
class RelayStateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetEnvironmentValue(u"OSTREL_DEFAULT_SERVER", std::nullopt);
        platform::SetEnvironmentValue(u"OSTREL_CONFIG_HOST", std::nullopt);
    }
    void TearDown() override { SetUp(); }
};

TEST_F(RelayStateTest, TheLoadedLibraryStartsOnTheDefaultServerWithNothingLoaded) {
    const RelayProcess process;
    const RelayState& state = process.state;
    EXPECT_EQ(9977, state.serverPort);
    EXPECT_EQ(BUILD_DEFAULT_SERVER, state.serverHost);
    EXPECT_FALSE(state.configLoaded);
    EXPECT_EQ(0, state.connectFailures);
}

TEST_F(RelayStateTest, TheBuildSettingsHoldUnlessTheEnvironmentNamesOtherValues) {
    EXPECT_EQ(BUILD_DEFAULT_SERVER, DefaultServerHost());
    EXPECT_EQ(BUILD_CONFIG_HOST, ConfigHost());

    platform::SetEnvironmentValue(u"OSTREL_DEFAULT_SERVER", u"10.1.2.3");
    platform::SetEnvironmentValue(u"OSTREL_CONFIG_HOST", u"config.example:8081");
    EXPECT_EQ("10.1.2.3", DefaultServerHost());
    EXPECT_EQ("config.example:8081", ConfigHost());
    EXPECT_EQ("10.1.2.3", RelayState{}.serverHost);

    platform::SetEnvironmentValue(u"OSTREL_DEFAULT_SERVER", u"");  // set but empty: not a value
    EXPECT_EQ(BUILD_DEFAULT_SERVER, DefaultServerHost());
}

TEST_F(RelayStateTest, FallingBackToTheDefaultServerKeepsTheRestOfTheState) {
    RelayState state;
    state.serverPort = 8000;
    state.serverHost = "decoder.example";
    state.configLoaded = true;
    state.connectFailures = 4;
    platform::SetEnvironmentValue(u"OSTREL_DEFAULT_SERVER", u"10.9.8.7");
    state.UseDefaultServer();
    EXPECT_EQ(9977, state.serverPort);
    EXPECT_EQ("10.9.8.7", state.serverHost);
    EXPECT_TRUE(state.configLoaded);
    EXPECT_EQ(4, state.connectFailures);
}

}  // namespace
