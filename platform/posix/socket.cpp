#include "platform/socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace platform {

// The BSD socket library needs no start here.
SocketLibrary::SocketLibrary() = default;
SocketLibrary::~SocketLibrary() = default;

Socket::Socket(Socket&& other) noexcept : handle_(std::exchange(other.handle_, kNoSocket)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, kNoSocket);
    }
    return *this;
}

void Socket::Close() {
    if (handle_ != kNoSocket) {
        ::close(std::exchange(handle_, kNoSocket));
    }
}

int LastSocketError() {
    return errno;
}

bool SetBlocking(NativeSocket socket, bool blocking) {
    const int flags = fcntl(socket, F_GETFL);
    if (flags == -1) {
        return false;
    }
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(socket, F_SETFL, wanted) == 0;
}

bool SetIoTimeouts(NativeSocket socket, std::chrono::milliseconds timeout) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    timeval value{};
    value.tv_sec = static_cast<time_t>(seconds.count());
    value.tv_usec = static_cast<suseconds_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(timeout - seconds).count());
    const bool send = setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value) == 0;
    const bool receive = setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value) == 0;
    return send && receive;
}

// poll rather than select: select cannot watch a descriptor at or above FD_SETSIZE and would
// write past its set.
int WaitForSocket(NativeSocket socket, SocketReadiness readiness,
                  std::chrono::milliseconds timeout) {
    if (socket == kNoSocket) {
        return -1;
    }
    pollfd entry{};
    entry.fd = socket;
    entry.events = readiness == SocketReadiness::Readable ? POLLIN : POLLOUT;
    // A signal arriving meanwhile (a service control, say) does not cut the wait short.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int result = poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (result >= 0 || errno != EINTR) {
            return result;
        }
    }
}

int SendBytes(NativeSocket socket, const void* data, int length) {
    if (length < 0) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(send(socket, data, static_cast<size_t>(length), MSG_NOSIGNAL));
}

}  // namespace platform
