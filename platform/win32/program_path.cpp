#include "platform/program_path.h"

#include <windows.h>

#include <string>

#include "platform/system_error.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

// The file name of a module (null: the program's), in a buffer grown until the whole name fits.
std::wstring ModuleFileName(HMODULE module) {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        name.resize(name.size() * 2);
    }
}

// The long form of a path that may hold short (8.3) names, so that the program's directory reads
// as the user named it; the path as it is when the long form cannot be had.
std::wstring LongForm(const std::wstring& path) {
    const DWORD needed = GetLongPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0) {
        return path;
    }
    std::wstring longPath(needed, L'\0');
    const DWORD length = GetLongPathNameW(path.c_str(), longPath.data(), needed);
    if (length == 0 || length >= needed) {
        return path;
    }
    longPath.resize(length);
    return longPath;
}

// A module's file name in its long form; empty when it cannot be had.
std::u16string ModulePath(HMODULE module) {
    const std::wstring name = ModuleFileName(module);
    return name.empty() ? std::u16string() : win32::FromWide(LongForm(name));
}

}  // namespace

const char16_t kPathSeparator = u'\\';

std::u16string ProgramPath() {
    return ModulePath(nullptr);
}

std::u16string ModuleFileOf(const void* address) {
    HMODULE module = nullptr;
    // Asked about, not loaded again: the module's count of loads is left as it is.
    if (address == nullptr || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                      GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                  static_cast<LPCWSTR>(address), &module)) {
        return {};
    }
    return ModulePath(module);
}

uint32_t ChangeCurrentDirectory(const std::u16string& directory) {
    if (directory.find(u'\0') != std::u16string::npos) {
        return error::kInvalidParameter;
    }
    return SetCurrentDirectoryW(win32::ToWide(directory).c_str()) != 0 ? error::kNone
                                                                       : GetLastError();
}

}  // namespace platform
