#include "relay/net/server_socket.h"

#include <chrono>
#include <utility>

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
    platform::Result<platform::Socket> opened = platform::OpenTcpSocket();
    if (!opened) {
        WriteLog("[HASOCKET]socket() create failed! ,error code is" +
                 std::to_string(opened.Error()));
        return ConnectResult::SocketFailed;
    }
    socket_ = std::move(*opened);
    const platform::Result<platform::Ipv4Address> address = platform::ResolveIpv4(host_);
    if (!address) {
        socket_.Close();
        return ConnectResult::NotConnected;
    }

    const platform::NativeSocket native = socket_.Native();
    platform::SetNoDelay(native);
    platform::SetIoTimeouts(native, waits::kServerSocketIo);

    // Without blocking, so that an unanswered connection costs at most the connect time-out.
    if (const uint32_t error = platform::SetBlocking(native, false)) {
        return FailConnect("ioctlsocket_FIONBIO  failed! ,error code is", error);
    }
    // What the start says (the connection under way) tells nothing the wait and the check below
    // do not; it is the code a wait that runs out reports.
    const uint32_t started = platform::StartConnect(native, *address, port_);
    const platform::Result<bool> ready =
        platform::WaitForSocket(native, platform::SocketReadiness::Writable, waits::kServerConnect);
    if (!ready.value_or(false)) {
        return FailConnect("[HASOCKET]select  failed! ,error code is",
                           ready ? started : ready.Error());
    }
    if (const uint32_t error = platform::ConnectionError(native)) {
        return FailConnect("[HASOCKET]select  failed! ,error code is", error);
    }
    if (const uint32_t error = platform::SetBlocking(native, true)) {
        return FailConnect("ioctlsocket_FIONBIO  failed! ,error code is", error);
    }
    return ConnectResult::Connected;
}

int ServerSocket::FailConnect(const char* text, uint32_t error) {
    socket_.Close();
    WriteLog(text + std::to_string(error));
    return ConnectResult::NotConnected;
}

int ServerSocket::ReadSocket(PacketBuffer& destination, std::chrono::milliseconds wait) {
    if (!socket_.IsOpen()) {
        return ReceiveResult::Nothing;
    }
    if (!platform::WaitForSocket(socket_.Native(), platform::SocketReadiness::Readable, wait)
             .value_or(false)) {
        return ReceiveResult::Nothing;
    }
    const int received = platform::ReceiveBytes(socket_.Native(), destination.data(),
                                                static_cast<int>(destination.size()))
                             .value_or(0);
    return received > 0 ? received : ReceiveResult::Failed;
}

int ServerSocket::WriteSocket(const unsigned char* data, int length) {
    if (!socket_.IsOpen() || length < 0 || (data == nullptr && length > 0)) {
        return -1;
    }
    // A failed send answers -1, as the socket library's send does.
    const int sent = platform::SendBytes(socket_.Native(), data, length).value_or(-1);
    if (sent <= 0) {
        WriteLog("[HASOCKET]", "WriteSocket error");
    }
    return sent;
}

void ServerSocket::CloseSocket() {
    socket_.Close();
}
