#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/result.h"

// Running under the system's service manager: the dispatcher that takes over the main thread,
// the control handler it calls, and the status the service reports.
namespace platform {

namespace service_state {
constexpr uint32_t Stopped = 1;
constexpr uint32_t StartPending = 2;
constexpr uint32_t StopPending = 3;
constexpr uint32_t Running = 4;
constexpr uint32_t ContinuePending = 5;
constexpr uint32_t PausePending = 6;
constexpr uint32_t Paused = 7;
}  // namespace service_state

namespace service_control {
constexpr uint32_t Stop = 1;
constexpr uint32_t Pause = 2;
constexpr uint32_t Continue = 3;
constexpr uint32_t Interrogate = 4;
constexpr uint32_t Shutdown = 5;
// Controls from 128 up are the service's own; the service manager passes them on as they are.
constexpr uint32_t FirstUserDefined = 128;
}  // namespace service_control

// Bits of ServiceStatus::controlsAccepted.
namespace service_accept {
constexpr uint32_t Stop = 1;
constexpr uint32_t PauseContinue = 2;
constexpr uint32_t Shutdown = 4;
}  // namespace service_accept

namespace service_type {
constexpr uint32_t OwnProcess = 0x10;
constexpr uint32_t Win32 = 0x30;  // own-process and share-process bits together
}  // namespace service_type

struct ServiceStatus {
    uint32_t serviceType = service_type::OwnProcess;
    uint32_t currentState = service_state::Stopped;
    uint32_t controlsAccepted = service_accept::Stop;
    uint32_t win32ExitCode = 0;
    uint32_t serviceSpecificExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
};

// Where a service sends its status; given by RegisterControlHandler.
struct ServiceStatusHandle;

// Hands the calling thread, the program's main thread, to the service manager's dispatcher. The
// dispatcher runs serviceMain on a thread of its own and calls the service's control handler on
// the calling thread as the service manager sends controls. It returns 0 once serviceMain has
// returned and the service has reported itself stopped, after that thread has ended; at once,
// with kFailedServiceControllerConnect, when the process was not started by a service manager.
// A serviceMain that returns without registering a handler has nothing to report: the dispatcher
// of systemd returns then, while Windows' service manager ends the process when its start times
// out.
uint32_t RunServiceDispatcher(std::u16string_view serviceName, std::function<void()> serviceMain);

// Registers the control handler of the service the dispatcher runs, from its serviceMain: where
// the service sends its status. kServiceDoesNotExist when no dispatcher runs a service of that
// name. Controls reach the handler only while the
// service reports a state that accepts them: none before its first report other than start
// pending (they wait until then), none but interrogate and its own ones once it stops.
Result<ServiceStatusHandle*> RegisterControlHandler(std::u16string_view serviceName,
                                                    std::function<void(uint32_t control)> handler);

// Tells the service manager the service's status; the failure number when it could not be
// told (kInvalidHandle for a handle no dispatcher gave).
uint32_t ReportServiceStatus(ServiceStatusHandle* handle, const ServiceStatus& status);

// The same for the last report of a service whose process ends once the report is made. Under
// systemd a stopped state then carries STOPPING=1 as well, so that the exit that follows is
// taken for the stop; the Windows service manager hears it as any other report.
uint32_t ReportFinalServiceStatus(ServiceStatusHandle* handle, const ServiceStatus& status);

}  // namespace platform
