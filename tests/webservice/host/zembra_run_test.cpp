#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/notify_socket.h"
#include "tests/support/port_holder.h"
#include "tests/webservice/host/zembra_fixture.h"
#include "tests/webservice/support/expected_answer.h"
#include "tests/webservice/support/raw_client.h"

namespace {

const std::string kStartPending = "STATUS=Start pending";
const std::string kRunning = "READY=1\nSTATUS=Running";
const std::string kPaused = "STATUS=Paused";
const std::string kStopPending = "STOPPING=1\nSTATUS=Stop pending";
const std::string kStopped = "STATUS=Stopped";

const std::string kStartText = "QMX Service Start Successfully~!";
const std::string kStartMessage = kStartText + "\n";
const std::string kStartingServer = "Starting web server on port 19196\n";
const std::string kNoListener = "Failed to create listener\n";

// The head of the answer to one request, or what arrived instead.
std::string AnswerHead(const std::string& path) {
    return Exchange(ZembraFixture::kPort, GetRequest(path)).substr(0, std::strlen(kAnswerHead));
}

// True once the simulated reader's call log holds the call, within `within`.
bool WaitForCall(const std::filesystem::path& log, const std::string& call,
                 std::chrono::milliseconds within = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (ReadWholeFile(log).find(call + "\n") == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class ZembraRunTest : public ZembraFixture {
  protected:
    std::vector<std::string> Reports(NotifySocket& notify, int count) {
        std::vector<std::string> reports;
        for (int i = 0; i < count; ++i) {
            reports.push_back(notify.Receive().value_or("(no report)"));
        }
        return reports;
    }
};

TEST_F(ZembraRunTest, RegisteredWithoutServiceItServesAsAPlainProcessUntilInterrupted) {
    ASSERT_EQ(Switch("-RegServer"), 0);
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        auto zembra = Start();
        ASSERT_TRUE(Serving(*zembra));
        EXPECT_EQ(AnswerHead("/getdevicestatus"), kAnswerHead);
        zembra->Signal(signal);
        EXPECT_EQ(zembra->WaitForExit(), 0);
        EXPECT_EQ(zembra->Output(), kStartMessage + kStartingServer);
        EXPECT_EQ(zembra->Errors(), "");
        ExpectLogged(*zembra, {kStartText});
        EXPECT_TRUE(NothingListens(kPort));
    }
}

TEST_F(ZembraRunTest, APlainProcessWhosePortIsTakenEndsWithAFailure) {
    ASSERT_EQ(Switch("-RegServer"), 0);
    const PortHolder holder("0.0.0.0", kPort, true);
    ASSERT_TRUE(holder.Listening());
    auto zembra = Start();
    EXPECT_EQ(zembra->WaitForExit(), kWideFailure);
    EXPECT_EQ(zembra->Output(), kStartMessage + kStartingServer + kNoListener);
    ExpectLogged(*zembra, {kStartText});
}

TEST_F(ZembraRunTest, AsAServiceItReportsItsStatesAndAnswersControlsWhileServing) {
    ASSERT_EQ(Switch("-Service"), 0);
    NotifySocket notify(scratch_.Path() / "notify");
    auto zembra = Start({}, Environment(notify.Path().string()));
    EXPECT_EQ(Reports(notify, 2), (std::vector<std::string>{kStartPending, kRunning}));
    ASSERT_TRUE(Serving(*zembra));

    // Pausing changes only the reported state: requests are still answered.
    zembra->Signal(SIGUSR1);
    EXPECT_EQ(notify.Receive(), kPaused);
    EXPECT_EQ(AnswerHead("/getdevicestatus"), kAnswerHead);
    // A control the service does not know is logged, not reported.
    zembra->Signal(SIGHUP);
    zembra->Signal(SIGUSR2);
    EXPECT_EQ(notify.Receive(), kRunning);
    EXPECT_EQ(AnswerHead("/getsamid"), kAnswerHead);

    zembra->Signal(SIGTERM);
    EXPECT_EQ(Reports(notify, 3), (std::vector<std::string>{kStopped, kStopPending, kStopped}));
    EXPECT_EQ(zembra->WaitForExit(), 0);
    EXPECT_EQ(notify.Receive(std::chrono::milliseconds(0)), std::nullopt);
    // The event-log texts of a service go to the log only.
    EXPECT_EQ(zembra->Output(), kStartingServer);
    EXPECT_EQ(zembra->Errors(), "");
    ExpectLogged(*zembra, {kStartText, "Bad service request", "Service stopped"});
    EXPECT_TRUE(NothingListens(kPort));
}

TEST_F(ZembraRunTest, AServiceStartedOutsideTheServiceManagerFailsAndServesNothing) {
    ASSERT_EQ(Switch("-Service"), 0);
    auto zembra = Start();
    EXPECT_EQ(zembra->WaitForExit(), kWideFailure);
    const std::string expected =
        std::string(kServiceName) + ": Could not connect to the service manager";
    EXPECT_EQ(zembra->Errors().rfind(expected, 0), 0u) << zembra->Errors();
    EXPECT_EQ(zembra->Output(), "");
    ExpectLogged(*zembra, {});
    EXPECT_TRUE(NothingListens(kPort));
}

TEST_F(ZembraRunTest, AServiceWhosePortIsTakenKeepsRunningUntilStopped) {
    ASSERT_EQ(Switch("-Service"), 0);
    const PortHolder holder("0.0.0.0", kPort, true);
    ASSERT_TRUE(holder.Listening());
    NotifySocket notify(scratch_.Path() / "notify");
    auto zembra = Start({}, Environment(notify.Path().string()));
    // Running once from the start, and once more as "Service started" follows.
    EXPECT_EQ(Reports(notify, 3), (std::vector<std::string>{kStartPending, kRunning, kRunning}));
    EXPECT_EQ(zembra->Output(), kStartingServer + kNoListener);
    EXPECT_EQ(zembra->WaitForExit(std::chrono::milliseconds(0)), std::nullopt);

    zembra->Signal(SIGTERM);
    EXPECT_EQ(Reports(notify, 3), (std::vector<std::string>{kStopped, kStopPending, kStopped}));
    EXPECT_EQ(zembra->WaitForExit(), 0);
    ExpectLogged(*zembra, {kStartText, "Service started", "Service stopped"});
}

TEST_F(ZembraRunTest, ControlsAreAnsweredWhileACardIsReadAndAStopEndsTheServiceAfterTheRead) {
    const auto settings = scratch_.Path() / "trovik-sim.conf";
    const auto calls = scratch_.Path() / "calls.log";
    std::ofstream(settings) << "card.read_delay_ms = 4000\n";
    ASSERT_EQ(Switch("-Service"), 0);
    NotifySocket notify(scratch_.Path() / "notify");
    auto environment = Environment(notify.Path().string());
    environment["TROVIK_SIM_CONFIG"] = settings.string();
    environment["TROVIK_SIM_LOG"] = calls.string();
    auto zembra = Start({}, environment);
    EXPECT_EQ(Reports(notify, 2), (std::vector<std::string>{kStartPending, kRunning}));
    ASSERT_TRUE(Serving(*zembra));

    RawClient client("127.0.0.1", kPort);
    ASSERT_TRUE(client.Send(GetRequest("/opendevice")));
    ASSERT_NE(client.ReceiveUntil("0\r\n\r\n").find("\"resultFlag\" : 0"), std::string::npos);
    ASSERT_TRUE(client.Send(GetRequest("/readcard")));
    ASSERT_TRUE(WaitForCall(calls, "QMX_Read_FPContent()"));

    // The service thread is inside the read; the main thread answers every control at once.
    zembra->Signal(SIGUSR1);
    EXPECT_EQ(notify.Receive(), kPaused);
    zembra->Signal(SIGUSR2);
    EXPECT_EQ(notify.Receive(), kRunning);
    zembra->Signal(SIGTERM);
    EXPECT_EQ(Reports(notify, 2), (std::vector<std::string>{kStopped, kStopPending}));
    EXPECT_TRUE(client.StaysSilent(std::chrono::milliseconds(1)));

    // The read is answered whole; then the connection closes and the service ends.
    const std::string answer = client.ReceiveUntilClosed();
    EXPECT_EQ(answer.rfind(kAnswerHead, 0), 0u) << answer;
    EXPECT_NE(answer.find("\"partyName\" : \"样例人\""), std::string::npos);
    EXPECT_EQ(answer.substr(answer.size() - 7), "\r\n0\r\n\r\n");
    EXPECT_EQ(notify.Receive(), kStopped);
    EXPECT_EQ(zembra->WaitForExit(), 0);
    ExpectLogged(*zembra, {kStartText, "Service stopped"});
}

}  // namespace
