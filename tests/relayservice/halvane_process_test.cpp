// Halvane as the service manager runs it: the real program with the real relay library, its box
// being the box stand-in (each call of the relay scans the bus once, which the stand-in logs) and
// its configuration endpoint the stand-in on 127.0.0.1.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "sim/configserver/config_server.h"
#include "tests/relay/http/http_test_support.h"
#include "tests/sim/box_fixture.h"
#include "tests/support/host_process.h"
#include "tests/support/notify_socket.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kRunning = "READY=1\nSTATUS=Running";
const std::string kStopped = "STOPPING=1\nSTATUS=Stopped";

class HalvaneTest : public BoxStandInFixture {
  protected:
    void SetUp() override {
        BoxStandInFixture::SetUp();
        http_test::ClearSystemProxy();
        folder_ = std::filesystem::path(LogPath()).parent_path();
        UseScenario("bus\n");  // no box: each relay call returns at once
    }

    HostProcess::Environment Environment(bool underServiceManager) const {
        HostProcess::Environment environment = {
            {"LD_LIBRARY_PATH", BOX_STAND_IN_DIRECTORY},
            {"OSTREL_CONFIG_HOST", "127.0.0.1:" + std::to_string(endpoint_.Port())},
            {"NOTIFY_SOCKET", std::nullopt},
        };
        if (underServiceManager) {
            environment["NOTIFY_SOCKET"] = notify_->Path().string();
        }
        return environment;
    }

    // Starts halvane under the test's notification socket; fails unless it reports running.
    std::unique_ptr<HostProcess> StartService() {
        notify_.reset();  // its path is removed with it
        notify_ = std::make_unique<NotifySocket>(folder_ / "notify");
        auto halvane = std::make_unique<HostProcess>(HALVANE_PROGRAM, std::vector<std::string>{},
                                                     Environment(true), folder_);
        EXPECT_TRUE(halvane->Started());
        EXPECT_EQ(kRunning, notify_->Receive().value_or("(nothing)"));
        return halvane;
    }

    // Relay calls so far: each one scans the bus once.
    int Calls() const {
        int count = 0;
        for (const std::string& line : BoxStandInFixture::Calls()) {
            count += line == "usb_init" ? 1 : 0;
        }
        return count;
    }

    bool WaitForCalls(int count, std::chrono::milliseconds within = 30s) const {
        const auto deadline = Clock::now() + within;
        while (Calls() < count) {
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    sim::ConfigServer endpoint_;
    std::unique_ptr<NotifySocket> notify_;
    std::filesystem::path folder_;
};

TEST_F(HalvaneTest, StartedOutsideTheServiceManagerItEndsAtOnceWithoutARelayCall) {
    const std::optional<int> status =
        HostProcess::Run(HALVANE_PROGRAM, {}, Environment(false), folder_);
    EXPECT_EQ(0, status);
    EXPECT_EQ(0, Calls());
    EXPECT_TRUE(endpoint_.Requests().empty());
}

TEST_F(HalvaneTest, ItReportsRunningAndCallsTheRelayWithAPauseBetweenCalls) {
    const auto start = Clock::now();
    std::unique_ptr<HostProcess> halvane = StartService();
    ASSERT_TRUE(WaitForCalls(1));
    const auto first = Clock::now();
    ASSERT_TRUE(WaitForCalls(11));
    // Without a box each call returns at once: eleven calls take the ten pauses between them,
    // and not much more, however loaded the machine (twice that at most).
    EXPECT_GE(Clock::now() - start, 10 * 300ms);
    EXPECT_LT(Clock::now() - first, 2 * 10 * 300ms);
    EXPECT_EQ(1u, endpoint_.Requests().size());  // the configuration is loaded once
    EXPECT_NE(std::string::npos, halvane->Output().find("==================<<0\n"));

    halvane->Signal(SIGTERM);
    EXPECT_EQ(kStopped, notify_->Receive().value_or("(nothing)"));
    EXPECT_EQ(0, halvane->WaitForExit());
}

// A stop or a shutdown waits for the call in progress and the pause after it; no call follows.
TEST_F(HalvaneTest, AStopInTheMiddleOfACallWaitsForItAndItsPause) {
    for (const int stop : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(stop == SIGTERM ? "SIGTERM" : "SIGINT");
        ForgetCalls();
        sim::ConfigAnswer slow;
        slow.body = sim::ConfigurationBody("127.0.0.1", 9977);
        slow.delay = 1500ms;  // the first call spends this long loading the configuration
        endpoint_.SetAnswer(slow);
        const std::size_t requestsBefore = endpoint_.Requests().size();
        std::unique_ptr<HostProcess> halvane = StartService();
        ASSERT_TRUE(endpoint_.WaitForRequests(requestsBefore + 1, 30s));
        const auto callInProgress = Clock::now();

        halvane->Signal(stop);
        EXPECT_EQ(kStopped, notify_->Receive().value_or("(nothing)"));
        // The call ends when the answer has come (1.5 s after the request), then the pause.
        EXPECT_GE(Clock::now() - callInProgress, 1500ms);
        EXPECT_EQ(0, halvane->WaitForExit());
        EXPECT_EQ(1, Calls());
        EXPECT_EQ(requestsBefore + 1, endpoint_.Requests().size());
    }
}

TEST_F(HalvaneTest, PauseContinueAndOtherControlsChangeNothing) {
    std::unique_ptr<HostProcess> halvane = StartService();
    for (const int control : {SIGUSR1, SIGUSR2, SIGHUP}) {
        const int callsBefore = Calls();
        halvane->Signal(control);
        ASSERT_TRUE(WaitForCalls(callsBefore + 2)) << control;
        EXPECT_FALSE(halvane->WaitForExit(0ms)) << control;
    }
    EXPECT_EQ(std::nullopt, notify_->Receive(0ms));  // nothing was reported

    halvane->Signal(SIGTERM);
    EXPECT_EQ(kStopped, notify_->Receive().value_or("(nothing)"));
    EXPECT_EQ(0, halvane->WaitForExit());
}

}  // namespace
