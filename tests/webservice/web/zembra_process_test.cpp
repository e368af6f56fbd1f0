#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// The most memory the process has held, in KiB, as the kernel counts it; 0 when unknown.
long PeakResidentKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

// Sends `piece` again and again, up to `most` bytes, until the server ends the connection; the
// bytes that went.
std::size_t Flood(RawClient& client, const std::string& piece, std::size_t most) {
    std::size_t sent = 0;
    while (sent < most && client.Send(piece)) {
        sent += piece.size();
    }
    return sent;
}

TEST(ZembraProcessTest, HoldsNoRequestBodyWhateverItsClientsSend) {
    ZembraProcess zembra;
    std::string problem;
    ASSERT_TRUE(zembra.Start(problem)) << problem;
    const std::string status = ChunkedAnswer(OperationBody(-99, "读卡器异常"));

    // 200 clients each hold a body one byte short of the megabyte the server takes.
    const std::string head =
        "POST /getdevicestatus HTTP/1.1\r\nHost: localhost\r\nContent-Length: 1048576\r\n\r\n";
    const std::string body(1024 * 1024 - 1, 'b');
    std::vector<std::unique_ptr<RawClient>> holders;
    for (int i = 0; i < 200; ++i) {
        holders.push_back(std::make_unique<RawClient>("127.0.0.1", kPort));
        ASSERT_TRUE(holders.back()->Send(head + body)) << i;
    }
    // A chunk extension and a trailer that never end: each connection is closed within a few
    // KiB, long before the 96 MiB its client would send.
    const std::string chunked =
        "POST / HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string filler(64 * 1024, 'f');
    for (const std::string& start : {chunked + "1;", chunked + "0\r\n"}) {
        RawClient flood("127.0.0.1", kPort);
        ASSERT_TRUE(flood.Send(start));
        EXPECT_LT(Flood(flood, filler, 96 * 1024 * 1024), 96u * 1024 * 1024) << start;
        EXPECT_EQ(flood.ReceiveUntilClosed(), "") << start;
        EXPECT_TRUE(flood.PeerClosed()) << start;
    }
    // The held requests complete and are answered, and new clients are served.
    for (std::size_t i = 0; i < holders.size(); ++i) {
        ASSERT_TRUE(holders[i]->Send("b")) << i;
        EXPECT_EQ(holders[i]->Receive(status.size()), status) << i;
    }
    EXPECT_EQ(Exchange(kPort, GetRequest("/getdevicestatus")), status);

    const long peak = PeakResidentKib(zembra.Process()->Pid());
    if (kAddressSanitizer) {
        GTEST_SKIP() << "the memory held (" << peak << " KiB at most) was not checked: "
                     << "AddressSanitizer's shadow memory outweighs the program's own";
    }
    // Without the bodies the program holds a few MiB; with them it held over 200.
    EXPECT_LT(peak, 48 * 1024);
}

TEST(ZembraProcessTest, AConnectionLeftIdleAfterALargeAnswerHoldsNoRoomForIt) {
    ZembraProcess zembra;
    const std::string page(256 * 1024, 'p');
    zembra.WriteFile("readcard.html", page);
    std::string problem;
    ASSERT_TRUE(zembra.Start(problem)) << problem;
    const std::string expected = ChunkedAnswer(page);

    // One after another, 200 clients take the page and stay.
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 200; ++i) {
        clients.push_back(std::make_unique<RawClient>("127.0.0.1", kPort));
        ASSERT_TRUE(clients.back()->Send(GetRequest("/mainpage"))) << i;
        ASSERT_EQ(clients.back()->Receive(expected.size()), expected) << i;
    }
    EXPECT_EQ(Exchange(kPort, GetRequest("/getdevicestatus")),
              ChunkedAnswer(OperationBody(-99, "读卡器异常")));

    const long peak = PeakResidentKib(zembra.Process()->Pid());
    if (kAddressSanitizer) {
        GTEST_SKIP() << "the memory held (" << peak << " KiB at most) was not checked: "
                     << "AddressSanitizer's shadow memory outweighs the program's own";
    }
    // Answers kept for their connections would hold 50 MiB.
    EXPECT_LT(peak, 24 * 1024);
}

}  // namespace
