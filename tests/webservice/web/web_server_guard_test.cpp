// The web server against hostile or careless clients and pages: framing of closing and waiting
// clients, Host and Origin rules, idle time-outs, stalled writes, the connection cap and
// descriptors running out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/webservice/support/expected_answer.h"
#include "tests/webservice/support/raw_client.h"
#include "tests/webservice/web/web_server_fixture.h"
#include "webservice/web/request_policy.h"

namespace {

using namespace std::chrono_literals;

const std::string kStatusBody = OperationBody(-99, "读卡器异常");
const std::string kStatus = ChunkedAnswer(kStatusBody);
const std::string kOpenedBody = OperationBody(0, "打开成功");

std::string Request(const std::string& method, const std::string& target, const std::string& fields,
                    const std::string& version = "HTTP/1.1") {
    return method + " " + target + " " + version + "\r\n" + fields + "\r\n";
}

using WebServerFramingTest = WebServerTest;

TEST_F(WebServerFramingTest, AClientThatAsksForTheEndGetsItsAnswerAndThenTheClose) {
    struct Case {
        const char* name;
        std::string requests;  // a further request follows the one that ends the connection
        std::string expected;
    };
    const std::string next = GetRequest("/opendevice");
    const Case cases[] = {
        {"HTTP/1.1 with Connection: close",
         Request("GET", "/getdevicestatus", "Host: localhost\r\nConnection: close\r\n") + next,
         kStatus},
        {"close among other connection options",
         Request("GET", "/getdevicestatus", "Host: localhost\r\nConnection: TE, Close\r\n") + next,
         kStatus},
        {"HTTP/1.0", Request("GET", "/getdevicestatus", "", "HTTP/1.0") + next,
         WholeAnswer(kStatusBody)},
        {"HTTP/1.0 that asks to be kept alive",
         Request("GET", "/getdevicestatus", "Connection: keep-alive\r\n", "HTTP/1.0") + next,
         WholeAnswer(kStatusBody)},
        {"HTTP/1.0 with lines ending in line feeds", "GET /getdevicestatus HTTP/1.0\n\n" + next,
         WholeAnswer(kStatusBody)},
        {"HTTP/1.0 HEAD", Request("HEAD", "/getdevicestatus", "", "HTTP/1.0") + next,
         WholeAnswer(kStatusBody).substr(0, WholeAnswer(kStatusBody).size() - kStatusBody.size())},
    };
    for (const Case& c : cases) {
        RawClient client("127.0.0.1", port_);
        ASSERT_TRUE(client.Send(c.requests)) << c.name;
        EXPECT_EQ(client.ReceiveUntilClosed(), c.expected) << c.name;
        EXPECT_TRUE(client.PeerClosed()) << c.name;
    }
    // The request after the close was never carried out: the reader is still closed.
    EXPECT_EQ(Exchange(GetRequest("/readcard")), ChunkedAnswer(ReadCardBody(-3, Person{})));
}

TEST_F(WebServerFramingTest, AClientThatExpectsContinueGetsItBeforeItSendsTheBody) {
    RawClient client("127.0.0.1", port_);
    ASSERT_TRUE(client.Send(Request("POST", "/opendevice",
                                    "Host: localhost\r\nExpect: 100-Continue\r\n"
                                    "Content-Length: 3\r\n")));
    const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
    EXPECT_EQ(client.Receive(interim.size()), interim);
    ASSERT_TRUE(client.Send("a=1"));
    EXPECT_EQ(client.ReceiveUntil("0\r\n\r\n"), ChunkedAnswer(kOpenedBody));

    // A body that came along with the head, or no body at all, goes without the interim answer.
    ASSERT_TRUE(client.Send(
        Request("POST", "/getdevicestatus", "Expect: 100-continue\r\nContent-Length: 2\r\n") +
        "ab" + Request("GET", "/getdevicestatus", "Expect: 100-continue\r\n")));
    EXPECT_EQ(client.Receive(2 * kStatus.size()), kStatus + kStatus);
    EXPECT_TRUE(client.StaysSilent(100ms));

    // HTTP/1.0 has no interim answers: the body is simply awaited.
    RawClient old("127.0.0.1", port_);
    ASSERT_TRUE(old.Send(Request("POST", "/opendevice",
                                 "Expect: 100-continue\r\nContent-Length: 3\r\n", "HTTP/1.0")));
    EXPECT_TRUE(old.StaysSilent(200ms));
    ASSERT_TRUE(old.Send("a=1"));
    EXPECT_EQ(old.ReceiveUntilClosed(), WholeAnswer(kOpenedBody));
}

class WebServerHostTest : public WebServerTest {
  protected:
    void ExpectServed(const std::string& request) {
        EXPECT_EQ(Exchange(request), ChunkedAnswer(kOpenedBody)) << request;
        ASSERT_EQ(Exchange(GetRequest("/closedevice")),
                  ChunkedAnswer(OperationBody(0, "关闭读卡器成功")));
    }

    // A refused request gets the 403 alone and the end of its connection; what follows it on
    // the connection is not carried out, and the reader is not called.
    void ExpectRefused(const std::string& request) {
        ForgetCalls();
        RawClient client("127.0.0.1", port_);
        ASSERT_TRUE(client.Send(request + GetRequest("/opendevice")));
        EXPECT_EQ(client.ReceiveUntilClosed(), kRefusal) << request;
        EXPECT_TRUE(client.PeerClosed()) << request;
        EXPECT_EQ(Calls(), std::vector<std::string>{}) << request;
    }
};

TEST_F(WebServerHostTest, ServesHostsOfThisMachineAndRefusesOtherNames) {
    const std::string machine = MachineHostName();
    std::vector<std::string> served = {
        "",  // no Host field: an HTTP/1.0 client or a simple tool
        "Host: \r\n",
        "Host: localhost\r\n",
        "Host: LocalHost:19196\r\n",
        "Host: localhost.\r\n",
        "Host: reader.localhost\r\n",
        "Host: 127.0.0.1\r\n",
        "Host: 10.1.2.3:80\r\n",
        "Host: 255.255.255.255:19196\r\n",  // the longest address in dotted decimal
        "Host: localhost:\r\n",             // an empty port names none
        "Host: [::1]\r\n",
        "Host: [fe80::1]:19196\r\n",
    };
    if (!machine.empty()) {
        served.push_back("Host: " + machine + "\r\n");
    }
    for (const std::string& host : served) {
        ExpectServed(Request("GET", "/opendevice", host));
    }
    const std::string refused[] = {
        "Host: evil.example\r\n",
        "Host: evil.example:19196\r\n",
        "Host: localhost.evil.example\r\n",
        "Host: evillocalhost\r\n",
        "Host: evillocalhost:19196\r\n",
        "Host: 127.0.0.1.evil.example\r\n",
        "Host: localhost:http\r\n",
        "Host: localhost:65536\r\n",
        "Host: [::1]:123456\r\n",
        "Host: [::1\r\n",
        "Host: [localhost]\r\n",
        "Host: 2130706433\r\n",
        "Host: localhost\r\nHost: evil.example\r\n",
    };
    for (const std::string& host : refused) {
        ExpectRefused(Request("GET", "/opendevice", host));
    }
    // The browser's preflight and a WebSocket upgrade are refused alike.
    ExpectRefused(Request("OPTIONS", "/readcard", "Host: evil.example\r\n"));
    ExpectRefused(Request("GET", "/readcard",
                          "Host: evil.example\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"));
}

TEST_F(WebServerHostTest, AllowedHostsWidenWhatIsServed) {
    ServerSettings settings;
    settings.allowedHosts = {"reader.intranet.example"};
    RestartServer(settings);
    ExpectServed(Request("GET", "/opendevice", "Host: Reader.Intranet.Example:19196\r\n"));
    ExpectServed(Request("GET", "/opendevice", "Host: localhost\r\n"));
    ExpectRefused(Request("GET", "/opendevice", "Host: intranet.example\r\n"));

    settings.anyHost = true;
    RestartServer(settings);
    ExpectServed(Request("GET", "/opendevice", "Host: anything.example\r\n"));
}

TEST_F(WebServerHostTest, WithAnyOriginEveryOriginIsServedAsBefore) {
    ExpectServed(Request("GET", "/opendevice", "Host: localhost\r\nOrigin: https://a.example\r\n"));
    ExpectServed(Request("GET", "/opendevice", "Host: localhost\r\nOrigin: null\r\n"));
}

TEST_F(WebServerHostTest, AnOriginListAdmitsItsOriginsByNameAndRefusesTheRest) {
    ServerSettings settings;
    settings.anyOrigin = false;
    settings.allowedOrigins = {"https://intranet.example", "http://10.0.0.5:8080", "null"};
    RestartServer(settings);
    struct Case {
        std::string origin;
        std::string allowed;  // empty: refused
    };
    const Case cases[] = {
        {"https://intranet.example", "https://intranet.example"},
        {"HTTPS://Intranet.Example", "HTTPS://Intranet.Example"},
        {"http://10.0.0.5:8080", "http://10.0.0.5:8080"},
        {"null", "null"},
        {"http://intranet.example", ""},
        {"https://intranet.example:443", ""},
        {"https://evil.example", ""},
        {"https://intranet.example.evil.example", ""},
    };
    for (const Case& c : cases) {
        const std::string request =
            Request("GET", "/opendevice", "Host: localhost\r\nOrigin: " + c.origin + "\r\n");
        if (c.allowed.empty()) {
            ExpectRefused(request);
            continue;
        }
        EXPECT_EQ(Exchange(request), ChunkedAnswer(kOpenedBody, c.allowed)) << c.origin;
        ASSERT_EQ(Exchange(GetRequest("/closedevice")),
                  ChunkedAnswer(OperationBody(0, "关闭读卡器成功")));
    }
    // Without Origin (a same-origin GET, a tool) the answer is what it always was.
    ExpectServed(GetRequest("/opendevice"));
    // A HEAD for an allowed origin names it too.
    RawClient client("127.0.0.1", port_);
    ASSERT_TRUE(client.Send(Request("HEAD", "/getdevicestatus", "Origin: null\r\n")));
    const std::string head =
        ChunkedAnswer("", "null").substr(0, ChunkedAnswer("", "null").size() - 5);
    EXPECT_EQ(client.Receive(head.size()), head);
    ExpectRefused(Request("OPTIONS", "/readcard", "Origin: https://evil.example\r\n"));
    ExpectRefused(Request("GET", "/readcard",
                          "Origin: https://evil.example\r\nUpgrade: websocket\r\n"
                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"));
    ExpectRefused(
        Request("GET", "/readcard", "Origin: https://intranet.example\r\nOrigin: null\r\n"));
}

TEST_F(WebServerHostTest, NarrowedOriginsRefuseWhatBrowsersMarkAsAnotherSitesRequest) {
    // An image or a no-cors fetch of another site's page carries no Origin; its browser marks it.
    const std::string crossSite = "Sec-Fetch-Site: cross-site\r\n";
    ExpectServed(Request("GET", "/opendevice", crossSite));  // any origin: as always

    ServerSettings settings;
    settings.anyOrigin = false;
    settings.allowedOrigins = {"https://intranet.example"};
    RestartServer(settings);
    const std::string refused[] = {
        crossSite,
        "Sec-Fetch-Site: same-site\r\n",
        "Sec-Fetch-Site: Cross-Site\r\n",
        "sec-fetch-site: cross-site\r\n",  // a field's name in any letter case
        "Sec-Fetch-Site: same-origin\r\nSec-Fetch-Site: same-origin\r\n",
        crossSite + "Origin: https://evil.example\r\n",
    };
    for (const std::string& fields : refused) {
        ExpectRefused(Request("GET", "/opendevice", "Host: localhost\r\n" + fields));
    }
    // The server's own page, an address typed in, tools and old browsers are served as before.
    const std::string served[] = {
        "Sec-Fetch-Site: same-origin\r\n",
        "Sec-Fetch-Site: none\r\n",
        "",
    };
    for (const std::string& fields : served) {
        ExpectServed(Request("GET", "/opendevice", "Host: localhost\r\n" + fields));
    }
    // A page of an allowed origin is served whatever its site.
    EXPECT_EQ(
        Exchange(Request("GET", "/opendevice", crossSite + "Origin: https://intranet.example\r\n")),
        ChunkedAnswer(kOpenedBody, "https://intranet.example"));
}

class WebServerLimitsTest : public WebServerTest {
  protected:
    // Closed by the server within the generous bound, after staying open for `open`.
    static bool ClosedAfter(RawClient& client, std::chrono::milliseconds open) {
        return client.StaysSilent(open) && client.ReceiveUntilClosed().empty() &&
               client.PeerClosed();
    }
};

TEST_F(WebServerLimitsTest, IdleConnectionsAreClosedAfterTheIdleTimeOut) {
    ServerSettings settings;
    settings.idleTimeout = 2s;
    RestartServer(settings);
    RawClient silent("127.0.0.1", port_);
    RawClient trickling("127.0.0.1", port_);
    RawClient answered("127.0.0.1", port_);
    RawClient upgraded("127.0.0.1", port_);
    ASSERT_TRUE(trickling.Send("GET /opendevice HTTP/1.1\r\nHost: loc"));
    ASSERT_EQ(::Exchange(port_, GetRequest("/getdevicestatus")), kStatus);
    ASSERT_TRUE(answered.Send(GetRequest("/getdevicestatus")));
    ASSERT_EQ(answered.Receive(kStatus.size()), kStatus);
    ASSERT_TRUE(
        upgraded.Send(Request("GET", "/", "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n")));
    ASSERT_EQ(upgraded.ReceiveUntil("\r\n\r\n").rfind("HTTP/1.1 101 ", 0), 0u);
    // Not before the time-out: the handshake's write, just now, started the upgraded one's.
    const auto idleSince = std::chrono::steady_clock::now();
    EXPECT_TRUE(upgraded.StaysSilent(1500ms));
    const std::vector<RawClient*> idle = {&silent, &trickling, &answered, &upgraded};
    for (RawClient* client : idle) {
        EXPECT_TRUE(client->StaysSilent(100ms));
    }
    for (RawClient* client : idle) {
        EXPECT_TRUE(ClosedAfter(*client, 0ms));
    }
    // Nor long after it: the deadlines are looked at once a second, and a loaded machine gets
    // room to spare.
    EXPECT_LT(std::chrono::steady_clock::now() - idleSince, 10s);
    // A client that keeps completing requests keeps its connection, well past the time-out
    // from its start.
    RawClient busy("127.0.0.1", port_);
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(busy.Send(GetRequest("/getdevicestatus")));
        EXPECT_EQ(busy.Receive(kStatus.size()), kStatus) << i;
        std::this_thread::sleep_for(300ms);  // well within the time-out: pacing, not waiting
    }
}

TEST_F(WebServerLimitsTest, AWriteThatMakesNoProgressForTheIdleTimeOutEndsItsConnection) {
    // Answers of about 50 KB each: a thousand of them are far more than the sockets' buffers
    // hold, so the server's writes wait for the client to read.
    WriteSettings("card.photo = yes\nsim.fill_whole_buffers = yes\n");
    ServerSettings settings;
    settings.idleTimeout = 2s;
    RestartServer(settings);
    ASSERT_EQ(Exchange(GetRequest("/opendevice")), ChunkedAnswer(kOpenedBody));
    const std::size_t answerSize = Exchange(GetRequest("/readcard")).size();
    ASSERT_GT(answerSize, 40000u);
    std::string requests;
    for (int i = 0; i < 1000; ++i) {
        requests += GetRequest("/readcard");
    }
    RawClient stalled("127.0.0.1", port_);
    RawClient slow("127.0.0.1", port_);
    ASSERT_TRUE(stalled.Send(requests));
    ASSERT_TRUE(slow.Send(requests));
    // A client that reads, however slowly, keeps the writes going, well past the time-out.
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(1s);  // half the time-out: pacing, not waiting
        ASSERT_FALSE(slow.Receive(256 * 1024, 1s).empty()) << i;
    }
    EXPECT_FALSE(slow.PeerClosed());
    // The one that read nothing for those five seconds lost its connection, with most of its
    // answers unwritten.
    const std::string stalledRead = stalled.ReceiveUntilClosed(kGenerous);
    EXPECT_TRUE(stalled.PeerClosed());
    EXPECT_LT(stalledRead.size(), 1000 * answerSize);
    EXPECT_FALSE(slow.Receive(1, 100ms).empty());
}

TEST_F(WebServerLimitsTest, ANewConnectionOverTheCapClosesTheOneIdleTheLongest) {
    ServerSettings settings;
    settings.maxConnections = 3;
    RestartServer(settings);
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<RawClient>("127.0.0.1", port_));
        ASSERT_TRUE(clients.back()->Send(GetRequest("/getdevicestatus")));
        ASSERT_EQ(clients.back()->Receive(kStatus.size()), kStatus);
    }
    // The first one is the most recently active now; the second has been idle the longest.
    ASSERT_TRUE(clients[0]->Send(GetRequest("/getdevicestatus")));
    ASSERT_EQ(clients[0]->Receive(kStatus.size()), kStatus);

    EXPECT_EQ(Exchange(GetRequest("/getdevicestatus")), kStatus);
    EXPECT_TRUE(ClosedAfter(*clients[1], 0ms));
    for (const int kept : {0, 2}) {
        ASSERT_TRUE(clients[kept]->Send(GetRequest("/getdevicestatus"))) << kept;
        EXPECT_EQ(clients[kept]->Receive(kStatus.size()), kStatus) << kept;
    }
}

// Lowers the process's descriptor limit for the life of the object and takes every descriptor
// left under it.
class DescriptorDrought {
  public:
    DescriptorDrought() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = std::min<rlim_t>(saved_.rlim_cur, 1024);
        setrlimit(RLIMIT_NOFILE, &lowered);
        int fd;
        while ((fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0) {
            taken_.push_back(fd);
        }
        dry_ = errno == EMFILE;
    }
    ~DescriptorDrought() {
        End();
        setrlimit(RLIMIT_NOFILE, &saved_);
    }
    DescriptorDrought(const DescriptorDrought&) = delete;
    DescriptorDrought& operator=(const DescriptorDrought&) = delete;

    bool Dry() const { return dry_; }

    void End() {
        for (const int fd : taken_) {
            close(fd);
        }
        taken_.clear();
    }

  private:
    rlimit saved_{};
    std::vector<int> taken_;
    bool dry_ = false;
};

TEST_F(WebServerLimitsTest, WithoutDescriptorsTheOldestIdleConnectionMakesRoomForANewOne) {
    // Two idle connections; the second one's accept also has the server look at the first,
    // which the undefined-behaviour sanitizer must have seen before the drought: its check of a
    // virtual call needs descriptors of its own the first time.
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 2; ++i) {
        idle.push_back(std::make_unique<RawClient>("127.0.0.1", port_));
        ASSERT_TRUE(idle.back()->Send(GetRequest("/getdevicestatus")));
        ASSERT_EQ(idle.back()->Receive(kStatus.size()), kStatus);
    }
    RawClient newcomer;  // its descriptor is taken before the drought
    DescriptorDrought drought;
    ASSERT_TRUE(drought.Dry());
    ASSERT_TRUE(newcomer.Connect("127.0.0.1", port_));
    ASSERT_TRUE(newcomer.Send(GetRequest("/getdevicestatus")));
    EXPECT_EQ(newcomer.Receive(kStatus.size()), kStatus);
    drought.End();
    EXPECT_TRUE(ClosedAfter(*idle[0], 0ms));
    EXPECT_TRUE(idle[1]->StaysSilent(100ms));
}

TEST_F(WebServerLimitsTest, AnAcceptThatFoundNoDescriptorIsRetriedOnceThereAreSome) {
    RawClient waiting;
    DescriptorDrought drought;
    ASSERT_TRUE(drought.Dry());
    ASSERT_TRUE(waiting.Connect("127.0.0.1", port_));
    ASSERT_TRUE(waiting.Send(GetRequest("/getdevicestatus")));
    // No connection can give its descriptor up: the server waits and tries again.
    EXPECT_TRUE(waiting.StaysSilent(500ms));
    drought.End();
    EXPECT_EQ(waiting.Receive(kStatus.size()), kStatus);
}

}  // namespace
