#include "tests/relayservice/service_manager_stand_in.h"
#include "platform/system_error.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

struct ServiceStatusHandle {};

}  // namespace platform

namespace service_manager_stand_in {
namespace {

struct Manager {
    std::mutex mutex;
    std::condition_variable changed;
    std::function<void(uint32_t)> handler;
    std::deque<uint32_t> controls;
    std::deque<Report> reports;
    bool mainReturned = false;
    bool stopped = false;
};

Manager manager;
platform::ServiceStatusHandle theHandle;

uint32_t Record(platform::ServiceStatusHandle* handle, const platform::ServiceStatus& status,
                bool final) {
    if (handle != &theHandle) {
        return platform::error::kInvalidHandle;
    }
    const std::lock_guard<std::mutex> lock(manager.mutex);
    manager.reports.push_back({status, final, std::chrono::steady_clock::now()});
    manager.stopped = status.currentState == platform::service_state::Stopped;
    manager.changed.notify_all();
    return platform::error::kNone;
}

}  // namespace

void Reset() {
    const std::lock_guard<std::mutex> lock(manager.mutex);
    manager.handler = nullptr;
    manager.controls.clear();
    manager.reports.clear();
    manager.mainReturned = false;
    manager.stopped = false;
}

void SendControl(uint32_t control) {
    const std::lock_guard<std::mutex> lock(manager.mutex);
    manager.controls.push_back(control);
    manager.changed.notify_all();
}

std::optional<Report> NextReport(std::chrono::milliseconds within) {
    std::unique_lock<std::mutex> lock(manager.mutex);
    if (!manager.changed.wait_for(lock, within, [] { return !manager.reports.empty(); })) {
        return std::nullopt;
    }
    const Report report = manager.reports.front();
    manager.reports.pop_front();
    return report;
}

}  // namespace service_manager_stand_in

namespace platform {

using service_manager_stand_in::manager;

// Returns once the service's main has returned and the service has reported itself stopped.
uint32_t RunServiceDispatcher(std::u16string_view, std::function<void()> serviceMain) {
    std::thread mainThread([serviceMain] {
        serviceMain();
        const std::lock_guard<std::mutex> lock(manager.mutex);
        manager.mainReturned = true;
        manager.changed.notify_all();
    });
    std::unique_lock<std::mutex> lock(manager.mutex);
    while (!(manager.mainReturned && manager.stopped)) {
        if (!manager.controls.empty() && manager.handler) {
            const uint32_t control = manager.controls.front();
            manager.controls.pop_front();
            const std::function<void(uint32_t)> handler = manager.handler;
            lock.unlock();
            handler(control);
            lock.lock();
            continue;
        }
        manager.changed.wait(lock);
    }
    lock.unlock();
    mainThread.join();
    return 0;
}

Result<ServiceStatusHandle*> RegisterControlHandler(std::u16string_view,
                                                    std::function<void(uint32_t control)> handler) {
    const std::lock_guard<std::mutex> lock(manager.mutex);
    manager.handler = std::move(handler);
    manager.changed.notify_all();
    return &service_manager_stand_in::theHandle;
}

uint32_t ReportServiceStatus(ServiceStatusHandle* handle, const ServiceStatus& status) {
    return service_manager_stand_in::Record(handle, status, false);
}

uint32_t ReportFinalServiceStatus(ServiceStatusHandle* handle, const ServiceStatus& status) {
    return service_manager_stand_in::Record(handle, status, true);
}

}  // namespace platform
