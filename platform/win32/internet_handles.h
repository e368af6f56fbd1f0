#pragma once

// The Internet layer on WinINet: what its sessions, connections and requests hold.
#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/internet_request.h"
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
    Bounds bounds;
};

// Sets the request's waits (connection, and without progress either way) to the bounds, each cut
// to `mostMs`.
uint32_t SetBounds(HINTERNET request, const Bounds& bounds, uint32_t mostMs = UINT32_MAX);

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

// WinINet's part of one request: its handle. WinINet takes its steps in any order and writes
// whatever it is given; the layer's order, and the announced body length, are kept above it.
struct Exchange {
    SharedHandle request;
    Bounds bounds;
    bool secure = false;
};

}  // namespace platform::internet
