#pragma once

// The Internet layer on WinINet: what its sessions, connections and requests hold.
#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/internet_session.h"
#include "platform/system_error.h"

namespace platform::internet {

// A WinINet handle, closed when its last owner goes. Closing a handle invalidates every handle
// opened from it, so each one holds the handle it was opened from: a request keeps working after
// the connection and session objects it came from are gone.
class InternetHandle {
  public:
    InternetHandle(HINTERNET handle, std::shared_ptr<const InternetHandle> parent)
        : handle_(handle), parent_(std::move(parent)) {}
    ~InternetHandle() { InternetCloseHandle(handle_); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HINTERNET get() const { return handle_; }

  private:
    HINTERNET handle_;
    std::shared_ptr<const InternetHandle> parent_;  // released after this one is closed
};

using SharedHandle = std::shared_ptr<const InternetHandle>;

// What a session gives its connections, and they their requests: WinINet takes the bounds of a
// request only from the request's own handle.
struct RequestDefaults {
    std::u16string userAgent;  // empty: no User-Agent header
    uint32_t connectTimeoutMs = kDefaultConnectTimeoutMs;
    uint32_t receiveTimeoutMs = kDefaultReceiveTimeoutMs;
    uint32_t totalTimeoutMs = 0;  // 0: none
};

// Sets the request's waits (connection, and without progress either way) to the defaults' bounds,
// each cut to `mostMs`.
uint32_t SetBounds(HINTERNET request, const RequestDefaults& defaults,
                   uint32_t mostMs = UINT32_MAX);

struct SessionSettings {
    SharedHandle internet;
    RequestDefaults defaults;
};

struct ConnectionSettings {
    SharedHandle connection;
    RequestDefaults defaults;
    std::u16string host;  // as the Host header names it: an IPv6 address in brackets
    uint16_t port = 0;
};

// One request and the step it has reached. WinINet takes its steps in any order and writes
// whatever it is given; the layer's order, and the announced body length, are kept here.
struct Request::Transfer {
    enum class Stage { Opened, Sent, Ended, Broken };

    SharedHandle request;
    RequestDefaults defaults;
    // The end of the total bound, from the send on; none without one. WinINet bounds each wait
    // alone, so every step cuts its waits to the time left.
    std::optional<std::chrono::steady_clock::time_point> deadline;
    bool secure = false;
    Stage stage = Stage::Opened;
    uint32_t announced = 0;
    uint32_t taken = 0;
    // A failure met by a read that had already taken bytes; the next read reports it.
    uint32_t readFailure = error::kNone;

    // Cuts the waits of the next WinINet call to the time left; kInternetTimeout when none is.
    uint32_t CutWaitsToDeadline() const;
};

}  // namespace platform::internet
