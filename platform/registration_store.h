#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace platform {

// Whose registrations a store holds: the machine's, or the current user's.
enum class RegistrationScope { Machine, PerUser };

// Where a system without a registry keeps a program's stores, as the program names them; a
// system with a registry keeps them in its registry and ignores this.
struct RegistrationPlace {
    // The directory of the machine's store.
    std::u16string machineDirectory;
    // The folder of the current user's store, in the user's configuration directory.
    std::u16string userFolder;
    // The environment variable that, when set, puts both stores in the directory it names.
    std::u16string rootVariable;
};

// The registrations of one scope, the counterpart of the registry's classes root. Keys are paths
// of names joined by backslashes ("AppID\Program.EXE"); each key holds named text values, the
// empty name standing for the key's default value. Key and value names compare without regard
// to ASCII letter case. Every call answers 0 or a failure number of platform/system_error.h;
// a change is stored at once, whole or not at all.
class RegistrationStore {
  public:
    RegistrationStore(RegistrationScope scope, RegistrationPlace place);

    // 0 when the key exists, kFileNotFound when it does not.
    uint32_t OpenKey(std::u16string_view key) const;
    // The value's text; kFileNotFound when the key or the value does not exist.
    Result<std::u16string> QueryValue(std::u16string_view key, std::u16string_view name) const;
    // Creates the key when it does not exist.
    uint32_t SetValue(std::u16string_view key, std::u16string_view name, std::u16string_view value);
    // kFileNotFound when the key or the value does not exist.
    uint32_t DeleteValue(std::u16string_view key, std::u16string_view name);
    // Deletes a key and its values; kFileNotFound when it does not exist, kAccessDenied while it
    // has sub-keys.
    uint32_t DeleteKey(std::u16string_view key);

    // What went wrong in the last failed call, for a person to act on: where the store is and
    // why it could not be used. Empty when nothing failed.
    const std::u16string& Problem() const { return problem_; }

  private:
    RegistrationScope scope_;
    RegistrationPlace place_;
    mutable std::u16string problem_;
};

// The registrations as a program reads them: a key of the current user's store stands in for the
// machine's key of the same path, values and all.
class ClassesRoot {
  public:
    explicit ClassesRoot(RegistrationPlace place);

    uint32_t OpenKey(std::u16string_view key) const;
    Result<std::u16string> QueryValue(std::u16string_view key, std::u16string_view name) const;
    const std::u16string& Problem() const { return problem_; }

  private:
    RegistrationPlace place_;
    mutable std::u16string problem_;
};

// What a program started by the service manager needs in its environment to find the stores this
// process uses: "NAME=directory" settings, none when the stores are where they always are.
std::vector<std::u16string> RegistrationEnvironment(const RegistrationPlace& place);

}  // namespace platform
