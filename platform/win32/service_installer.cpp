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
    const bool changed =
        ChangeServiceConfigW(opened.get(), type, static_cast<DWORD>(configuration.startType),
                             static_cast<DWORD>(configuration.errorControl), nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, name.c_str());
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
