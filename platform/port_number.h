#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/ascii.h"

namespace platform {

// A TCP port written as text: a decimal number from 0 to 65535 of at most five digits and
// nothing else (no sign, no blanks). Nothing for any other text, the empty one included.
template <typename Char>
std::optional<std::uint16_t> ParsePortNumber(std::basic_string_view<Char> text) {
    constexpr std::size_t kMostDigits = 5;
    if (text.empty() || text.size() > kMostDigits) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const Char c : text) {
        if (!ascii::IsDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - Char('0'));
    }
    if (value > UINT16_MAX) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace platform
