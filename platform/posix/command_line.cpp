#include "platform/command_line.h"

#include "platform/code_page.h"

namespace platform {

std::u16string ProgramCommandLine(int argc, const char* const* argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            line += ' ';
        }
        line += argv[i];
    }
    return codepage::Utf8ToUtf16(line);
}

}  // namespace platform
