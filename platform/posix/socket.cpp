#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/posix/descriptor.h"

namespace platform {
namespace {

int Descriptor(NativeSocket socket) {
    return static_cast<int>(socket);
}

// The code of the calling thread's last failed call.
uint32_t LastError() {
    return static_cast<uint32_t>(errno);
}

}  // namespace

// The BSD socket library needs no start here.
SocketLibrary::SocketLibrary() = default;
SocketLibrary::~SocketLibrary() = default;

struct Socket::Handle {
    posix::Descriptor descriptor;
};

Socket::Socket() = default;

Socket::Socket(NativeSocket handle) {
    if (handle != kNoSocket) {
        handle_ = std::make_unique<Handle>(Handle{posix::Descriptor(Descriptor(handle))});
    }
}

Socket::~Socket() = default;
Socket::Socket(Socket&& other) noexcept = default;
Socket& Socket::operator=(Socket&& other) noexcept = default;

bool Socket::IsOpen() const {
    return handle_ != nullptr;
}

NativeSocket Socket::Native() const {
    return handle_ ? handle_->descriptor.Get() : kNoSocket;
}

void Socket::Close() {
    handle_.reset();
}

Result<Socket> OpenTcpSocket() {
    const int descriptor = socket(AF_INET, SOCK_STREAM, 0);
    if (descriptor == -1) {
        return Result<Socket>::Failure(LastError());
    }
    return Socket(descriptor);
}

Result<Ipv4Address> ResolveIpv4(const std::string& host) {
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 ||
            found == nullptr) {
            return Result<Ipv4Address>::Failure(error::kInternetNameNotResolved);
        }
        const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, &freeaddrinfo);
        address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    }
    Ipv4Address octets;
    std::memcpy(octets.data(), &address.s_addr, octets.size());
    return octets;
}

uint32_t SetBlocking(NativeSocket socket, bool blocking) {
    const int flags = fcntl(Descriptor(socket), F_GETFL);
    if (flags == -1) {
        return LastError();
    }
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(Descriptor(socket), F_SETFL, wanted) == 0 ? error::kNone : LastError();
}

uint32_t SetNoDelay(NativeSocket socket) {
    const int noDelay = 1;
    return setsockopt(Descriptor(socket), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay) == 0
               ? error::kNone
               : LastError();
}

uint32_t SetIoTimeouts(NativeSocket socket, std::chrono::milliseconds timeout) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    timeval value{};
    value.tv_sec = static_cast<time_t>(seconds.count());
    value.tv_usec = static_cast<suseconds_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(timeout - seconds).count());
    const int fd = Descriptor(socket);
    const uint32_t send = setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value) == 0
                              ? error::kNone
                              : LastError();
    const uint32_t receive = setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value) == 0
                                 ? error::kNone
                                 : LastError();
    return send != error::kNone ? send : receive;
}

uint32_t StartConnect(NativeSocket socket, const Ipv4Address& address, std::uint16_t port) {
    sockaddr_in server{};
    server.sin_family = AF_INET;
    std::memcpy(&server.sin_addr.s_addr, address.data(), address.size());
    server.sin_port = htons(port);
    return connect(Descriptor(socket), reinterpret_cast<const sockaddr*>(&server), sizeof server) ==
                   0
               ? error::kNone
               : LastError();
}

uint32_t ConnectionError(NativeSocket socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(Descriptor(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return LastError();
    }
    if (error != 0) {
        return static_cast<uint32_t>(error);
    }
    // A connect that failed at once leaves no pending error; only a connected socket has a peer.
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    if (getpeername(Descriptor(socket), reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
        return LastError();
    }
    return error::kNone;
}

// poll rather than select: select cannot watch a descriptor at or above FD_SETSIZE and would
// write past its set.
Result<bool> WaitForSocket(NativeSocket socket, SocketReadiness readiness,
                           std::chrono::milliseconds timeout) {
    if (socket == kNoSocket) {
        return Result<bool>::Failure(EBADF);
    }
    pollfd entry{};
    entry.fd = Descriptor(socket);
    entry.events = readiness == SocketReadiness::Readable ? POLLIN : POLLOUT;
    // A signal arriving meanwhile (a service control, say) does not cut the wait short.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int result = poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (result >= 0) {
            return result > 0;
        }
        if (errno != EINTR) {
            return Result<bool>::Failure(LastError());
        }
    }
}

Result<int> SendBytes(NativeSocket socket, const void* data, int length) {
    if (length < 0) {
        return Result<int>::Failure(EINVAL);
    }
    const ssize_t sent = send(Descriptor(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (sent < 0) {
        return Result<int>::Failure(LastError());
    }
    return static_cast<int>(sent);
}

Result<int> ReceiveBytes(NativeSocket socket, void* buffer, int capacity) {
    if (capacity < 0) {
        return Result<int>::Failure(EINVAL);
    }
    const ssize_t received = recv(Descriptor(socket), buffer, static_cast<size_t>(capacity), 0);
    if (received < 0) {
        return Result<int>::Failure(LastError());
    }
    return static_cast<int>(received);
}

Result<std::uint16_t> BindToLoopback(NativeSocket socket, std::uint16_t port) {
    const int reuse = 1;
    setsockopt(Descriptor(socket), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    if (bind(Descriptor(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0 ||
        getsockname(Descriptor(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return Result<std::uint16_t>::Failure(LastError());
    }
    return ntohs(address.sin_port);
}

uint32_t Listen(NativeSocket socket, int backlog) {
    return listen(Descriptor(socket), backlog) == 0 ? error::kNone : LastError();
}

Result<Socket> AcceptConnection(NativeSocket listener) {
    const int descriptor = accept(Descriptor(listener), nullptr, nullptr);
    if (descriptor == -1) {
        return Result<Socket>::Failure(LastError());
    }
    return Socket(descriptor);
}

}  // namespace platform
