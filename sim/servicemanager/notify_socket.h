#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/socket.h"

namespace sim {

// The service manager's end of the notification socket: an AF_UNIX datagram socket at a path,
// to hand to a service as NOTIFY_SOCKET and read its status reports from. The path is removed
// when the object goes.
class NotifySocket {
  public:
    explicit NotifySocket(const std::filesystem::path& path);
    ~NotifySocket();
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    // Whether the socket is bound at the path (a path too long for a socket address is not).
    bool Ready() const { return bound_; }
    const std::filesystem::path& Path() const { return path_; }

    // The next report, or nullopt when none arrives within `within`.
    std::optional<std::string> Receive(std::chrono::milliseconds within = std::chrono::seconds(30));

  private:
    std::filesystem::path path_;
    platform::Socket socket_;
    bool bound_ = false;
};

}  // namespace sim
