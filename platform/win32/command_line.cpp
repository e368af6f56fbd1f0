#include "platform/command_line.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform {

std::u16string ProgramCommandLine(int, const char* const*) {
    return win32::FromWide(GetCommandLineW());
}

}  // namespace platform
