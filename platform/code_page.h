#pragma once

#include <string>
#include <string_view>

#include "platform/result.h"

// Conversions between UTF-16 text and the narrow code pages the system meets: the system's
// ANSI code page (GBK on Linux, as on a Chinese Windows desktop), GBK by name, UTF-8 and UTF-7.
namespace platform::codepage {

constexpr unsigned kAnsi = 0;  // the system's ANSI code page
constexpr unsigned kGbk = 936;
constexpr unsigned kUtf7 = 65000;
constexpr unsigned kUtf8 = 65001;

// Narrow text in the given code page to UTF-16. A byte sequence the code page does not define
// becomes U+FFFD. kInvalidParameter when the code page is not known.
Result<std::u16string> ToUtf16(unsigned codePage, std::string_view text);

// UTF-16 text to the given code page. A character the code page lacks becomes its default
// character '?'. kInvalidParameter when the code page is not known.
Result<std::string> FromUtf16(unsigned codePage, std::u16string_view text);

// Lossless conversions between UTF-16 and UTF-8. An unpaired surrogate, or a malformed UTF-8
// sequence, becomes U+FFFD; nothing else changes.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace platform::codepage
