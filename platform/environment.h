#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The environment variables of this process, as UTF-16 text.
namespace platform {

// The value of the variable `name`; nothing when it is not set.
std::optional<std::u16string> EnvironmentValue(std::u16string_view name);

// Sets the variable `name` to `value`, or removes it when value is nothing. kInvalidParameter
// for a name that is empty or holds '=' or a NUL, or a value that holds a NUL.
uint32_t SetEnvironmentValue(std::u16string_view name, const std::optional<std::u16string>& value);

}  // namespace platform
