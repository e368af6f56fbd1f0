#include "webservice/reader/ansi_text.h"

#include <algorithm>

#include "platform/code_page.h"

std::string AnsiToUtf8(std::string_view narrow) {
    narrow = narrow.substr(0, narrow.find('\0'));
    // ASCII reads the same in the ANSI code page and in UTF-8: the photo's base64 text, the one
    // long text that comes this way, needs no conversion.
    if (std::all_of(narrow.begin(), narrow.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return std::string(narrow);
    }
    const auto wide = platform::codepage::ToUtf16(platform::codepage::kAnsi, narrow);
    return wide ? platform::codepage::Utf16ToUtf8(*wide) : std::string();
}
