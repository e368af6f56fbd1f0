#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/system_error.h"
#include "relay/http/http_client_map.h"
#include "relay/http/http_encoder.h"
#include "relay/http/http_error.h"
#include "relay/http/http_post_stat.h"
#include "relay/http/http_url_analyzer.h"
#include "relay/http/size_arithmetic.h"
#include "tests/relay/http/http_test_support.h"

using namespace Osmer;
using http_test::ExpectFailure;
using http_test::Narrow;

namespace {

constexpr unsigned kGbk = 0;
constexpr unsigned kUtf8 = 65001;
constexpr unsigned kUtf7 = 65000;

TEST(HttpErrorTableTest, EveryNumberHasItsMessageInBothForms) {
    const struct {
        uint32_t error;
        const char* message;
    } cases[] = {
        {0, "Not specified"},
        {100, "Unexpected error occurred."},
        {101, "The index is out of range."},
        {102, "Out of memory."},
        {103, "The requested URL is not a valid URL."},
        {104, "The post context is not started yet."},
        {105, "Couldn't read expected bytes from a file."},
        {106, "The post context has not been finished yet."},
        {107, "The port number is not valid."},
        {108, "std::exception occurred."},
        {109, "The encoded URL is not valid."},
        {110, "The UTF8 string contains an invalid character."},
        {111, "An unexpected arithmetic error has been occurred."},
        {112, "An arithmetic overflow error has been occurred."},
        {113, "An interger divide by zero exception has been occurred."},
        {114, "The file (%s) aleady exists."},
        {200, ""},
        {400, "::HttpQueryInfo failed."},
        {401, "::InternetReadFile failed."},
        {402, "::InternetOpen failed."},
        {403, "::InternetConnect failed."},
        {404, "::HttpOpenRequest failed."},
        {405, "::HttpAddRequestHeaders failed."},
        {406, "::HttpSendRequest failed."},
        {407, "::HttpSendRequestEx failed."},
        {408, "::InternetWriteFile failed."},
        {409, "::HttpEndRequest failed."},
        {410, "::InternetSetOption failed."},
        {600, "::WideCharToMultiByte failed."},
        {601, "::MultiByteToWideChar failed."},
        {602, "::ReadFile failed."},
        {603, "OpenFile (::CreateFile) failed (\"%s\")."},
        {604, "::SetFilePointer failed."},
        {605, "::GetFileSize failed (\"%s\")."},
        {606, "::WriteFile failed (\"%s\")."},
        {1000, "user-defined error message"},
        {1001, "user-defined error message"},
        {0xFFFFFFFF, "user-defined error message"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(ErrorMessageA(c.error), c.message) << c.error;
        EXPECT_EQ(Narrow(ErrorMessageW(c.error)), c.message) << c.error;
    }
}

TEST(HttpErrorTableTest, FilePathIsFormattedIntoAtMost511Characters) {
    EXPECT_EQ(FormatErrorMessageA(603, "/tmp/a b.txt"),
              "OpenFile (::CreateFile) failed (\"/tmp/a b.txt\").");
    EXPECT_EQ(FormatErrorMessageW(114, u"x.bin"), u"The file (x.bin) aleady exists.");

    const std::string longPath(600, 'p');
    const std::string narrow = FormatErrorMessageA(605, longPath);
    EXPECT_EQ(narrow.size(), 511u);
    EXPECT_EQ(narrow.substr(0, 27), "::GetFileSize failed (\"pppp");

    // A cut that would split a surrogate pair drops the whole character.
    std::u16string wideArgument(481, u'p');
    for (int i = 0; i < 20; ++i) {
        wideArgument += u"\U00020BB7";
    }
    const std::u16string wide = FormatErrorMessageW(605, wideArgument);
    EXPECT_EQ(wide.size(), 510u);
    EXPECT_EQ(wide.back(), 0xDFB7);
}

TEST(HttpExceptionTest, MessagesAreOwnedCopiesWithNullShownAsNULL) {
    std::string text = "first";
    errmsg_exceptionA narrow(text.c_str());
    text = "changed";
    EXPECT_STREQ(narrow.Message(), "first");
    EXPECT_STREQ(narrow.what(), "first");
    errmsg_exceptionA copy = narrow;
    narrow.SetMessage(nullptr);
    EXPECT_STREQ(narrow.Message(), "NULL");
    EXPECT_STREQ(copy.Message(), "first");

    errmsg_exceptionW wide(u"wide");
    EXPECT_STREQ(wide.what(), "errmsg_exceptionW");
    EXPECT_EQ(std::u16string(wide.Message()), u"wide");
    wide.SetMessage(nullptr);
    EXPECT_EQ(std::u16string(wide.Message()), u"NULL");

    const httpclientexceptionW client(u"::HttpSendRequestEx failed.", 407, 12029);
    EXPECT_STREQ(client.what(), "httpclientexceptionW");
    EXPECT_EQ(client.ErrorCode(), 407u);
    EXPECT_EQ(client.Win32ErrorCode(), 12029u);
    const httpclientexceptionA clientA("::InternetOpen failed.", 402, 87);
    EXPECT_STREQ(clientA.what(), "::InternetOpen failed.");
    EXPECT_EQ(clientA.ErrorCode(), 402u);
    EXPECT_EQ(clientA.Win32ErrorCode(), 87u);
    EXPECT_EQ(std::u16string(httpclientexceptionW().Message()), u"NULL");
}

TEST(SizeArithmeticTest, FaultsBecomeErrors111To113) {
    ExpectFailure([] { ThrowArithmeticFault(ArithmeticFault::Unexpected); }, 111,
                  u"An unexpected arithmetic error has been occurred.");
    ExpectFailure([] { ThrowArithmeticFault(ArithmeticFault::Overflow); }, 112,
                  u"An arithmetic overflow error has been occurred.");
    ExpectFailure([] { ThrowArithmeticFault(ArithmeticFault::DivideByZero); }, 113,
                  u"An interger divide by zero exception has been occurred.");

    EXPECT_EQ(SizeAdd(0xFFFFFFFE, 1), 0xFFFFFFFFu);
    EXPECT_EQ(SizeNarrow(0xFFFFFFFFull), 0xFFFFFFFFu);
    EXPECT_EQ(SizeSubtract(5, 5), 0u);
    const uint32_t overflow = 112;
    EXPECT_EQ(http_test::Failure([] { SizeAdd(0xFFFFFFFF, 1); }).ErrorCode(), overflow);
    EXPECT_EQ(http_test::Failure([] { SizeNarrow(0x100000000ull); }).ErrorCode(), overflow);
    EXPECT_EQ(http_test::Failure([] { SizeSubtract(1, 2); }).ErrorCode(), overflow);
}

std::vector<std::string> Dump(const CHttpClientMapT& map) {
    std::vector<std::string> out;
    for (const auto& [name, entry] : map) {
        out.push_back(Narrow(name) + "=" + (entry.value ? Narrow(*entry.value) : "<none>") + "/" +
                      std::to_string(entry.flags));
    }
    return out;
}

TEST(HttpClientMapTest, OrdersByNameIgnoringCaseAndKeepsRepeatsInInsertionOrder) {
    CHttpClientMapT map;
    map.Add(u"User-Magic", u"1");
    map.Add(u"b", u"2", ParamFlag::File);
    map.Add(u"osmer-magic", nullptr);
    map.Add(u"B", u"3");
    map.Add(u"Osmer-Magic", u"4");
    map.Add(u"_x", u"5");  // letters compare as lower case, so '_' comes before them
    EXPECT_EQ(Dump(map),
              (std::vector<std::string>{"_x=5/0", "b=2/1", "B=3/0", "osmer-magic=<none>/0",
                                        "Osmer-Magic=4/0", "User-Magic=1/0"}));
    EXPECT_EQ(map.Count(), 6u);
    EXPECT_EQ(map.Count(u"OSMER-MAGIC"), 2u);
    EXPECT_EQ(map.Count(u"none"), 0u);
    ASSERT_NE(map.Find(u"b", 1), nullptr);
    EXPECT_EQ(*map.Find(u"b", 1)->second.value, u"3");
    EXPECT_EQ(map.Find(u"b", 2), nullptr);

    EXPECT_EQ(map.Remove(u"OSMER-magic"), 2u);
    EXPECT_EQ(map.Count(u"Osmer-Magic"), 0u);
    EXPECT_EQ(map.Count(), 4u);
    map.Clear();
    EXPECT_TRUE(map.Empty());
}

TEST(HttpClientMapTest, SetReplacesTheFirstMatchClearingItsFlagsOrAdds) {
    CHttpClientMapT map;
    map.Set(u"Osmer-Magic", u"My Magic Header");
    map.Set(u"Osmer-Magic", u"again");
    EXPECT_EQ(Dump(map), (std::vector<std::string>{"Osmer-Magic=again/0"}));

    map.Add(u"name", u"first", ParamFlag::EncodedValue);
    map.Add(u"name", u"second", ParamFlag::File);
    map.Set(u"NAME", u"replaced");
    map.Set(u"Other", nullptr);
    EXPECT_EQ(Dump(map), (std::vector<std::string>{"name=replaced/0", "name=second/1",
                                                   "Osmer-Magic=again/0", "Other=<none>/0"}));
}

TEST(HttpClientMapTest, AddPointerDirectlyTakesTheTextsOver) {
    CHttpClientMapT map;
    map.AddPointerDirectly(std::make_unique<std::u16string>(u"Set-Cookie"),
                           std::make_unique<std::u16string>(u"a=1"));
    map.AddPointerDirectly(std::make_unique<std::u16string>(u"set-cookie"), nullptr, 4);
    EXPECT_EQ(Dump(map), (std::vector<std::string>{"Set-Cookie=a=1/0", "set-cookie=<none>/4"}));
}

TEST(HttpClientMapTest, NullNamesAreRefused) {
    CHttpClientMapT map;
    ExpectFailure([&] { map.Add(nullptr, u"v"); }, 0,
                  u"CHttpClientMapT::Add: szName can not be NULL.");
    ExpectFailure([&] { map.Set(nullptr, u"v"); }, 0,
                  u"CHttpClientMapT::Set: szName can not be NULL.");
    ExpectFailure([&] { map.AddPointerDirectly(nullptr, std::make_unique<std::u16string>(u"v")); },
                  0, u"CHttpClientMapT::AddPointerDirectly: szName can not be NULL.");
    EXPECT_TRUE(map.Empty());
}

TEST(HttpPostStatTest, EveryAccessorRefusesWhenNoPostIsActive) {
    const CHttpPostStatT stat;
    EXPECT_FALSE(stat.IsActive());
    const struct {
        const char* name;
        std::function<void()> call;
    } accessors[] = {
        {"TotalByte", [&] { stat.TotalByte(); }},
        {"PostedByte", [&] { stat.PostedByte(); }},
        {"RemainByte", [&] { stat.RemainByte(); }},
        {"ActualTotalByte", [&] { stat.ActualTotalByte(); }},
        {"ActualPostedByte", [&] { stat.ActualPostedByte(); }},
        {"ActualRemainByte", [&] { stat.ActualRemainByte(); }},
        {"IsComplete", [&] { stat.IsComplete(); }},
        {"TotalCount", [&] { stat.TotalCount(); }},
        {"PostedCount", [&] { stat.PostedCount(); }},
        {"RemainCount", [&] { stat.RemainCount(); }},
        {"FileCount", [&] { stat.FileCount(); }},
        {"PostedFileCount", [&] { stat.PostedFileCount(); }},
        {"CurrParam", [&] { stat.CurrParam(); }},
        {"CurrParamFile", [&] { stat.CurrParamFile(); }},
        {"CurrParamIsFile", [&] { stat.CurrParamIsFile(); }},
        {"CurrParamLength", [&] { stat.CurrParamLength(); }},
        {"CurrParamPostedByte", [&] { stat.CurrParamPostedByte(); }},
        {"CurrParamRemainByte", [&] { stat.CurrParamRemainByte(); }},
        {"CurrParamIsComplete", [&] { stat.CurrParamIsComplete(); }},
    };
    for (const auto& accessor : accessors) {
        const std::string message =
            std::string("CHttpPostStatT::") + accessor.name + ": The post context is not active.";
        ExpectFailure(accessor.call, 0, std::u16string(message.begin(), message.end()));
    }
}

TEST(HttpUrlAnalyzerTest, FindsEveryPart) {
    struct Part {
        size_t offset;
        size_t length;
    };
    const struct {
        std::u16string url;
        size_t scheme;
        Part host, port, path, query, fragment;
    } cases[] = {
        {u"http://h.example/a/b?q=1#f", 4, {7, 9}, {16, 0}, {16, 4}, {20, 4}, {24, 2}},
        {u"HTTPS://h:8443/p", 5, {8, 1}, {10, 4}, {14, 2}, {16, 0}, {16, 0}},
        {u"http://h", 4, {7, 1}, {8, 0}, {8, 0}, {8, 0}, {8, 0}},
        {u"http://h?q", 4, {7, 1}, {8, 0}, {8, 0}, {8, 2}, {10, 0}},
        {u"http://h:#f", 4, {7, 1}, {9, 0}, {9, 0}, {9, 0}, {9, 2}},
        {u"h.example:81/x", 0, {0, 9}, {10, 2}, {12, 2}, {14, 0}, {14, 0}},
        {u"http://[::1]:8080/x", 4, {7, 5}, {13, 4}, {17, 2}, {19, 0}, {19, 0}},
        {u"http:///path", 4, {7, 0}, {7, 0}, {7, 5}, {12, 0}, {12, 0}},
        {u"", 0, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}},
    };
    for (const auto& c : cases) {
        CHttpUrlAnalyzerT a;
        a.Analyze(c.url, kGbk);
        const std::string url = Narrow(c.url);
        EXPECT_EQ(a.SchemeLength(), c.scheme) << url;
        EXPECT_EQ(a.HostOffset(), c.host.offset) << url;
        EXPECT_EQ(a.HostLength(), c.host.length) << url;
        EXPECT_EQ(a.PortOffset(), c.port.offset) << url;
        EXPECT_EQ(a.PortLength(), c.port.length) << url;
        EXPECT_EQ(a.PathOffset(), c.path.offset) << url;
        EXPECT_EQ(a.PathLength(), c.path.length) << url;
        EXPECT_EQ(a.QueryOffset(), c.query.offset) << url;
        EXPECT_EQ(a.QueryLength(), c.query.length) << url;
        EXPECT_EQ(a.FragmentOffset(), c.fragment.offset) << url;
        EXPECT_EQ(a.FragmentLength(), c.fragment.length) << url;
    }
    for (const unsigned codePage : {kUtf8, kUtf7}) {
        ExpectFailure([&] { CHttpUrlAnalyzerT().Analyze(u"http://h/", codePage); }, 0,
                      u"CHttpUrlAnalyzerT::Analyze: CP_UTF8 and CP_UTF7 can not be used for the "
                      u"CodePage parameter.");
    }
}

TEST(HttpEncoderTest, UrlEncodingKeepsLettersAndDigitsAndEncodesEveryOtherByte) {
    const struct {
        std::u16string text;
        bool useUtf8;
        std::string encoded;
    } cases[] = {
        {u"", false, ""},
        {u"Abc 123", false, "Abc+123"},
        {u"a&b=c", false, "a%26b%3Dc"},
        {u"-_.~*'()/?%+", false, "%2D%5F%2E%7E%2A%27%28%29%2F%3F%25%2B"},
        {u"张三", false, "%D5%C5%C8%FD"},
        {u"张三", true, "%E5%BC%A0%E4%B8%89"},
        {u"\U00020BB7", true, "%F0%A0%AE%B7"},  // a pair of surrogates is one character
        {u"\U00020BB7", false, "%3F"},          // outside GBK: its default character
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CHttpEncoderW::UrlEncodeA(c.text.c_str(), kGbk, c.useUtf8), c.encoded)
            << c.encoded;
        EXPECT_EQ(CHttpEncoderW::UrlEncodeLenA(c.text.c_str(), kGbk, c.useUtf8), c.encoded.size())
            << c.encoded;
    }
    EXPECT_EQ(CHttpEncoderW::AnsiEncode(u"张三 a", kGbk), "\xD5\xC5\xC8\xFD a");
    EXPECT_EQ(CHttpEncoderW::AnsiEncodeLen(u"张三 a", kGbk), 6u);
    EXPECT_EQ(CHttpEncoderW::Utf8Encode(u"张"), "\xE5\xBC\xA0");
    EXPECT_EQ(CHttpEncoderW::Utf8EncodeLen(u"张"), 3u);
}

TEST(HttpEncoderTest, RefusesNullTextsAndTheUtfCodePages) {
    const std::u16string refusedCodePage =
        u": CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter.";
    ExpectFailure([] { CHttpEncoderW::UrlEncodeA(nullptr, kGbk, false); }, 0,
                  u"CHttpEncoderW::UrlEncodeA: szBuff can not be NULL.");
    ExpectFailure([] { CHttpEncoderW::AnsiEncode(nullptr, kGbk); }, 0,
                  u"CHttpEncoderW::AnsiEncode: szBuff can not be NULL.");
    ExpectFailure([] { CHttpEncoderW::Utf8Encode(nullptr); }, 0,
                  u"CHttpEncoderW::Utf8Encode: szBuff can not be NULL.");
    ExpectFailure([] { CHttpEncoderW::UrlEncodeLenA(nullptr, kGbk, false); }, 0,
                  u"_UrlEncodeLen: szStr can not be NULL.");
    ExpectFailure([] { CHttpEncoderW::AnsiEncode(u"x", kUtf8); }, 0,
                  u"CHttpEncoderW::AnsiEncode" + refusedCodePage);
    ExpectFailure([] { CHttpEncoderW::AnsiEncodeLen(u"x", kUtf7); }, 0,
                  u"CHttpEncoderW::AnsiEncodeLen" + refusedCodePage);
    ExpectFailure([] { CHttpEncoderW::UrlEncodeA(u"x", kUtf8, false); }, 0,
                  u"CHttpEncoderW::AnsiEncode" + refusedCodePage);
    // A code page the system does not know fails as the conversion call would.
    ExpectFailure([] { CHttpEncoderW::AnsiEncode(u"x", 12345); }, 600,
                  u"::WideCharToMultiByte failed.", platform::error::kInvalidParameter);
}

}  // namespace
