#include "platform/hex_text.h"

#include "platform/ascii.h"

namespace platform {

std::string HexBytes(const unsigned char* bytes, std::size_t count) {
    constexpr auto& kDigits = ascii::kUpperHexDigits;
    if (bytes == nullptr || count == 0) {
        return {};
    }
    // Written in place: a packet of the relay's may be 2048 bytes long.
    std::string text(count * 3 - 1, ' ');
    for (std::size_t i = 0, at = 0; i < count; ++i, at += 3) {
        text[at] = kDigits[bytes[i] >> 4];
        text[at + 1] = kDigits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace platform
