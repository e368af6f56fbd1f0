#include <gtest/gtest.h>

#include <string>

#include "tests/webservice/reader/trovik_sim_fixture.h"
#include "tests/webservice/support/expected_answer.h"
#include "webservice/reader/card_reader.h"
#include "webservice/web/routes.h"

namespace {

// The routes against the simulated SDK, which reads its settings anew at every call. Every
// case starts with the reader closed.
class RoutesTest : public TrovikSimTest {
  protected:
    void SetUp() override {
        TrovikSimTest::SetUp();
        ASSERT_EQ(TheCardReader().LoadSdkFrom(Variant("full")), 1);
        TheCardReader().Close();
    }
};

TEST_F(RoutesTest, OperationRoutesAnswerTheirCodeAndText) {
    struct Case {
        const char* settings;
        const char* path;
        std::string expected;
    };
    const Case cases[] = {
        {"", "/opendevice", OperationBody(0, "打开成功")},
        {"reader.ports =\n", "/OpenDevice", OperationBody(-3, "无法打开读卡器")},
        {"", "/getdevicestatus", OperationBody(-99, "读卡器异常")},
        {"", "/closedevice", OperationBody(0, "关闭读卡器成功")},
        {"reader.close_ok = no\n", "/CLOSEDEVICE", OperationBody(-4, "关闭读卡器失败")},
        // Routes are substrings of the lower-cased path, tested in table order.
        {"", "/x/CloseDevice/y", OperationBody(0, "关闭读卡器成功")},
        {"", "/closedevice/opendevice", OperationBody(0, "打开成功")},
        {"", "/getdevicestatus/closedevice", OperationBody(-99, "读卡器异常")},
        {"", "/opendevic/x/closedevice", OperationBody(0, "关闭读卡器成功")},
        {"", "x/closedevice", OperationBody(0, "关闭读卡器成功")},
        // No percent-decoding, no partial names, nothing for an empty path.
        {"", "/", OperationBody(-101, "不支持未知指令")},
        {"", "", OperationBody(-101, "不支持未知指令")},
        {"", "/read%63ard", OperationBody(-101, "不支持未知指令")},
        {"", "/opendevic", OperationBody(-101, "不支持未知指令")},
        {"", "opendevice", OperationBody(-101, "不支持未知指令")},
        {"", "/ＯpenDevice", OperationBody(-101, "不支持未知指令")},  // only ASCII is lowered
    };
    for (const Case& c : cases) {
        WriteSettings(c.settings);
        EXPECT_EQ(HandleRequest(c.path), c.expected) << c.path;
    }
}

TEST_F(RoutesTest, ReadCardAnswersEveryPersonKeyAndEmptyOnesOnFailure) {
    WriteSettings("card.photo = no\n");
    EXPECT_EQ(HandleRequest("/readcard"), ReadCardBody(-3, Person{}));  // not opened yet
    EXPECT_EQ(HandleRequest("/opendevice"), OperationBody(0, "打开成功"));
    EXPECT_EQ(HandleRequest("/ReadCard"), ReadCardBody(0, kSampleCard));
    EXPECT_EQ(HandleRequest("/readcard.html"), ReadCardBody(0, kSampleCard));
    WriteSettings("card.present = no\n");
    EXPECT_EQ(HandleRequest("/readcard"), ReadCardBody(-11, Person{}));
}

TEST_F(RoutesTest, ReadCardKeepsCharactersOutsideGbkAndEscapesControlBytes) {
    WriteSettings(
        "card.photo = no\n"
        "card.name = \"𠮷 A\t\"B\\ \"\n"
        "card.address = \"  leading and trailing  \"\n"
        "card.cert_type = \x01\n");
    ASSERT_EQ(HandleRequest("/opendevice"), OperationBody(0, "打开成功"));
    Person expected = kSampleCard;
    expected.partyName = "𠮷 A\\t\\\"B\\\\ ";
    expected.certAddress = "  leading and trailing  ";
    expected.certType = "\\u0001";
    EXPECT_EQ(HandleRequest("/readcard"), ReadCardBody(0, expected));
}

TEST_F(RoutesTest, ReadCardSendsThePhotoAsBase64Jpeg) {
    ASSERT_EQ(HandleRequest("/opendevice"), OperationBody(0, "打开成功"));
    const std::string body = HandleRequest("/readcard");
    const std::string key = "\"identityPic\" : \"";
    const auto start = body.find(key);
    ASSERT_NE(start, std::string::npos);
    const auto end = body.find('"', start + key.size());
    const std::string picture = body.substr(start + key.size(), end - start - key.size());
    // Base64 of a JPEG starts with the encoded start-of-image marker FF D8 FF.
    EXPECT_EQ(picture.rfind("/9j/", 0), 0u);
    EXPECT_EQ(picture.size() % 4, 0u);
    EXPECT_EQ(picture.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
}

TEST_F(RoutesTest, ReadCardStaysWithinBuffersTheSdkFillsWithoutTerminator) {
    WriteSettings("sim.fill_whole_buffers = yes\n");
    ASSERT_EQ(HandleRequest("/opendevice"), OperationBody(0, "打开成功"));
    const std::string body = HandleRequest("/readcard");
    // A text getter yields at most the 1024 units of its buffer: 1024 CJK characters.
    std::string name;
    for (int i = 0; i < 1024; ++i) {
        name += std::string("样例人").substr((i % 3) * 3, 3);
    }
    EXPECT_NE(body.find("\"partyName\" : \"" + name + "\",\n"), std::string::npos);
    // The photo text is bounded by its 38862-byte area.
    const std::string key = "\"identityPic\" : \"";
    const auto start = body.find(key) + key.size();
    EXPECT_EQ(body.find('"', start) - start, 38862u);
}

TEST_F(RoutesTest, GetSamIdCarriesSamidAlsoWhenItFails) {
    EXPECT_EQ(HandleRequest("/getsamid"), SamIdBody(-3, "获取安全模块号失败", ""));
    ASSERT_EQ(HandleRequest("/opendevice"), OperationBody(0, "打开成功"));
    EXPECT_EQ(HandleRequest("/x/GetSamId/y"), SampleSamIdBody());
    WriteSettings("reader.sam_id = SAM-样例-𠮷\n");
    EXPECT_EQ(HandleRequest("/getsamid"), SamIdBody(0, "获取安全模块号成功", "SAM-样例-𠮷"));
    WriteSettings("reader.sam_ok = no\n");
    EXPECT_EQ(HandleRequest("/getsamid"), SamIdBody(-16, "获取安全模块号失败", ""));
}

// Edits of the same size, one right after the other, land within one tick of the file system's
// clock: the simulated reader still takes each of them.
TEST_F(RoutesTest, TheSimulatedReaderTakesEveryEditOfItsSettingsAtOnce) {
    for (int i = 0; i < 20; ++i) {
        const bool closes = i % 2 == 0;
        WriteSettings(closes ? "reader.close_ok = on\n" : "reader.close_ok = no\n");
        EXPECT_EQ(HandleRequest("/closedevice"),
                  closes ? OperationBody(0, "关闭读卡器成功") : OperationBody(-4, "关闭读卡器失败"))
            << i;
    }
}

}  // namespace
