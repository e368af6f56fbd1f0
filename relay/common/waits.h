#pragma once

#include <chrono>

// Every wait of a relay cycle, the box's and the server link's, in one place. A cycle polls the
// two sides in turn with short waits, so that a packet from either is passed on within about
// 23 ms (20 ms at the box, 3 ms at the server).
namespace waits {

using std::chrono::milliseconds;

// The box.
constexpr milliseconds kBoxDrain{10};           // a packet left over from an earlier dialogue
constexpr milliseconds kBoxSettle{1};           // before the first-packet wait and the self-check
constexpr milliseconds kBoxFirstPacket{10000};  // for the box to start a dialogue
constexpr milliseconds kBoxExchange{20};        // each pass of the exchange
constexpr milliseconds kBoxCheckAnswer{1000};   // for the answer to a self-check command
constexpr milliseconds kBoxWrite{100};          // for a write to go out

// The server link.
constexpr milliseconds kServerConnect{3000};  // for the connection to be established
constexpr milliseconds kServerRead{3};        // each read of the server
constexpr milliseconds kServerSocketIo{5};    // the connected socket's send and receive time-out

}  // namespace waits
