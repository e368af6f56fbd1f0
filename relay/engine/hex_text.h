#pragma once

#include <string>

// Packet bytes as log text: two upper-case hex digits and one space for each of the first count
// bytes ("1A 00 FF "). Empty when count is 0 or less.
std::string ToHexText(const unsigned char* bytes, int count);
