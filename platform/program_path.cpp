#include "platform/program_path.h"

namespace platform {

std::u16string ProgramDirectory() {
    const std::u16string program = ProgramPath();
    const auto separator = program.rfind(kPathSeparator);
    if (separator == std::u16string::npos) {
        return {};
    }
    return program.substr(0, separator);
}

}  // namespace platform
