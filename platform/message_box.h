#pragma once

#include <string_view>

namespace platform {

// Tells the person who runs the program about a failure and waits until it has been seen. Here:
// one line "caption: text" on standard error.
void ShowMessageBox(std::u16string_view caption, std::u16string_view text);

}  // namespace platform
