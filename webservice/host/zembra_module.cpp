#include "webservice/host/zembra_module.h"

#include "platform/code_page.h"
#include "platform/component_runtime.h"
#include "platform/console.h"
#include "platform/interrupt_handler.h"
#include "platform/message_box.h"
#include "platform/program_path.h"
#include "platform/system_error.h"
#include "webservice/host/command_line.h"
#include "webservice/host/registration.h"
#include "webservice/host/service_identity.h"
#include "webservice/reader/card_reader.h"
#include "webservice/web/server_settings.h"
#include "webservice/web/web_server.h"

namespace {

using namespace ZembraIdentity;
using platform::RegistrationScope;

constexpr std::u16string_view kStartMessage = u"QMX Service Start Successfully~!";
constexpr std::u16string_view kServiceStarted = u"Service started";
constexpr std::u16string_view kServiceStopped = u"Service stopped";
constexpr std::u16string_view kHandlerNotInstalled = u"Handler not installed";
constexpr std::u16string_view kBadServiceRequest = u"Bad service request";
constexpr std::u16string_view kNoServiceManager =
    u"Could not connect to the service manager: start the program as a service through it, or "
    u"register the program with -RegServer to run it as a plain process";

constexpr std::u16string_view kBadSettings = u"Zembra does not start: the settings file ";

constexpr uint32_t kEntryFailure = static_cast<uint32_t>(-1);

// The administrator's settings beside the program.
std::u16string SettingsFile() {
    return GetModuleDirectory() + platform::kPathSeparator + kServerSettingsFileName;
}

bool Failed(uint32_t result) {
    return result != platform::error::kNone;
}

}  // namespace

CZembraModule::CZembraModule() : eventLog_(kServiceName) {}

uint32_t CZembraModule::Main(std::u16string_view commandLine) {
    if (Failed(platform::InitializeComponentRuntime())) {
        return kEntryFailure;
    }
    uint32_t result = platform::error::kNone;
    switch (ParseCommandLine(commandLine)) {
        case HostCommand::UnregServer:
            result = UnregisterServer(RegistrationScope::Machine);
            break;
        case HostCommand::RegServer:
            result = RegisterServer(RegistrationScope::Machine);
            break;
        case HostCommand::UnregServerPerUser:
            result = UnregisterServer(RegistrationScope::PerUser);
            break;
        case HostCommand::RegServerPerUser:
            result = RegisterServer(RegistrationScope::PerUser);
            break;
        case HostCommand::Service:
            result = RegisterService();
            break;
        case HostCommand::Run:
            result = Start();
            break;
    }
    platform::UninitializeComponentRuntime();
    return result;
}

// A failed step ends with its own code rather than the type library's success, so that a
// registration that did not happen is never reported as done.
uint32_t CZembraModule::RegisterServer(RegistrationScope scope) {
    const uint32_t registered = RegisterAppId(scope, false);
    const uint32_t typeLibrary = platform::RegisterTypeLibrary(scope);
    return Failed(registered) ? registered : typeLibrary;
}

uint32_t CZembraModule::UnregisterServer(RegistrationScope scope) {
    const uint32_t typeLibrary = platform::UnregisterTypeLibrary(scope);
    return Failed(typeLibrary) ? typeLibrary : UnregisterAppId(scope);
}

uint32_t CZembraModule::RegisterService() {
    uint32_t result = RegisterAppId(RegistrationScope::Machine, true);
    const uint32_t configured = ConfigureInstalledService();
    if (!Failed(result)) {
        result = configured;
    }
    const uint32_t typeLibrary = platform::RegisterTypeLibrary(RegistrationScope::Machine);
    return Failed(result) ? result : typeLibrary;
}

uint32_t CZembraModule::Start() {
    const platform::ClassesRoot registrations(kRegistrationPlace);
    if (const uint32_t opened = registrations.OpenKey(kAppIdKey); Failed(opened)) {
        // An unregistered program does nothing; a store that cannot be read is worth a word.
        if (!registrations.Problem().empty()) {
            platform::ShowMessageBox(kServiceName, registrations.Problem());
        }
        return opened;
    }
    isService_ = registrations.QueryValue(kAppIdKey, kLocalServiceValue).has_value();
    if (isService_) {
        const uint32_t dispatched =
            platform::RunServiceDispatcher(kServiceName, [this] { ServiceMain(); });
        if (Failed(dispatched)) {
            platform::ShowMessageBox(kServiceName, kNoServiceManager);
            return dispatched;
        }
        const std::lock_guard<std::mutex> lock(statusMutex_);
        return status_.win32ExitCode;
    }
    // A plain process ends cleanly on Ctrl+C or a termination request, as a stopped service does.
    const platform::InterruptHandler interrupt([this] { PostQuit(); });
    return Run();
}

void CZembraModule::ServiceMain() {
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        status_.currentState = platform::service_state::StartPending;
    }
    const platform::Result<platform::ServiceStatusHandle*> handle =
        platform::RegisterControlHandler(kServiceName,
                                         [this](uint32_t control) { Handler(control); });
    if (!handle) {
        LogEvent(kHandlerNotInstalled);
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        statusHandle_ = *handle;
        status_.win32ExitCode = 0;
        status_.serviceSpecificExitCode = 0;
        status_.checkPoint = 0;
        status_.waitHint = 0;
    }
    ReportState(platform::service_state::StartPending);
    if (Failed(platform::InitializeComponentRuntime())) {
        return;
    }
    const uint32_t result = Run();
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        status_.win32ExitCode = result;
    }
    platform::UninitializeComponentRuntime();
    ReportState(platform::service_state::Stopped);
    LogEvent(kServiceStopped);
}

uint32_t CZembraModule::Run() {
    bool served = false;
    const uint32_t started = StartHook(served);
    if (Failed(started) || served) {
        return started;
    }
    // The web server could not listen.
    if (!isService_) {
        // A plain process without its web server has nothing to do and nothing that would end it;
        // it ends at once, with a failure.
        return platform::error::kFail;
    }
    // A service goes on without it until it is stopped.
    LogEvent(kServiceStarted);
    ReportState(platform::service_state::Running);
    quit_.Wait();
    return platform::error::kNone;
}

uint32_t CZembraModule::StartHook(bool& served) {
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        status_.controlsAccepted |= platform::service_accept::PauseContinue;
    }
    if (isService_) {
        if (const uint32_t secured = platform::InitializeComponentSecurity(); Failed(secured)) {
            return secured;
        }
    }
    // A settings file with a mistake stops the start: a security setting that did not take must
    // never leave wider access than the administrator meant.
    ServerSettings settings;
    std::string problem;
    if (!LoadServerSettings(SettingsFile(), settings, problem)) {
        const std::u16string text =
            std::u16string(kBadSettings) + platform::codepage::Utf8ToUtf16(problem);
        platform::WriteErrorLine(std::u16string(kServiceName) + u": " + text);
        eventLog_.ReportInformation(text);
        return platform::error::kFail;
    }
    ReportState(platform::service_state::Running);
    LogEvent(kStartMessage);
    // Serves until a stop request (one made before it starts makes it return at once); false when
    // it could not listen.
    served = StartWebServer(kWebServerPort, settings);
    return platform::error::kNone;
}

void CZembraModule::Handler(uint32_t control) {
    switch (control) {
        case platform::service_control::Stop:
            ReportState(platform::service_state::Stopped);
            ReportState(platform::service_state::StopPending);
            PostQuit();
            break;
        case platform::service_control::Pause:
            ReportState(platform::service_state::Paused);
            break;
        case platform::service_control::Continue:
            ReportState(platform::service_state::Running);
            break;
        case platform::service_control::Interrogate:
        case platform::service_control::Shutdown:
            break;
        default:
            LogEvent(kBadServiceRequest);
    }
}

void CZembraModule::ReportState(uint32_t state) {
    const std::lock_guard<std::mutex> lock(statusMutex_);
    status_.currentState = state;
    if (statusHandle_ != nullptr) {
        platform::ReportServiceStatus(statusHandle_, status_);
    }
}

void CZembraModule::LogEvent(std::u16string_view text) {
    eventLog_.ReportInformation(text);
    if (!isService_) {
        platform::WriteOutputLine(text);
    }
}

// The quit message also ends the web server's loop, after the request in progress.
void CZembraModule::PostQuit() {
    quit_.Post();
    StopWebServer();
}
