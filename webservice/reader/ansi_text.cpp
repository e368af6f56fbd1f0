#include "webservice/reader/ansi_text.h"

#include "platform/code_page.h"

std::string AnsiToUtf8(std::string_view narrow) {
    narrow = narrow.substr(0, narrow.find('\0'));
    const auto wide = platform::codepage::ToUtf16(platform::codepage::kAnsi, narrow);
    return wide ? platform::codepage::Utf16ToUtf8(*wide) : std::string();
}
