#pragma once

#include <string_view>

namespace platform {

// Tells the person who runs the program about a failure and waits until it has been seen: a
// message box with one OK button where the system has them (Windows), else one line
// "caption: text" on standard error.
void ShowMessageBox(std::u16string_view caption, std::u16string_view text);

}  // namespace platform
