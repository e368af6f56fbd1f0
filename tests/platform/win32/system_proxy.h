#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "platform/environment.h"

// The system's preconfigured proxy as the tests set it: here, the Internet settings of the
// user, set the way the system's settings dialog sets them.
namespace http_test {

inline void ApplyInternetSettings(DWORD connectionFlags, std::wstring proxyServer) {
    INTERNET_PER_CONN_OPTIONW options[2] = {};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[0].Value.dwValue = connectionFlags;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[1].Value.pszValue = proxyServer.data();
    INTERNET_PER_CONN_OPTION_LISTW list = {};
    list.dwSize = sizeof list;
    list.dwOptionCount = 2;
    list.pOptions = options;
    InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof list);
    InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

// Tests speak to servers on 127.0.0.1 directly, whatever proxy the machine's settings name.
// Wine's WinINet also takes a proxy from the variable http_proxy.
inline void ClearSystemProxy() {
    platform::SetEnvironmentValue(u"http_proxy", std::nullopt);
    ApplyInternetSettings(PROXY_TYPE_DIRECT, L"");
}

// Makes `proxy` ("http://host:port") the preconfigured proxy of http URLs.
inline void SetSystemProxy(const std::string& proxy) {
    const std::string server = proxy.substr(proxy.find("://") + 3);
    ApplyInternetSettings(PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY,
                          std::wstring(server.begin(), server.end()));
}

}  // namespace http_test
