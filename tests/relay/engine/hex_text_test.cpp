#include "relay/common/log.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(HexTextTest, EachByteIsTwoUpperCaseDigitsAndASpace) {
    struct Case {
        std::vector<unsigned char> bytes;
        int count;
        const char* text;
    } cases[] = {
        {{0x1A, 0x00, 0xFF}, 3, "1A 00 FF "},
        {{0x00, 0x0A}, 2, "00 0A "},
        {{0xAB, 0xCD, 0xEF}, 2, "AB CD "},  // only the first count bytes
        {{0x7F}, 0, ""},
        {{0x7F}, -1, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.text, ToHexText(c.bytes.data(), c.count));
    }
    EXPECT_EQ("", ToHexText(nullptr, 4));
}

}  // namespace
