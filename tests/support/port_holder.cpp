#include "tests/support/port_holder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

PortHolder::PortHolder(const char* address, unsigned short port, bool reuseAddress)
    : socket_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (reuseAddress) {
        // Connections of earlier tests that linger on the port must not keep it from binding.
        const int on = 1;
        setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_pton(AF_INET, address, &local.sin_addr);
    socklen_t length = sizeof local;
    if (bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        listen(socket_, 4) == 0 &&
        getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        port_ = ntohs(local.sin_port);
    }
}

PortHolder::~PortHolder() {
    close(socket_);
}

namespace {

// The inodes of the sockets that listen on port, from the kernel's table of IPv4 TCP sockets.
std::vector<std::string> ListeningInodes(unsigned short port) {
    constexpr char kListen[] = "0A";
    std::ifstream table("/proc/net/tcp");
    std::vector<std::string> inodes;
    std::string line;
    std::getline(table, line);  // the column names
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        const auto colon = local.find(':');
        if (state == kListen && colon != std::string::npos &&
            std::stoul(local.substr(colon + 1), nullptr, 16) == port) {
            inodes.push_back(inode);
        }
    }
    return inodes;
}

}  // namespace

bool ListensOn(pid_t pid, unsigned short port) {
    const std::vector<std::string> inodes = ListeningInodes(port);
    std::error_code error;
    const std::filesystem::path descriptors = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(descriptors, error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        for (const std::string& inode : inodes) {
            if (target == "socket:[" + inode + "]") {
                return true;
            }
        }
    }
    return false;
}

bool NothingListens(unsigned short port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return !connected;
}
