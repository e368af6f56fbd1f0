// The body of the relay's configuration answer, as the network may deliver it: any bytes, cut
// into read blocks anywhere, name the same server as the whole body does.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "relay/engine/config_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    // The split points first, then the body.
    std::vector<std::size_t> blocks(input.ConsumeIntegralInRange<std::size_t>(0, 8));
    for (std::size_t& block : blocks) {
        block = input.ConsumeIntegralInRange<std::size_t>(0, 10239);
    }
    const std::string body = input.ConsumeRemainingBytesAsString();

    ConfigBody joined;
    std::size_t at = 0;
    for (const std::size_t block : blocks) {
        const std::size_t length = std::min(block, body.size() - at);
        FuzzCheck(joined.Append(reinterpret_cast<const unsigned char*>(body.data()) + at, length),
                  "a body below the bound is taken");
        at += length;
    }
    FuzzCheck(
        joined.Append(reinterpret_cast<const unsigned char*>(body.data()) + at, body.size() - at),
        "a body below the bound is taken");

    const std::optional<ServerEntry> server = joined.Server();
    const std::optional<ServerEntry> whole = ChooseServer(body);
    FuzzCheck(server.has_value() == whole.has_value() &&
                  (!server || (server->host == whole->host && server->port == whole->port)),
              "the blocks of a body name the server the whole body names");
    return 0;
}
