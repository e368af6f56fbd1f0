#include "relayservice/relay_service.h"

#include <chrono>
#include <system_error>

#include "relay/ostrel.h"

namespace {

constexpr const char16_t* kServiceName = u"Halvane";
constexpr uint32_t kWorkerDone = 3;
constexpr std::chrono::milliseconds kPauseBetweenCalls{300};
constexpr std::chrono::milliseconds kStopPoll{100};
constexpr uint32_t kRunningWaitHint = 9000;

}  // namespace

RelayService::~RelayService() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void RelayService::Run() {
    platform::RunServiceDispatcher(kServiceName, [this] { ServiceMain(); });
}

// No start-pending state is reported: the first report is running, once the worker is going.
void RelayService::ServiceMain() {
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        status_.serviceType = platform::service_type::Win32;
        status_.controlsAccepted =
            platform::service_accept::Stop | platform::service_accept::Shutdown;
        status_.win32ExitCode = 0;
        status_.serviceSpecificExitCode = 0;
        status_.checkPoint = 0;
        status_.waitHint = 0;
    }
    // A handler that cannot be registered changes nothing in the steps below.
    const platform::Result<platform::ServiceStatusHandle*> handle =
        platform::RegisterControlHandler(kServiceName, [this](uint32_t c) { Handler(c); });
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        statusHandle_ = handle.value_or(nullptr);
    }
    try {
        worker_ = std::thread([this] { Worker(); });
    } catch (const std::system_error&) {
        // Without a worker there is nothing for a stop to wait for.
        workerDone_ = kWorkerDone;
    }
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        status_.currentState = platform::service_state::Running;
        status_.checkPoint = 0;
        status_.waitHint = kRunningWaitHint;
    }
    Report(Last::No);
}

// The relay's result is not acted on: whatever it was, the next call follows the pause.
void RelayService::Worker() {
    while (!stop_) {
        ReadOstrel();
        std::this_thread::sleep_for(kPauseBetweenCalls);
    }
    workerDone_ = kWorkerDone;
}

// Stop and shutdown wait for the call in progress and its pause, so that the stopped report comes
// only when no call runs and none will start; every other control is left alone.
void RelayService::Handler(uint32_t control) {
    if (control != platform::service_control::Stop &&
        control != platform::service_control::Shutdown) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        status_.currentState = platform::service_state::Stopped;
        status_.win32ExitCode = 0;
        status_.checkPoint = 0;
        status_.waitHint = 0;
    }
    stop_ = true;
    while (workerDone_ != kWorkerDone) {
        std::this_thread::sleep_for(kStopPoll);
    }
    // The process ends once the dispatcher has seen this report.
    Report(Last::Yes);
}

void RelayService::Report(Last last) {
    const std::lock_guard<std::mutex> lock(statusMutex_);
    if (statusHandle_ == nullptr) {
        return;
    }
    if (last == Last::Yes) {
        platform::ReportFinalServiceStatus(statusHandle_, status_);
    } else {
        platform::ReportServiceStatus(statusHandle_, status_);
    }
}
