#pragma once

// What the platform tests expect of this system's names.
namespace platform_names {

// A library every system has, and a function of it: double cos(double).
constexpr const char16_t* kSystemLibrary = u"libm.so.6";
constexpr const char16_t* kMissingLibrary = u"/nonexistent/libnothing.so";
constexpr const char16_t* kTrovikFileName = u"libTrovik.so";
constexpr const char16_t* kTestProgramFileName = u"platform_tests";

}  // namespace platform_names
