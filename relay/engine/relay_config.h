#pragma once

#include <chrono>

#include "relay/engine/relay_state.h"
#include "relay/http/http_client.h"

// Results of LoadRelayConfig.
namespace ConfigResult {
// A usable entry was found, or the HTTP client failed (the default server is then set).
constexpr int Loaded = 0;
constexpr int PrepareFailed = -10;  // preparing the client failed other than in the client
constexpr int NoUsableEntry = -11;  // the answer named no server; the default server is set
}  // namespace ConfigResult

// The client of the configuration fetch, kept for the life of the library and reused by every
// fetch.
struct ConfigClient {
    int useUtf8 = 0;  // set to 0 by each fetch and handed to the client
    Osmer::CHttpClientT client;
};

// The longest a configuration fetch may take, connection, request and every read together. An
// endpoint that trickles its answer would otherwise hold the call, and with it the stop of the
// service that makes the calls; past the bound it counts as an endpoint that could not be asked.
constexpr std::chrono::seconds kConfigFetchBound{40};

// Asks the configuration endpoint which decoding server to use through the client, and sets the
// relay state's server port and host: from the first usable entry of the answer, or the default
// server. A ConfigResult; nothing is thrown.
int LoadRelayConfig(ConfigClient& config, RelayState& state,
                    std::chrono::milliseconds fetchBound = kConfigFetchBound);
