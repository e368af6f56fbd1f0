#pragma once

#include <cstdint>
#include <mutex>
#include <string_view>

#include "platform/event_log.h"
#include "platform/quit_signal.h"
#include "platform/registration_store.h"
#include "platform/service_manager.h"

// Zembra's process shell: the command line, registration, the choice between running under the
// service manager and as a plain process, the service's start, its answers to controls and its
// event-log messages. Results are 0, failure numbers of platform/system_error.h or HRESULTs.
class CZembraModule {
  public:
    CZembraModule();

    // The program's entry; answers its exit code.
    uint32_t Main(std::u16string_view commandLine);

  private:
    uint32_t RegisterServer(platform::RegistrationScope scope);
    uint32_t UnregisterServer(platform::RegistrationScope scope);
    uint32_t RegisterService();

    uint32_t Start();
    void ServiceMain();
    uint32_t Run();
    // Reports the service running and serves the web until a stop request; `served` is false
    // when the web server could not listen.
    uint32_t StartHook(bool& served);
    void Handler(uint32_t control);

    void ReportState(uint32_t state);
    void LogEvent(std::u16string_view text);
    void PostQuit();

    platform::EventLog eventLog_;
    // The control handler on the main thread and the service thread both report.
    std::mutex statusMutex_;
    platform::ServiceStatusHandle* statusHandle_ = nullptr;
    platform::ServiceStatus status_;
    // Set once, before any second thread starts.
    bool isService_ = true;
    platform::QuitSignal quit_;
};
