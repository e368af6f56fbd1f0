#include "sim/servicemanager/notify_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace sim {

// A report is at most what systemd takes in one datagram; a longer one arrives cut to this size.
constexpr std::size_t kLongestReport = 4096;

NotifySocket::NotifySocket(const std::filesystem::path& path) : path_(path) {
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_ < 0 || path.native().size() >= sizeof address.sun_path) {
        return;
    }
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    bound_ = bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

NotifySocket::~NotifySocket() {
    if (socket_ >= 0) {
        close(socket_);
    }
    if (bound_) {
        unlink(path_.c_str());
    }
}

std::optional<std::string> NotifySocket::Receive(std::chrono::milliseconds within) {
    pollfd ready{socket_, POLLIN, 0};
    if (!bound_ || poll(&ready, 1, static_cast<int>(within.count())) <= 0) {
        return std::nullopt;
    }
    char datagram[kLongestReport];
    const ssize_t got = recv(socket_, datagram, sizeof datagram, 0);
    if (got < 0) {
        return std::nullopt;
    }
    return std::string(datagram, static_cast<size_t>(got));
}

}  // namespace sim
