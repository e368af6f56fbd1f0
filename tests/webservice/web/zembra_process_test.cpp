#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/webservice/support/expected_answer.h"
#include "tests/webservice/support/raw_client.h"
#include "tests/webservice/support/zembra_process.h"

namespace {

using namespace std::literals;

constexpr unsigned short kPort = ZembraProcess::kPort;

std::string Sdk(const char* variant) {
    return std::string(TROVIK_SIM_DIR) + "/" + variant + "/libTrovik.so";
}

TEST(ZembraProcessTest, TheBuiltProgramServesItsOwnPageAndReadsTheSampleCard) {
    const std::filesystem::path program = ZEMBRA_PROGRAM;
    ZembraProcess zembra(program);
    std::string problem;
    ASSERT_TRUE(zembra.Start(problem)) << problem;
    EXPECT_NE(zembra.Output().find("Starting web server on port 19196\n"), std::string::npos);

    const std::string page = ReadWholeFile(program.parent_path() / "readcard.html");
    ASSERT_FALSE(page.empty());
    EXPECT_EQ(Exchange(kPort, GetRequest("/mainpage")), ChunkedAnswer(page));
    EXPECT_EQ(Exchange(kPort, GetRequest("/opendevice")),
              ChunkedAnswer(OperationBody(0, "打开成功")));
    const std::string card = Exchange(kPort, GetRequest("/readcard"));
    EXPECT_NE(card.find("\"partyName\" : \"样例人\""), std::string::npos);
    EXPECT_NE(card.find("\"identityPic\" : \"/9j/"), std::string::npos);
    EXPECT_NE(card.find("\"resultFlag\" : 0\n}\n"), std::string::npos);
}

TEST(ZembraProcessTest, WithoutTheSdkEveryReaderRouteAnswersNotBound) {
    ZembraProcess zembra;
    std::string problem;
    ASSERT_TRUE(zembra.Start(problem)) << problem;
    struct Case {
        const char* path;
        std::string body;
    };
    const Case cases[] = {
        {"/opendevice", OperationBody(-12, "无法打开读卡器")},
        {"/getdevicestatus", OperationBody(-99, "读卡器异常")},
        {"/readcard", ReadCardBody(-12, Person{})},
        {"/closedevice", OperationBody(-12, "关闭读卡器失败")},
        {"/getsamid", SamIdBody(-12, "获取安全模块号失败", "")},
        {"/mainpage/readcard", ""},  // the page route wins; there is no page
        {"/nothing", OperationBody(-101, "不支持未知指令")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Exchange(kPort, GetRequest(c.path)), ChunkedAnswer(c.body)) << c.path;
    }
}

TEST(ZembraProcessTest, ThePageIsReadAnewForEveryRequestUpToItsFirstNul) {
    ZembraProcess zembra;
    zembra.CopyFile(Sdk("no-base64"), "libTrovik.so");
    zembra.WriteFile("trovik-sim.conf", "card.photo = yes\n");
    std::string problem;
    ASSERT_TRUE(zembra.Start(problem)) << problem;

    EXPECT_EQ(Exchange(kPort, GetRequest("/mainpage")), ChunkedAnswer(""));
    struct Case {
        std::string page;
        std::string path;
        std::string body;
    };
    const Case cases[] = {
        {"<html>页面</html>\r\n0\r\n\r\n", "/mainpage", "<html>页面</html>\r\n0\r\n\r\n"},
        {"<p>a</p>\0<p>b</p>"s, "/x/MAINPAGE/readcard?y", "<p>a</p>"},
        {"\0rest"s, "/mainpage", ""},
        {"", "/mainpage", ""},
    };
    for (const Case& c : cases) {
        zembra.WriteFile("readcard.html", c.page);
        RawClient client("127.0.0.1", kPort);
        ASSERT_TRUE(client.Send(GetRequest(c.path)));
        const std::string expected = ChunkedAnswer(c.body);
        EXPECT_EQ(client.Receive(expected.size()), expected) << c.path;
        EXPECT_TRUE(client.StaysSilent(100ms)) << c.path;
    }
    // Neither a directory nor a FIFO without a writer under the page's name holds the server up.
    const std::filesystem::path pageFile = zembra.Directory() / "readcard.html";
    std::filesystem::remove(pageFile);
    std::filesystem::create_directory(pageFile);
    EXPECT_EQ(Exchange(kPort, GetRequest("/mainpage")), ChunkedAnswer(""));
    std::filesystem::remove(pageFile);
    ASSERT_EQ(mkfifo(pageFile.c_str(), 0600), 0);
    EXPECT_EQ(Exchange(kPort, GetRequest("/mainpage")), ChunkedAnswer(""));

    // An SDK without the photo text export still reads the card, with an empty picture.
    EXPECT_EQ(Exchange(kPort, GetRequest("/opendevice")),
              ChunkedAnswer(OperationBody(0, "打开成功")));
    EXPECT_EQ(Exchange(kPort, GetRequest("/readcard")),
              ChunkedAnswer(ReadCardBody(0, kSampleCard)));
}

TEST(ZembraProcessTest, AStopWhileALargeAnswerIsWrittenLetsTheAnswerGoOutWhole) {
    ZembraProcess zembra;
    // Far more than the sockets' buffers hold: most of it waits in the server for the client.
    const std::string page(32 * 1024 * 1024, 'p');
    zembra.WriteFile("readcard.html", page);
    std::string problem;
    ASSERT_TRUE(zembra.Start(problem)) << problem;
    RawClient client("127.0.0.1", kPort);
    ASSERT_TRUE(client.Send(GetRequest("/mainpage")));
    std::string answer = client.Receive(std::strlen(kAnswerHead));
    ASSERT_EQ(answer.rfind(kAnswerHead, 0), 0u);

    zembra.Process()->Signal(SIGTERM);
    // The program waits for the answer rather than cutting it off.
    EXPECT_EQ(zembra.Process()->WaitForExit(2s), std::nullopt);
    const std::string expected = ChunkedAnswer(page);
    answer += client.ReceiveUntilClosed();
    EXPECT_EQ(answer.size(), expected.size());
    EXPECT_TRUE(answer == expected);
    EXPECT_TRUE(client.PeerClosed());
    EXPECT_EQ(zembra.Process()->WaitForExit(), 0);
}

}  // namespace
