#include "sim/servicemanager/notify_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace sim {

// A report is at most what systemd takes in one datagram; a longer one arrives cut to this size.
constexpr std::size_t kLongestReport = 4096;

NotifySocket::NotifySocket(const std::filesystem::path& path)
    : path_(path), socket_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!socket_.IsOpen() || path.native().size() >= sizeof address.sun_path) {
        return;
    }
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    bound_ = bind(socket_.Native(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

NotifySocket::~NotifySocket() {
    if (bound_) {
        unlink(path_.c_str());
    }
}

std::optional<std::string> NotifySocket::Receive(std::chrono::milliseconds within) {
    if (!bound_ ||
        !platform::WaitForSocket(socket_.Native(), platform::SocketReadiness::Readable, within)
             .value_or(false)) {
        return std::nullopt;
    }
    char datagram[kLongestReport];
    const platform::Result<int> got =
        platform::ReceiveBytes(socket_.Native(), datagram, sizeof datagram);
    if (!got) {
        return std::nullopt;
    }
    return std::string(datagram, static_cast<size_t>(*got));
}

}  // namespace sim
