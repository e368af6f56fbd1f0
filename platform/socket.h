#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/result.h"

// TCP sockets in the model of Windows sockets 1.1, which every system offers: a socket library
// started for the life of its users, blocking sockets switched to non-blocking mode for a connect
// that must not wait long, and readiness waits. The operations take the system's handle of an
// owned socket (Socket::Native()).
namespace platform {

// The system's handle of a socket, in a type that holds every system's: a descriptor here, a
// SOCKET on Windows.
using NativeSocket = std::intptr_t;
constexpr NativeSocket kNoSocket = -1;

// Keeps the system's socket library started for as long as it lives (Windows sockets 1.1; nothing
// to do elsewhere). Stopped again when the object goes, also when the start failed.
class SocketLibrary {
  public:
    SocketLibrary();
    ~SocketLibrary();
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;

    bool Started() const { return startError_ == 0; }
    // The start's error code; 0 when it started.
    uint32_t StartError() const { return startError_; }

  private:
    uint32_t startError_ = 0;
};

// An owned socket, closed when the object goes. "No socket" is kNoSocket, never a handle value
// that could name something else.
class Socket {
  public:
    Socket();
    // Takes over the socket the handle names; kNoSocket gives no socket.
    explicit Socket(NativeSocket handle);
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool IsOpen() const;
    NativeSocket Native() const;
    // Closes the socket when one is open; afterwards no socket is held.
    void Close();

  private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

// Failures are the socket library's codes (errno values here, Windows sockets' codes there), as
// platform/result.h says: a step answers its code, 0 when it worked.

// A new TCP socket for IPv4, blocking.
Result<Socket> OpenTcpSocket();

// An IPv4 address, most significant octet first.
using Ipv4Address = std::array<std::uint8_t, 4>;

// The address of a host given as a dotted IPv4 address, or else the first IPv4 address the name
// lookup gives.
Result<Ipv4Address> ResolveIpv4(const std::string& host);

// Switches the socket between blocking and non-blocking mode.
uint32_t SetBlocking(NativeSocket socket, bool blocking);

// Sends small pieces at once instead of gathering them (TCP_NODELAY).
uint32_t SetNoDelay(NativeSocket socket);

// Gives sends and receives on the socket a time-out; the first code when either cannot be set.
uint32_t SetIoTimeouts(NativeSocket socket, std::chrono::milliseconds timeout);

// Starts connecting the socket to the address and port. On a non-blocking socket the outcome
// comes later, and this answers the code that says the connection is under way: wait until the
// socket is writable, then ask ConnectionError.
uint32_t StartConnect(NativeSocket socket, const Ipv4Address& address, std::uint16_t port);

// Whether a connection started without blocking was established: 0, or the code of why not.
// Becoming writable is not enough: a refused connection becomes writable too.
uint32_t ConnectionError(NativeSocket socket);

enum class SocketReadiness { Readable, Writable };

// Waits until the socket is ready in the given way, at most timeout: true when it is (an error
// or a closed connection also counts as ready: the next call reports it), false when the time
// ran out. Works for every socket the process can open.
Result<bool> WaitForSocket(NativeSocket socket, SocketReadiness readiness,
                           std::chrono::milliseconds timeout);

// One send of length bytes: the bytes sent. A connection the peer has closed gives a failure,
// never a signal that would end the process.
Result<int> SendBytes(NativeSocket socket, const void* data, int length);

// One receive of at most capacity bytes: the bytes received, 0 when the peer has closed the
// connection.
Result<int> ReceiveBytes(NativeSocket socket, void* buffer, int capacity);

// Listening, for the programs that stand in for servers.

// Binds the socket to 127.0.0.1 and the port (0: a free one), even while connections of an
// earlier listener on that port linger; the port bound.
Result<std::uint16_t> BindToLoopback(NativeSocket socket, std::uint16_t port);

// Starts listening with a queue of `backlog` connections.
uint32_t Listen(NativeSocket socket, int backlog);

// The next connection waiting on a listening socket.
Result<Socket> AcceptConnection(NativeSocket listener);

}  // namespace platform
