#pragma once

#include <string>

namespace platform {

// The command line the program was started with, as one text to scan for switches. Where the
// system hands a program its arguments apart (POSIX), the arguments after the program's own name
// joined by single blanks; where it keeps the line whole (Windows), that line, the program's name
// first, and the arguments are not looked at.
std::u16string ProgramCommandLine(int argc, const char* const* argv);

}  // namespace platform
