// The Internet layer on WinINet: sessions and connections, and the opening of requests. WinINet
// puts its own headers (Host, User-Agent, Accept) after the caller's; the layer adds them itself,
// first and in that order, so that a request goes out as on every other system.
#include "platform/internet_session.h"

#include <algorithm>

#include "platform/code_page.h"
#include "platform/internet_request.h"
#include "platform/internet_text.h"
#include "platform/system_error.h"
#include "platform/win32/internet_handles.h"
#include "platform/win32/wide_text.h"

namespace platform::internet {
namespace {

constexpr uint16_t kHttpPort = 80;
constexpr uint16_t kHttpsPort = 443;

// Every request goes to the server rather than to WinINet's cache, leaves the cookie store alone
// and never asks the user anything: the layer has none of these on the other side. Of the
// caller's flags only the layer's own are passed on; the others would add headers of WinINet's
// (Pragma, Connection), as would INTERNET_FLAG_NO_CACHE_WRITE (Cache-Control).
constexpr DWORD kRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;
constexpr uint32_t kCallerFlags = kFlagSecure | kFlagNoAutoRedirect;

// A text argument of WinINet: none for an empty text.
const wchar_t* Optional(const std::wstring& text) {
    return text.empty() ? nullptr : text.c_str();
}

uint32_t SetTimeout(HINTERNET handle, DWORD option, DWORD milliseconds) {
    return InternetSetOptionW(handle, option, &milliseconds, sizeof milliseconds) ? error::kNone
                                                                                  : GetLastError();
}

uint32_t AddPlatformHeader(HINTERNET request, const std::u16string& line) {
    const std::wstring wide = win32::ToWide(line);
    return HttpAddRequestHeadersW(request, wide.c_str(), static_cast<DWORD>(wide.size()),
                                  HTTP_ADDREQ_FLAG_ADD)
               ? error::kNone
               : GetLastError();
}

// The Host header names the port unless it is the scheme's own.
std::u16string HostLine(const ConnectionSettings& connection, bool secure) {
    const uint16_t schemePort = secure ? kHttpsPort : kHttpPort;
    const bool namesPort = connection.port != 0 && connection.port != schemePort;
    const std::string port = namesPort ? ":" + std::to_string(connection.port) : "";
    return u"Host: " + connection.host + std::u16string(port.begin(), port.end());
}

std::u16string AcceptLine(const std::vector<std::string>& acceptTypes) {
    return codepage::ToUtf16(codepage::kAnsi, AcceptHeaderLine(acceptTypes))
        .value_or(std::u16string());
}

}  // namespace

// A wait without progress is one whichever way the bytes go.
uint32_t SetBounds(HINTERNET request, const Bounds& bounds, uint32_t mostMs) {
    const struct {
        DWORD option;
        uint32_t milliseconds;
    } waits[] = {
        {INTERNET_OPTION_CONNECT_TIMEOUT, bounds.connectMs},
        {INTERNET_OPTION_RECEIVE_TIMEOUT, bounds.receiveMs},
        {INTERNET_OPTION_SEND_TIMEOUT, bounds.receiveMs},
    };
    for (const auto& bound : waits) {
        if (const uint32_t failure =
                SetTimeout(request, bound.option, std::min(bound.milliseconds, mostMs))) {
            return failure;
        }
    }
    return error::kNone;
}

uint32_t Connection::SetOption(TextOption option, std::u16string_view value) {
    if (option != TextOption::ProxyUserName && option != TextOption::ProxyPassword) {
        return error::kInvalidParameter;
    }
    std::wstring text = win32::ToWide(value);
    return InternetSetOptionW(settings_->connection->get(), static_cast<DWORD>(option), text.data(),
                              static_cast<DWORD>(text.size()))
               ? error::kNone
               : GetLastError();
}

Result<std::unique_ptr<Request>> Connection::TransportOpenRequest(
    std::string_view verb, std::string_view objectName, std::string_view version,
    const std::vector<std::string>& acceptTypes, uint32_t flags) const {
    using Opened = Result<std::unique_ptr<Request>>;
    const HINTERNET handle = HttpOpenRequestA(
        settings_->connection->get(), std::string(verb).c_str(), RequestTarget(objectName).c_str(),
        std::string(version).c_str(), nullptr, nullptr, (flags & kCallerFlags) | kRequestFlags, 0);
    if (handle == nullptr) {
        return Opened::Failure(GetLastError());
    }
    auto exchange = std::make_shared<Exchange>();
    exchange->request = std::make_shared<InternetHandle>(handle, settings_->connection);
    exchange->bounds = settings_->defaults.bounds;
    exchange->secure = (flags & kFlagSecure) != 0;
    if (const uint32_t failure = SetBounds(handle, exchange->bounds)) {
        return Opened::Failure(failure);
    }
    std::vector<std::u16string> lines = {HostLine(*settings_, exchange->secure)};
    if (!settings_->defaults.userAgent.empty()) {
        lines.push_back(u"User-Agent: " + settings_->defaults.userAgent);
    }
    if (!acceptTypes.empty()) {
        lines.push_back(AcceptLine(acceptTypes));
    }
    for (const std::u16string& line : lines) {
        if (const uint32_t failure = AddPlatformHeader(handle, line)) {
            return Opened::Failure(failure);
        }
    }
    const uint32_t totalMs = exchange->bounds.totalMs;
    return std::unique_ptr<Request>(new Request(std::move(exchange), totalMs));
}

Result<std::unique_ptr<Session>> Session::TransportOpen(std::u16string_view userAgent,
                                                        Access access, std::u16string_view proxy,
                                                        std::u16string_view proxyBypass) {
    const bool named = access == Access::NamedProxy;
    const std::wstring agent = win32::ToWide(userAgent);
    const std::wstring proxyName = named ? win32::ToWide(proxy) : std::wstring();
    const std::wstring bypass = named ? win32::ToWide(proxyBypass) : std::wstring();
    const HINTERNET handle = InternetOpenW(Optional(agent), static_cast<DWORD>(access),
                                           Optional(proxyName), Optional(bypass), 0);
    if (handle == nullptr) {
        return Result<std::unique_ptr<Session>>::Failure(GetLastError());
    }
    auto settings = std::make_shared<SessionSettings>();
    settings->internet = std::make_shared<InternetHandle>(handle, nullptr);
    settings->defaults.userAgent = std::u16string(userAgent);
    return std::unique_ptr<Session>(new Session(std::move(settings)));
}

uint32_t Session::SetOption(TimeOption option, uint32_t milliseconds) {
    return SetBound(settings_->defaults.bounds, option, milliseconds);
}

Result<std::unique_ptr<Connection>> Session::TransportConnect(const std::string& urlHost,
                                                              uint16_t port) const {
    auto settings = std::make_shared<ConnectionSettings>();
    settings->host = codepage::Utf8ToUtf16(urlHost);
    settings->port = port;
    settings->defaults = settings_->defaults;
    const HINTERNET handle =
        InternetConnectW(settings_->internet->get(), win32::ToWide(settings->host).c_str(), port,
                         nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (handle == nullptr) {
        return Result<std::unique_ptr<Connection>>::Failure(GetLastError());
    }
    settings->connection = std::make_shared<InternetHandle>(handle, settings_->internet);
    return std::unique_ptr<Connection>(new Connection(std::move(settings)));
}

}  // namespace platform::internet
