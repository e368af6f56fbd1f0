#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/service_manager.h"

// Halvane's service: a worker thread calls ReadOstrel again and again, 300 ms apart, until the
// service manager stops the service. The control handler runs on the dispatcher's thread, the
// worker on its own; they share the stop flag and the worker-done marker.
class RelayService {
  public:
    RelayService() = default;
    ~RelayService();
    RelayService(const RelayService&) = delete;
    RelayService& operator=(const RelayService&) = delete;

    // Hands the calling thread to the service manager's dispatcher until the service has stopped;
    // returns at once when the program was not started by the service manager.
    void Run();

  private:
    void ServiceMain();
    void Worker();
    void Handler(uint32_t control);
    enum class Last { No, Yes };  // whether the report is the service's last
    void Report(Last last);

    std::mutex statusMutex_;  // the status record and its handle
    platform::ServiceStatus status_;
    platform::ServiceStatusHandle* statusHandle_ = nullptr;

    std::atomic<bool> stop_{false};
    std::atomic<uint32_t> workerDone_{0};  // 3 once the worker has left its loop
    std::thread worker_;
};
