// Each scope's registrations live in one text file. A change reads the file, changes it in
// memory and writes it back atomically while holding a lock on its directory, so that two
// programs registering at once cannot lose each other's entries.
#include "platform/registration_store.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>

#include "platform/code_page.h"
#include "platform/posix/descriptor.h"
#include "platform/posix/file_contents.h"
#include "platform/posix/registration_file.h"
#include "platform/system_error.h"

namespace platform {
namespace {

using posix::RegistrationKey;
using posix::RegistrationKeys;

constexpr char kMachineFile[] = "machine.reg";
constexpr char kUserFile[] = "user.reg";
constexpr mode_t kDirectoryMode = 0755;
constexpr mode_t kFileMode = 0644;

std::string Utf8(std::u16string_view text) {
    return codepage::Utf16ToUtf8(text);
}

std::string HomeDirectory() {
    if (const char* home = getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

// The directory the place's root variable names; null when it is not set.
const char* RootDirectory(const RegistrationPlace& place) {
    const char* root = getenv(Utf8(place.rootVariable).c_str());
    return root != nullptr && root[0] != '\0' ? root : nullptr;
}

// The file of a scope; empty when the per-user store has no place (no home directory).
std::string StoreFile(RegistrationScope scope, const RegistrationPlace& place) {
    const bool machine = scope == RegistrationScope::Machine;
    if (const char* root = RootDirectory(place)) {
        return std::string(root) + "/" + (machine ? kMachineFile : kUserFile);
    }
    if (machine) {
        return Utf8(place.machineDirectory) + "/" + kMachineFile;
    }
    const std::string folder = "/" + Utf8(place.userFolder) + "/" + kUserFile;
    if (const char* config = getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
        return std::string(config) + folder;
    }
    const std::string home = HomeDirectory();
    return home.empty() ? "" : home + "/.config" + folder;
}

// Failures of the store's files that have no number of their own.
uint32_t ErrorOf(int errnoValue) {
    return posix::FileError(errnoValue, error::kRegistryIoFailed);
}

// Reads a store file; a file that does not exist is an empty store.
uint32_t Load(const std::string& file, RegistrationKeys& keys, std::u16string& problem) {
    keys.keys.clear();
    if (file.empty()) {
        return 0;
    }
    std::string text;
    if (const int readError = posix::ReadFileContents(file, text)) {
        if (readError == ENOENT) {
            return 0;
        }
        problem = codepage::Utf8ToUtf16("cannot read the registration store " + file + ": " +
                                        strerror(readError));
        return ErrorOf(readError);
    }
    std::string why;
    if (!posix::ParseRegistrations(text, keys, why)) {
        problem = codepage::Utf8ToUtf16("the registration store " + file + " is damaged (" + why +
                                        "); repair it or remove it and register again");
        return error::kRegistryCorrupt;
    }
    return 0;
}

// An exclusive lock on a directory, released when the descriptor goes.
posix::Descriptor LockDirectory(const std::string& directory) {
    posix::Descriptor lock(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (lock.IsOpen()) {
        while (flock(lock.Get(), LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    return lock;
}

// Applies change to the stored keys and stores the result. change answers 0 to have the result
// written, or a failure number to leave the store as it is.
uint32_t Change(const std::string& file, std::u16string& problem,
                const std::function<uint32_t(RegistrationKeys&)>& change) {
    if (file.empty()) {
        problem = u"the per-user registration store has no place: there is no home directory";
        return error::kPathNotFound;
    }
    const std::string directory = posix::DirectoryOf(file);
    if (const int made = posix::MakeDirectories(directory, kDirectoryMode)) {
        problem = codepage::Utf8ToUtf16("cannot create the directory " + directory + ": " +
                                        strerror(made));
        return ErrorOf(made);
    }
    const posix::Descriptor lock = LockDirectory(directory);
    RegistrationKeys keys;
    if (const uint32_t loaded = Load(file, keys, problem)) {
        return loaded;
    }
    if (const uint32_t changed = change(keys)) {
        return changed;
    }
    const int written = posix::ReplaceFileAtomically(file, FormatRegistrations(keys), kFileMode);
    if (written != 0) {
        problem = codepage::Utf8ToUtf16("cannot write the registration store " + file + ": " +
                                        strerror(written));
        return ErrorOf(written);
    }
    return 0;
}

Result<std::u16string> QueryIn(const RegistrationKeys& keys, const std::string& key,
                               const std::string& name) {
    const RegistrationKey* found = keys.Find(key);
    const posix::RegistrationValue* entry = found != nullptr ? found->Value(name) : nullptr;
    if (entry == nullptr) {
        return Result<std::u16string>::Failure(error::kFileNotFound);
    }
    return codepage::Utf8ToUtf16(entry->text);
}

}  // namespace

std::vector<std::u16string> RegistrationEnvironment(const RegistrationPlace& place) {
    const char* root = RootDirectory(place);
    if (root == nullptr) {
        return {};
    }
    const std::string absolute = posix::RealPath(root);
    return {place.rootVariable + u"=" + codepage::Utf8ToUtf16(absolute.empty() ? root : absolute)};
}

RegistrationStore::RegistrationStore(RegistrationScope scope, RegistrationPlace place)
    : scope_(scope), place_(std::move(place)) {}

uint32_t RegistrationStore::OpenKey(std::u16string_view key) const {
    problem_.clear();
    RegistrationKeys keys;
    if (const uint32_t loaded = Load(StoreFile(scope_, place_), keys, problem_)) {
        return loaded;
    }
    return keys.Exists(Utf8(key)) ? 0 : error::kFileNotFound;
}

Result<std::u16string> RegistrationStore::QueryValue(std::u16string_view key,
                                                     std::u16string_view name) const {
    problem_.clear();
    RegistrationKeys keys;
    if (const uint32_t loaded = Load(StoreFile(scope_, place_), keys, problem_)) {
        return Result<std::u16string>::Failure(loaded);
    }
    return QueryIn(keys, Utf8(key), Utf8(name));
}

uint32_t RegistrationStore::SetValue(std::u16string_view key, std::u16string_view name,
                                     std::u16string_view value) {
    problem_.clear();
    const std::string path = Utf8(key);
    if (!posix::IsValidKeyPath(path)) {
        problem_ = u"not a registration key name: " + std::u16string(key);
        return error::kInvalidParameter;
    }
    return Change(StoreFile(scope_, place_), problem_, [&](RegistrationKeys& keys) -> uint32_t {
        keys.Create(path).SetValue(Utf8(name), Utf8(value));
        return 0;
    });
}

uint32_t RegistrationStore::DeleteValue(std::u16string_view key, std::u16string_view name) {
    problem_.clear();
    return Change(StoreFile(scope_, place_), problem_, [&](RegistrationKeys& keys) -> uint32_t {
        RegistrationKey* found = keys.Find(Utf8(key));
        return found != nullptr && found->EraseValue(Utf8(name)) ? 0 : error::kFileNotFound;
    });
}

uint32_t RegistrationStore::DeleteKey(std::u16string_view key) {
    problem_.clear();
    return Change(StoreFile(scope_, place_), problem_, [&](RegistrationKeys& keys) -> uint32_t {
        const std::string path = Utf8(key);
        if (keys.HasSubKeys(path)) {
            return error::kAccessDenied;
        }
        if (keys.Find(path) == nullptr) {
            return error::kFileNotFound;
        }
        keys.Erase(path);
        return 0;
    });
}

namespace {

// Loads both stores and picks the one whose key stands: the user's when it has the key.
uint32_t LoadMerged(const RegistrationPlace& place, std::u16string_view key,
                    RegistrationKeys& chosen, std::u16string& problem) {
    problem.clear();
    RegistrationKeys user;
    if (const uint32_t loaded = Load(StoreFile(RegistrationScope::PerUser, place), user, problem)) {
        return loaded;
    }
    if (user.Exists(Utf8(key))) {
        chosen = std::move(user);
        return 0;
    }
    return Load(StoreFile(RegistrationScope::Machine, place), chosen, problem);
}

}  // namespace

ClassesRoot::ClassesRoot(RegistrationPlace place) : place_(std::move(place)) {}

uint32_t ClassesRoot::OpenKey(std::u16string_view key) const {
    RegistrationKeys keys;
    if (const uint32_t loaded = LoadMerged(place_, key, keys, problem_)) {
        return loaded;
    }
    return keys.Exists(Utf8(key)) ? 0 : error::kFileNotFound;
}

Result<std::u16string> ClassesRoot::QueryValue(std::u16string_view key,
                                               std::u16string_view name) const {
    RegistrationKeys keys;
    if (const uint32_t loaded = LoadMerged(place_, key, keys, problem_)) {
        return Result<std::u16string>::Failure(loaded);
    }
    return QueryIn(keys, Utf8(key), Utf8(name));
}

}  // namespace platform
