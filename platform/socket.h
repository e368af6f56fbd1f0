#pragma once

// TCP sockets. The plain BSD calls (socket, connect, setsockopt, getsockopt, getpeername, recv,
// inet_pton, getaddrinfo) are the same on every system and are used directly through the system
// headers included here; what differs between systems (starting the socket library, closing,
// blocking mode, time-outs, waiting, sending without a signal, error codes) is below.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

#include <chrono>

namespace platform {

#ifdef _WIN32
using NativeSocket = SOCKET;
constexpr NativeSocket kNoSocket = INVALID_SOCKET;
#else
using NativeSocket = int;
constexpr NativeSocket kNoSocket = -1;
#endif

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
    Socket() = default;
    explicit Socket(NativeSocket handle) : handle_(handle) {}
    ~Socket() { Close(); }
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool IsOpen() const { return handle_ != kNoSocket; }
    NativeSocket Native() const { return handle_; }
    // Closes the socket when one is open; afterwards no socket is held.
    void Close();

  private:
    NativeSocket handle_ = kNoSocket;
};

// The error code of the calling thread's last failed socket call.
int LastSocketError();

// Switches the socket between blocking and non-blocking mode; false when that fails.
bool SetBlocking(NativeSocket socket, bool blocking);

// Gives sends and receives on the socket a time-out; false when either cannot be set.
bool SetIoTimeouts(NativeSocket socket, std::chrono::milliseconds timeout);

enum class SocketReadiness { Readable, Writable };

// Waits until the socket is ready in the given way, at most timeout. Greater than 0: ready (an
// error or a closed connection also counts as ready: the next call reports it); 0: timed out;
// less than 0: the wait failed. Works for every socket the process can open.
int WaitForSocket(NativeSocket socket, SocketReadiness readiness,
                  std::chrono::milliseconds timeout);

// One send of length bytes. A connection the peer has closed gives an error result, never a
// signal that would end the process. Returns the bytes sent, or a negative value on failure.
int SendBytes(NativeSocket socket, const void* data, int length);

}  // namespace platform
