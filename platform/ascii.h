#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

// ASCII letter case, digits and hex digits, for narrow and UTF-16 text alike. Names of protocols
// and of registrations compare this way on every system, whatever the user's locale: only A to Z
// fold, every other character stands for itself.
namespace platform::ascii {

template <typename Char>
constexpr Char ToLower(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

template <typename Char>
constexpr bool IsDigit(Char c) {
    return c >= Char('0') && c <= Char('9');
}

template <typename Char>
constexpr bool IsUpper(Char c) {
    return c >= Char('A') && c <= Char('Z');
}

template <typename Char>
constexpr bool IsAlphanumeric(Char c) {
    return IsDigit(c) || IsUpper(c) || (c >= Char('a') && c <= Char('z'));
}

// The value of a hex digit of either case; -1 for any other character.
template <typename Char>
constexpr int HexDigitValue(Char c) {
    if (IsDigit(c)) {
        return static_cast<int>(c - Char('0'));
    }
    const Char lower = ToLower(c);
    return lower >= Char('a') && lower <= Char('f') ? static_cast<int>(lower - Char('a')) + 10 : -1;
}

// The digit of each value from 0 to 15.
constexpr char kUpperHexDigits[] = "0123456789ABCDEF";
constexpr char kLowerHexDigits[] = "0123456789abcdef";

// The text with every letter A to Z as a to z.
inline std::string Lowered(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), ToLower<char>);
    return lowered;
}

namespace detail {

template <typename Char>
bool EqualsIgnoringCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](Char x, Char y) {
               return ToLower(x) == ToLower(y);
           });
}

}  // namespace detail

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return detail::EqualsIgnoringCase(a, b);
}

inline bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return detail::EqualsIgnoringCase(a, b);
}

// The text without the given characters at its ends: blanks (spaces and tabs) unless said.
inline std::string_view Trim(std::string_view text, std::string_view characters = " \t") {
    const std::size_t first = text.find_first_not_of(characters);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(characters) - first + 1);
}

// Orders names as if every letter were lower case: names that differ only in case are equivalent.
inline bool LessIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](char16_t x, char16_t y) { return ToLower(x) < ToLower(y); });
}

}  // namespace platform::ascii
