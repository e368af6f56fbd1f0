// The HTTP client's handling of a response (relay/http over the libcurl transport of
// platform/posix/internet_*): any bytes a server may send back to the configuration request,
// through the real client and transport. The server is the fuzzer itself on 127.0.0.1, on one
// thread: the request's head has gone out once the post has started, so the connection waits in
// the listener's queue; the fuzzer takes it, writes the response, ends its side, and lets the
// client go on. Headers are asked for by name and index (values longer than the name take the
// second try with the size the platform asks for), the body is read in pieces of any size.
// Whatever the bytes, the client answers or throws its own error, never reads past a buffer, and
// gives each header value it counts.
#include <fuzzer/FuzzedDataProvider.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/code_page.h"
#include "platform/internet_session.h"
#include "relay/http/http_client.h"

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;

// The relay's request flags, and no redirection: a Location in a response must never send the
// client to another host.
constexpr uint32_t kFlags = 0x84400F00 | platform::internet::kFlagNoAutoRedirect;
constexpr uint32_t kDirectAccess = 1;

asio::io_context context;
std::optional<tcp::acceptor> listener;
std::u16string url;

Osmer::CHttpClientT& Client() {
    static Osmer::CHttpClientT client;
    return client;
}

// Names asked for: those the relay asks for, ones a server may send more than once, and one
// from the input.
std::u16string HeaderName(FuzzedDataProvider& input) {
    static const char16_t* const kNames[] = {u"Content-Type",
                                             u"content-length",
                                             u"Set-Cookie",
                                             u"X-A",
                                             u"Transfer-Encoding",
                                             u"Location",
                                             u""};
    const std::size_t pick = input.ConsumeIntegralInRange<std::size_t>(0, std::size(kNames));
    if (pick < std::size(kNames)) {
        return kNames[pick];
    }
    return platform::codepage::Utf8ToUtf16(input.ConsumeRandomLengthString(12));
}

void CheckHeaders(Osmer::CHttpResponseT& response, FuzzedDataProvider& input) {
    const int queries = input.ConsumeIntegralInRange(0, 4);
    for (int q = 0; q < queries; ++q) {
        const std::u16string name = HeaderName(input);
        const uint32_t count = response.GetHeaderCount(name);
        for (uint32_t i = 0; i <= count && i < 64; ++i) {
            const std::optional<std::u16string> value = response.GetHeaderValue(name, i);
            FuzzCheck(value.has_value() == (i < count), "every value counted is given, no more");
            FuzzCheck(!value || value->find_first_of(u"\r\n") == std::u16string::npos,
                      "a header value holds no line break");
        }
    }
}

void ReadBody(Osmer::CHttpResponseT& response, FuzzedDataProvider& input, std::size_t sent) {
    std::size_t total = 0;
    for (;;) {
        const uint32_t capacity =
            input.ConsumeBool() ? 10239 : input.ConsumeIntegralInRange<uint32_t>(1, 4096);
        // A buffer of exactly the capacity, so that a byte past it is seen.
        const auto buffer = std::make_unique<uint8_t[]>(capacity);
        const uint32_t read = response.ReadContent(buffer.get(), capacity);
        FuzzCheck(read <= capacity, "a read fills no more than its buffer");
        if (read == 0) {
            break;
        }
        total += read;
        // A chunked body is shorter than what carries it; an unchunked one at most as long.
        FuzzCheck(total <= sent, "no body byte is made up");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // The client speaks to the fuzzer directly, whatever proxy the environment names.
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        unsetenv(name);
    }
    listener.emplace(context, tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
    url = platform::codepage::Utf8ToUtf16(
        "http://127.0.0.1:" + std::to_string(listener->local_endpoint().port()) +
        "/server/KS/queryDataInfo.html");
    Client().SetInternetSettings(u"My User Agent v1.0", kDirectAccess, nullptr, nullptr, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string answer =
        input.ConsumeBytesAsString(input.ConsumeIntegralInRange<std::size_t>(0, size));

    Osmer::CHttpClientT& client = Client();
    try {
        client.StartPost(url.c_str(), kFlags);
    } catch (const Osmer::httpclientexceptionW&) {
        FuzzCheck(false, "the request to the fuzzer goes out");
    }
    tcp::socket server(context);
    listener->accept(server);
    boost::system::error_code ignored;
    asio::write(server, asio::buffer(answer), ignored);
    server.shutdown(tcp::socket::shutdown_send, ignored);

    try {
        std::unique_ptr<Osmer::CHttpResponseT> response;
        while (!response) {
            response = client.ProceedPost();
        }
        CheckHeaders(*response, input);
        ReadBody(*response, input, answer.size());
    } catch (const Osmer::httpclientexceptionW&) {
        // A response the client cannot take is its error, thrown; the post has ended.
        client.EndPostContext();
    }
    return 0;
}
