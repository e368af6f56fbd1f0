#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "webservice/web/server_settings.h"

// Which requests the server serves. A Host field must name this machine (an address literal,
// localhost, a name under .localhost, the machine's own host name) or a name the settings allow,
// so that a site whose name is made to resolve here (DNS rebinding) is refused. An Origin field
// must be one the settings allow. Browsers always send Host, and send Origin with every
// cross-origin request that may read its answer; a request without them (HTTP/1.0 clients, simple
// tools) is served. Once the origins are narrowed, a request that the browser marks as coming
// from another site (Sec-Fetch-Site) must also carry an allowed Origin: an image or a no-cors
// fetch of another site's page carries none, yet opens the reader as surely as a read would.
class RequestPolicy {
  public:
    struct Admission {
        bool admitted = false;
        // The value of Access-Control-Allow-Origin for an admitted request: "*" while any
        // origin is allowed or the request names none, else the request's own origin.
        std::string allowOrigin;
    };

    RequestPolicy(const ServerSettings& settings, std::string machineName);

    // host, origin and fetchSite are the values of the request's Host, Origin and
    // Sec-Fetch-Site fields; nullopt where the field is missing.
    Admission Admit(std::optional<std::string_view> host, std::optional<std::string_view> origin,
                    std::optional<std::string_view> fetchSite = std::nullopt) const;

  private:
    bool AdmitsHost(std::string_view host) const;
    bool AdmitsOrigin(std::string_view origin) const;

    bool anyOrigin_;
    std::vector<std::string> origins_;
    bool anyHost_;
    std::vector<std::string> hosts_;
    std::string machineName_;
};

// This machine's host name in lower case; empty when the system gives none.
std::string MachineHostName();
