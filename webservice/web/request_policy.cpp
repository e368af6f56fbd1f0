#include "webservice/web/request_policy.h"

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/address_v6.hpp>
#include <boost/asio/ip/host_name.hpp>

#include <algorithm>

#include "platform/ascii.h"
#include "platform/port_number.h"

namespace {

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool IsIpv4(std::string_view text) {
    // The longest address in dotted decimal, 255.255.255.255, has 15 characters.
    char address[16];
    if (text.size() >= sizeof address) {
        return false;
    }
    text.copy(address, text.size());
    address[text.size()] = '\0';
    boost::system::error_code error;
    boost::asio::ip::make_address_v4(address, error);
    return !error;
}

bool IsIpv6(std::string_view text) {
    boost::system::error_code error;
    boost::asio::ip::make_address_v6(std::string(text), error);
    return !error;
}

// What follows a host's colon: an empty port, which names no port, or a TCP port number.
bool IsPort(std::string_view text) {
    return text.empty() || platform::ParsePortNumber(text).has_value();
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

RequestPolicy::RequestPolicy(const ServerSettings& settings, std::string machineName)
    : anyOrigin_(settings.anyOrigin),
      origins_(settings.allowedOrigins),
      anyHost_(settings.anyHost),
      hosts_(settings.allowedHosts),
      machineName_(platform::ascii::Lowered(machineName)) {}

RequestPolicy::Admission RequestPolicy::Admit(std::optional<std::string_view> host,
                                              std::optional<std::string_view> origin,
                                              std::optional<std::string_view> fetchSite) const {
    Admission admission;
    // An empty Host field names no host, as a request for a target without one.
    if (host && !host->empty() && !AdmitsHost(*host)) {
        return admission;
    }
    if (origin && !AdmitsOrigin(*origin)) {
        return admission;
    }
    // "same-origin" and "none" (the server's own page, an address typed in) stay served.
    if (!anyOrigin_ && !origin && fetchSite &&
        (platform::ascii::EqualsIgnoringCase(*fetchSite, "cross-site") ||
         platform::ascii::EqualsIgnoringCase(*fetchSite, "same-site"))) {
        return admission;
    }
    admission.admitted = true;
    admission.allowOrigin = anyOrigin_ || !origin ? "*" : std::string(*origin);
    return admission;
}

bool RequestPolicy::AdmitsHost(std::string_view host) const {
    if (anyHost_) {
        return true;
    }
    // An IPv6 literal stands in brackets, a port may follow.
    if (host.front() == '[') {
        const std::size_t close = host.find(']');
        const std::string_view rest =
            close == std::string_view::npos ? std::string_view() : host.substr(close + 1);
        return close != std::string_view::npos &&
               (rest.empty() || (rest.front() == ':' && IsPort(rest.substr(1)))) &&
               IsIpv6(host.substr(1, close - 1));
    }
    std::string name = platform::ascii::Lowered(host.substr(0, host.rfind(':')));
    const std::string_view port = host.rfind(':') == std::string_view::npos
                                      ? std::string_view()
                                      : host.substr(host.rfind(':') + 1);
    if (!IsPort(port)) {
        return false;
    }
    // "localhost." is "localhost": a fully qualified name may end in a dot.
    if (!name.empty() && name.back() == '.') {
        name.pop_back();
    }
    if (name.empty()) {
        return false;
    }
    return name == "localhost" || IsIpv4(name) || EndsWith(name, ".localhost") ||
           (!machineName_.empty() && name == machineName_) || Contains(hosts_, name);
}

bool RequestPolicy::AdmitsOrigin(std::string_view origin) const {
    return anyOrigin_ || Contains(origins_, platform::ascii::Lowered(origin));
}

std::string MachineHostName() {
    boost::system::error_code error;
    const std::string name = boost::asio::ip::host_name(error);
    return error ? std::string() : platform::ascii::Lowered(name);
}
