// Lines go straight to the standard handles rather than through a C runtime's buffered stream:
// each DLL of the suite links its own runtime, and only the handles are shared by them all.
#include "platform/console.h"

#include <windows.h>

#include <string>

#include "platform/code_page.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

void WriteAll(HANDLE handle, const std::string& bytes) {
    const char* next = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, next, static_cast<DWORD>(left), &written, nullptr) || written == 0) {
            return;
        }
        next += written;
        left -= written;
    }
}

// A console shows the text itself, whatever its code page; a file or a pipe gets the suite's
// narrow text, GBK, with the system's line end.
void WriteLine(DWORD which, std::u16string_view text) {
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring line = win32::ToWide(text) + L"\r\n";
        DWORD written = 0;
        WriteConsoleW(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    WriteAll(handle, codepage::FromUtf16(codepage::kGbk, text).value_or(std::string()) + "\r\n");
}

}  // namespace

void WriteOutputLine(std::u16string_view text) {
    WriteLine(STD_OUTPUT_HANDLE, text);
}

void WriteErrorLine(std::u16string_view text) {
    WriteLine(STD_ERROR_HANDLE, text);
}

}  // namespace platform
