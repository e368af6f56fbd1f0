#pragma once

#include <string>
#include <string_view>
#include <vector>

// The text file that holds one scope's registrations, readable and editable by a person:
//
//   Registration store 1
//   ; a comment
//   [AppID\{00000000-0000-0000-0000-000000000000}]
//   @="Program"
//   "LocalService"="..."
//
//   End of registration store
//
// "@" names a key's default value. Inside double quotes \\, \", \n and \r stand for themselves.
// The first and the last line make a file that was cut short or mangled recognisable as such.
namespace platform::posix {

struct RegistrationValue {
    std::string name;  // empty: the key's default value
    std::string text;
};

struct RegistrationKey {
    std::string path;
    std::vector<RegistrationValue> values;

    const RegistrationValue* Value(std::string_view name) const;
    void SetValue(std::string_view name, std::string_view text);
    bool EraseValue(std::string_view name);
};

// Names of keys and values compare without regard to ASCII letter case, as the registry does.
bool SameName(std::string_view a, std::string_view b);

// A store's keys, in the order they are written.
struct RegistrationKeys {
    std::vector<RegistrationKey> keys;

    const RegistrationKey* Find(std::string_view path) const;
    RegistrationKey* Find(std::string_view path);
    // A key exists when it is stored, or when a key below it is.
    bool Exists(std::string_view path) const;
    bool HasSubKeys(std::string_view path) const;
    RegistrationKey& Create(std::string_view path);
    void Erase(std::string_view path);
};

std::string FormatRegistrations(const RegistrationKeys& keys);

// False when text is not a whole, well-formed store; `problem` then tells the line and what is
// wrong with it.
bool ParseRegistrations(std::string_view text, RegistrationKeys& keys, std::string& problem);

// True for a path of one or more non-empty names joined by backslashes, without line breaks,
// brackets at its ends or other control characters.
bool IsValidKeyPath(std::string_view path);

}  // namespace platform::posix
