#pragma once

#include <cstdint>

#include "platform/system_error.h"

// What the Internet layer on WinINet does by nature where the two sides differ.
namespace transport_facts {

// WinINet writes every header as "Name: value", the blank even before an empty value.
constexpr const char* kEmptyHeaderLine = "X-Empty: \r\n";

// Wine's WinINet connects without a bound of its own, and a handle closed meanwhile does not end
// the wait: a dropped handshake lasts as long as the system lets it (some two minutes).
constexpr bool kHonoursConnectBound = false;

// WinINet reads the response head in one call whose every receive has a wait of its own: a head
// that trickles in is bounded only by its length, not by the request's total bound.
constexpr bool kBoundsTrickledHead = false;

// Wine's WinINet ends a wait for the response head that ran out as if the server had closed
// without a word.
constexpr uint32_t kStalledHeadFailure = platform::error::kHttpInvalidServerResponse;

// WinINet names the port in the request line of a request through a proxy.
constexpr const char* kProxiedConfigExample = "http://config.example:80/";

// WinINet keeps the proxy account for a proxy that asks for it.
constexpr bool kProxyAccountUnasked = false;

// A CR inside a response header line, as a value gives it: WinINet hands it on.
constexpr const char* kBareCarriageReturn = "\r";

}  // namespace transport_facts
