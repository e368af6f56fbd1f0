#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/webservice/host/notify_socket.h"
#include "tests/webservice/host/zembra_fixture.h"
#include "tests/webservice/web/raw_client.h"

namespace {

const std::string kStartPending = "STATUS=Start pending";
const std::string kRunning = "READY=1\nSTATUS=Running";
const std::string kPaused = "STATUS=Paused";
const std::string kStopPending = "STOPPING=1\nSTATUS=Stop pending";
const std::string kStopped = "STATUS=Stopped";

const std::string kStartMessage = "QMX Service Start Successfully~!\n";
const std::string kStartingServer = "Starting web server on port 19196\n";
const std::string kNoListener = "Failed to create listener\n";
const std::string kAnswerHead =
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nAccess-Control-Allow-Origin: *\r\n\r\n";

// Holds the port by listening on it, as another program would.
class PortHolder {
  public:
    explicit PortHolder(unsigned short port) : socket_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        listening_ = bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     listen(socket_, 4) == 0;
    }
    ~PortHolder() { close(socket_); }
    bool Listening() const { return listening_; }

  private:
    int socket_;
    bool listening_ = false;
};

// The head of the answer to one request, or what arrived instead.
std::string AnswerHead(const std::string& path) {
    RawClient client("127.0.0.1", 19196);
    if (!client.IsConnected() || !client.Send("GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n")) {
        return "(no connection)";
    }
    return client.ReceiveUntil("0\r\n\r\n").substr(0, kAnswerHead.size());
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
        ASSERT_TRUE(WaitUntilListening(kPort));
        EXPECT_EQ(AnswerHead("/getdevicestatus"), kAnswerHead);
        zembra->Signal(signal);
        EXPECT_EQ(zembra->WaitForExit(), 0);
        EXPECT_EQ(zembra->Output(), kStartMessage + kStartingServer);
        EXPECT_EQ(zembra->Errors(), "");
        EXPECT_TRUE(NothingListens(kPort));
    }
}

TEST_F(ZembraRunTest, APlainProcessWhosePortIsTakenEndsWithAFailure) {
    ASSERT_EQ(Switch("-RegServer"), 0);
    const PortHolder holder(kPort);
    ASSERT_TRUE(holder.Listening());
    auto zembra = Start();
    EXPECT_EQ(zembra->WaitForExit(), kWideFailure);
    EXPECT_EQ(zembra->Output(), kStartMessage + kStartingServer + kNoListener);
}

TEST_F(ZembraRunTest, AsAServiceItReportsItsStatesAndAnswersControlsWhileServing) {
    ASSERT_EQ(Switch("-Service"), 0);
    NotifySocket notify(scratch_.Path() / "notify");
    auto zembra = Start({}, Environment(notify.Path().string()));
    EXPECT_EQ(Reports(notify, 2), (std::vector<std::string>{kStartPending, kRunning}));
    ASSERT_TRUE(WaitUntilListening(kPort));

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
    EXPECT_TRUE(NothingListens(kPort));
}

TEST_F(ZembraRunTest, AServiceWhosePortIsTakenKeepsRunningUntilStopped) {
    ASSERT_EQ(Switch("-Service"), 0);
    const PortHolder holder(kPort);
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
}

}  // namespace
