#pragma once

#include <string>

#include "platform/environment.h"

// The system's preconfigured proxy as the tests set it: here, the proxy variables of the
// environment.
namespace http_test {

// Tests speak to servers on 127.0.0.1 directly, whatever proxy the machine's settings name.
inline void ClearSystemProxy() {
    for (const char16_t* name : {u"http_proxy", u"HTTP_PROXY", u"https_proxy", u"HTTPS_PROXY",
                                 u"all_proxy", u"ALL_PROXY", u"no_proxy", u"NO_PROXY"}) {
        platform::SetEnvironmentValue(name, std::nullopt);
    }
}

// Makes `proxy` ("http://host:port") the preconfigured proxy of http URLs.
inline void SetSystemProxy(const std::string& proxy) {
    platform::SetEnvironmentValue(u"http_proxy", std::u16string(proxy.begin(), proxy.end()));
}

}  // namespace http_test
