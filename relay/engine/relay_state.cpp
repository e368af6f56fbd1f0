#include "relay/engine/relay_state.h"

#include "platform/code_page.h"
#include "platform/environment.h"

namespace {

std::string SettingOrEnvironment(std::u16string_view variable, const char* buildValue) {
    const std::optional<std::u16string> value = platform::EnvironmentValue(variable);
    return (value && !value->empty()) ? platform::codepage::Utf16ToUtf8(*value) : buildValue;
}

}  // namespace

std::string DefaultServerHost() {
    return SettingOrEnvironment(u"OSTREL_DEFAULT_SERVER", OSTREL_DEFAULT_SERVER);
}

std::string ConfigHost() {
    return SettingOrEnvironment(u"OSTREL_CONFIG_HOST", OSTREL_CONFIG_HOST);
}

void RelayState::UseDefaultServer() {
    serverPort = kDefaultServerPort;
    serverHost = DefaultServerHost();
}
