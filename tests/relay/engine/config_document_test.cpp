#include "relay/engine/config_document.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

const std::string kEntry41 =
    R"({"serverUrl":"10.0.0.1","isUsing":1,"serverPort":9001,"type":4,"status":0})";

std::string Document(const std::string& entries) {
    return R"({"code":0,"data":[)" + entries + "]}";
}

TEST(ConfigDocumentTest, TheFirstCompleteEntryOfType4InUseNamesTheServer) {
    struct Case {
        const char* name;
        std::string document;
        std::optional<std::string> server;  // "host:port", or none
    } cases[] = {
        {"one entry", Document(kEntry41), "10.0.0.1:9001"},
        {"not in use before in use before in use",
         Document(R"({"serverUrl":"a","isUsing":0,"serverPort":1,"type":4,"status":0},)"
                  R"({"serverUrl":"b","isUsing":1,"serverPort":2,"type":4,"status":0},)"
                  R"({"serverUrl":"c","isUsing":1,"serverPort":3,"type":4,"status":0})"),
         "b:2"},
        {"without status",
         Document(R"({"serverUrl":"a","isUsing":1,"serverPort":1,"type":4},)" + kEntry41),
         "10.0.0.1:9001"},
        {"type 3 never",
         Document(R"({"serverUrl":"a","isUsing":1,"serverPort":1,"type":3,"status":0})"),
         std::nullopt},
        {"isUsing other than 1 never",
         Document(R"({"serverUrl":"a","isUsing":0,"serverPort":1,"type":4,"status":0},)"
                  R"({"serverUrl":"b","isUsing":2,"serverPort":2,"type":4,"status":0},)"
                  R"({"serverUrl":"c","isUsing":-1,"serverPort":3,"type":4,"status":0},)"
                  R"({"serverUrl":"d","isUsing":5,"serverPort":4,"type":4,"status":0})"),
         std::nullopt},
        {"type other than 4 never",
         Document(R"({"serverUrl":"a","isUsing":1,"serverPort":1,"type":0,"status":0},)"
                  R"({"serverUrl":"b","isUsing":1,"serverPort":2,"type":2,"status":0},)"
                  R"({"serverUrl":"c","isUsing":1,"serverPort":3,"type":-1,"status":0},)"
                  R"({"serverUrl":"d","isUsing":1,"serverPort":4,"type":5,"status":0})"),
         std::nullopt},
        {"ports outside 1 to 65535 skipped",
         Document(R"({"serverUrl":"a","isUsing":1,"serverPort":0,"type":4,"status":0},)"
                  R"({"serverUrl":"b","isUsing":1,"serverPort":65536,"type":4,"status":0},)"
                  R"({"serverUrl":"c","isUsing":1,"serverPort":70000,"type":4,"status":0},)"
                  R"({"serverUrl":"d","isUsing":1,"serverPort":-1,"type":4,"status":0},)" +
                  kEntry41),
         "10.0.0.1:9001"},
        {"the lowest port",
         Document(R"({"serverUrl":"h","isUsing":1,"serverPort":1,"type":4,"status":0})"), "h:1"},
        {"the highest port",
         Document(R"({"serverUrl":"h","isUsing":1,"serverPort":65535,"type":4,"status":0})"),
         "h:65535"},
        {"null, number, text and array elements skipped", Document(R"(null,5,"x",[1],)" + kEntry41),
         "10.0.0.1:9001"},
        {"a member that is not an integer",
         Document(R"({"serverUrl":"a","isUsing":"yes","serverPort":1,"type":4,"status":0},)" +
                  kEntry41),
         "10.0.0.1:9001"},
        {"a port beyond an int",
         Document(R"({"serverUrl":"a","isUsing":1,"serverPort":99999999999,"type":4,"status":0},)" +
                  kEntry41),
         "10.0.0.1:9001"},
        {"a host that is an object",
         Document(R"({"serverUrl":{},"isUsing":1,"serverPort":1,"type":4,"status":0},)" + kEntry41),
         "10.0.0.1:9001"},
        {"numbers written as decimals",
         Document(R"({"serverUrl":"h","isUsing":1.0,"serverPort":80.0,"type":4,"status":0})"),
         "h:80"},
        {"a status that is not an integer",
         Document(R"({"serverUrl":"a","isUsing":1,"serverPort":7,"type":4,"status":"ok"})"),
         std::nullopt},
        {"a host name",
         Document(
             R"({"serverUrl":"decoder.example","isUsing":1,"serverPort":7,"type":4,"status":2})"),
         "decoder.example:7"},
        {"data an object", R"({"data":)" + kEntry41 + "}", std::nullopt},
        {"data missing", R"({"code":0})", std::nullopt},
        {"array at the top", "[" + kEntry41 + "]", std::nullopt},
        {"not JSON", "<html>404 Not Found</html>", std::nullopt},
        {"empty", "", std::nullopt},
        {"text after the document is ignored", Document(kEntry41) + " trailing", "10.0.0.1:9001"},
        {"the text ends at a zero byte", Document(kEntry41) + std::string(1, '\0') + "{",
         "10.0.0.1:9001"},
        {"a zero byte inside the document", std::string("{\"data\":[\0", 10) + kEntry41 + "]}",
         std::nullopt},
        {"nested deeper than the reader goes", std::string(100000, '[') + std::string(100000, ']'),
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<ServerEntry> server = ChooseServer(c.document);
        ASSERT_EQ(c.server.has_value(), server.has_value());
        if (server) {
            EXPECT_EQ(*c.server, server->host + ":" + std::to_string(server->port));
        }
    }
}

TEST(ConfigDocumentTest, ABodyIsReadWholeWhereverTheNetworkCutIt) {
    const std::string body =
        Document(R"({"serverUrl":"a","isUsing":0,"serverPort":1,"type":4,"status":0},)" + kEntry41);
    for (std::size_t cut = 0; cut <= body.size(); ++cut) {
        ConfigBody joined;
        ASSERT_TRUE(joined.Append(reinterpret_cast<const unsigned char*>(body.data()), cut));
        ASSERT_TRUE(joined.Append(reinterpret_cast<const unsigned char*>(body.data()) + cut,
                                  body.size() - cut));
        const std::optional<ServerEntry> server = joined.Server();
        ASSERT_TRUE(server) << cut;
        EXPECT_EQ("10.0.0.1", server->host);
    }
}

TEST(ConfigDocumentTest, ABodyLongerThanAMebibyteNamesNoServer) {
    const std::string document = Document(kEntry41);
    const std::string padding(kMaxConfigBody - document.size(), ' ');

    ConfigBody atTheLimit;
    EXPECT_TRUE(atTheLimit.Append(reinterpret_cast<const unsigned char*>(document.data()),
                                  document.size()));
    EXPECT_TRUE(
        atTheLimit.Append(reinterpret_cast<const unsigned char*>(padding.data()), padding.size()));
    EXPECT_TRUE(atTheLimit.Server());

    ConfigBody overTheLimit;
    EXPECT_TRUE(overTheLimit.Append(reinterpret_cast<const unsigned char*>(document.data()),
                                    document.size()));
    EXPECT_TRUE(overTheLimit.Append(reinterpret_cast<const unsigned char*>(padding.data()),
                                    padding.size()));
    const unsigned char oneMore = ' ';
    EXPECT_FALSE(overTheLimit.Append(&oneMore, 1));
    EXPECT_FALSE(overTheLimit.Append(&oneMore, 1));
    EXPECT_FALSE(overTheLimit.Server());
}

}  // namespace
