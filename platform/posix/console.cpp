#include "platform/console.h"

#include <cstdio>
#include <string>

#include "platform/code_page.h"

namespace platform {
namespace {

void WriteLine(std::FILE* stream, std::u16string_view text) {
    const std::string line = codepage::Utf16ToUtf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

}  // namespace

void WriteOutputLine(std::u16string_view text) {
    WriteLine(stdout, text);
}

void WriteErrorLine(std::u16string_view text) {
    WriteLine(stderr, text);
}

}  // namespace platform
