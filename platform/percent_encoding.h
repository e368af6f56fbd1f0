#pragma once

#include <cstddef>
#include <string>

#include "platform/ascii.h"

namespace platform {

// How long one byte is once percent-encoded.
constexpr std::size_t kPercentEncodedLength = 3;

// Appends one byte percent-encoded, as URLs and forms carry a byte that may not stand as it is:
// "%" and two upper-case hex digits.
inline void AppendPercentEncoded(std::string& out, unsigned char byte) {
    out.push_back('%');
    out.push_back(ascii::kUpperHexDigits[byte >> 4]);
    out.push_back(ascii::kUpperHexDigits[byte & 0x0F]);
}

}  // namespace platform
