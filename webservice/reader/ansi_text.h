#pragma once

#include <string>
#include <string_view>

// Narrow text in the system's ANSI code page (GBK), read up to its first NUL, as UTF-8 bytes
// without a terminator. Bytes the code page does not define become U+FFFD.
std::string AnsiToUtf8(std::string_view narrow);
