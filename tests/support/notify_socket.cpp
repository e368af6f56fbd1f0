#include "tests/support/notify_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

NotifySocket::NotifySocket(const std::filesystem::path& path) : path_(path) {
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
}

NotifySocket::~NotifySocket() {
    close(socket_);
    unlink(path_.c_str());
}

std::optional<std::string> NotifySocket::Receive(std::chrono::milliseconds within) {
    pollfd ready{socket_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(within.count())) <= 0) {
        return std::nullopt;
    }
    char datagram[4096];
    const ssize_t got = recv(socket_, datagram, sizeof datagram, 0);
    if (got < 0) {
        return std::nullopt;
    }
    return std::string(datagram, static_cast<size_t>(got));
}
