// Zembra's settings file, as an administrator may have edited it: any bytes are either refused
// with the line and the reason, or give settings within their bounds, taken from printable text.
#include <boost/asio/ip/address_v4.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/ascii.h"
#include "webservice/web/server_settings.h"

namespace {

bool IsLowerCase(const std::string& text) {
    return platform::ascii::Lowered(text) == text;
}

// A line that sets something (not blank, not a comment) and holds a control byte other than the
// blank a line may carry. Lines end in LF, CR or both; a byte-order mark before the first is no
// part of it.
bool SetsFromControlBytes(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') {
            continue;
        }
        if (std::any_of(line.begin(), line.end(), [](char c) {
                return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
            })) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ServerSettings settings;
    std::string problem;
    if (!ParseServerSettings(text, settings, problem)) {
        FuzzCheck(problem.rfind("line ", 0) == 0 && problem.find(": ") != std::string::npos,
                  "a refused file names the line and what is wrong");
        return 0;
    }
    FuzzCheck(!SetsFromControlBytes(text), "no setting is taken from a line with control bytes");
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address_v4(settings.listenAddress, error);
    FuzzCheck(!error && address.to_string() == settings.listenAddress,
              "the listen address is a dotted IPv4 address");
    FuzzCheck(settings.idleTimeout.count() >= 1 && settings.idleTimeout.count() <= 86400,
              "the idle time-out is within its bounds");
    FuzzCheck(settings.maxConnections >= 1 && settings.maxConnections <= 10000,
              "the connection cap is within its bounds");
    FuzzCheck(!settings.anyOrigin || settings.allowedOrigins.empty(),
              "any origin lists no origins");
    FuzzCheck(!settings.anyHost || settings.allowedHosts.empty(), "any host lists no hosts");
    for (const auto* list : {&settings.allowedOrigins, &settings.allowedHosts}) {
        for (const std::string& entry : *list) {
            FuzzCheck(!entry.empty() && IsLowerCase(entry) &&
                          entry.find_first_of(" \t\r\n") == std::string::npos,
                      "listed names are single lower-case words");
        }
    }
    return 0;
}
