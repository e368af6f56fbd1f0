#pragma once

// The Internet layer's inside, the same on every system: one request as the layer keeps it, the
// rules every system's transport follows alike, and what each transport supplies (posix/: libcurl,
// win32/: WinINet). Not for the layer's callers.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/internet_session.h"
#include "platform/system_error.h"

namespace platform::internet {

using Clock = std::chrono::steady_clock;

// A session's bounds, in milliseconds, which its connections and requests inherit.
struct Bounds {
    uint32_t connectMs = kDefaultConnectTimeoutMs;
    uint32_t receiveMs = kDefaultReceiveTimeoutMs;
    uint32_t totalMs = 0;  // 0: none
};

// Sets one bound: kInvalidParameter for 0 milliseconds or an option that is no bound.
uint32_t SetBound(Bounds& bounds, TimeOption option, uint32_t milliseconds);

// One request: the transport's exchange (a libcurl transfer, or WinINet's request handle), the
// step it has reached, the body announced and taken, the end of its total
// bound, and a read failure held back, kept alike on every system.
struct Request::Transfer {
    enum class Stage { Opened, Sent, Ended, Broken };

    // Shared, so that the exchange, a type of the transport's, goes with the deleter the
    // transport made it with.
    std::shared_ptr<Exchange> exchange;
    uint32_t totalMs = 0;  // the request's total bound; 0: none
    Stage stage = Stage::Opened;
    uint32_t announced = 0;
    uint32_t taken = 0;
    // The end of the total bound, from the send on; none without one.
    std::optional<Clock::time_point> deadline;
    // A failure met by a read that had already taken bytes; the next read reports it.
    uint32_t readFailure = error::kNone;
};

// What each transport supplies for a request, called only in the request's order, each with
// the layer's checks done. A failure returned from any but AddHeaderLine and FindHeader breaks
// the request.

// Adds one header line, checked to be one "Name: value", without its CR LF.
uint32_t AddHeaderLine(Request::Transfer& transfer, std::string_view line);
// Connects and sends the head, announcing transfer.announced body bytes, within the deadline.
uint32_t SendHead(Request::Transfer& transfer);
// Sends body bytes, at most what is still owed; `written` tells how many were taken.
uint32_t WriteBody(Request::Transfer& transfer, const void* data, uint32_t size, uint32_t& written);
// Ends the request and reads the response head.
uint32_t EndRequest(Request::Transfer& transfer);
// The value of the occurrence `index` of a response header, asked by name in any letter case;
// kHttpHeaderNotFound when there is none.
uint32_t FindHeader(const Request::Transfer& transfer, std::u16string_view name, uint32_t index,
                    std::u16string& value);
// Reads body bytes into out until it is full or the body has ended; `read` counts them, also
// when a failure ends the read.
uint32_t ReadBody(Request::Transfer& transfer, char* out, uint32_t capacity, uint32_t& read);

}  // namespace platform::internet
