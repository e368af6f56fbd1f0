// Windows sockets 1.1: the socket library is started per user, readiness is waited for with
// select, and a connect that fails without blocking is reported in select's exception set.
#include "platform/socket.h"

#include <winsock.h>

#include <cstring>

namespace platform {
namespace {

SOCKET ToSocket(NativeSocket socket) {
    return static_cast<SOCKET>(socket);
}

// The code of the calling thread's last failed call of the socket library.
uint32_t LastError() {
    return static_cast<uint32_t>(WSAGetLastError());
}

}  // namespace

SocketLibrary::SocketLibrary() {
    WSADATA data;
    startError_ = static_cast<uint32_t>(WSAStartup(MAKEWORD(1, 1), &data));
}

SocketLibrary::~SocketLibrary() {
    WSACleanup();
}

struct Socket::Handle {
    explicit Handle(SOCKET s) : socket(s) {}
    ~Handle() { closesocket(socket); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    SOCKET socket;
};

Socket::Socket() = default;

Socket::Socket(NativeSocket handle) {
    if (handle != kNoSocket) {
        handle_ = std::make_unique<Handle>(ToSocket(handle));
    }
}

Socket::~Socket() = default;
Socket::Socket(Socket&& other) noexcept = default;
Socket& Socket::operator=(Socket&& other) noexcept = default;

bool Socket::IsOpen() const {
    return handle_ != nullptr;
}

NativeSocket Socket::Native() const {
    return handle_ ? static_cast<NativeSocket>(handle_->socket) : kNoSocket;
}

void Socket::Close() {
    handle_.reset();
}

static_assert(static_cast<NativeSocket>(INVALID_SOCKET) == kNoSocket,
              "no socket is the same value on every side");

Result<Socket> OpenTcpSocket() {
    const SOCKET handle = socket(AF_INET, SOCK_STREAM, 0);
    if (handle == INVALID_SOCKET) {
        return Result<Socket>::Failure(LastError());
    }
    return Socket(static_cast<NativeSocket>(handle));
}

Result<Ipv4Address> ResolveIpv4(const std::string& host) {
    if (host.empty() || host.find('\0') != std::string::npos) {
        return Result<Ipv4Address>::Failure(WSAHOST_NOT_FOUND);
    }
    in_addr address{};
    address.s_addr = inet_addr(host.c_str());
    // inet_addr answers INADDR_NONE for a name, and for the broadcast address written out.
    if (address.s_addr == INADDR_NONE && host != "255.255.255.255") {
        const hostent* found = gethostbyname(host.c_str());
        if (found == nullptr) {
            return Result<Ipv4Address>::Failure(LastError());
        }
        if (found->h_addrtype != AF_INET || found->h_addr_list[0] == nullptr) {
            return Result<Ipv4Address>::Failure(WSANO_DATA);
        }
        std::memcpy(&address.s_addr, found->h_addr_list[0], sizeof address.s_addr);
    }
    Ipv4Address octets;
    std::memcpy(octets.data(), &address.s_addr, octets.size());
    return octets;
}

uint32_t SetBlocking(NativeSocket socket, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(ToSocket(socket), FIONBIO, &nonBlocking) == 0 ? error::kNone : LastError();
}

uint32_t SetNoDelay(NativeSocket socket) {
    const BOOL noDelay = TRUE;
    return setsockopt(ToSocket(socket), IPPROTO_TCP, TCP_NODELAY,
                      reinterpret_cast<const char*>(&noDelay), sizeof noDelay) == 0
               ? error::kNone
               : LastError();
}

uint32_t SetIoTimeouts(NativeSocket socket, std::chrono::milliseconds timeout) {
    const DWORD value = static_cast<DWORD>(timeout.count());
    const char* option = reinterpret_cast<const char*>(&value);
    const uint32_t send =
        setsockopt(ToSocket(socket), SOL_SOCKET, SO_SNDTIMEO, option, sizeof value) == 0
            ? error::kNone
            : LastError();
    const uint32_t receive =
        setsockopt(ToSocket(socket), SOL_SOCKET, SO_RCVTIMEO, option, sizeof value) == 0
            ? error::kNone
            : LastError();
    return send != error::kNone ? send : receive;
}

uint32_t StartConnect(NativeSocket socket, const Ipv4Address& address, std::uint16_t port) {
    sockaddr_in server{};
    server.sin_family = AF_INET;
    std::memcpy(&server.sin_addr.s_addr, address.data(), address.size());
    server.sin_port = htons(port);
    return connect(ToSocket(socket), reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0
               ? error::kNone
               : LastError();
}

uint32_t ConnectionError(NativeSocket socket) {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(ToSocket(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                   &length) != 0) {
        return LastError();
    }
    if (error != 0) {
        return static_cast<uint32_t>(error);
    }
    // A connect that failed at once leaves no pending error; only a connected socket has a peer.
    sockaddr_in peer{};
    int peerLength = sizeof peer;
    if (getpeername(ToSocket(socket), reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
        return LastError();
    }
    return error::kNone;
}

// select's sets here are arrays of handles with a count, so one socket fits whatever its value.
Result<bool> WaitForSocket(NativeSocket socket, SocketReadiness readiness,
                           std::chrono::milliseconds timeout) {
    if (socket == kNoSocket) {
        return Result<bool>::Failure(WSAENOTSOCK);
    }
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(ToSocket(socket), &ready);
    FD_SET(ToSocket(socket), &failed);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    timeval wait{};
    wait.tv_sec = static_cast<long>(seconds.count());
    wait.tv_usec = static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(timeout - seconds).count());
    const bool readable = readiness == SocketReadiness::Readable;
    const int result =
        select(0, readable ? &ready : nullptr, readable ? nullptr : &ready, &failed, &wait);
    if (result == SOCKET_ERROR) {
        return Result<bool>::Failure(LastError());
    }
    return result > 0;
}

Result<int> SendBytes(NativeSocket socket, const void* data, int length) {
    if (length < 0) {
        return Result<int>::Failure(WSAEINVAL);
    }
    const int sent = send(ToSocket(socket), static_cast<const char*>(data), length, 0);
    if (sent == SOCKET_ERROR) {
        return Result<int>::Failure(LastError());
    }
    return sent;
}

Result<int> ReceiveBytes(NativeSocket socket, void* buffer, int capacity) {
    if (capacity < 0) {
        return Result<int>::Failure(WSAEINVAL);
    }
    const int received = recv(ToSocket(socket), static_cast<char*>(buffer), capacity, 0);
    if (received == SOCKET_ERROR) {
        return Result<int>::Failure(LastError());
    }
    return received;
}

Result<std::uint16_t> BindToLoopback(NativeSocket socket, std::uint16_t port) {
    const BOOL reuse = TRUE;
    setsockopt(ToSocket(socket), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
               sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    int length = sizeof address;
    if (bind(ToSocket(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(ToSocket(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return Result<std::uint16_t>::Failure(LastError());
    }
    return ntohs(address.sin_port);
}

uint32_t Listen(NativeSocket socket, int backlog) {
    return listen(ToSocket(socket), backlog) == 0 ? error::kNone : LastError();
}

Result<Socket> AcceptConnection(NativeSocket listener) {
    const SOCKET handle = accept(ToSocket(listener), nullptr, nullptr);
    if (handle == INVALID_SOCKET) {
        return Result<Socket>::Failure(LastError());
    }
    return Socket(static_cast<NativeSocket>(handle));
}

}  // namespace platform
