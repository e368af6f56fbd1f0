#pragma once

// What the platform tests expect of this system's names.
namespace platform_names {

// A library every system has, and a function of it: double cos(double).
constexpr const char16_t* kSystemLibrary = u"msvcrt.dll";
constexpr const char16_t* kMissingLibrary = u"C:\\nonexistent\\nothing.dll";
constexpr const char16_t* kTrovikFileName = u"Trovik.dll";
constexpr const char16_t* kTestProgramFileName = u"platform_tests.exe";

}  // namespace platform_names
