// The hand-written conversions between UTF-16 and UTF-8 against glibc's iconv, over every code
// point: card texts take the one way, and no answer may differ by a byte from what iconv gives.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace {

namespace codepage = platform::codepage;

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

// The whole of text through iconv; fails the test at a sequence iconv refuses.
std::string Iconv(const char* to, const char* from, std::string_view text) {
    const iconv_t cd = iconv_open(to, from);
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string out(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* outAt = out.data();
    std::size_t outLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &outAt, &outLeft), static_cast<std::size_t>(-1));
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

std::string BytesOf(std::u16string_view text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// Every code point but the surrogates, in order: the BMP as single units, the rest as pairs.
std::u16string EveryCodePoint() {
    std::u16string text;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            continue;
        }
        if (cp < 0x10000) {
            text += static_cast<char16_t>(cp);
        } else {
            text += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
    return text;
}

TEST(UnicodeAgainstIconvTest, EveryCodePointConvertsAsIconvConvertsIt) {
    const std::u16string utf16 = EveryCodePoint();
    const std::string utf8 = Iconv("UTF-8", "UTF-16LE", BytesOf(utf16));
    EXPECT_TRUE(codepage::Utf16ToUtf8(utf16) == utf8);
    EXPECT_TRUE(codepage::Utf8ToUtf16(utf8) == utf16);
}

// iconv refuses an unpaired surrogate; the conversion puts U+FFFD in its place and converts what
// stands around it as iconv does.
TEST(UnicodeAgainstIconvTest, EachUnpairedSurrogateBecomesOneReplacementCharacter) {
    const std::u16string pair = {0xD83D, 0xDE00};
    const std::string zhang = Iconv("UTF-8", "UTF-16LE", BytesOf(u"张"));
    const std::string pairUtf8 = Iconv("UTF-8", "UTF-16LE", BytesOf(pair));
    const std::string lone(kReplacementUtf8);
    for (char16_t unit = 0xD800; unit <= 0xDFFF; ++unit) {
        const bool high = unit < 0xDC00;
        const char16_t other = high ? 0xDC00 : 0xD800;  // the kind that would pair with it
        struct Case {
            std::u16string text;
            std::string expected;
        };
        const Case cases[] = {
            {std::u16string(1, unit), lone},
            {u"张" + std::u16string(1, unit), zhang + lone},
            {std::u16string(1, unit) + u"张", lone + zhang},
            {std::u16string(1, unit) + pair, lone + pairUtf8},
            {pair + std::u16string(1, unit), pairUtf8 + lone},
            {std::u16string(2, unit), lone + lone},
            // A low unit before a high one pairs with nothing, and so does a unit of the
            // same kind.
            {high ? std::u16string{other, unit} : std::u16string{unit, other}, lone + lone},
        };
        for (const Case& c : cases) {
            ASSERT_EQ(codepage::Utf16ToUtf8(c.text), c.expected) << std::hex << unit;
        }
    }
}

}  // namespace
