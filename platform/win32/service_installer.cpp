// The Windows service control manager's database. Services are filed under their name, which
// is also the name people see; the short name serves where the name cannot, which is nowhere
// here. The directory variable has no use: the database is the system's own.
#include "platform/service_installer.h"

#include <windows.h>
#include <winsvc.h>

#include <chrono>
#include <string>

#include "platform/system_error.h"
#include "platform/win32/service_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

using win32::ServiceHandle;
using win32::ToWide;

// The service that starts once the system's RPC and network services run.
constexpr wchar_t kNetworkDependency[] = L"RPCSS\0";
constexpr wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr wchar_t kEnvironmentValue[] = L"Environment";
constexpr wchar_t kServiceDependencies[] = L"DependOnService";
constexpr wchar_t kGroupDependencies[] = L"DependOnGroup";
// How long a stop may take: longer than any request of the suite's services keeps them busy.
constexpr std::chrono::milliseconds kStopWait{60000};
constexpr DWORD kStopPoll = 100;  // ms

uint32_t LastError() {
    return GetLastError();
}

// The settings as one block of strings, each ended by a null, the block by another.
std::wstring StringBlock(const std::vector<std::u16string>& strings) {
    std::wstring block;
    for (const std::u16string& text : strings) {
        block += ToWide(text);
        block += L'\0';
    }
    return block + L'\0';
}

// A list of strings as the registry holds it, without its final null; empty when there is none.
std::wstring StoredStrings(const std::wstring& key, const wchar_t* value) {
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                     &size) != ERROR_SUCCESS) {
        return {};
    }
    std::wstring strings(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_MULTI_SZ, nullptr,
                     strings.data(), &size) != ERROR_SUCCESS) {
        return {};
    }
    strings.resize(size / sizeof(wchar_t));
    while (!strings.empty() && strings.back() == L'\0') {
        strings.pop_back();
    }
    return strings.empty() ? strings : strings + L'\0';
}

// The services and groups a service depends on, in the form the service manager takes them:
// each ended by a null, groups marked, and the whole ended by another null.
std::wstring Dependencies(const std::wstring& name) {
    const std::wstring key = kServicesKey + name;
    std::wstring dependencies = StoredStrings(key, kServiceDependencies);
    const std::wstring groups = StoredStrings(key, kGroupDependencies);
    for (size_t at = 0; at < groups.size(); at = groups.find(L'\0', at) + 1) {
        dependencies += SC_GROUP_IDENTIFIERW + groups.substr(at, groups.find(L'\0', at) - at);
        dependencies += L'\0';
    }
    return dependencies + L'\0';
}

uint32_t WaitUntilStopped(SC_HANDLE service) {
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (true) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status)) {
            return LastError();
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            return error::kNone;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return error::kServiceRequestTimeout;
        }
        Sleep(kStopPoll);
    }
}

}  // namespace

struct ServiceInstaller::Manager {
    ServiceHandle handle;

    ServiceHandle Service(const ServiceIdentity& service, DWORD access) const {
        return ServiceHandle(::OpenServiceW(handle.get(), ToWide(service.name).c_str(), access));
    }
};

ServiceInstaller::ServiceInstaller(std::u16string) : manager_(std::make_unique<Manager>()) {}

ServiceInstaller::~ServiceInstaller() = default;

uint32_t ServiceInstaller::Open() {
    manager_->handle.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    return manager_->handle ? error::kNone : LastError();
}

bool ServiceInstaller::Exists(const ServiceIdentity& service) const {
    return manager_->handle && manager_->Service(service, SERVICE_QUERY_STATUS) != nullptr;
}

uint32_t ServiceInstaller::Stop(const ServiceIdentity& service) {
    const ServiceHandle opened = manager_->Service(service, SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!opened) {
        return LastError();
    }
    SERVICE_STATUS status{};
    if (!ControlService(opened.get(), SERVICE_CONTROL_STOP, &status)) {
        const uint32_t refused = LastError();
        if (refused != ERROR_SERVICE_CANNOT_ACCEPT_CTRL ||
            !QueryServiceStatus(opened.get(), &status) ||
            status.dwCurrentState != SERVICE_STOP_PENDING) {
            return refused;
        }
        const uint32_t stopped = WaitUntilStopped(opened.get());
        return stopped == error::kNone ? error::kServiceNotActive : stopped;
    }
    return WaitUntilStopped(opened.get());
}

uint32_t ServiceInstaller::Delete(const ServiceIdentity& service) {
    const ServiceHandle opened = manager_->Service(service, DELETE);
    if (!opened) {
        return LastError();
    }
    return DeleteService(opened.get()) ? error::kNone : LastError();
}

uint32_t ServiceInstaller::Create(const ServiceIdentity& service,
                                  const ServiceDefinition& definition) {
    if (!manager_->handle) {
        return error::kAccessDenied;
    }
    const std::wstring name = ToWide(service.name);
    const std::wstring program = L"\"" + ToWide(definition.programPath) + L"\"";
    const ServiceHandle created(
        CreateServiceW(manager_->handle.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, static_cast<DWORD>(definition.startType),
                       SERVICE_ERROR_NORMAL, program.c_str(), nullptr, nullptr,
                       definition.afterNetwork ? kNetworkDependency : nullptr, nullptr, nullptr));
    if (!created) {
        return LastError();
    }
    // The service manager starts a service with the environment its key holds besides the
    // system's.
    if (!definition.environment.empty()) {
        const std::wstring block = StringBlock(definition.environment);
        return RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kServicesKey + name).c_str(), kEnvironmentValue,
                               REG_MULTI_SZ, block.data(),
                               static_cast<DWORD>(block.size() * sizeof(wchar_t)));
    }
    return error::kNone;
}

uint32_t ServiceInstaller::ChangeConfiguration(const ServiceIdentity& service,
                                               const ServiceConfiguration& configuration) {
    const ServiceHandle opened = manager_->Service(service, SERVICE_CHANGE_CONFIG);
    if (!opened) {
        return LastError();
    }
    const DWORD type =
        SERVICE_WIN32_OWN_PROCESS | (configuration.interactive ? SERVICE_INTERACTIVE_PROCESS : 0);
    const std::wstring name = ToWide(service.name);
    // The dependencies are passed as they are: Windows keeps them for a null list, but Wine's
    // service manager drops them.
    const std::wstring dependencies = Dependencies(name);
    const bool changed =
        ChangeServiceConfigW(opened.get(), type, static_cast<DWORD>(configuration.startType),
                             static_cast<DWORD>(configuration.errorControl), nullptr, nullptr,
                             nullptr, dependencies.c_str(), nullptr, nullptr, name.c_str());
    return changed ? error::kNone : LastError();
}

uint32_t ServiceInstaller::SetDescription(const ServiceIdentity& service,
                                          std::u16string_view description) {
    const ServiceHandle opened = manager_->Service(service, SERVICE_CHANGE_CONFIG);
    if (!opened) {
        return LastError();
    }
    std::wstring text = ToWide(description);
    SERVICE_DESCRIPTIONW info{text.data()};
    return ChangeServiceConfig2W(opened.get(), SERVICE_CONFIG_DESCRIPTION, &info) ? error::kNone
                                                                                  : LastError();
}

}  // namespace platform
