#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Bytes as text for people and logs: two upper-case hex digits a byte, the bytes one space apart
// ("1A 00 FF"). Empty for no bytes.
std::string HexBytes(const unsigned char* bytes, std::size_t count);

}  // namespace platform
