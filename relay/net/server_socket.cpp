#include "relay/net/server_socket.h"

#include <chrono>
#include <optional>

#include "relay/common/log.h"
#include "relay/common/waits.h"

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
    socket_ = platform::OpenTcpSocket();
    if (!socket_.IsOpen()) {
        WriteLog("[HASOCKET]socket() create failed! ,error code is" +
                 std::to_string(platform::LastSocketError()));
        return ConnectResult::SocketFailed;
    }
    const std::optional<platform::Ipv4Address> address = platform::ResolveIpv4(host_);
    if (!address) {
        socket_.Close();
        return ConnectResult::NotConnected;
    }

    const platform::NativeSocket native = socket_.Native();
    platform::SetNoDelay(native);
    platform::SetIoTimeouts(native, waits::kServerSocketIo);

    // Without blocking, so that an unanswered connection costs at most the connect time-out.
    if (!platform::SetBlocking(native, false)) {
        return FailConnect("ioctlsocket_FIONBIO  failed! ,error code is",
                           platform::LastSocketError());
    }
    // The immediate result tells nothing the wait and the check below do not.
    platform::StartConnect(native, *address, port_);
    const int ready =
        platform::WaitForSocket(native, platform::SocketReadiness::Writable, waits::kServerConnect);
    if (ready <= 0) {
        return FailConnect("[HASOCKET]select  failed! ,error code is", platform::LastSocketError());
    }
    if (const int error = platform::ConnectionError(native); error != 0) {
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

int ServerSocket::ReadSocket(PacketBuffer& destination, std::chrono::milliseconds wait) {
    if (!socket_.IsOpen()) {
        return ReceiveResult::Nothing;
    }
    if (platform::WaitForSocket(socket_.Native(), platform::SocketReadiness::Readable, wait) <= 0) {
        return ReceiveResult::Nothing;
    }
    const int received = platform::ReceiveBytes(socket_.Native(), destination.data(),
                                                static_cast<int>(destination.size()));
    return received > 0 ? received : ReceiveResult::Failed;
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
