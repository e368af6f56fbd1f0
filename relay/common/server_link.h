#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "relay/common/packet_buffer.h"

// Results of ServerLink::Connect.
namespace ConnectResult {
constexpr int Connected = 0;
constexpr int SocketFailed = -2;  // the socket cannot be created
constexpr int NotConnected = -3;  // refused, unreachable, too slow, or the host is unknown
}  // namespace ConnectResult

// Results of ServerLink::ReadSocket besides a count of bytes received.
namespace ReceiveResult {
constexpr int Nothing = 0;  // nothing arrived within the wait
constexpr int Failed = -2;  // the receive failed or the server closed the connection
}  // namespace ReceiveResult

// The connection to the decoding server as the relay cycle uses it. The relay library's is the
// server socket (relay/net); tests, fuzzers and benchmarks give the cycle one of their own. It
// knows nothing of the packets it carries. Used from one thread.
class ServerLink {
  public:
    virtual ~ServerLink() = default;

    // The server for the next Connect: a TCP port and a dotted IPv4 address or a host name.
    virtual void SetServer(std::uint16_t port, const std::string& host) = 0;

    // Opens a connection to the server; a ConnectResult.
    virtual int Connect() = 0;

    // Receives once, at most 2048 bytes, waiting at most `wait`: the count received (greater
    // than 0), or a ReceiveResult. Without an open connection nothing can arrive: Nothing.
    virtual int ReadSocket(PacketBuffer& destination, std::chrono::milliseconds wait) = 0;

    // Sends length bytes in one send: the send's result, 0 or less being a failure. Without an
    // open connection, or with a negative length, nothing is sent and the result is -1.
    virtual int WriteSocket(const unsigned char* data, int length) = 0;

    // Closes the connection, if any. Harmless when none is open.
    virtual void CloseSocket() = 0;

    virtual bool IsOpen() const = 0;
};
