#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The separator between the parts of a path on this system.
extern const char16_t kPathSeparator;

// Full path of the running program with every link resolved; empty when it cannot be
// determined.
std::u16string ProgramPath();

// Directory of the running program, without a trailing separator; empty when it cannot be
// determined.
std::u16string ProgramDirectory();

// Path of the program or shared library whose code or data holds address, as the system loaded
// it; empty when it cannot be determined. A shared library finds the files that ship
// beside it through the address of one of its own functions.
std::u16string ModuleFileOf(const void* address);

// Makes directory the process's current directory.
uint32_t ChangeCurrentDirectory(const std::u16string& directory);

}  // namespace platform
