#include "relay/engine/hex_text.h"

#include "platform/ascii.h"

std::string ToHexText(const unsigned char* bytes, int count) {
    constexpr auto& kDigits = platform::ascii::kUpperHexDigits;
    std::string text;
    if (bytes == nullptr || count <= 0) {
        return text;
    }
    // Written in place: the relay makes this text of every packet it passes on.
    text.assign(static_cast<std::size_t>(count) * 3, ' ');
    for (std::size_t i = 0, at = 0; i < static_cast<std::size_t>(count); ++i, at += 3) {
        text[at] = kDigits[bytes[i] >> 4];
        text[at + 1] = kDigits[bytes[i] & 0x0F];
    }
    return text;
}
