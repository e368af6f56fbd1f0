// The service manager here is systemd with a Type=notify unit: "started by the service manager"
// means NOTIFY_SOCKET is set, status reports go out through sd_notify, and controls arrive as
// signals that the main thread, the dispatcher, waits for: SIGTERM and SIGINT stop, SIGUSR1
// pauses, SIGUSR2 continues, and SIGHUP carries control 128, which no service defines.
#include "platform/service_manager.h"

#include <pthread.h>
#include <stdlib.h>
#include <systemd/sd-daemon.h>

#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/blocked_signals.h"
#include "platform/system_error.h"

namespace platform {

struct ServiceStatusHandle {};

namespace {

// What the dispatcher of the process knows about its service.
struct Dispatcher {
    std::u16string serviceName;
    pthread_t mainThread;
    std::function<void(uint32_t)> handler;
    bool handlerRegistered = false;
    bool mainReturned = false;
    bool reported = false;
    ServiceStatus last;
    std::deque<uint32_t> controls;  // received, not yet handed to the handler
};

std::mutex dispatcherMutex;
Dispatcher* activeDispatcher = nullptr;  // guarded by dispatcherMutex
ServiceStatusHandle theStatusHandle;

uint32_t ControlOf(int signal) {
    switch (signal) {
        case SIGTERM:
        case SIGINT:
            return service_control::Stop;
        case SIGUSR1:
            return service_control::Pause;
        case SIGUSR2:
            return service_control::Continue;
        default:
            return service_control::FirstUserDefined;
    }
}

enum class Fate { Deliver, Hold, Drop };

// As the service manager does: a control goes to a service only in a state that accepts it.
Fate FateOf(const Dispatcher& dispatcher, uint32_t control) {
    if (!dispatcher.handlerRegistered) {
        return Fate::Hold;
    }
    if (control == service_control::Interrogate || control >= service_control::FirstUserDefined) {
        return Fate::Deliver;
    }
    const uint32_t state = dispatcher.last.currentState;
    if (!dispatcher.reported || state == service_state::StartPending) {
        return Fate::Hold;
    }
    if (state == service_state::StopPending || state == service_state::Stopped) {
        return Fate::Drop;
    }
    const uint32_t needed = control == service_control::Stop       ? service_accept::Stop
                            : control == service_control::Shutdown ? service_accept::Shutdown
                                                                   : service_accept::PauseContinue;
    return (dispatcher.last.controlsAccepted & needed) != 0 ? Fate::Deliver : Fate::Drop;
}

bool Finished(const Dispatcher& dispatcher) {
    return dispatcher.mainReturned &&
           (!dispatcher.handlerRegistered ||
            (dispatcher.reported && dispatcher.last.currentState == service_state::Stopped));
}

// The next control to hand to the handler, dropping those the service does not take now; false
// when none can go now.
bool NextControl(Dispatcher& dispatcher, uint32_t& control,
                 std::function<void(uint32_t)>& handler) {
    while (!dispatcher.controls.empty()) {
        const Fate fate = FateOf(dispatcher, dispatcher.controls.front());
        if (fate == Fate::Hold) {
            return false;
        }
        control = dispatcher.controls.front();
        dispatcher.controls.pop_front();
        if (fate == Fate::Deliver) {
            handler = dispatcher.handler;
            return true;
        }
    }
    return false;
}

// Wakes the dispatcher when something it waits for happened on another thread.
void WakeDispatcher(const Dispatcher& dispatcher) {
    if (!pthread_equal(pthread_self(), dispatcher.mainThread)) {
        pthread_kill(dispatcher.mainThread, posix::WakeSignal());
    }
}

const char* NotifyMessage(uint32_t state, bool final) {
    switch (state) {
        case service_state::StartPending:
            return "STATUS=Start pending";
        case service_state::Running:
            return "READY=1\nSTATUS=Running";
        case service_state::Paused:
            return "STATUS=Paused";
        case service_state::StopPending:
            return "STOPPING=1\nSTATUS=Stop pending";
        case service_state::Stopped:
            return final ? "STOPPING=1\nSTATUS=Stopped" : "STATUS=Stopped";
        case service_state::ContinuePending:
            return "STATUS=Continue pending";
        case service_state::PausePending:
            return "STATUS=Pause pending";
        default:
            return nullptr;
    }
}

}  // namespace

uint32_t RunServiceDispatcher(std::u16string_view serviceName, std::function<void()> serviceMain) {
    const char* socket = getenv("NOTIFY_SOCKET");
    if (socket == nullptr || socket[0] == '\0') {
        return error::kFailedServiceControllerConnect;
    }
    // Blocked before the service thread starts, so that it inherits the mask and every control
    // reaches this thread.
    const posix::BlockedSignals signals(
        {SIGTERM, SIGINT, SIGUSR1, SIGUSR2, SIGHUP, posix::WakeSignal()});
    Dispatcher dispatcher;
    dispatcher.serviceName = serviceName;
    dispatcher.mainThread = pthread_self();
    {
        const std::lock_guard<std::mutex> lock(dispatcherMutex);
        if (activeDispatcher != nullptr) {
            return error::kServiceAlreadyRunning;
        }
        activeDispatcher = &dispatcher;
    }
    std::thread serviceThread([&dispatcher, &serviceMain] {
        serviceMain();
        const std::lock_guard<std::mutex> lock(dispatcherMutex);
        dispatcher.mainReturned = true;
        WakeDispatcher(dispatcher);
    });
    while (true) {
        uint32_t control = 0;
        std::function<void(uint32_t)> handler;
        {
            const std::lock_guard<std::mutex> lock(dispatcherMutex);
            if (Finished(dispatcher)) {
                break;
            }
            if (!NextControl(dispatcher, control, handler)) {
                handler = nullptr;
            }
        }
        if (handler) {
            handler(control);
            continue;
        }
        const int signal = signals.Wait();
        if (signal != posix::WakeSignal()) {
            const std::lock_guard<std::mutex> lock(dispatcherMutex);
            dispatcher.controls.push_back(ControlOf(signal));
        }
    }
    serviceThread.join();
    const std::lock_guard<std::mutex> lock(dispatcherMutex);
    activeDispatcher = nullptr;
    return error::kNone;
}

Result<ServiceStatusHandle*> RegisterControlHandler(std::u16string_view serviceName,
                                                    std::function<void(uint32_t control)> handler) {
    const std::lock_guard<std::mutex> lock(dispatcherMutex);
    if (!handler) {
        return Result<ServiceStatusHandle*>::Failure(error::kInvalidParameter);
    }
    if (activeDispatcher == nullptr || activeDispatcher->serviceName != serviceName) {
        return Result<ServiceStatusHandle*>::Failure(error::kServiceDoesNotExist);
    }
    activeDispatcher->handler = std::move(handler);
    activeDispatcher->handlerRegistered = true;
    WakeDispatcher(*activeDispatcher);
    return &theStatusHandle;
}

namespace {

uint32_t Report(ServiceStatusHandle* handle, const ServiceStatus& status, bool final) {
    const std::lock_guard<std::mutex> lock(dispatcherMutex);
    if (handle != &theStatusHandle || activeDispatcher == nullptr ||
        !activeDispatcher->handlerRegistered) {
        return error::kInvalidHandle;
    }
    const char* message = NotifyMessage(status.currentState, final);
    if (message == nullptr) {
        return error::kInvalidParameter;
    }
    activeDispatcher->last = status;
    activeDispatcher->reported = true;
    // Sent under the lock, so that the service manager sees reports in the order they are made.
    const bool told = sd_notify(0, message) > 0;
    WakeDispatcher(*activeDispatcher);
    return told ? error::kNone : error::kGeneralFailure;
}

}  // namespace

uint32_t ReportServiceStatus(ServiceStatusHandle* handle, const ServiceStatus& status) {
    return Report(handle, status, false);
}

uint32_t ReportFinalServiceStatus(ServiceStatusHandle* handle, const ServiceStatus& status) {
    return Report(handle, status, true);
}

}  // namespace platform
