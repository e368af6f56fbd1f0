#pragma once

#include "relay/engine/relay_config.h"
#include "relay/engine/relay_state.h"
#include "relay/net/server_socket.h"
#include "relay/usb/usb_box.h"

// The relay library's process-wide objects, one of them built when the library is loaded and
// torn down when it is unloaded. Members are built in this order and torn down in the reverse
// one: the configuration client goes first, then an open socket is closed and the socket library
// stopped, then a box still open is released. Used by one thread at a time.
struct RelayProcess {
    UsbBox box;
    ServerSocket socket;
    ConfigClient config;
    RelayState state;
};
