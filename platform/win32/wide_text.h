#pragma once

#include <string>
#include <string_view>

// The suite's UTF-16 text as the Windows calls take it: wchar_t is UTF-16 there, so the
// conversion copies the code units as they are.
namespace platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t holds UTF-16 on Windows");

inline std::wstring ToWide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

inline std::u16string FromWide(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

}  // namespace platform::win32
