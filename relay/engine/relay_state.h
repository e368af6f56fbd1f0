#pragma once

#include <string>

// Port of the decoding server when no configuration names one.
constexpr int kDefaultServerPort = 9977;

// Dotted IPv4 address of the default decoding server: the environment variable
// OSTREL_DEFAULT_SERVER when it is set and not empty, otherwise the build setting of that name.
std::string DefaultServerHost();

// Host, or host:port, of the relay configuration endpoint: the environment variable
// OSTREL_CONFIG_HOST when it is set and not empty, otherwise the build setting of that name.
std::string ConfigHost();

// The values that carry the relay's state from one call to the next.
struct RelayState {
    int serverPort = kDefaultServerPort;
    std::string serverHost = DefaultServerHost();
    bool configLoaded = false;  // the configuration has been loaded in this process
    int connectFailures = 0;    // consecutive failed connections to the decoding server

    // Back to the default decoding server, as wherever a configuration names none.
    void UseDefaultServer();
};
