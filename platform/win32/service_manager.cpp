// The Windows service control manager. Its dispatcher starts the service's main function on a
// thread of its own and calls the control handler on the thread that runs the dispatcher; it
// returns once the service has reported itself stopped, which may be before its main function
// has ended, so that the dispatcher's caller here waits for that too.
#include "platform/service_manager.h"

#include <windows.h>
#include <winsvc.h>

#include <atomic>
#include <string>
#include <utility>

#include "platform/quit_signal.h"
#include "platform/system_error.h"
#include "platform/win32/wide_text.h"

namespace platform {

struct ServiceStatusHandle {
    SERVICE_STATUS_HANDLE handle = nullptr;
};

namespace {

// The one service the process's dispatcher runs: the service manager calls its main function
// without an argument that could carry it.
struct Service {
    std::function<void()> main;
    std::function<void(uint32_t)> handler;
    ServiceStatusHandle status;
    std::atomic<bool> mainStarted{false};
    QuitSignal mainEnded;
};

std::atomic<Service*> theService{nullptr};

void WINAPI ServiceMainEntry(DWORD, LPWSTR*) {
    Service* service = theService.load();
    service->mainStarted = true;
    service->main();
    service->mainEnded.Post();
}

DWORD WINAPI HandlerEntry(DWORD control, DWORD, LPVOID, LPVOID context) {
    static_cast<Service*>(context)->handler(control);
    return NO_ERROR;
}

}  // namespace

uint32_t RunServiceDispatcher(std::u16string_view serviceName, std::function<void()> serviceMain) {
    Service service;
    service.main = std::move(serviceMain);
    Service* none = nullptr;
    if (!theService.compare_exchange_strong(none, &service)) {
        return error::kServiceAlreadyRunning;
    }
    std::wstring name = win32::ToWide(serviceName);
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMainEntry}, {nullptr, nullptr}};
    const DWORD result = StartServiceCtrlDispatcherW(table) ? ERROR_SUCCESS : GetLastError();
    if (service.mainStarted) {
        service.mainEnded.Wait();
    }
    theService = nullptr;
    return result;
}

Result<ServiceStatusHandle*> RegisterControlHandler(std::u16string_view serviceName,
                                                    std::function<void(uint32_t control)> handler) {
    Service* service = theService.load();
    if (!handler) {
        return Result<ServiceStatusHandle*>::Failure(error::kInvalidParameter);
    }
    if (service == nullptr) {
        return Result<ServiceStatusHandle*>::Failure(error::kServiceDoesNotExist);
    }
    service->handler = std::move(handler);
    const SERVICE_STATUS_HANDLE handle =
        RegisterServiceCtrlHandlerExW(win32::ToWide(serviceName).c_str(), HandlerEntry, service);
    if (handle == nullptr) {
        return Result<ServiceStatusHandle*>::Failure(GetLastError());
    }
    service->status.handle = handle;
    return &service->status;
}

uint32_t ReportServiceStatus(ServiceStatusHandle* handle, const ServiceStatus& status) {
    if (handle == nullptr) {
        return error::kInvalidHandle;
    }
    SERVICE_STATUS record{};
    record.dwServiceType = status.serviceType;
    record.dwCurrentState = status.currentState;
    record.dwControlsAccepted = status.controlsAccepted;
    record.dwWin32ExitCode = status.win32ExitCode;
    record.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    record.dwCheckPoint = status.checkPoint;
    record.dwWaitHint = status.waitHint;
    return SetServiceStatus(handle->handle, &record) != FALSE ? error::kNone : GetLastError();
}

uint32_t ReportFinalServiceStatus(ServiceStatusHandle* handle, const ServiceStatus& status) {
    return ReportServiceStatus(handle, status);
}

}  // namespace platform
