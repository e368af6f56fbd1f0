// The registry's classes: the machine's under HKEY_LOCAL_MACHINE\Software\Classes, the current
// user's under HKEY_CURRENT_USER\Software\Classes, and the merged view that programs read under
// HKEY_CLASSES_ROOT, where the registry itself lets a user's key stand in for the machine's. The
// registry keeps the registrations, so the place a program names for its stores is not used.
#include "platform/registration_store.h"

#include <windows.h>

#include <string>

#include "platform/system_error.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

using win32::ToWide;

struct Root {
    HKEY key;
    const char16_t* path;  // where the entries are, for a person to find them
    const wchar_t* subKey;
};

const Root kMachine{HKEY_LOCAL_MACHINE, u"HKEY_LOCAL_MACHINE\\Software\\Classes",
                    L"Software\\Classes\\"};
const Root kUser{HKEY_CURRENT_USER, u"HKEY_CURRENT_USER\\Software\\Classes",
                 L"Software\\Classes\\"};
const Root kMerged{HKEY_CLASSES_ROOT, u"HKEY_CLASSES_ROOT", L""};

const Root& RootOf(RegistrationScope scope) {
    return scope == RegistrationScope::Machine ? kMachine : kUser;
}

// An open key, closed when the owner goes.
class Key {
  public:
    ~Key() {
        if (handle_ != nullptr) {
            RegCloseKey(handle_);
        }
    }
    HKEY* Receive() { return &handle_; }
    HKEY Get() const { return handle_; }

  private:
    HKEY handle_ = nullptr;
};

std::wstring PathOf(const Root& root, std::u16string_view key) {
    return root.subKey + ToWide(key);
}

uint32_t Open(const Root& root, std::u16string_view key, REGSAM access, Key& opened) {
    return RegOpenKeyExW(root.key, PathOf(root, key).c_str(), 0, access, opened.Receive());
}

Result<std::u16string> Query(const Root& root, std::u16string_view key, std::u16string_view name) {
    Key opened;
    if (const uint32_t result = Open(root, key, KEY_QUERY_VALUE, opened)) {
        return Result<std::u16string>::Failure(result);
    }
    const std::wstring valueName = ToWide(name);
    std::wstring text;
    DWORD type = 0;
    DWORD size = 0;
    LONG result = RegQueryValueExW(opened.Get(), valueName.c_str(), nullptr, &type, nullptr, &size);
    // The value may grow between the calls: ask again until it fits.
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            return Result<std::u16string>::Failure(error::kInvalidParameter);
        }
        text.resize(size / sizeof(wchar_t) + 1);
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        result = RegQueryValueExW(opened.Get(), valueName.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(text.data()), &size);
        if (result == ERROR_SUCCESS) {
            text.resize(size / sizeof(wchar_t));
            // The stored text usually carries its terminating null, but need not.
            while (!text.empty() && text.back() == L'\0') {
                text.pop_back();
            }
            return win32::FromWide(text);
        }
    }
    return Result<std::u16string>::Failure(static_cast<uint32_t>(result));
}

// What a person is told when a key could not be used; nothing for a key that is not there.
std::u16string ProblemOf(uint32_t result, const Root& root, std::u16string_view key,
                         std::u16string_view doing) {
    if (result == error::kNone || result == error::kFileNotFound) {
        return {};
    }
    const std::string number = std::to_string(result);
    return u"the registry key " + std::u16string(root.path) + u"\\" + std::u16string(key) +
           u" could not be " + std::u16string(doing) + u" (error " +
           std::u16string(number.begin(), number.end()) + u")";
}

}  // namespace

std::vector<std::u16string> RegistrationEnvironment(const RegistrationPlace&) {
    return {};
}

RegistrationStore::RegistrationStore(RegistrationScope scope, RegistrationPlace place)
    : scope_(scope), place_(std::move(place)) {}

uint32_t RegistrationStore::OpenKey(std::u16string_view key) const {
    Key opened;
    const uint32_t result = Open(RootOf(scope_), key, KEY_READ, opened);
    problem_ = ProblemOf(result, RootOf(scope_), key, u"read");
    return result;
}

Result<std::u16string> RegistrationStore::QueryValue(std::u16string_view key,
                                                     std::u16string_view name) const {
    Result<std::u16string> value = Query(RootOf(scope_), key, name);
    problem_ = ProblemOf(value.Error(), RootOf(scope_), key, u"read");
    return value;
}

uint32_t RegistrationStore::SetValue(std::u16string_view key, std::u16string_view name,
                                     std::u16string_view value) {
    const Root& root = RootOf(scope_);
    Key created;
    uint32_t result =
        RegCreateKeyExW(root.key, PathOf(root, key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, created.Receive(), nullptr);
    if (result == error::kNone) {
        const std::wstring text = ToWide(value);
        result = RegSetValueExW(created.Get(), ToWide(name).c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(text.c_str()),
                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    problem_ = ProblemOf(result, root, key, u"written");
    return result;
}

uint32_t RegistrationStore::DeleteValue(std::u16string_view key, std::u16string_view name) {
    const Root& root = RootOf(scope_);
    Key opened;
    uint32_t result = Open(root, key, KEY_SET_VALUE, opened);
    if (result == error::kNone) {
        result = RegDeleteValueW(opened.Get(), ToWide(name).c_str());
    }
    problem_ = ProblemOf(result, root, key, u"changed");
    return result;
}

uint32_t RegistrationStore::DeleteKey(std::u16string_view key) {
    const Root& root = RootOf(scope_);
    const uint32_t result = RegDeleteKeyW(root.key, PathOf(root, key).c_str());
    // A key with sub-keys is refused as access denied, which is what the caller is told.
    problem_ = result == error::kAccessDenied ? std::u16string()
                                              : ProblemOf(result, root, key, u"deleted");
    return result;
}

ClassesRoot::ClassesRoot(RegistrationPlace place) : place_(std::move(place)) {}

uint32_t ClassesRoot::OpenKey(std::u16string_view key) const {
    Key opened;
    const uint32_t result = Open(kMerged, key, KEY_READ, opened);
    problem_ = ProblemOf(result, kMerged, key, u"read");
    return result;
}

Result<std::u16string> ClassesRoot::QueryValue(std::u16string_view key,
                                               std::u16string_view name) const {
    Result<std::u16string> value = Query(kMerged, key, name);
    problem_ = ProblemOf(value.Error(), kMerged, key, u"read");
    return value;
}

}  // namespace platform
