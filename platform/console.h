#pragma once

#include <string_view>

namespace platform {

// Lines for the person who started the program, in the console's encoding, written through at
// once so that they keep their order with everything else the program prints.
void WriteOutputLine(std::u16string_view text);
void WriteErrorLine(std::u16string_view text);

}  // namespace platform
