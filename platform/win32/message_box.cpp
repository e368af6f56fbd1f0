#include "platform/message_box.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide_text.h"

namespace platform {

void ShowMessageBox(std::u16string_view caption, std::u16string_view text) {
    MessageBoxW(nullptr, win32::ToWide(text).c_str(), win32::ToWide(caption).c_str(), MB_OK);
}

}  // namespace platform
