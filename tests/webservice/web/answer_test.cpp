#include <gtest/gtest.h>
#include <json/value.h>

#include <climits>
#include <string>

#include "tests/webservice/support/expected_answer.h"
#include "webservice/web/answer_json.h"
#include "webservice/web/routes.h"
#include "webservice/web/websocket_handshake.h"

namespace {

using namespace std::literals;

TEST(AnswerJsonTest, RendersMembersInAscendingByteOrderWithTheFixedLayout) {
    struct Case {
        const char* name;
        Json::Value answer;
        std::string expected;
    };
    Json::Value opened;
    opened["resultFlag"] = 0;
    opened["errorMsg"] = "打开成功";
    Json::Value unsorted;
    unsorted["b"] = "x";
    unsorted["a1"] = 1;
    unsorted["a"] = INT_MIN;
    unsorted["B"] = -101;
    Json::Value single;
    single["samid"] = "";
    const Case cases[] = {
        {"opened", opened, "{\n   \"errorMsg\" : \"打开成功\",\n   \"resultFlag\" : 0\n}\n"},
        {"unsorted", unsorted,
         "{\n   \"B\" : -101,\n   \"a\" : -2147483648,\n   \"a1\" : 1,\n   \"b\" : \"x\"\n}\n"},
        {"single", single, "{\n   \"samid\" : \"\"\n}\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RenderAnswer(c.answer), c.expected) << c.name;
    }
}

TEST(AnswerJsonTest, EscapesOnlyQuoteBackslashAndControlBytes) {
    struct Case {
        std::string value;
        std::string expected;
    };
    const Case cases[] = {
        {"say \"hi\" \\ there", R"(say \"hi\" \\ there)"},
        {"\b\f\n\r\t", R"(\b\f\n\r\t)"},
        {"\x01\x1a\x1f", R"(\u0001\u001A\u001F)"},
        {"a\0b"s, R"(a\u0000b)"},  // a NUL neither ends the text nor breaks the JSON
        {"/path/ \x7f ~", "/path/ \x7f ~"},
        {"张三 \xF0\xA0\xAE\xB7", "张三 \xF0\xA0\xAE\xB7"},  // UTF-8 stays raw, never \u
        {"\xFF\xFE", "\xFF\xFE"},                            // other bytes pass unchanged
    };
    for (const Case& c : cases) {
        Json::Value answer;
        answer["v"] = c.value;
        EXPECT_EQ(RenderAnswer(answer), "{\n   \"v\" : \"" + c.expected + "\"\n}\n") << c.value;
    }
}

TEST(ChunkedAnswerTest, SendsHeadOneUppercaseHexChunkAndLastChunk) {
    const std::string head = kAnswerHead;
    struct Case {
        std::string body;
        std::string expected;
    };
    const Case cases[] = {
        {"", head + "0\r\n\r\n"},
        {"abc", head + "3\r\nabc\r\n0\r\n\r\n"},
        {std::string(26, 'x'), head + "1A\r\n" + std::string(26, 'x') + "\r\n0\r\n\r\n"},
        {std::string(4096, 'y'), head + "1000\r\n" + std::string(4096, 'y') + "\r\n0\r\n\r\n"},
    };
    for (const Case& c : cases) {
        HttpConnection connection;
        SendChunkedAnswer(connection, c.body);
        EXPECT_EQ(connection.TakeOutput(), c.expected) << c.body.size();
    }
    HttpConnection connection;
    SendAnswerHead(connection);
    EXPECT_EQ(connection.TakeOutput(), head);
}

TEST(ChunkedAnswerTest, AnAnswerForOneOriginNamesItAndVariesByOrigin) {
    const std::string head =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
        "Access-Control-Allow-Origin: https://a.example\r\nVary: Origin\r\n\r\n";
    HttpConnection connection;
    SendChunkedAnswer(connection, "abc", "https://a.example");
    EXPECT_EQ(connection.TakeOutput(), head + "3\r\nabc\r\n0\r\n\r\n");
    SendAnswerHead(connection, "https://a.example");
    EXPECT_EQ(connection.TakeOutput(), head);
}

TEST(WholeAnswerTest, SendsTheLengthInsteadOfChunks) {
    struct Case {
        std::string body;
        bool withBody;
        std::string allowOrigin;
        std::string expected;
    };
    const Case cases[] = {
        {"abc", true, "*",
         "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nAccess-Control-Allow-Origin: *\r\n\r\nabc"},
        {"abc", false, "*",
         "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nAccess-Control-Allow-Origin: *\r\n\r\n"},
        {"", true, "null",
         "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nAccess-Control-Allow-Origin: null\r\n"
         "Vary: Origin\r\n\r\n"},
    };
    for (const Case& c : cases) {
        HttpConnection connection;
        SendWholeAnswer(connection, c.body, c.withBody, c.allowOrigin);
        EXPECT_EQ(connection.TakeOutput(), c.expected) << c.body << c.withBody;
    }
}

TEST(OnHttpEventTest, AnswersRequestsOnlyAndHeadWithoutBody) {
    const std::string status = ChunkedAnswer(OperationBody(-99, "读卡器异常"));
    const std::string unknown = ChunkedAnswer(OperationBody(-101, "不支持未知指令"));
    struct Case {
        int event;
        const char* method;
        std::string_view uri;
        std::string expected;
    };
    const Case cases[] = {
        {HttpEvent::Request, "GET", "/getdevicestatus", status},
        {HttpEvent::Request, "OPTIONS", "/GetDeviceStatus", status},
        {HttpEvent::Request, "HEAD", "/getdevicestatus", kAnswerHead},
        {HttpEvent::Request, "head", "/getdevicestatus", status},  // methods are case-sensitive
        {HttpEvent::Request, "GET", "/x\0/getdevicestatus"sv, unknown},  // the path ends at NUL
        {HttpEvent::WebSocketHandshakeDone, "GET", "/getdevicestatus", ""},
        {0, "GET", "/getdevicestatus", ""},
    };
    for (const Case& c : cases) {
        HttpConnection connection;
        const HttpMessage message{c.method, c.uri};
        OnHttpEvent(connection, c.event, &message);
        EXPECT_EQ(connection.TakeOutput(), c.expected) << c.event << ' ' << c.method;
    }
    HttpConnection connection;
    OnHttpEvent(connection, HttpEvent::Request, nullptr);
    EXPECT_EQ(connection.TakeOutput(), "");

    // HTTP/1.0 gets the whole body with its length; an origin named by the server is named.
    const std::string body = OperationBody(-99, "读卡器异常");
    const HttpMessage old{"GET", "/getdevicestatus", 10, "*"};
    OnHttpEvent(connection, HttpEvent::Request, &old);
    EXPECT_EQ(connection.TakeOutput(), WholeAnswer(body));
    const HttpMessage oldHead{"HEAD", "/getdevicestatus", 10, "*"};
    OnHttpEvent(connection, HttpEvent::Request, &oldHead);
    EXPECT_EQ(connection.TakeOutput(),
              WholeAnswer(body).substr(0, WholeAnswer(body).size() - body.size()));
    const HttpMessage named{"GET", "/getdevicestatus", 11, "https://a.example"};
    OnHttpEvent(connection, HttpEvent::Request, &named);
    EXPECT_EQ(connection.TakeOutput(), ChunkedAnswer(body, "https://a.example"));
}

TEST(WebSocketHandshakeTest, AcceptsTheKeyAsTheProtocolComputesIt) {
    // The sample key and accept value that the WebSocket protocol's own description works through.
    EXPECT_EQ(WebSocketHandshakeAnswer("dGhlIHNhbXBsZSBub25jZQ=="),
              "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n");
    // A key of any length is hashed, never refused.
    EXPECT_EQ(WebSocketHandshakeAnswer(std::string(300, 'k')).rfind("HTTP/1.1 101", 0), 0u);
}

}  // namespace
