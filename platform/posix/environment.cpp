#include "platform/environment.h"

#include <stdlib.h>

#include "platform/code_page.h"
#include "platform/system_error.h"

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

uint32_t SetEnvironmentValue(std::u16string_view name, const std::optional<std::u16string>& value) {
    const std::string native = codepage::Utf16ToUtf8(name);
    if (native.empty() || native.find_first_of(std::string_view("=\0", 2)) != std::string::npos) {
        return error::kInvalidParameter;
    }
    if (!value) {
        return unsetenv(native.c_str()) == 0 ? error::kNone : error::kInvalidParameter;
    }
    const std::string nativeValue = codepage::Utf16ToUtf8(*value);
    if (nativeValue.find('\0') != std::string::npos) {
        return error::kInvalidParameter;
    }
    return setenv(native.c_str(), nativeValue.c_str(), 1) == 0 ? error::kNone
                                                               : error::kNotEnoughMemory;
}

}  // namespace platform
