#include "platform/posix/registration_file.h"

#include <algorithm>
#include <utility>

#include "platform/ascii.h"
#include "platform/code_page.h"

namespace platform::posix {
namespace {

constexpr std::string_view kHeader = "Registration store 1";
constexpr std::string_view kTrailer = "End of registration store";
constexpr std::string_view kComment =
    "; Registrations of programs, one [key] per section; @ is a key's default value.";

bool IsValidUtf8(std::string_view text) {
    return codepage::Utf16ToUtf8(codepage::Utf8ToUtf16(text)) == text;
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out + "\"";
}

// Reads a quoted text at line[pos], leaving pos after its closing quote.
bool Unquote(std::string_view line, size_t& pos, std::string& text, std::string& problem) {
    if (pos >= line.size() || line[pos] != '"') {
        problem = "a double quote is missing";
        return false;
    }
    text.clear();
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++pos == line.size()) {
            break;
        }
        switch (line[pos]) {
            case '\\':
            case '"':
                text += line[pos];
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            default:
                problem = "an unknown escape \\" + std::string(1, line[pos]);
                return false;
        }
    }
    problem = "a text does not end with a double quote";
    return false;
}

bool ParseValueLine(std::string_view line, RegistrationValue& value, std::string& problem) {
    size_t pos = 0;
    if (!line.empty() && line[0] == '@') {
        value.name.clear();
        pos = 1;
    } else if (!Unquote(line, pos, value.name, problem)) {
        return false;
    }
    if (pos >= line.size() || line[pos] != '=') {
        problem = "an entry lacks its '='";
        return false;
    }
    ++pos;
    if (!Unquote(line, pos, value.text, problem)) {
        return false;
    }
    if (pos != line.size()) {
        problem = "something follows the entry's text";
        return false;
    }
    return true;
}

bool IsBlank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
    return ascii::EqualsIgnoringCase(a, b);
}

const RegistrationValue* RegistrationKey::Value(std::string_view name) const {
    for (const auto& value : values) {
        if (SameName(value.name, name)) {
            return &value;
        }
    }
    return nullptr;
}

void RegistrationKey::SetValue(std::string_view name, std::string_view text) {
    for (auto& value : values) {
        if (SameName(value.name, name)) {
            value.text = text;
            return;
        }
    }
    values.push_back({std::string(name), std::string(text)});
}

bool RegistrationKey::EraseValue(std::string_view name) {
    const auto it = std::find_if(values.begin(), values.end(), [&](const RegistrationValue& v) {
        return SameName(v.name, name);
    });
    if (it == values.end()) {
        return false;
    }
    values.erase(it);
    return true;
}

const RegistrationKey* RegistrationKeys::Find(std::string_view path) const {
    for (const auto& key : keys) {
        if (SameName(key.path, path)) {
            return &key;
        }
    }
    return nullptr;
}

RegistrationKey* RegistrationKeys::Find(std::string_view path) {
    return const_cast<RegistrationKey*>(std::as_const(*this).Find(path));
}

bool RegistrationKeys::HasSubKeys(std::string_view path) const {
    return std::any_of(keys.begin(), keys.end(), [&](const RegistrationKey& key) {
        return key.path.size() > path.size() && key.path[path.size()] == '\\' &&
               SameName(std::string_view(key.path).substr(0, path.size()), path);
    });
}

bool RegistrationKeys::Exists(std::string_view path) const {
    return Find(path) != nullptr || HasSubKeys(path);
}

RegistrationKey& RegistrationKeys::Create(std::string_view path) {
    if (RegistrationKey* key = Find(path)) {
        return *key;
    }
    keys.push_back({std::string(path), {}});
    return keys.back();
}

void RegistrationKeys::Erase(std::string_view path) {
    keys.erase(std::remove_if(keys.begin(), keys.end(),
                              [&](const RegistrationKey& key) { return SameName(key.path, path); }),
               keys.end());
}

bool IsValidKeyPath(std::string_view path) {
    if (path.empty() || path.front() == '\\' || path.back() == '\\' || path.front() == '[' ||
        path.back() == ']' || path.find("\\\\") != std::string_view::npos) {
        return false;
    }
    return std::none_of(path.begin(), path.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

std::string FormatRegistrations(const RegistrationKeys& keys) {
    std::string out = std::string(kHeader) + "\n" + std::string(kComment) + "\n";
    for (const auto& key : keys.keys) {
        out += "\n[" + key.path + "]\n";
        for (const auto& value : key.values) {
            out += (value.name.empty() ? std::string("@") : Quote(value.name)) + "=" +
                   Quote(value.text) + "\n";
        }
    }
    return out + "\n" + std::string(kTrailer) + "\n";
}

bool ParseRegistrations(std::string_view text, RegistrationKeys& keys, std::string& problem) {
    keys.keys.clear();
    if (!IsValidUtf8(text)) {
        problem = "it is not UTF-8 text";
        return false;
    }
    RegistrationKey* current = nullptr;
    bool ended = false;
    size_t number = 0;
    auto fail = [&](const std::string& what) {
        problem = "line " + std::to_string(number) + ": " + what;
        return false;
    };
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (number == 1) {
            if (line != kHeader) {
                return fail("the first line is not \"" + std::string(kHeader) + "\"");
            }
            continue;
        }
        if (IsBlank(line) || line.front() == ';') {
            continue;
        }
        if (ended) {
            return fail("text follows \"" + std::string(kTrailer) + "\"");
        }
        if (line == kTrailer) {
            ended = true;
        } else if (line.front() == '[') {
            const std::string_view path = line.substr(1, line.size() - 1 - (line.back() == ']'));
            if (line.back() != ']' || !IsValidKeyPath(path)) {
                return fail("not a key name in [brackets]");
            }
            if (keys.Find(path) != nullptr) {
                return fail("the key [" + std::string(path) + "] appears twice");
            }
            current = &keys.Create(path);
        } else {
            RegistrationValue value;
            if (!ParseValueLine(line, value, problem)) {
                return fail(problem);
            }
            if (current == nullptr) {
                return fail("an entry stands before the first [key]");
            }
            if (current->Value(value.name) != nullptr) {
                return fail("the entry " + (value.name.empty() ? "@" : Quote(value.name)) +
                            " appears twice");
            }
            current->values.push_back(std::move(value));
        }
    }
    if (number == 0) {
        problem = "it is empty";
        return false;
    }
    if (!ended) {
        problem = "it is cut short: its last line is not \"" + std::string(kTrailer) + "\"";
        return false;
    }
    return true;
}

}  // namespace platform::posix
