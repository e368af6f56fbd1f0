#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"
#include "relay/common/server_link.h"

// The relay's TCP connection to the decoding server: a blocking client with a connect that gives
// up after 3 s, send and receive time-outs of 5 ms, and reads that wait as the caller says.
class ServerSocket final : public ServerLink {
  public:
    ServerSocket();            // starts the socket library
    ~ServerSocket() override;  // closes an open socket; the socket library stops after it
    ServerSocket(const ServerSocket&) = delete;
    ServerSocket& operator=(const ServerSocket&) = delete;

    void SetServer(std::uint16_t port, const std::string& host) override;
    // An earlier socket is closed first.
    int Connect() override;
    int ReadSocket(PacketBuffer& destination, std::chrono::milliseconds wait) override;
    int WriteSocket(const unsigned char* data, int length) override;
    void CloseSocket() override;
    bool IsOpen() const override { return socket_.IsOpen(); }

  private:
    int FailConnect(const char* text, uint32_t error);

    platform::SocketLibrary library_;  // declared first: it outlives the socket
    platform::Socket socket_;
    std::uint16_t port_ = 0;
    std::string host_;
};
