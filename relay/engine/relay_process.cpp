#include "relay/engine/relay_process.h"

#include "relay/usb/usb_box.h"

namespace {

// Lets go of a box that is still open when the library is unloaded.
struct BoxRelease {
    BoxRelease() = default;
    BoxRelease(const BoxRelease&) = delete;
    BoxRelease& operator=(const BoxRelease&) = delete;
    ~BoxRelease() { DisConnectUsb(); }
};

// Members are built in this order and torn down in the reverse one: the configuration client
// goes first, then an open socket is closed and the socket library stopped, then the box is
// released.
struct RelayProcess {
    BoxRelease box;
    ServerSocket socket;
    ConfigClient config;
    RelayState state;
};

RelayProcess process;

}  // namespace

ServerSocket& TheServerSocket() {
    return process.socket;
}

ConfigClient& TheConfigClient() {
    return process.config;
}

RelayState& TheRelayState() {
    return process.state;
}
