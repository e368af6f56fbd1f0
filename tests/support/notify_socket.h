#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

// The service manager's end of the notification socket: an AF_UNIX datagram socket at a path,
// to hand to a service as NOTIFY_SOCKET and read its status reports from.
class NotifySocket {
  public:
    explicit NotifySocket(const std::filesystem::path& path);
    ~NotifySocket();
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    // The next report, or nullopt when none arrives within `within`.
    std::optional<std::string> Receive(std::chrono::milliseconds within = std::chrono::seconds(30));

  private:
    std::filesystem::path path_;
    int socket_ = -1;
};
