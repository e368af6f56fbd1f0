#include "webservice/host/registration.h"

#include <string>

#include "platform/code_page.h"
#include "platform/message_box.h"
#include "platform/program_path.h"
#include "platform/service_installer.h"
#include "platform/system_error.h"
#include "webservice/host/service_identity.h"

namespace {

using namespace ZembraIdentity;
using platform::RegistrationStore;

constexpr std::u16string_view kCannotOpenManager = u"Could not open Service Manager";
constexpr std::u16string_view kCannotCreateService = u"Could not start service";
constexpr std::u16string_view kCannotOpenService = u"Could not open service";
constexpr std::u16string_view kCannotDeleteService = u"Could not delete service";
constexpr std::u16string_view kCannotStopService = u"Could not stop service";
constexpr std::u16string_view kNotRegistered = u"The program is not registered";

const platform::ServiceIdentity& Identity() {
    static const platform::ServiceIdentity identity{std::u16string(kServiceName),
                                                    std::u16string(kShortName)};
    return identity;
}

void Show(std::u16string_view text) {
    platform::ShowMessageBox(kServiceName, text);
}

uint32_t ShowStoreFailure(const RegistrationStore& store, uint32_t failure) {
    if (failure == platform::error::kFileNotFound) {
        Show(kNotRegistered);
    } else if (!store.Problem().empty()) {
        Show(store.Problem());
    } else {
        Show(u"The registrations could not be changed (error " +
             platform::codepage::Utf8ToUtf16(std::to_string(failure)) + u")");
    }
    return failure;
}

bool IsInstalled() {
    platform::ServiceInstaller manager{std::u16string(kUnitDirectoryVariable)};
    return manager.Open() == platform::error::kNone && manager.Exists(Identity());
}

// Stops and deletes the installed service; true when no service is installed any more.
bool Uninstall() {
    if (!IsInstalled()) {
        return true;
    }
    platform::ServiceInstaller manager{std::u16string(kUnitDirectoryVariable)};
    if (manager.Open() != platform::error::kNone) {
        Show(kCannotOpenManager);
        return false;
    }
    if (!manager.Exists(Identity())) {
        Show(kCannotOpenService);
        return false;
    }
    const uint32_t stopped = manager.Stop(Identity());
    if (stopped != platform::error::kNone && stopped != platform::error::kServiceNotActive) {
        Show(kCannotStopService);
    }
    if (manager.Delete(Identity()) != platform::error::kNone) {
        Show(kCannotDeleteService);
        return false;
    }
    return true;
}

bool Install() {
    if (IsInstalled()) {
        return true;
    }
    const std::u16string program = platform::ProgramPath();
    if (program.empty()) {
        return false;
    }
    platform::ServiceInstaller manager{std::u16string(kUnitDirectoryVariable)};
    if (manager.Open() != platform::error::kNone) {
        Show(kCannotOpenManager);
        return false;
    }
    // Started by the service manager, the program must find the registrations it was installed
    // with.
    const platform::ServiceDefinition definition{
        program,
        platform::ServiceStartType::Demand,
        true,
        kOpenFileLimit,
        platform::RegistrationEnvironment(kRegistrationPlace),
        std::u16string(kServiceAccount)};
    if (manager.Create(Identity(), definition) != platform::error::kNone) {
        Show(kCannotCreateService);
        return false;
    }
    return true;
}

// Deleting what is not there leaves the store as wanted.
uint32_t Absent(uint32_t result) {
    return result == platform::error::kFileNotFound ? platform::error::kNone : result;
}

// The application id's two keys.
uint32_t WriteAppIdKeys(RegistrationStore& store) {
    uint32_t result = store.SetValue(kAppIdKey, u"", kAppIdName);
    if (result == platform::error::kNone) {
        result = store.SetValue(kProgramKey, kAppIdValue, kAppId);
    }
    return result;
}

uint32_t RemoveAppIdKeys(RegistrationStore& store) {
    uint32_t result = Absent(store.DeleteKey(kAppIdKey));
    if (result == platform::error::kNone) {
        result = Absent(store.DeleteKey(kProgramKey));
    }
    return result;
}

}  // namespace

uint32_t RegisterAppId(platform::RegistrationScope scope, bool asService) {
    if (!Uninstall()) {
        return platform::error::kFail;
    }
    RegistrationStore store(scope, kRegistrationPlace);
    uint32_t result = WriteAppIdKeys(store);
    if (result == platform::error::kNone) {
        result = Absent(store.DeleteValue(kAppIdKey, kLocalServiceValue));
    }
    if (result == platform::error::kNone && asService) {
        result = store.SetValue(kAppIdKey, kLocalServiceValue, kServiceName);
    }
    if (result != platform::error::kNone) {
        return ShowStoreFailure(store, result);
    }
    if (asService && !Install()) {
        return platform::error::kFail;
    }
    return platform::error::kNone;
}

uint32_t UnregisterAppId(platform::RegistrationScope scope) {
    if (!Uninstall()) {
        return platform::error::kFail;
    }
    RegistrationStore store(scope, kRegistrationPlace);
    uint32_t result = store.OpenKey(kAppIdKey);
    if (result == platform::error::kNone) {
        result = Absent(store.DeleteValue(kAppIdKey, kLocalServiceValue));
    }
    if (result == platform::error::kNone) {
        result = RemoveAppIdKeys(store);
    }
    return result == platform::error::kNone ? result : ShowStoreFailure(store, result);
}

uint32_t ConfigureInstalledService() {
    if (!IsInstalled()) {
        return platform::error::kNone;
    }
    platform::ServiceInstaller manager{std::u16string(kUnitDirectoryVariable)};
    if (const uint32_t opened = manager.Open()) {
        return opened;
    }
    if (!manager.Exists(Identity())) {
        return platform::error::kServiceDoesNotExist;
    }
    const platform::ServiceConfiguration configuration{platform::ServiceStartType::Automatic,
                                                       platform::ServiceErrorControl::Ignore, true};
    const uint32_t started = manager.ChangeConfiguration(Identity(), configuration);
    const uint32_t described = manager.SetDescription(Identity(), kDescription);
    return started != platform::error::kNone ? started : described;
}
