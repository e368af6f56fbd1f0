#include "platform/environment.h"

#include <stdlib.h>

#include "platform/code_page.h"

namespace platform {

std::optional<std::u16string> EnvironmentValue(std::u16string_view name) {
    const std::string native = codepage::Utf16ToUtf8(name);
    if (native.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    const char* value = getenv(native.c_str());
    if (value == nullptr) {
        return std::nullopt;
    }
    return codepage::Utf8ToUtf16(value);
}

bool SetEnvironmentValue(std::u16string_view name, const std::optional<std::u16string>& value) {
    const std::string native = codepage::Utf16ToUtf8(name);
    if (native.empty() || native.find_first_of(std::string_view("=\0", 2)) != std::string::npos) {
        return false;
    }
    if (!value) {
        return unsetenv(native.c_str()) == 0;
    }
    const std::string nativeValue = codepage::Utf16ToUtf8(*value);
    if (nativeValue.find('\0') != std::string::npos) {
        return false;
    }
    return setenv(native.c_str(), nativeValue.c_str(), 1) == 0;
}

}  // namespace platform
