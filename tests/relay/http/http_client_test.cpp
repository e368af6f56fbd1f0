// The HTTP client against the configuration-endpoint stand-in on 127.0.0.1: the bytes on the
// wire, the steps of a post, responses, and the failures a caller meets.
#include "relay/http/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>

#include "platform/system_error.h"
#include "sim/configserver/config_server.h"
#include "tests/relay/http/http_test_support.h"
#include "transport_facts.h"

using namespace Osmer;
using namespace std::chrono_literals;
using http_test::ExpectFailure;
using http_test::Failure;
using http_test::Narrow;
namespace error = platform::error;

namespace {

constexpr uint32_t kRelayFlags = 0x84400F00;

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

class HttpClientTest : public ::testing::Test {
  protected:
    void SetUp() override { http_test::ClearSystemProxy(); }
    void TearDown() override { http_test::ClearSystemProxy(); }

    std::u16string Url(const std::string& rest = sim::ConfigServer::kPath) const {
        return Wide("http://127.0.0.1:" + std::to_string(server_.Port()) + rest);
    }

    std::string HostLine() const {
        return "Host: 127.0.0.1:" + std::to_string(server_.Port()) + "\r\n";
    }

    // Drives the post to its end as the relay does; `steps` counts the ProceedPost calls.
    static std::unique_ptr<CHttpResponseT> Finish(CHttpClientT& client, int* steps = nullptr) {
        CHttpPostStatT stat;
        for (int step = 1; step < 100000; ++step) {
            client.QueryPostStat(stat);
            if (auto response = client.ProceedPost()) {
                if (steps != nullptr) {
                    *steps = step;
                }
                return response;
            }
        }
        ADD_FAILURE() << "the post never ended";
        return nullptr;
    }

    // Reads the body in pieces of `piece` bytes, as the relay does; the sizes of the pieces.
    static std::vector<uint32_t> ReadBody(CHttpResponseT& response, std::string& body,
                                          uint32_t piece = 10239) {
        std::vector<uint8_t> buffer(piece + 1);
        std::vector<uint32_t> sizes;
        while (const uint32_t read = response.ReadContent(buffer.data(), piece)) {
            sizes.push_back(read);
            body.append(buffer.begin(), buffer.begin() + read);
        }
        return sizes;
    }

    // The body of the request the server got last.
    std::string LastBody() const {
        const std::string request = server_.Requests().back();
        return request.substr(request.find("\r\n\r\n") + 4);
    }

    sim::ConfigServer server_;
};

TEST_F(HttpClientTest, ConfigurationFetchPutsExactlyItsRequestOnTheWire) {
    CHttpClientT client;
    for (int fetch = 0; fetch < 2; ++fetch) {
        client.SetInternetSettings(u"My User Agent v1.0", 0, nullptr, nullptr, 0);
        client.Headers().Set(u"Osmer-Magic", u"My Magic Header");
        client.Headers().Set(u"User-Magic", u"User's Magic Header");
        client.SetUseUtf8(false);
        client.StartPost(Url().c_str(), kRelayFlags);
        CHttpPostStatT stat;
        client.QueryPostStat(stat);
        EXPECT_TRUE(stat.IsActive());
        EXPECT_EQ(stat.TotalByte(), 0u);
        EXPECT_EQ(stat.TotalCount(), 0u);
        const std::unique_ptr<CHttpResponseT> response = client.ProceedPost();
        ASSERT_TRUE(response);
        client.QueryPostStat(stat);
        EXPECT_FALSE(stat.IsActive());
        ASSERT_EQ(response->GetHeaderCount(u"content-type"), 1u);
        EXPECT_EQ(response->GetHeaderValue(u"Content-Type"), u"application/json;charset=UTF-8");
        std::string body;
        ReadBody(*response, body);
        EXPECT_EQ(body, sim::ConfigurationBody("127.0.0.1", 9977));
        // The handles went to the response: the post context is over.
        ExpectFailure([&] { client.ProceedPost(); }, 104, u"The post context is not started yet.");
    }
    const std::string expected = http_test::ConfigurationRequest(HostLine());
    ASSERT_TRUE(server_.WaitForRequests(2, 10s));
    EXPECT_EQ(server_.Requests()[0], expected);
    EXPECT_EQ(server_.Requests()[1], expected);
}

TEST_F(HttpClientTest, FormParametersAreEncodedInTheCodePageOrUtf8UnlessAlreadyEncoded) {
    struct Param {
        const char16_t* name;
        const char16_t* value;
        uint32_t flags;
    };
    const struct {
        bool useUtf8;
        std::vector<Param> params;
        std::string body;
    } cases[] = {
        {false, {{u"note", u"a b&c", 0}, {u"name", u"张三", 0}}, "name=%D5%C5%C8%FD&note=a+b%26c"},
        {true,
         {{u"note", u"a b&c", 0}, {u"name", u"张三", 0}},
         "name=%E5%BC%A0%E4%B8%89&note=a+b%26c"},
        {false,
         {{u"q%20x", u"%E4%B8%AD", ParamFlag::EncodedName | ParamFlag::EncodedValue},
          {u"r s", u"t+u", ParamFlag::EncodedValue},
          {u"empty", nullptr, 0}},
         "empty=&q%20x=%E4%B8%AD&r+s=t+u"},
    };
    for (const auto& c : cases) {
        CHttpClientT client;
        client.SetUseUtf8(c.useUtf8);
        for (const Param& p : c.params) {
            client.Params().Add(p.name, p.value, p.flags);
        }
        client.StartPost(Url().c_str(), 0);
        Finish(client);
        ASSERT_TRUE(server_.WaitForRequests(1, 10s));
        const std::string request = server_.Requests().back();
        EXPECT_NE(request.find("Content-Length: " + std::to_string(c.body.size()) + "\r\n"),
                  std::string::npos)
            << request;
        EXPECT_EQ(request.find("Cache-Control"), std::string::npos);
        EXPECT_EQ(LastBody(), c.body);
    }
}

TEST_F(HttpClientTest, FormValuesGoOutInPiecesOfAt1024BytesWithProgressBetween) {
    CHttpClientT client;
    client.Params().Add(u"a", std::u16string(2500, u'x').c_str());
    client.Params().Add(u"b", u"y");
    client.StartPost(Url().c_str(), 0);

    CHttpPostStatT stat;
    client.QueryPostStat(stat);
    EXPECT_EQ(stat.TotalByte(), 2506u);
    EXPECT_EQ(stat.ActualTotalByte(), 2506u);
    EXPECT_EQ(stat.TotalCount(), 2u);
    EXPECT_EQ(stat.CurrParam(), u"a");
    EXPECT_EQ(stat.CurrParamLength(), 2500u);
    EXPECT_FALSE(stat.CurrParamIsFile());

    // After each step: the current parameter, its bytes posted, all bytes posted, parameters done.
    struct Progress {
        std::u16string param;
        uint32_t paramPosted;
        uint32_t posted;
        uint32_t count;
    };
    const Progress expected[] = {
        {u"a", 0, 2, 0},       {u"a", 1024, 1026, 0}, {u"a", 2048, 2050, 0},
        {u"a", 2500, 2502, 1}, {u"b", 0, 2505, 1},    {u"b", 1, 2506, 2},
    };
    for (const Progress& p : expected) {
        ASSERT_FALSE(client.ProceedPost());
        client.QueryPostStat(stat);
        EXPECT_EQ(stat.CurrParam(), p.param);
        EXPECT_EQ(stat.CurrParamPostedByte(), p.paramPosted);
        EXPECT_EQ(stat.PostedByte(), p.posted);
        EXPECT_EQ(stat.PostedCount(), p.count);
    }
    EXPECT_TRUE(stat.IsComplete());
    EXPECT_TRUE(client.ProceedPost());
    EXPECT_EQ(LastBody(), "a=" + std::string(2500, 'x') + "&b=y");
}

TEST_F(HttpClientTest, UploadPutsTheMultipartLayoutOnTheWire) {
    const std::string path = ::testing::TempDir() + "upload.bin";
    const std::string bytes("\x00\x01\r\n--x\xFF", 8);
    std::ofstream(path, std::ios::binary) << bytes;

    const platform::Guid guid{
        0x01234567, 0x89ab, 0x4cde, {0xf0, 0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde}};
    CHttpClientT client(guid);
    const std::string boundary = "----TAVIN-0123456789ab4cdef0123456789abcde-";
    EXPECT_EQ(client.Boundary(), Wide(boundary));
    client.Params().Add(u"photo", Wide(path).c_str(), ParamFlag::File);
    client.Params().Add(u"comment", u"hello world");
    client.StartUpload(Url().c_str(), 0);

    CHttpPostStatT stat;
    client.QueryPostStat(stat);
    EXPECT_EQ(stat.FileCount(), 1u);
    EXPECT_EQ(stat.TotalByte(), 11u + bytes.size());
    bool sawFile = false;
    while (!client.ProceedPost()) {
        client.QueryPostStat(stat);
        if (stat.CurrParamIsFile()) {
            sawFile = true;
            EXPECT_EQ(stat.CurrParamFile(), Wide(path));
        }
    }
    EXPECT_TRUE(sawFile);
    EXPECT_EQ(stat.PostedFileCount(), 1u);

    const std::string body = "--" + boundary +
                             "\r\nContent-Disposition: form-data; name=\"comment\"\r\n\r\n"
                             "hello world\r\n--" +
                             boundary +
                             "\r\nContent-Disposition: form-data; name=\"photo\"; "
                             "filename=\"upload.bin\"\r\nContent-Type: application/octet-stream"
                             "\r\n\r\n" +
                             bytes + "\r\n--" + boundary + "--\r\n";
    EXPECT_EQ(stat.ActualTotalByte(), body.size());
    ASSERT_TRUE(server_.WaitForRequests(1, 10s));
    const std::string request = server_.Requests()[0];
    EXPECT_NE(request.find("Content-Type: multipart/form-data; boundary=" + boundary +
                           "\r\n"
                           "Content-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n"),
              std::string::npos)
        << request;
    EXPECT_EQ(LastBody(), body);
}

TEST_F(HttpClientTest, AClientWithoutIdentifierUploadsWithTheFixedBoundary) {
    CHttpClientT client(
        platform::Result<platform::Guid>::Failure(platform::error::kGeneralFailure));
    EXPECT_FALSE(client.Boundary());
    client.Params().Add(u"na\"me", u"v");
    client.StartUpload(Url().c_str(), 0);
    Finish(client);
    const std::string fixed = "----OSMER-FB3B405B7EAE495aB0C0295C54D4E096-";
    ASSERT_TRUE(server_.WaitForRequests(1, 10s));
    EXPECT_NE(server_.Requests()[0].find("boundary=" + fixed + "\r\n"), std::string::npos);
    // A quote in a name would end the field early.
    EXPECT_EQ(LastBody(), "--" + fixed +
                              "\r\nContent-Disposition: form-data; name=\"na%22me\""
                              "\r\n\r\nv\r\n--" +
                              fixed + "--\r\n");

    const std::regex format("----TAVIN-[0-9a-f]{32}-");
    const CHttpClientT first;
    const CHttpClientT second;
    ASSERT_TRUE(first.Boundary() && second.Boundary());
    EXPECT_TRUE(std::regex_match(Narrow(*first.Boundary()), format));
    EXPECT_NE(first.Boundary(), second.Boundary());
}

TEST_F(HttpClientTest, AnUploadWhoseFileCannotBeOpenedFailsBeforeAnythingIsSent) {
    const std::u16string path = Wide(::testing::TempDir() + "missing-upload.bin");
    CHttpClientT client;
    client.Params().Add(u"f", path.c_str(), ParamFlag::File);
    ExpectFailure([&] { client.StartUpload(Url().c_str(), 0); }, 603,
                  u"OpenFile (::CreateFile) failed (\"" + path + u"\").", error::kFileNotFound);
    ExpectFailure([&] { client.ProceedPost(); }, 104, u"The post context is not started yet.");
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(HttpClientTest, ResponseHeadersAreFoundByNameAndIndexIncludingRepeats) {
    sim::ConfigAnswer answer;
    answer.extraHeaders = {"X-Rep: one", "x-rep: two", "Set-Cookie: a=1", "X-REP: three",
                           "X-Long: " + std::string(300, 'L')};
    server_.SetAnswer(answer);
    CHttpClientT client;
    client.StartPost(Url().c_str(), 0);
    const auto response = Finish(client);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->GetHeaderCount(u"x-rep"), 3u);
    EXPECT_EQ(response->GetHeaderValue(u"X-Rep", 0), u"one");
    EXPECT_EQ(response->GetHeaderValue(u"X-REP", 1), u"two");
    EXPECT_EQ(response->GetHeaderValue(u"x-rep", 2), u"three");
    EXPECT_EQ(response->GetHeaderValue(u"x-rep", 3), std::nullopt);
    EXPECT_EQ(response->GetHeaderValue(u"X-Long"), Wide(std::string(300, 'L')));
    EXPECT_EQ(response->GetHeaderValue(u"Set-Cookie"), u"a=1");
    EXPECT_EQ(response->GetHeaderCount(u"X-Absent"), 0u);
    EXPECT_EQ(response->GetHeaderValue(u"X-Absent"), std::nullopt);
}

TEST_F(HttpClientTest, BodiesLongerThanOneReadArriveInPiecesOf10239Bytes) {
    std::string content(25000, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>('a' + i % 26);
    }
    const struct {
        bool chunked;
        size_t pieceSize;
    } deliveries[] = {{false, 0}, {true, 0}, {false, 3000}};
    for (const auto& delivery : deliveries) {
        sim::ConfigAnswer answer;
        answer.body = content;
        answer.chunked = delivery.chunked;
        answer.pieceSize = delivery.pieceSize;
        answer.pieceDelay = 5ms;
        server_.SetAnswer(answer);
        CHttpClientT client;
        client.StartPost(Url().c_str(), kRelayFlags);
        const auto response = Finish(client);
        ASSERT_TRUE(response);
        std::string body;
        EXPECT_EQ(ReadBody(*response, body), (std::vector<uint32_t>{10239, 10239, 4522}));
        EXPECT_EQ(body, content);
    }
}

TEST_F(HttpClientTest, AServerThatCannotBeReachedFailsTheStartWith407) {
    uint16_t closedPort = 0;
    {
        sim::ConfigServer gone;
        closedPort = gone.Port();
    }
    CHttpClientT client;
    const std::u16string url = Wide("http://127.0.0.1:" + std::to_string(closedPort) + "/");
    ExpectFailure([&] { client.StartPost(url.c_str(), kRelayFlags); }, 407,
                  u"::HttpSendRequestEx failed.", error::kInternetCannotConnect);
    CHttpPostStatT stat;
    client.QueryPostStat(stat);
    EXPECT_FALSE(stat.IsActive());
    ExpectFailure([&] { client.ProceedPost(); }, 104, u"The post context is not started yet.");
}

TEST_F(HttpClientTest, ObjectNamesFollowTheUrlRules) {
    const struct {
        std::string rest;
        std::string requestLine;
    } cases[] = {
        {"", "POST / HTTP/1.1"},
        {"?q=1", "POST /?q=1 HTTP/1.1"},
        {"#top", "POST / HTTP/1.1"},  // a fragment never goes to the server
        {"/a/b?c=d#e", "POST /a/b?c=d HTTP/1.1"},
    };
    for (const auto& c : cases) {
        CHttpClientT client;
        client.StartPost(Url(c.rest).c_str(), 0);
        Finish(client);
        const std::string request = server_.Requests().back();
        EXPECT_EQ(request.substr(0, request.find("\r\n")), c.requestLine) << c.rest;
    }
}

TEST_F(HttpClientTest, BadPortsAndEmptyHostsAreRefusedBeforeAnythingIsSent) {
    const struct {
        const char16_t* url;
        uint32_t error;
    } cases[] = {
        {u"http://127.0.0.1:123456/", 107},
        {u"http://127.0.0.1:80a/", 107},
        {u"http://127.0.0.1:65536/", 107},
        {u"HTTPS://:99999/", 107},
        {u"http:///x", 103},
        {u"http://:8080/x", 103},
        {u"", 103},
        {nullptr, 103},
    };
    for (const auto& c : cases) {
        CHttpClientT client;
        EXPECT_EQ(Failure([&] { client.StartPost(c.url, 0); }).ErrorCode(), c.error)
            << (c.url ? Narrow(c.url) : "null");
    }
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(HttpClientTest, HttpsConnectsToPort443WithTlsUnlessAPortIsNamed) {
    // Through a proxy, the port and the TLS tunnel show in the CONNECT request.
    const std::u16string proxy = Wide("http://127.0.0.1:" + std::to_string(server_.Port()));
    const struct {
        const char16_t* url;
        std::string requestLine;
    } cases[] = {
        {u"HtTpS://config.example/server/KS/queryDataInfo.html",
         "CONNECT config.example:443 HTTP/1.1"},
        {u"https://config.example:8443/x", "CONNECT config.example:8443 HTTP/1.1"},
    };
    for (const auto& c : cases) {
        CHttpClientT client;
        client.SetInternetSettings(u"agent", 3, proxy.c_str(), nullptr, 0);
        EXPECT_EQ(Failure([&] { client.StartPost(c.url, 0); }).ErrorCode(), 407u);
        ASSERT_TRUE(server_.WaitForRequests(&c - cases + 1, 10s));
        const std::string request = server_.Requests().back();
        EXPECT_EQ(request.substr(0, request.find("\r\n")), c.requestLine);
    }

    // Straight to a named port, the first bytes are a TLS handshake; the peer then hangs up, and
    // takes no further connection (WinINet tries again with an older protocol).
    namespace asio = boost::asio;
    asio::io_context io;
    asio::ip::tcp::acceptor listener(io, {asio::ip::make_address("127.0.0.1"), 0});
    asio::ip::tcp::socket socket(io);
    char bytes[2];
    std::string hello;
    listener.async_accept(socket, [&](boost::system::error_code ec) {
        listener.close();
        if (!ec) {
            asio::async_read(socket, asio::buffer(bytes), [&](boost::system::error_code, size_t n) {
                hello.assign(bytes, n);
                socket.close();
            });
        }
    });
    std::thread peer([&] { io.run_for(10s); });
    CHttpClientT client;
    const std::u16string url =
        Wide("https://127.0.0.1:" + std::to_string(listener.local_endpoint().port()) + "/x");
    EXPECT_EQ(Failure([&] { client.StartPost(url.c_str(), 0); }).ErrorCode(), 407u);
    peer.join();
    EXPECT_EQ(hello, std::string("\x16\x03", 2));
}

TEST_F(HttpClientTest, ProxiesComeFromTheSystemOrTheSettings) {
    const std::string proxy = "http://127.0.0.1:" + std::to_string(server_.Port());
    const std::u16string url = u"http://config.example/server/KS/queryDataInfo.html";
    const std::string requestLine = std::string("POST ") + transport_facts::kProxiedConfigExample +
                                    "server/KS/queryDataInfo.html HTTP/1.1";

    http_test::SetSystemProxy(proxy);
    CHttpClientT preconfigured;
    preconfigured.StartPost(url.c_str(), 0);
    std::string body;
    ReadBody(*Finish(preconfigured), body);
    EXPECT_EQ(body, sim::ConfigurationBody("127.0.0.1", 9977));
    EXPECT_EQ(server_.Requests().back().substr(0, requestLine.size()), requestLine);

    // Direct access ignores the system's proxy.
    sim::ConfigServer direct;
    CHttpClientT client;
    client.SetInternetSettings(nullptr, 1, nullptr, nullptr, 0);
    client.StartPost(Wide("http://127.0.0.1:" + std::to_string(direct.Port()) + "/d").c_str(), 0);
    Finish(client);
    ASSERT_TRUE(direct.WaitForRequests(1, 10s));
    const std::string directHead = "POST /d HTTP/1.1\r\nHost: 127.0.0.1:";
    EXPECT_EQ(direct.Requests()[0].substr(0, directHead.size()), directHead);
    EXPECT_NE(direct.Requests()[0].find("User-Agent: Osmer HTTP Client Class\r\n"),
              std::string::npos);
    http_test::ClearSystemProxy();

    // A named proxy with an account.
    client.SetInternetSettings(u"agent", 3, Wide(proxy).c_str(), nullptr, 0);
    client.SetProxyAccount(u"user", u"secret");
    client.StartPost(url.c_str(), 0);
    Finish(client);
    const std::string request = server_.Requests().back();
    EXPECT_EQ(request.substr(0, requestLine.size()), requestLine);
    EXPECT_EQ(request.find("Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n") != std::string::npos,
              transport_facts::kProxyAccountUnasked)
        << request;
}

TEST_F(HttpClientTest, AnActivePostRefusesAChangeOfEncodingAndCanBeEndedEarly) {
    CHttpClientT client;
    ExpectFailure([&] { client.ProceedPost(); }, 104, u"The post context is not started yet.");
    client.Params().Add(u"a", u"b");
    client.StartPost(Url().c_str(), 0);
    ExpectFailure([&] { client.SetUseUtf8(true); }, 0,
                  u"CHttpClientT::SetUseUtf8: It is not allowed to call this method if the POST "
                  u"context is active.");
    EXPECT_FALSE(client.UseUtf8());
    client.EndPostContext();
    ExpectFailure([&] { client.ProceedPost(); }, 104, u"The post context is not started yet.");
    client.SetUseUtf8(true);
    EXPECT_TRUE(client.UseUtf8());

    // A post started while another is active replaces it.
    client.StartPost(Url("/first").c_str(), 0);
    client.StartPost(Url().c_str(), 0);
    Finish(client);
    ASSERT_TRUE(server_.WaitForRequests(1, 10s));
    EXPECT_EQ(LastBody(), "a=b");
}

TEST_F(HttpClientTest, AServerThatClosesWithoutAnsweringFailsTheLastStep) {
    sim::ConfigAnswer answer;
    answer.closeWithoutAnswer = true;
    server_.SetAnswer(answer);
    CHttpClientT client;
    client.StartPost(Url().c_str(), kRelayFlags);
    ExpectFailure([&] { client.ProceedPost(); }, 409, u"::HttpEndRequest failed.",
                  error::kHttpInvalidServerResponse);
    CHttpPostStatT stat;
    client.QueryPostStat(stat);
    EXPECT_FALSE(stat.IsActive());
    ExpectFailure([&] { client.ProceedPost(); }, 104, u"The post context is not started yet.");
}

TEST_F(HttpClientTest, TheUtfCodePagesAreRefused) {
    CHttpClientT client;
    client.SetCodePage(65001);
    ExpectFailure([&] { client.StartPost(Url().c_str(), 0); }, 0,
                  u"CHttpUrlAnalyzerT::Analyze: CP_UTF8 and CP_UTF7 can not be used for the "
                  u"CodePage parameter.");
    EXPECT_TRUE(server_.Requests().empty());
}

}  // namespace
