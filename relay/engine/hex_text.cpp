#include "relay/engine/hex_text.h"

#include "platform/ascii.h"

std::string ToHexText(const unsigned char* bytes, int count) {
    constexpr auto& kDigits = platform::ascii::kUpperHexDigits;
    std::string text;
    if (bytes == nullptr || count <= 0) {
        return text;
    }
    text.reserve(static_cast<std::size_t>(count) * 3);
    for (int i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
        text += ' ';
    }
    return text;
}
