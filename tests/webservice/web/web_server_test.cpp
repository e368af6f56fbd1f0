#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/port_holder.h"
#include "tests/webservice/support/expected_answer.h"
#include "tests/webservice/support/raw_client.h"
#include "tests/webservice/web/web_server_fixture.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kGenerous = 20s;

const std::string kUnknown = ChunkedAnswer(OperationBody(-101, "不支持未知指令"));
const std::string kOpened = ChunkedAnswer(OperationBody(0, "打开成功"));
const std::string kClosed = ChunkedAnswer(OperationBody(0, "关闭读卡器成功"));
const std::string kStatus = ChunkedAnswer(OperationBody(-99, "读卡器异常"));

std::string SamIdAnswer() {
    return ChunkedAnswer(SampleSamIdBody());
}

std::string SampleCardAnswer() {
    return ChunkedAnswer(ReadCardBody(0, kSampleCard));
}

TEST_F(WebServerTest, RoutesEveryRequestByItsPathWhateverTheMethod) {
    struct Case {
        std::string request;
        std::string expected;
    };
    // In this order: the reader opened by the first case serves the reads that follow.
    const Case cases[] = {
        {GetRequest("/OPENDEVICE"), kOpened},
        {GetRequest("/x/getsamid/y?z=1"), SamIdAnswer()},
        {GetRequest("/getsamid?/opendevice"), SamIdAnswer()},  // the query string is no path
        {GetRequest("/readcard.html"), SampleCardAnswer()},
        {"OPTIONS /readcard HTTP/1.1\r\nHost: localhost\r\nOrigin: http://example.com\r\n"
         "Access-Control-Request-Method: GET\r\n\r\n",
         SampleCardAnswer()},
        {GetRequest("/getDeviceStatus"), kStatus},
        {GetRequest("/read%63ard"), kUnknown},
        {GetRequest("/"), kUnknown},
        {"GET /opendevice HTTP/1.0\r\n\r\n", WholeAnswer(OperationBody(0, "打开成功"))},
        {"POST /closedevice HTTP/1.1\r\nHost: 127.0.0.1:19196\r\nContent-Length: "
         "9\r\n\r\na=1&b=%22",
         kClosed},
        {"POST /closedevice HTTP/1.1\r\nHost: [::1]\r\nTransfer-Encoding: chunked\r\n\r\n"
         "3\r\nabc\r\n0\r\n\r\n",
         kClosed},
        {"PUT /getdevicestatus HTTP/1.1\r\nHost: LOCALHOST.\r\n\r\n", kStatus},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Exchange(c.request), c.expected) << c.request;
    }
}

TEST_F(WebServerTest, AnswersKeepAliveAndPipelinedRequestsInOrderOnTheirConnection) {
    RawClient client("127.0.0.1", port_);
    ASSERT_TRUE(client.IsConnected());
    // HEAD gets the head alone: the answer that follows must start right after it.
    ASSERT_TRUE(client.Send("HEAD /opendevice HTTP/1.1\r\nHost: localhost\r\n\r\n" +
                            GetRequest("/getdevicestatus")));
    EXPECT_EQ(client.Receive(std::string(kAnswerHead).size() + kStatus.size()),
              kAnswerHead + kStatus);

    const std::string pipeline = GetRequest("/getsamid") + GetRequest("/readcard") +
                                 "POST /closedevice HTTP/1.1\r\nContent-Length: 2\r\n\r\nab" +
                                 GetRequest("/readcard");
    const std::string answers =
        SamIdAnswer() + SampleCardAnswer() + kClosed + ChunkedAnswer(ReadCardBody(-3, Person{}));
    // One send, and again split in the middle of a request head.
    ASSERT_TRUE(client.Send(GetRequest("/opendevice") + pipeline));
    EXPECT_EQ(client.Receive(kOpened.size() + answers.size()), kOpened + answers);
    const std::string again = GetRequest("/opendevice") + pipeline;
    ASSERT_TRUE(client.Send(again.substr(0, 30)));
    EXPECT_TRUE(client.StaysSilent(200ms));
    ASSERT_TRUE(client.Send(again.substr(30)));
    EXPECT_EQ(client.Receive(kOpened.size() + answers.size()), kOpened + answers);
    EXPECT_TRUE(client.StaysSilent(200ms));  // and the connection stays open
}

const std::string kChunkedHead =
    "POST /opendevice HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n\r\n";

// A GET of path whose head, request line and final empty line included, is `size` bytes long.
std::string HeadOfSize(const std::string& path, std::size_t size) {
    const std::string start = "GET " + path + " HTTP/1.1\r\nX-Filler: ";
    return start + std::string(size - start.size() - 4, 'a') + "\r\n\r\n";
}

TEST_F(WebServerTest, ClosesWithoutAnswerOnOversizedOrMalformedRequests) {
    struct Case {
        const char* name;
        std::string request;
    };
    const Case cases[] = {
        {"head of 9000 bytes without its end",
         "GET /opendevice HTTP/1.1\r\nX-Filler: " + std::string(9000, 'a')},
        {"complete head over 8192 bytes", HeadOfSize("/opendevice", 8193)},
        {"request line and fields of 5000 bytes each, without the end",
         "GET /opendevice" + std::string(5000, 'a') +
             " HTTP/1.1\r\nX-Filler: " + std::string(5000, 'a')},
        {"body over the limit", "POST /opendevice HTTP/1.1\r\nContent-Length: 2000000\r\n\r\n"},
        {"no request line", "\x01\x02\x03 nonsense\r\n\r\n"},
        // The rest of each of these would be held, and grow, if it were not bounded.
        {"a chunk extension without end", kChunkedHead + "1;" + std::string(64 * 1024, 'e')},
        {"a trailer without end", kChunkedHead + "0\r\n" + std::string(64 * 1024, 't')},
        {"a chunk size line of 4097 bytes",
         kChunkedHead + "1;" + std::string(4097 - 4, 'e') + "\r\na\r\n0\r\n\r\n"},
        {"a trailer section of 4097 bytes",
         kChunkedHead + "0\r\nX-Check: " + std::string(4097 - 13, 't') + "\r\n\r\n"},
        {"chunks over the body's limit",
         kChunkedHead + "80000\r\n" + std::string(512 * 1024, 'x') + "\r\n80001\r\n"},
    };
    for (const Case& c : cases) {
        RawClient client("127.0.0.1", port_);
        ASSERT_TRUE(client.IsConnected());
        client.Send(c.request);
        EXPECT_EQ(client.ReceiveUntilClosed(), "") << c.name;
        EXPECT_TRUE(client.PeerClosed()) << c.name;
    }
    // A head of the limit's size is answered, also when it comes in pieces.
    const std::string atLimit = HeadOfSize("/getdevicestatus", 8192);
    EXPECT_EQ(Exchange(atLimit), kStatus);
    RawClient client("127.0.0.1", port_);
    ASSERT_TRUE(client.Send(atLimit.substr(0, 5000)));
    EXPECT_TRUE(client.StaysSilent(100ms));
    ASSERT_TRUE(client.Send(atLimit.substr(5000)));
    EXPECT_EQ(client.Receive(kStatus.size()), kStatus);
}

TEST_F(WebServerTest, DropsBodiesUpToTheLimitsAndAnswersTheRequestAfterThem) {
    // A megabyte in chunks with extensions and trailer fields at their bounds, then a megabyte
    // framed by its length, each followed by another request on the same connection.
    std::string chunks = kChunkedHead;
    for (int i = 0; i < 16; ++i) {
        chunks += "10000;x=" + std::string(4096 - 10, 'e') + "\r\n" + std::string(64 * 1024, 'x') +
                  "\r\n";
    }
    chunks += "0\r\nX-Check: " + std::string(4096 - 13, 't') + "\r\n\r\n";
    const std::string sized = "POST /getdevicestatus HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" +
                              std::string(1024 * 1024, 'x');
    RawClient client("127.0.0.1", port_);
    ASSERT_TRUE(
        client.Send(chunks + GetRequest("/getdevicestatus") + sized + GetRequest("/closedevice")));
    EXPECT_EQ(client.Receive(kOpened.size() + 2 * kStatus.size() + kClosed.size()),
              kOpened + kStatus + kStatus + kClosed);
    EXPECT_TRUE(client.StaysSilent(200ms));
}

TEST_F(WebServerTest, ARequestWithATransferCodingOtherThanChunkedIsClosedUnanswered) {
    // The body of each holds a request of its own: it must never be carried out.
    const std::string smuggled = GetRequest("/opendevice");
    const std::string codings[] = {
        "Transfer-Encoding: gzip\r\n",
        "Transfer-Encoding: identity\r\n",
        "Transfer-Encoding: chunked, identity\r\n",
        "Transfer-Encoding: gzip, chunked\r\n",
        "Transfer-Encoding: xchunked\r\n",
        "Transfer-Encoding: deflate, gzip\r\n",
        "Transfer-Encoding: \r\n",
        "Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n",
        "Transfer-Encoding: gzip\r\nContent-Length: " + std::to_string(smuggled.size()) + "\r\n",
    };
    for (const std::string& coding : codings) {
        ForgetCalls();
        RawClient client("127.0.0.1", port_);
        ASSERT_TRUE(client.Send("POST /getdevicestatus HTTP/1.1\r\nHost: localhost\r\n" + coding +
                                "\r\n" + smuggled));
        EXPECT_EQ(client.ReceiveUntilClosed(), "") << coding;
        EXPECT_TRUE(client.PeerClosed()) << coding;
        EXPECT_EQ(Calls(), std::vector<std::string>{}) << coding;
    }
    // Chunks in HTTP/1.0, which has no transfer codings, neither.
    RawClient old("127.0.0.1", port_);
    ASSERT_TRUE(
        old.Send("POST /opendevice HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n"
                 "0\r\n\r\n"));
    EXPECT_EQ(old.ReceiveUntilClosed(), "");
    EXPECT_TRUE(old.PeerClosed());
    // The coding's name in any letter case is still chunked.
    EXPECT_EQ(Exchange("POST /getdevicestatus HTTP/1.1\r\nTransfer-Encoding: Chunked\r\n\r\n"
                       "0\r\n\r\n"),
              kStatus);
}

TEST_F(WebServerTest, TakesLinesEndingInLineFeedAloneAndSkipsEmptyLinesBeforeARequest) {
    RawClient client("127.0.0.1", port_);
    ASSERT_TRUE(
        client.Send("GET /getdevicestatus HTTP/1.1\nHost: localhost\n\n"
                    "\r\n\nPOST /closedevice HTTP/1.1\nContent-Length: 2\r\n\r\nab\r\n"
                    "GET /getdevicestatus HTTP/1.1\n\r\n"));
    EXPECT_EQ(client.Receive(2 * kStatus.size() + kClosed.size()), kStatus + kClosed + kStatus);
    EXPECT_TRUE(client.StaysSilent(200ms));
}

TEST_F(WebServerTest, WebSocketUpgradeGetsTheHandshakeAndThenNothing) {
    const std::string handshake =
        "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
    const std::string upgrades[] = {
        "GET /readcard HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n",
        // The key field alone makes it an upgrade, answered as soon as the head is in.
        "POST /opendevice HTTP/1.1\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
        "Content-Length: 100\r\n\r\n",
    };
    for (const std::string& upgrade : upgrades) {
        RawClient client("127.0.0.1", port_);
        ASSERT_TRUE(client.Send(upgrade));
        EXPECT_EQ(client.Receive(handshake.size()), handshake);
        // A masked text frame "hi", a ping, then bytes that look like a request.
        ASSERT_TRUE(client.Send(std::string("\x81\x82\x01\x02\x03\x04\x69\x6b", 8)));
        ASSERT_TRUE(client.Send(std::string("\x89\x80\x01\x02\x03\x04", 6)));
        ASSERT_TRUE(client.Send(GetRequest("/getdevicestatus")));
        // Another connection is served meanwhile; the upgraded one hears nothing.
        EXPECT_EQ(Exchange(GetRequest("/getdevicestatus")), kStatus);
        EXPECT_TRUE(client.StaysSilent(500ms));
    }
}

TEST_F(WebServerTest, IsReachableOnANonLoopbackAddressOfTheMachine) {
    std::string address;
    ifaddrs* interfaces = nullptr;
    ASSERT_EQ(getifaddrs(&interfaces), 0);
    for (ifaddrs* i = interfaces; i != nullptr && address.empty(); i = i->ifa_next) {
        if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET &&
            (i->ifa_flags & IFF_UP) != 0 && (i->ifa_flags & IFF_LOOPBACK) == 0) {
            char text[INET_ADDRSTRLEN];
            const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
            inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text);
            address = text;
        }
    }
    freeifaddrs(interfaces);
    if (address.empty()) {
        GTEST_SKIP() << "the machine has no IPv4 address besides loopback";
    }
    EXPECT_EQ(Exchange(GetRequest("/getdevicestatus"), address), kStatus) << address;
}

TEST_F(WebServerTest, RefusesAPortThatIsAlreadyListenedOn) {
    testing::internal::CaptureStdout();
    const std::string port = std::to_string(port_);
    EXPECT_FALSE(StartWebServer(port.c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Starting web server on port " + port + "\nFailed to create listener\n");
    EXPECT_EQ(Exchange(GetRequest("/getdevicestatus")), kStatus);  // the first one still serves
}

TEST_F(WebServerTest, StopEndsTheLoopWhileClientsAreConnectedAndALaterStartServesAgain) {
    RawClient idle("127.0.0.1", port_);
    RawClient halfway("127.0.0.1", port_);
    ASSERT_TRUE(idle.IsConnected());
    ASSERT_TRUE(halfway.Send("GET /opendevice HTTP/1.1\r\nHost:"));
    EXPECT_EQ(Exchange(GetRequest("/getdevicestatus")), kStatus);  // both are accepted by now

    EXPECT_TRUE(StopServer());
    EXPECT_EQ(idle.ReceiveUntilClosed(), "");
    EXPECT_TRUE(idle.PeerClosed());
    EXPECT_EQ(halfway.ReceiveUntilClosed(), "");
    EXPECT_TRUE(halfway.PeerClosed());

    StartServer();
    EXPECT_EQ(Exchange(GetRequest("/getdevicestatus")), kStatus);
}

TEST(WebServerStartTest, FailsAtOnceWhenThePortCannotBeListenedOn) {
    const PortHolder everywhere("0.0.0.0", 0, false);
    const PortHolder loopbackReusing("127.0.0.1", 0, true);
    ASSERT_NE(everywhere.Port(), 0);
    ASSERT_NE(loopbackReusing.Port(), 0);
    const std::string ports[] = {
        std::to_string(everywhere.Port()),
        std::to_string(loopbackReusing.Port()),
        "",
        "http",
        "65536",
        "-1",
        "+80",
        "80x",
        " 80",
        "127.0.0.1:80",
        "00000019196",
    };
    for (const std::string& port : ports) {
        testing::internal::CaptureStdout();
        EXPECT_FALSE(StartWebServer(port.c_str())) << port;
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "Starting web server on port " + port + "\nFailed to create listener\n");
    }
}

TEST(WebServerStartTest, AStopRequestedBeforeTheStartEndsItOnceItListens) {
    StopWebServer();
    std::packaged_task<bool()> serve([] { return StartWebServer("0"); });
    auto served = serve.get_future();
    std::thread server(std::move(serve));
    ASSERT_EQ(served.wait_for(kGenerous), std::future_status::ready);
    server.join();
    EXPECT_TRUE(served.get());
    EXPECT_EQ(WebServerPort(), 0);
}

}  // namespace
