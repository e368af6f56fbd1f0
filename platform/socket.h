#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// TCP sockets in the model of Windows sockets 1.1, which every system offers: a socket library
// started for the life of its users, blocking sockets switched to non-blocking mode for a connect
// that must not wait long, readiness waits, and error codes of the calling thread. The
// operations take the system's handle of an owned socket (Socket::Native()).
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
    int StartError() const { return startError_; }

  private:
    int startError_ = 0;
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

// A new TCP socket for IPv4, blocking; none when the system gives none (LastSocketError says why).
Socket OpenTcpSocket();

// An IPv4 address, most significant octet first.
using Ipv4Address = std::array<std::uint8_t, 4>;

// The address of a host given as a dotted IPv4 address, or else the first IPv4 address the name
// lookup gives; none when neither works.
std::optional<Ipv4Address> ResolveIpv4(const std::string& host);

// The error code of the calling thread's last failed socket call.
int LastSocketError();

// Switches the socket between blocking and non-blocking mode; false when that fails.
bool SetBlocking(NativeSocket socket, bool blocking);

// Sends small pieces at once instead of gathering them (TCP_NODELAY); false when that fails.
bool SetNoDelay(NativeSocket socket);

// Gives sends and receives on the socket a time-out; false when either cannot be set.
bool SetIoTimeouts(NativeSocket socket, std::chrono::milliseconds timeout);

// Starts connecting the socket to the address and port. On a non-blocking socket the outcome
// comes later: wait until the socket is writable, then ask ConnectionError.
void StartConnect(NativeSocket socket, const Ipv4Address& address, std::uint16_t port);

// Whether a connection started without blocking was established: 0, or the error code of why
// not. Becoming writable is not enough: a refused connection becomes writable too.
int ConnectionError(NativeSocket socket);

enum class SocketReadiness { Readable, Writable };

// Waits until the socket is ready in the given way, at most timeout. Greater than 0: ready (an
// error or a closed connection also counts as ready: the next call reports it); 0: timed out;
// less than 0: the wait failed. Works for every socket the process can open.
int WaitForSocket(NativeSocket socket, SocketReadiness readiness,
                  std::chrono::milliseconds timeout);

// One send of length bytes. A connection the peer has closed gives an error result, never a
// signal that would end the process. Returns the bytes sent, or a negative value on failure.
int SendBytes(NativeSocket socket, const void* data, int length);

// One receive of at most capacity bytes: the bytes received, 0 when the peer has closed the
// connection, or a negative value on failure.
int ReceiveBytes(NativeSocket socket, void* buffer, int capacity);

// Listening, for the programs that stand in for servers.

// Binds the socket to 127.0.0.1 and the port (0: a free one), even while connections of an
// earlier listener on that port linger; the port bound, or none (LastSocketError says why).
std::optional<std::uint16_t> BindToLoopback(NativeSocket socket, std::uint16_t port);

// Starts listening with a queue of `backlog` connections; false when that fails.
bool Listen(NativeSocket socket, int backlog);

// The next connection waiting on a listening socket; none when there is none to be had.
Socket AcceptConnection(NativeSocket listener);

}  // namespace platform
