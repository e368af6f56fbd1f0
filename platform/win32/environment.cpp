#include "platform/environment.h"

#include <windows.h>

#include "platform/system_error.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

bool IsValidName(std::u16string_view name) {
    return !name.empty() && name.find_first_of(std::u16string_view(u"=\0", 2)) == name.npos;
}

}  // namespace

std::optional<std::u16string> EnvironmentValue(std::u16string_view name) {
    if (!IsValidName(name)) {
        return std::nullopt;
    }
    const std::wstring wideName = win32::ToWide(name);
    std::wstring value(64, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(),
                                                     static_cast<DWORD>(value.size()));
        // 0 is an empty value as well as a missing one; only the last error tells them apart.
        if (length == 0) {
            return GetLastError() == ERROR_SUCCESS ? std::optional(std::u16string()) : std::nullopt;
        }
        // Too small: the length asked for counts the terminator.
        if (length < value.size()) {
            value.resize(length);
            return win32::FromWide(value);
        }
        value.resize(length);
    }
}

uint32_t SetEnvironmentValue(std::u16string_view name, const std::optional<std::u16string>& value) {
    if (!IsValidName(name) || (value && value->find(u'\0') != std::u16string::npos)) {
        return error::kInvalidParameter;
    }
    const std::wstring wideName = win32::ToWide(name);
    if (!value) {
        // Removing a variable that is not set is no failure, as on other systems.
        return SetEnvironmentVariableW(wideName.c_str(), nullptr) != 0 ||
                       GetLastError() == ERROR_ENVVAR_NOT_FOUND
                   ? error::kNone
                   : GetLastError();
    }
    return SetEnvironmentVariableW(wideName.c_str(), win32::ToWide(*value).c_str()) != 0
               ? error::kNone
               : GetLastError();
}

}  // namespace platform
