#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"
#include "relay/engine/packet_buffer.h"

// Results of ServerSocket::Connect.
namespace ConnectResult {
constexpr int Connected = 0;
constexpr int SocketFailed = -2;  // the socket cannot be created
constexpr int NotConnected = -3;  // refused, unreachable, too slow, or the host is unknown
}  // namespace ConnectResult

// Results of ServerSocket::ReadSocket besides a count of bytes received.
namespace ReceiveResult {
constexpr int Nothing = 0;  // nothing arrived within the read wait
constexpr int Failed = -2;  // the receive failed or the server closed the connection
}  // namespace ReceiveResult

// The relay's TCP connection to the decoding server: a blocking client with a connect that gives
// up after 3 s and a read that waits at most 3 ms. It knows nothing of the packets it carries.
// Used from one thread. Its operations are virtual so that a test or a fuzzer can put a scripted
// server in its place.
class ServerSocket {
  public:
    ServerSocket();           // starts the socket library
    virtual ~ServerSocket();  // closes an open socket; the socket library stops after it
    ServerSocket(const ServerSocket&) = delete;
    ServerSocket& operator=(const ServerSocket&) = delete;

    // The server for the next Connect: a TCP port and a dotted IPv4 address or a host name.
    virtual void SetServer(std::uint16_t port, const std::string& host);

    // Opens a connection to the server; a ConnectResult. An earlier socket is closed first.
    virtual int Connect();

    // Receives once, at most 2048 bytes: the count received (greater than 0), or a
    // ReceiveResult. Without an open socket nothing can arrive: Nothing.
    virtual int ReadSocket(PacketBuffer& destination);

    // Sends length bytes in one send: the send's result, 0 or less being a failure. Without an
    // open socket, or with a negative length, nothing is sent and the result is -1.
    virtual int WriteSocket(const unsigned char* data, int length);

    // Closes the connection, if any. Harmless when none is open.
    virtual void CloseSocket();

    virtual bool IsOpen() const { return socket_.IsOpen(); }

  private:
    int FailConnect(const char* text, int error);

    platform::SocketLibrary library_;  // declared first: it outlives the socket
    platform::Socket socket_;
    std::uint16_t port_ = 0;
    std::string host_;
};
