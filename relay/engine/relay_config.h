#pragma once

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

// Asks the configuration endpoint which decoding server to use, and sets the relay state's
// server port and host: from the first usable entry of the answer, or the default server. A
// ConfigResult; nothing is thrown.
int LoadRelayConfig();
