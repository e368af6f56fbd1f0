#include "webservice/reader/ansi_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/code_page.h"

namespace {

namespace codepage = platform::codepage;

// Whatever way a text takes, it reads as the ANSI code page (GBK) reads it, up to its first NUL.
TEST(AnsiTextTest, EveryTextReadsAsTheCodePageReadsIt) {
    std::vector<std::string> texts = {
        "/9j/4AAQSkZJRgABAQEASABIAAD/2wBDAP//+/8=",  // a photo's base64 text
        "\xD5\xC5\xC8\xFD",                          // 张三
        "a\xD5\xC5"
        "b",
        "\x80",  // the euro sign in GBK
        "a\xFF"
        "b",     // no character of GBK
        "\xD5",  // a lead byte cut off
        std::string("ab\0\xD5\xC5", 5),
        "",
    };
    std::string ascii;
    for (int byte = 1; byte < 0x80; ++byte) {
        texts.emplace_back(1, static_cast<char>(byte));
        ascii += static_cast<char>(byte);
    }
    texts.push_back(ascii);
    for (const std::string& text : texts) {
        const std::string upToNul = text.substr(0, text.find('\0'));
        EXPECT_EQ(AnsiToUtf8(text),
                  codepage::Utf16ToUtf8(*codepage::ToUtf16(codepage::kAnsi, upToNul)))
            << text;
    }
    EXPECT_EQ(AnsiToUtf8("\xD5\xC5\xC8\xFD"), "张三");
}

}  // namespace
