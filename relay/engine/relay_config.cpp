#include "relay/engine/relay_config.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/code_page.h"
#include "relay/engine/config_document.h"

namespace {

constexpr const char16_t* kUserAgent = u"My User Agent v1.0";
constexpr uint32_t kPreconfiguredAccess = 0;
constexpr const char* kConfigPath = "/server/KS/queryDataInfo.html";
// Reload, no cache write, keep the connection, resynchronise, hyperlink, no UI, pragma no-cache.
constexpr uint32_t kRequestFlags = 0x84400F00;
// Each read leaves room for the terminating zero a block was once handed over with.
constexpr uint32_t kReadBlock = 10239;

std::u16string ConfigUrl() {
    return platform::codepage::Utf8ToUtf16("http://" + ConfigHost() + kConfigPath);
}

void PrepareClient(Osmer::CHttpClientT& client) {
    client.SetInternetSettings(kUserAgent, kPreconfiguredAccess, nullptr, nullptr, 0);
    client.Headers().Set(u"Osmer-Magic", u"My Magic Header");
    client.Headers().Set(u"User-Magic", u"User's Magic Header");
}

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    const std::u16string_view head = text.substr(0, prefix.size());
    const Osmer::CaseInsensitiveLess less;
    return !less(head, prefix) && !less(prefix, head);
}

// Only a text answer is parsed; one without a Content-Type is not text.
bool IsTextAnswer(Osmer::CHttpResponseT& response) {
    if (response.GetHeaderCount(u"Content-Type") == 0) {
        return false;
    }
    const std::u16string type = response.GetHeaderValue(u"Content-Type", 0).value_or(u"");
    return StartsWithIgnoringCase(type, u"text/") || StartsWithIgnoringCase(type, u"application/");
}

// Posts the configuration request and reads the server from the answer. Failures of the HTTP
// client are thrown; the response, if any, goes with the unwinding.
std::optional<ServerEntry> FetchServer(ConfigClient& config, std::chrono::milliseconds bound) {
    Osmer::CHttpClientT& client = config.client;
    client.SetUseUtf8(config.useUtf8 != 0);
    client.SetTotalTimeout(static_cast<uint32_t>(bound.count()));
    client.StartPost(ConfigUrl().c_str(), kRequestFlags);
    std::unique_ptr<Osmer::CHttpResponseT> response;
    Osmer::CHttpPostStatT stat;
    while (!response) {
        client.QueryPostStat(stat);
        response = client.ProceedPost();
    }
    const bool text = IsTextAnswer(*response);
    ConfigBody body;
    std::array<unsigned char, kReadBlock + 1> block{};
    // Read to the end of the body, but never past the most that would be looked at.
    while (const uint32_t got = response->ReadContent(block.data(), kReadBlock)) {
        if (!body.Append(block.data(), got)) {
            return std::nullopt;
        }
    }
    if (!text) {
        return std::nullopt;
    }
    return body.Server();
}

}  // namespace

int LoadRelayConfig(ConfigClient& config, RelayState& state, std::chrono::milliseconds fetchBound) {
    config.useUtf8 = 0;
    try {
        PrepareClient(config.client);
    } catch (const Osmer::httpclientexceptionW&) {
        // The rest of the preparation is skipped; the post goes ahead with what is set.
    } catch (...) {
        return ConfigResult::PrepareFailed;
    }

    std::optional<ServerEntry> server;
    try {
        server = FetchServer(config, fetchBound);
    } catch (...) {
        // The endpoint could not be asked, or not within the bound: the default server, and the
        // load counts as done.
        config.client.EndPostContext();
        state.UseDefaultServer();
        return ConfigResult::Loaded;
    }
    if (!server) {
        state.UseDefaultServer();
        return ConfigResult::NoUsableEntry;
    }
    state.serverPort = server->port;
    state.serverHost = server->host;
    return ConfigResult::Loaded;
}
