#include "relay/net/server_socket.h"

#include <chrono>
#include <optional>

#include "relay/engine/log.h"

namespace {

constexpr std::chrono::milliseconds kIoTimeout{5};
constexpr std::chrono::milliseconds kConnectTimeout{3000};
constexpr std::chrono::milliseconds kReadWait{3};

// The server's IPv4 address: dotted text as it stands, otherwise the first address a name
// lookup gives; empty when neither works.
std::optional<in_addr> ResolveHost(const std::string& host) {
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) == 1) {
        return address;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 ||
        found == nullptr) {
        return std::nullopt;
    }
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return address;
}

// Whether a connection started without blocking was established. Becoming writable is not
// enough: a refused connection becomes writable too. 0 when established, otherwise the reason.
int ConnectionError(platform::NativeSocket socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        return platform::LastSocketError();
    }
    if (error != 0) {
        return error;
    }
    // A connect that failed at once leaves no pending error; only a connected socket has a peer.
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
        return platform::LastSocketError();
    }
    return 0;
}

}  // namespace

ServerSocket::ServerSocket() {
    if (!library_.Started()) {
        WriteLog("[HASOCKET]WSAStartup create failed error code is " +
                 std::to_string(library_.StartError()));
    }
}

ServerSocket::~ServerSocket() = default;

void ServerSocket::SetServer(std::uint16_t port, const std::string& host) {
    port_ = port;
    host_ = host;
}

int ServerSocket::Connect() {
    socket_ = platform::Socket(socket(AF_INET, SOCK_STREAM, 0));
    if (!socket_.IsOpen()) {
        WriteLog("[HASOCKET]socket() create failed! ,error code is" +
                 std::to_string(platform::LastSocketError()));
        return ConnectResult::SocketFailed;
    }
    const std::optional<in_addr> address = ResolveHost(host_);
    if (!address) {
        socket_.Close();
        return ConnectResult::NotConnected;
    }
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr = *address;
    server.sin_port = htons(port_);

    const platform::NativeSocket native = socket_.Native();
    const int noDelay = 1;
    setsockopt(native, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
    platform::SetIoTimeouts(native, kIoTimeout);

    // Without blocking, so that an unanswered connection costs at most the connect time-out.
    if (!platform::SetBlocking(native, false)) {
        return FailConnect("ioctlsocket_FIONBIO  failed! ,error code is",
                           platform::LastSocketError());
    }
    // The immediate result tells nothing the wait and the check below do not.
    connect(native, reinterpret_cast<const sockaddr*>(&server), sizeof server);
    const int ready =
        platform::WaitForSocket(native, platform::SocketReadiness::Writable, kConnectTimeout);
    if (ready <= 0) {
        return FailConnect("[HASOCKET]select  failed! ,error code is", platform::LastSocketError());
    }
    if (const int error = ConnectionError(native); error != 0) {
        return FailConnect("[HASOCKET]select  failed! ,error code is", error);
    }
    if (!platform::SetBlocking(native, true)) {
        return FailConnect("ioctlsocket_FIONBIO  failed! ,error code is",
                           platform::LastSocketError());
    }
    return ConnectResult::Connected;
}

int ServerSocket::FailConnect(const char* text, int error) {
    socket_.Close();
    WriteLog(text + std::to_string(error));
    return ConnectResult::NotConnected;
}

int ServerSocket::ReadSocket(PacketBuffer& destination) {
    if (!socket_.IsOpen()) {
        return ReceiveResult::Nothing;
    }
    if (platform::WaitForSocket(socket_.Native(), platform::SocketReadiness::Readable, kReadWait) <=
        0) {
        return ReceiveResult::Nothing;
    }
    const auto received = recv(socket_.Native(), reinterpret_cast<char*>(destination.data()),
                               static_cast<int>(destination.size()), 0);
    return received > 0 ? static_cast<int>(received) : ReceiveResult::Failed;
}

int ServerSocket::WriteSocket(const unsigned char* data, int length) {
    if (!socket_.IsOpen() || length < 0 || (data == nullptr && length > 0)) {
        return -1;
    }
    const int sent = platform::SendBytes(socket_.Native(), data, length);
    if (sent <= 0) {
        WriteLog("[HASOCKET]", "WriteSocket error");
    }
    return sent;
}

void ServerSocket::CloseSocket() {
    socket_.Close();
}
