// The platform's sockets against listeners of Windows sockets on 127.0.0.1.
#include "platform/socket.h"

#include <gtest/gtest.h>
#include <winsock.h>

#include <chrono>
#include <cstdint>

using namespace std::chrono_literals;

namespace {

// A listening socket on a free port of 127.0.0.1.
class Listener {
  public:
    Listener() : socket_(platform::OpenTcpSocket().value_or(platform::Socket())) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        const SOCKET s = static_cast<SOCKET>(socket_.Native());
        ok_ = bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
              listen(s, 4) == 0 &&
              getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        port_ = ntohs(address.sin_port);
    }

    bool Ok() const { return ok_; }
    std::uint16_t Port() const { return port_; }
    platform::Socket Accept() {
        return platform::Socket(static_cast<platform::NativeSocket>(
            accept(static_cast<SOCKET>(socket_.Native()), nullptr, nullptr)));
    }
    void Close() { socket_.Close(); }

  private:
    platform::Socket socket_;
    bool ok_ = false;
    std::uint16_t port_ = 0;
};

constexpr platform::Ipv4Address kLoopback{127, 0, 0, 1};

// A connection made without blocking, as the relay makes it; the outcome's error code.
uint32_t ConnectWithoutBlocking(platform::Socket& socket, std::uint16_t port) {
    EXPECT_EQ(platform::error::kNone, platform::SetBlocking(socket.Native(), false));
    platform::StartConnect(socket.Native(), kLoopback, port);
    EXPECT_TRUE(platform::WaitForSocket(socket.Native(), platform::SocketReadiness::Writable, 10s)
                    .value_or(false));
    return platform::ConnectionError(socket.Native());
}

class SocketTest : public ::testing::Test {
  protected:
    platform::SocketLibrary library_;
};

TEST_F(SocketTest, TheLibraryStartsAndAnOwnedSocketIsClosedOnceWhenItGoes) {
    EXPECT_TRUE(library_.Started());
    EXPECT_EQ(0u, library_.StartError());
    platform::Socket first = platform::OpenTcpSocket().value_or(platform::Socket());
    ASSERT_TRUE(first.IsOpen());
    const platform::NativeSocket native = first.Native();
    platform::Socket second = std::move(first);
    EXPECT_FALSE(first.IsOpen());  // NOLINT(bugprone-use-after-move): moved-from state is defined
    EXPECT_EQ(native, second.Native());
    second.Close();
    second.Close();
    EXPECT_FALSE(second.IsOpen());
    int type = 0;
    int length = sizeof type;
    EXPECT_NE(0, getsockopt(static_cast<SOCKET>(native), SOL_SOCKET, SO_TYPE,
                            reinterpret_cast<char*>(&type), &length));
    EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
}

TEST_F(SocketTest, NamesAndDottedAddressesResolveToIpv4) {
    const platform::Ipv4Address none{};
    EXPECT_EQ(kLoopback, platform::ResolveIpv4("127.0.0.1").value_or(none));
    EXPECT_EQ(kLoopback, platform::ResolveIpv4("localhost").value_or(none));
    const platform::Ipv4Address broadcast{255, 255, 255, 255};
    EXPECT_EQ(broadcast, platform::ResolveIpv4("255.255.255.255").value_or(none));
    EXPECT_FALSE(platform::ResolveIpv4("").has_value());
}

TEST_F(SocketTest, AConnectionMadeWithoutBlockingCarriesBytesAndTellsOfTheClose) {
    Listener listener;
    ASSERT_TRUE(listener.Ok());
    platform::Socket client = platform::OpenTcpSocket().value_or(platform::Socket());
    ASSERT_EQ(0u, ConnectWithoutBlocking(client, listener.Port()));
    ASSERT_EQ(platform::error::kNone, platform::SetBlocking(client.Native(), true));
    EXPECT_EQ(platform::error::kNone, platform::SetNoDelay(client.Native()));
    ASSERT_EQ(platform::error::kNone, platform::SetIoTimeouts(client.Native(), 5ms));
    DWORD timeout = 0;
    int length = sizeof timeout;
    ASSERT_EQ(0, getsockopt(static_cast<SOCKET>(client.Native()), SOL_SOCKET, SO_RCVTIMEO,
                            reinterpret_cast<char*>(&timeout), &length));
    EXPECT_EQ(5u, timeout);

    platform::Socket server = listener.Accept();
    ASSERT_TRUE(server.IsOpen());
    // Timed out: a wait that worked, and nothing to read.
    EXPECT_FALSE(platform::WaitForSocket(client.Native(), platform::SocketReadiness::Readable, 3ms)
                     .value_or(true));
    EXPECT_EQ(3, platform::SendBytes(server.Native(), "abc", 3).value_or(-1));
    EXPECT_TRUE(platform::WaitForSocket(client.Native(), platform::SocketReadiness::Readable, 10s)
                    .value_or(false));
    char buffer[8] = {};
    EXPECT_EQ(3, platform::ReceiveBytes(client.Native(), buffer, sizeof buffer).value_or(-1));
    EXPECT_STREQ("abc", buffer);
    EXPECT_FALSE(platform::ReceiveBytes(client.Native(), buffer, -1).has_value());
    EXPECT_FALSE(platform::SendBytes(client.Native(), "x", -1).has_value());

    server.Close();
    EXPECT_TRUE(platform::WaitForSocket(client.Native(), platform::SocketReadiness::Readable, 10s)
                    .value_or(false));
    EXPECT_EQ(0, platform::ReceiveBytes(client.Native(), buffer, sizeof buffer).value_or(-1));
}

TEST_F(SocketTest, ARefusedConnectionIsReadyAtOnceAndSaysWhy) {
    Listener listener;
    ASSERT_TRUE(listener.Ok());
    const std::uint16_t port = listener.Port();
    listener.Close();  // nothing listens there now
    platform::Socket client = platform::OpenTcpSocket().value_or(platform::Socket());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(static_cast<uint32_t>(WSAECONNREFUSED), ConnectWithoutBlocking(client, port));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST_F(SocketTest, NoSocketIsRefusedEverywhere) {
    EXPECT_FALSE(
        platform::WaitForSocket(platform::kNoSocket, platform::SocketReadiness::Readable, 3ms)
            .has_value());
    EXPECT_NE(platform::error::kNone, platform::SetBlocking(platform::kNoSocket, true));
    EXPECT_FALSE(platform::Socket(platform::kNoSocket).IsOpen());
}

}  // namespace
