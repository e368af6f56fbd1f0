#include "relay/engine/relay_state.h"

#include <cstdlib>

namespace {

std::string SettingOrEnvironment(const char* variable, const char* buildValue) {
    const char* value = std::getenv(variable);
    return (value != nullptr && *value != '\0') ? value : buildValue;
}

}  // namespace

std::string DefaultServerHost() {
    return SettingOrEnvironment("OSTREL_DEFAULT_SERVER", OSTREL_DEFAULT_SERVER);
}

std::string ConfigHost() {
    return SettingOrEnvironment("OSTREL_CONFIG_HOST", OSTREL_CONFIG_HOST);
}

void RelayState::UseDefaultServer() {
    serverPort = kDefaultServerPort;
    serverHost = DefaultServerHost();
}
