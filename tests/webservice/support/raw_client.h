#pragma once

#include <chrono>
#include <string>
#include <string_view>

// A TCP client on plain sockets for checking the exact bytes a server sends. Every wait has a
// deadline, so a server that misbehaves fails a test instead of hanging it.
class RawClient {
  public:
    RawClient(const std::string& address, unsigned short port);
    // A socket not yet connected: it holds its descriptor before Connect.
    RawClient();
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connect(const std::string& address, unsigned short port);

    bool IsConnected() const { return connected_; }

    bool Send(std::string_view bytes);

    // Reads until `count` bytes have arrived in all, the peer closes, or `within` has passed;
    // returns what arrived.
    std::string Receive(std::size_t count,
                        std::chrono::milliseconds within = std::chrono::seconds(20));

    // Reads until the bytes received end with `ending`, the peer closes, or `within` has passed.
    std::string ReceiveUntil(std::string_view ending,
                             std::chrono::milliseconds within = std::chrono::seconds(20));

    // Reads until the peer closes or `within` has passed; returns what arrived.
    std::string ReceiveUntilClosed(std::chrono::milliseconds within = std::chrono::seconds(20));

    // True once the peer has closed (or reset) the connection.
    bool PeerClosed() const { return peerClosed_; }

    // True when no byte arrives and the connection stays open for the whole of `wait`.
    bool StaysSilent(std::chrono::milliseconds wait);

  private:
    // Waits up to `within` for bytes and appends them to `into`; false on time-out or close.
    bool ReadSome(std::string& into, std::chrono::steady_clock::time_point deadline);

    int socket_ = -1;
    bool connected_ = false;
    bool peerClosed_ = false;
};

// Sends request on a connection of its own and returns what arrives until a chunked answer has
// ended, the peer closes or `within` has passed; "(no connection)" when it cannot connect.
std::string Exchange(unsigned short port, std::string_view request,
                     const std::string& address = "127.0.0.1",
                     std::chrono::milliseconds within = std::chrono::seconds(20));
