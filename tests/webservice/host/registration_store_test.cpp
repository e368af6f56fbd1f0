#include "platform/registration_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/code_page.h"
#include "platform/system_error.h"
#include "tests/support/scratch_directory.h"
#include "webservice/host/service_identity.h"

namespace {

// A query's failure number; the text it read, when it read one, in value.
template <typename Store>
uint32_t QueryInto(const Store& store, std::u16string_view key, std::u16string_view name,
                   std::u16string& value) {
    const platform::Result<std::u16string> read = store.QueryValue(key, name);
    if (read) {
        value = *read;
    }
    return read.Error();
}

namespace fs = std::filesystem;
using platform::ClassesRoot;
using platform::RegistrationScope;
using platform::RegistrationStore;
namespace error = platform::error;
using ZembraIdentity::kRegistrationPlace;

// Sets an environment variable for the life of the object.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = getenv(name)) {
            old_ = old;
        }
        Set(value);
    }
    ~ScopedVariable() { Set(old_); }

  private:
    void Set(const std::optional<std::string>& value) {
        if (value) {
            setenv(name_, value->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    const char* name_;
    std::optional<std::string> old_;
};

class RegistrationStoreTest : public ::testing::Test {
  protected:
    fs::path MachineFile() const { return scratch_.Path() / "machine.reg"; }
    fs::path UserFile() const { return scratch_.Path() / "user.reg"; }

    void WriteFile(const fs::path& path, const std::string& text) const {
        std::ofstream(path, std::ios::binary) << text;
    }

    std::u16string Query(const RegistrationStore& store, std::u16string_view key,
                         std::u16string_view name) const {
        std::u16string value;
        EXPECT_EQ(QueryInto(store, key, name, value), error::kNone);
        return value;
    }

    ScratchDirectory scratch_;
    ScopedVariable root_{"ZEMBRA_REGISTRY_ROOT", scratch_.Path().string()};
};

TEST_F(RegistrationStoreTest, ValuesAreStoredPerScopeInAReadableFile) {
    RegistrationStore machine(RegistrationScope::Machine, kRegistrationPlace);
    RegistrationStore user(RegistrationScope::PerUser, kRegistrationPlace);
    ASSERT_EQ(machine.SetValue(u"AppID\\{X}", u"", u"Zembra"), error::kNone);
    ASSERT_EQ(machine.SetValue(u"AppID\\{X}", u"LocalService", u"服务 \"quoted\" \\ end"),
              error::kNone);
    ASSERT_EQ(user.SetValue(u"AppID\\Zembra.EXE", u"AppID", u"{X}"), error::kNone);

    EXPECT_EQ(ReadWholeFile(MachineFile()),
              "Registration store 1\n"
              "; Registrations of programs, one [key] per section; @ is a key's default value.\n"
              "\n"
              "[AppID\\{X}]\n"
              "@=\"Zembra\"\n"
              "\"LocalService\"=\"服务 \\\"quoted\\\" \\\\ end\"\n"
              "\n"
              "End of registration store\n");
    EXPECT_EQ(Query(machine, u"appid\\{x}", u"localservice"), u"服务 \"quoted\" \\ end");
    EXPECT_EQ(Query(machine, u"AppID\\{X}", u""), u"Zembra");
    EXPECT_EQ(Query(user, u"AppID\\Zembra.EXE", u"AppID"), u"{X}");
    std::u16string value;
    EXPECT_EQ(QueryInto(machine, u"AppID\\Zembra.EXE", u"AppID", value), error::kFileNotFound);
    EXPECT_EQ(user.OpenKey(u"AppID\\{X}"), error::kFileNotFound);
    // A key with a key below it exists too, as the registry has it.
    EXPECT_EQ(user.OpenKey(u"AppID"), error::kNone);
}

TEST_F(RegistrationStoreTest, TextsWithLineBreaksAndAnyCharacterComeBackUnchanged) {
    RegistrationStore store(RegistrationScope::Machine, kRegistrationPlace);
    const std::u16string texts[] = {u"",          u"a\nb\r\nc", u"tab\there", u"\\n is not a break",
                                    u"😀 𠀀 名字", u"=\"@[]"};
    for (const auto& text : texts) {
        ASSERT_EQ(store.SetValue(u"Key", text, text), error::kNone);
    }
    for (const auto& text : texts) {
        EXPECT_EQ(Query(store, u"Key", text), text);
    }
}

TEST_F(RegistrationStoreTest, DeletingFollowsTheRegistry) {
    RegistrationStore store(RegistrationScope::Machine, kRegistrationPlace);
    ASSERT_EQ(store.SetValue(u"A\\B", u"v", u"1"), error::kNone);
    ASSERT_EQ(store.SetValue(u"A", u"w", u"2"), error::kNone);
    EXPECT_EQ(store.DeleteValue(u"A\\B", u"missing"), error::kFileNotFound);
    EXPECT_EQ(store.DeleteValue(u"A\\B", u"V"), error::kNone);
    EXPECT_EQ(store.DeleteValue(u"A\\B", u"v"), error::kFileNotFound);
    EXPECT_EQ(store.OpenKey(u"A\\B"), error::kNone);         // a key outlives its last value
    EXPECT_EQ(store.DeleteKey(u"A"), error::kAccessDenied);  // not while it has sub-keys
    EXPECT_EQ(store.DeleteKey(u"a\\b"), error::kNone);
    EXPECT_EQ(store.DeleteKey(u"A\\B"), error::kFileNotFound);
    EXPECT_EQ(store.DeleteKey(u"A"), error::kNone);
    EXPECT_EQ(store.OpenKey(u"A"), error::kFileNotFound);
    EXPECT_EQ(store.SetValue(u"A\\\\B", u"v", u"1"), error::kInvalidParameter);
    EXPECT_EQ(store.SetValue(u"", u"v", u"1"), error::kInvalidParameter);
    EXPECT_EQ(store.SetValue(u"A\nB", u"v", u"1"), error::kInvalidParameter);
}

TEST_F(RegistrationStoreTest, ClassesRootTakesTheUsersKeyOverTheMachines) {
    RegistrationStore machine(RegistrationScope::Machine, kRegistrationPlace);
    RegistrationStore user(RegistrationScope::PerUser, kRegistrationPlace);
    ASSERT_EQ(machine.SetValue(u"AppID\\{X}", u"LocalService", u"machine service"), error::kNone);
    ASSERT_EQ(machine.SetValue(u"AppID\\{X}", u"", u"machine"), error::kNone);
    ASSERT_EQ(machine.SetValue(u"Only\\Machine", u"v", u"m"), error::kNone);

    const ClassesRoot root(kRegistrationPlace);
    std::u16string value;
    ASSERT_EQ(QueryInto(root, u"AppID\\{X}", u"LocalService", value), error::kNone);
    EXPECT_EQ(value, u"machine service");

    // The user's key stands in for the machine's whole: its missing values are missing.
    ASSERT_EQ(user.SetValue(u"appid\\{x}", u"", u"user"), error::kNone);
    ASSERT_EQ(QueryInto(root, u"AppID\\{X}", u"", value), error::kNone);
    EXPECT_EQ(value, u"user");
    EXPECT_EQ(QueryInto(root, u"AppID\\{X}", u"LocalService", value), error::kFileNotFound);
    ASSERT_EQ(QueryInto(root, u"Only\\Machine", u"v", value), error::kNone);
    EXPECT_EQ(value, u"m");
    EXPECT_EQ(root.OpenKey(u"Nowhere"), error::kFileNotFound);
}

TEST_F(RegistrationStoreTest, AChangeReplacesTheFileWholeAndLeavesNothingElseBehind) {
    RegistrationStore store(RegistrationScope::Machine, kRegistrationPlace);
    ASSERT_EQ(store.SetValue(u"Key", u"v", u"old"), error::kNone);
    const std::string before = ReadWholeFile(MachineFile());
    std::ifstream reader(MachineFile(), std::ios::binary);  // opened before the change

    ASSERT_EQ(store.SetValue(u"Key", u"v", u"new"), error::kNone);
    // The reader still sees the old file whole: the new one took its place by a rename.
    std::string seen((std::istreambuf_iterator<char>(reader)), std::istreambuf_iterator<char>());
    EXPECT_EQ(seen, before);
    EXPECT_EQ(Query(store, u"Key", u"v"), u"new");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(scratch_.Path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"machine.reg"});
    struct stat info;
    ASSERT_EQ(stat(MachineFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(RegistrationStoreTest, ChangesFromTwoThreadsAtOnceAreAllKept) {
    constexpr int kEach = 25;
    auto writer = [](const char16_t* key) {
        RegistrationStore store(RegistrationScope::Machine, kRegistrationPlace);
        for (int i = 0; i < kEach; ++i) {
            const std::u16string name = u"v" + std::u16string(1, char16_t(u'a' + i));
            ASSERT_EQ(store.SetValue(key, name, u"x"), error::kNone);
        }
    };
    std::thread first(writer, u"First");
    std::thread second(writer, u"Second");
    first.join();
    second.join();
    const std::string text = ReadWholeFile(MachineFile());
    size_t entries = 0;
    for (size_t at = text.find("=\"x\""); at != std::string::npos;
         at = text.find("=\"x\"", at + 1)) {
        ++entries;
    }
    EXPECT_EQ(entries, 2u * kEach);
}

TEST_F(RegistrationStoreTest, ADamagedStoreIsReportedAndLeftAsItIs) {
    const std::string good =
        "Registration store 1\n[AppID\\{X}]\n@=\"Zembra\"\nEnd of registration store\n";
    struct Damage {
        const char* what;
        std::string text;
        const char* problem;
    };
    const Damage damages[] = {
        {"cut short", good.substr(0, good.find("End")), "cut short"},
        {"cut inside a text", good.substr(0, good.find("bra")), "line 3"},
        {"empty", "", "empty"},
        {"no header", good.substr(good.find('\n') + 1), "line 1"},
        {"entry before a key", "Registration store 1\n\"a\"=\"b\"\nEnd of registration store\n",
         "line 2"},
        {"unknown escape", "Registration store 1\n[K]\n\"a\"=\"\\q\"\nEnd of registration store\n",
         "line 3"},
        {"garbage line", "Registration store 1\n[K]\nhello\nEnd of registration store\n", "line 3"},
        {"key twice", "Registration store 1\n[K]\n[k]\nEnd of registration store\n", "twice"},
        {"value twice", "Registration store 1\n[K]\n@=\"1\"\n@=\"2\"\nEnd of registration store\n",
         "twice"},
        {"text after the end", good + "[K]\n", "follows"},
        {"not UTF-8", "Registration store 1\n[K]\n@=\"\xff\"\nEnd of registration store\n",
         "UTF-8"},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        WriteFile(MachineFile(), damage.text);
        RegistrationStore store(RegistrationScope::Machine, kRegistrationPlace);
        std::u16string value;
        EXPECT_EQ(QueryInto(store, u"AppID\\{X}", u"", value), error::kRegistryCorrupt);
        const std::string problem = platform::codepage::Utf16ToUtf8(store.Problem());
        EXPECT_NE(problem.find(MachineFile().string()), std::string::npos) << problem;
        EXPECT_NE(problem.find(damage.problem), std::string::npos) << problem;
        EXPECT_EQ(store.SetValue(u"AppID\\{X}", u"", u"Zembra"), error::kRegistryCorrupt);
        EXPECT_EQ(ClassesRoot(kRegistrationPlace).OpenKey(u"AppID\\{X}"), error::kRegistryCorrupt);
        EXPECT_EQ(ReadWholeFile(MachineFile()), damage.text);
    }
    // Comments, blank lines and line ends of other systems are no damage.
    WriteFile(MachineFile(),
              "Registration store 1\r\n; note\r\n\r\n[K]\r\n@=\"v\"\r\n  \r\n"
              "End of registration store\r\n\r\n");
    RegistrationStore store(RegistrationScope::Machine, kRegistrationPlace);
    EXPECT_EQ(Query(store, u"K", u""), u"v");
}

TEST_F(RegistrationStoreTest, AStoreThatCannotBeWrittenIsReported) {
    WriteFile(scratch_.Path() / "file", "");
    const ScopedVariable root("ZEMBRA_REGISTRY_ROOT", (scratch_.Path() / "file").string());
    RegistrationStore store(RegistrationScope::Machine, kRegistrationPlace);
    EXPECT_EQ(store.SetValue(u"K", u"v", u"1"), error::kRegistryIoFailed);
    EXPECT_NE(platform::codepage::Utf16ToUtf8(store.Problem()).find("file"), std::string::npos);
    EXPECT_EQ(store.OpenKey(u"K"), error::kRegistryIoFailed);
}

TEST_F(RegistrationStoreTest, AWriteThatFailsLeavesTheOldStoreAndNoTemporaryFile) {
    RegistrationStore store(RegistrationScope::Machine, kRegistrationPlace);
    ASSERT_EQ(store.SetValue(u"Key", u"v", u"old"), error::kNone);
    const std::string before = ReadWholeFile(MachineFile());
    // Files may not grow past the old store: the new one fails half-written, as on a full disk.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = before.size() + 16;
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const uint32_t result = store.SetValue(u"Key", u"v", std::u16string(4096, u'n'));
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, error::kRegistryIoFailed);
    EXPECT_NE(platform::codepage::Utf16ToUtf8(store.Problem()).find("cannot write"),
              std::string::npos);
    EXPECT_EQ(ReadWholeFile(MachineFile()), before);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(scratch_.Path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"machine.reg"});
    EXPECT_EQ(Query(store, u"Key", u"v"), u"old");
}

TEST_F(RegistrationStoreTest, WithoutARootTheUsersStoreFollowsTheConfigurationDirectory) {
    const ScopedVariable root("ZEMBRA_REGISTRY_ROOT", std::nullopt);
    const ScopedVariable config("XDG_CONFIG_HOME", (scratch_.Path() / "config").string());
    RegistrationStore user(RegistrationScope::PerUser, kRegistrationPlace);
    ASSERT_EQ(user.SetValue(u"K", u"v", u"1"), error::kNone);
    EXPECT_TRUE(fs::exists(scratch_.Path() / "config" / "zembra" / "user.reg"));
}

}  // namespace
