#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "platform/service_manager.h"

// The service manager, played in-process in the place of the platform's, for tests of a
// service's main function and control handler: the dispatcher runs the service's main on a
// thread of its own and hands the controls a test sends to the handler, on the thread that runs
// the dispatcher, and the test takes the reports the service makes.
namespace service_manager_stand_in {

struct Report {
    platform::ServiceStatus status;
    bool final = false;  // made as the service's last
    std::chrono::steady_clock::time_point when;
};

// Forgets the controls and reports of an earlier service.
void Reset();

// Queues a control for the handler of the service the dispatcher runs.
void SendControl(uint32_t control);

// The next report the service made, waiting at most `within`; nothing when none came.
std::optional<Report> NextReport(std::chrono::milliseconds within);

}  // namespace service_manager_stand_in
