#pragma once

#include <chrono>

#include "relay/common/box.h"
#include "relay/common/packet_buffer.h"
#include "relay/common/server_link.h"
#include "relay/engine/relay_state.h"

// Results of one relay cycle; ReadOstrel hands them to its caller.
namespace RelayResult {
constexpr int CardRead = 0;            // the server's final packet went to the box
constexpr int NoFirstPacket = -1;      // no valid first packet within 10 s; also: no box at all
constexpr int ServerUnreachable = -2;  // the decoding server could not be reached
constexpr int FirstAnswerFailed = -3;  // the server's answer to the first packet failed
constexpr int CardNotRead = -5;        // the server's final packet says the card was not read
constexpr int ExchangeFailed = -6;     // the server connection failed during the exchange
}  // namespace RelayResult

// How long an exchange may go on with neither the box nor the server delivering a byte. A server
// that keeps the connection open and says nothing would otherwise hold the call for ever, and
// with it the stop of the service that makes the calls.
constexpr std::chrono::seconds kExchangeIdleBound{60};

// The relay between the box and the decoding server it is given, with the relay state that
// names the server and counts failed connections.
class RelayCycle {
  public:
    RelayCycle(Box& box, ServerLink& server, RelayState& state)
        : box_(box), server_(server), state_(state) {}

    // One cycle on an open box: waits up to 10 s for the box's first packet (and checks a silent
    // box), connects to the decoding server, and passes packets both ways until the server's
    // final packet or a failure. The buffers are the call's, zeroed by the caller. The box and
    // the server connection are closed on every path. A RelayResult.
    int Run(PacketBuffer& boxBuffer, PacketBuffer& serverBuffer,
            std::chrono::milliseconds idleBound = kExchangeIdleBound);

    // Connects the server link to the server the relay state names; a ConnectResult.
    int ConnectServer();

    // Closes the box, then the server connection, and hands back result.
    int CloseRelay(int result);

    // Asks a box that sent no first packet whether it still answers, and sends it the restart
    // command when it does not.
    void SelfCheck();

  private:
    Box& box_;
    ServerLink& server_;
    RelayState& state_;
};
