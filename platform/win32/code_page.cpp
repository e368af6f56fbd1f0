// Legacy code pages through the system's own tables. The ANSI code page is the system's (GBK on
// a Chinese Windows desktop). The system's conversions are asked to refuse what they cannot
// convert, and such text is then converted a character at a time, so that the results are those
// the rest of the suite expects: U+FFFD for a byte sequence the code page does not define, and
// one default character for each character it lacks, a surrogate pair included.
#include <windows.h>

#include <climits>

#include "platform/code_page.h"
#include "platform/system_error.h"

namespace platform::codepage {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

UINT SystemCodePage(unsigned codePage) {
    return codePage == kAnsi ? CP_ACP : static_cast<UINT>(codePage);
}

// The ANSI code page always, and any other that this system has tables for.
bool Known(unsigned codePage) {
    return codePage == kAnsi || IsValidCodePage(static_cast<UINT>(codePage)) != 0;
}

// UTF-7 takes no flags and cannot tell what it refused.
bool Strict(UINT codePage) {
    return codePage != CP_UTF7;
}

// Appends the UTF-16 form of bytes; false when they hold a sequence the code page does not
// define.
bool AppendWide(UINT codePage, const char* bytes, int size, std::wstring& out) {
    const DWORD flags = Strict(codePage) ? MB_ERR_INVALID_CHARS : 0;
    const int needed = MultiByteToWideChar(codePage, flags, bytes, size, nullptr, 0);
    if (needed <= 0) {
        return false;
    }
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(needed));
    return MultiByteToWideChar(codePage, flags, bytes, size, out.data() + at, needed) == needed;
}

// Appends the narrow form of UTF-16 units; false when the code page lacks one of them.
bool AppendNarrow(UINT codePage, const wchar_t* units, int size, std::string& out) {
    BOOL usedDefault = FALSE;
    BOOL* lacking = Strict(codePage) && codePage != CP_UTF8 ? &usedDefault : nullptr;
    const int needed = WideCharToMultiByte(codePage, 0, units, size, nullptr, 0, nullptr, lacking);
    if (needed <= 0) {
        return false;
    }
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(needed));
    const int written =
        WideCharToMultiByte(codePage, 0, units, size, out.data() + at, needed, nullptr, nullptr);
    return written == needed && !usedDefault;
}

std::wstring ToWideSlowly(UINT codePage, std::string_view text) {
    std::wstring out;
    size_t at = 0;
    while (at < text.size()) {
        const bool lead = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[at])) != 0;
        const size_t width = lead && at + 1 < text.size() ? 2 : 1;
        if (AppendWide(codePage, text.data() + at, static_cast<int>(width), out)) {
            at += width;
        } else {
            out.push_back(kReplacement);
            ++at;
        }
    }
    return out;
}

std::string ToNarrowSlowly(UINT codePage, std::wstring_view text) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        const bool pair =
            IS_HIGH_SURROGATE(text[at]) && at + 1 < text.size() && IS_LOW_SURROGATE(text[at + 1]);
        const size_t width = pair ? 2 : 1;
        const size_t before = out.size();
        if (!AppendNarrow(codePage, text.data() + at, static_cast<int>(width), out)) {
            out.resize(before);
            out.push_back('?');
        }
        at += width;
    }
    return out;
}

}  // namespace

Result<std::u16string> ToUtf16(unsigned codePage, std::string_view text) {
    if (codePage == kUtf8) {
        return Utf8ToUtf16(text);
    }
    if (!Known(codePage) || text.size() > INT_MAX) {
        return Result<std::u16string>::Failure(error::kInvalidParameter);
    }
    const UINT system = SystemCodePage(codePage);
    std::wstring wide;
    if (!text.empty() && !AppendWide(system, text.data(), static_cast<int>(text.size()), wide)) {
        wide = ToWideSlowly(system, text);
    }
    return std::u16string(wide.begin(), wide.end());
}

Result<std::string> FromUtf16(unsigned codePage, std::u16string_view text) {
    if (codePage == kUtf8) {
        return Utf16ToUtf8(text);
    }
    if (!Known(codePage) || text.size() > INT_MAX) {
        return Result<std::string>::Failure(error::kInvalidParameter);
    }
    const UINT system = SystemCodePage(codePage);
    const std::wstring wide(text.begin(), text.end());
    std::string narrow;
    if (!wide.empty() &&
        !AppendNarrow(system, wide.data(), static_cast<int>(wide.size()), narrow)) {
        narrow = ToNarrowSlowly(system, wide);
    }
    return narrow;
}

}  // namespace platform::codepage
