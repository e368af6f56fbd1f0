#include "tests/webservice/support/raw_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

RawClient::RawClient() : socket_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}

RawClient::RawClient(const std::string& address, unsigned short port) : RawClient() {
    Connect(address, port);
}

bool RawClient::Connect(const std::string& address, unsigned short port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    connected_ = socket_ >= 0 && inet_pton(AF_INET, address.c_str(), &peer.sin_addr) == 1 &&
                 connect(socket_, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
    return connected_;
}

RawClient::~RawClient() {
    if (socket_ >= 0) {
        close(socket_);
    }
}

bool RawClient::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool RawClient::ReadSome(std::string& into, std::chrono::steady_clock::time_point deadline) {
    // Rounded up: a wait of a fraction of a millisecond still looks once.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (peerClosed_ || left.count() <= 0) {
        return false;
    }
    pollfd ready{socket_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
        return false;
    }
    char piece[65536];
    const ssize_t got = recv(socket_, piece, sizeof piece, 0);
    if (got <= 0) {
        peerClosed_ = true;
        return false;
    }
    into.append(piece, static_cast<std::size_t>(got));
    return true;
}

std::string RawClient::Receive(std::size_t count, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    std::string received;
    while (received.size() < count && ReadSome(received, deadline)) {
    }
    return received;
}

std::string RawClient::ReceiveUntil(std::string_view ending, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    std::string received;
    while ((received.size() < ending.size() ||
            received.compare(received.size() - ending.size(), ending.size(), ending) != 0) &&
           ReadSome(received, deadline)) {
    }
    return received;
}

std::string RawClient::ReceiveUntilClosed(std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    std::string received;
    while (ReadSome(received, deadline)) {
    }
    return received;
}

bool RawClient::StaysSilent(std::chrono::milliseconds wait) {
    std::string received;
    ReadSome(received, std::chrono::steady_clock::now() + wait);
    return received.empty() && !peerClosed_;
}

std::string Exchange(unsigned short port, std::string_view request, const std::string& address,
                     std::chrono::milliseconds within) {
    RawClient client(address, port);
    if (!client.IsConnected() || !client.Send(request)) {
        return "(no connection)";
    }
    return client.ReceiveUntil("0\r\n\r\n", within);
}
