#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace codepage = platform::codepage;

TEST(CodePageTest, Utf16AndUtf8RoundTripEveryPlane) {
    const std::u16string text = u"Zhang 张三 \U00020BB7 end";  // 𠮷 lies outside GBK
    const std::string utf8 = codepage::Utf16ToUtf8(text);
    EXPECT_EQ(utf8, "Zhang \xE5\xBC\xA0\xE4\xB8\x89 \xF0\xA0\xAE\xB7 end");
    EXPECT_EQ(codepage::Utf8ToUtf16(utf8), text);
}

TEST(CodePageTest, MalformedInputBecomesReplacementCharacter) {
    struct Case {
        std::string utf8;
        std::u16string expected;
    };
    const Case cases[] = {
        {"a\x80"
         "b",
         u"a\uFFFD"
         "b"},
        {"\xC0\xAF", u"\uFFFD"},          // overlong slash
        {"\xED\xA0\x80", u"\uFFFD"},      // encoded surrogate
        {"\xE5\xBC", u"\uFFFD"},          // cut short
        {"\xF4\x90\x80\x80", u"\uFFFD"},  // above U+10FFFF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(codepage::Utf8ToUtf16(c.utf8), c.expected) << c.utf8;
    }
    EXPECT_EQ(codepage::Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
}

TEST(CodePageTest, AnsiCodePageIsGbk) {
    const std::string gbk = "\xD5\xC5\xC8\xFD";  // 张三
    EXPECT_EQ(codepage::ToUtf16(codepage::kAnsi, gbk).value_or(u""), u"张三");
    EXPECT_EQ(codepage::FromUtf16(codepage::kAnsi, u"张三").value_or(""), gbk);
    EXPECT_EQ(codepage::ToUtf16(codepage::kGbk, gbk).value_or(u""), u"张三");
}

// Conversions on several threads at once each get their whole text, whatever converters the
// platform keeps between calls.
TEST(CodePageTest, ThreadsConvertAtTheSameTimeWithoutMixingTheirTexts) {
    const std::u16string texts[] = {u"张三李四王五赵六", u"示例省示例市样例区测试路1号"};
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (std::size_t t = 0; t < wrong.size(); ++t) {
        threads.emplace_back([&, t] {
            const std::u16string& text = texts[t % 2];
            for (int i = 0; i < 2000; ++i) {
                const auto gbk = codepage::FromUtf16(codepage::kGbk, text);
                wrong[t] +=
                    gbk && codepage::ToUtf16(codepage::kGbk, *gbk).value_or(u"") == text ? 0 : 1;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(CodePageTest, UnmappableCharactersBecomeDefaultCharacter) {
    EXPECT_EQ(codepage::FromUtf16(codepage::kAnsi, u"a\U00020BB7b").value_or(""), "a?b");
    // A lead byte without a trail byte it can take, in the middle and at the end.
    EXPECT_EQ(codepage::ToUtf16(codepage::kAnsi,
                                "a\x81\x7F"
                                "b")
                  .value_or(u""),
              u"a\uFFFD\x7F"
              "b");
    EXPECT_EQ(codepage::ToUtf16(codepage::kAnsi, "a\x81").value_or(u""), u"a\uFFFD");
}

TEST(CodePageTest, UnknownCodePageIsRefused) {
    EXPECT_FALSE(codepage::ToUtf16(12345, "x").has_value());
    EXPECT_FALSE(codepage::FromUtf16(12345, u"x").has_value());
}
