#include "webservice/web/websocket_handshake.h"

#include <boost/beast/core/detail/base64.hpp>
#include <boost/beast/core/detail/sha1.hpp>

namespace {

// Appended to the client's key before hashing, as the WebSocket protocol fixes it.
constexpr std::string_view kKeyGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

std::string AcceptValue(std::string_view key) {
    namespace detail = boost::beast::detail;
    detail::sha1_context context;
    detail::init(context);
    detail::update(context, key.data(), key.size());
    detail::update(context, kKeyGuid.data(), kKeyGuid.size());
    char digest[detail::sha1_context::digest_size];
    detail::finish(context, digest);
    std::string accept(detail::base64::encoded_size(sizeof digest), '\0');
    accept.resize(detail::base64::encode(accept.data(), digest, sizeof digest));
    return accept;
}

}  // namespace

std::string WebSocketHandshakeAnswer(std::string_view key) {
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Accept: " +
           AcceptValue(key) + "\r\n\r\n";
}
