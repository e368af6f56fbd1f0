#pragma once

#include "relay/engine/relay_config.h"
#include "relay/engine/relay_state.h"
#include "relay/net/server_socket.h"

// The relay library's process-wide objects, built when the library is loaded and torn down when
// it is unloaded, in this order: the box handle (released last), the connection to the decoding
// server, the configuration client, and the relay state. Used by one thread at a time.
ServerSocket& TheServerSocket();
ConfigClient& TheConfigClient();
RelayState& TheRelayState();
