#pragma once

#include <cstdint>

#include "platform/system_error.h"

// What the Internet layer on libcurl does by nature where the two sides differ.
namespace transport_facts {

// A header added with an empty value, as it goes out.
constexpr const char* kEmptyHeaderLine = "X-Empty:\r\n";

// Whether a connection whose handshake outlives the connect bound fails with a time-out then.
constexpr bool kHonoursConnectBound = true;

// Whether a request's total bound ends the reading of a response head that trickles in.
constexpr bool kBoundsTrickledHead = true;

// The failure of a request whose response head does not come within the receive bound.
constexpr uint32_t kStalledHeadFailure = platform::error::kInternetTimeout;

// How the request line of a request through a proxy names http://config.example/.
constexpr const char* kProxiedConfigExample = "http://config.example/";

// Whether the proxy account goes out with the first request, before the proxy asks for it.
constexpr bool kProxyAccountUnasked = true;

// A CR inside a response header line, as a value gives it: taken as a blank, as HTTP asks of a
// recipient.
constexpr const char* kBareCarriageReturn = " ";

}  // namespace transport_facts
