#pragma once

#include <string>
#include <string_view>

// The whole answer that accepts a WebSocket upgrade whose Sec-WebSocket-Key field holds key:
// the 101 status line, Upgrade, Connection and Sec-WebSocket-Accept fields and the empty line.
std::string WebSocketHandshakeAnswer(std::string_view key);
