#include "relay/net/server_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "sim/decoder/decoder_server.h"
#include "tests/relay/decoder_scripts.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Reads until something other than "nothing arrived" comes, for at most ten seconds.
int ReadSoon(ServerSocket& socket, PacketBuffer& buffer) {
    const auto deadline = Clock::now() + 10s;
    int result = ReceiveResult::Nothing;
    while (result == ReceiveResult::Nothing && Clock::now() < deadline) {
        result = socket.ReadSocket(buffer);
    }
    return result;
}

// A socket connected to the server at port on 127.0.0.1.
void ConnectTo(ServerSocket& socket, std::uint16_t port) {
    socket.SetServer(port, "127.0.0.1");
    ASSERT_EQ(ConnectResult::Connected, socket.Connect());
    ASSERT_TRUE(socket.IsOpen());
}

TEST(ServerSocketTest, ConnectsToADottedAddressOrAHostNameAndCarriesBytesBothWays) {
    for (const char* host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        decoder::DecoderServer server(DecoderScriptFrom("expect 01 02 03\nsend 04 05\n"));
        ASSERT_TRUE(server.Ready()) << server.Error();
        ServerSocket socket;
        socket.SetServer(server.Port(), host);
        ASSERT_EQ(ConnectResult::Connected, socket.Connect());

        const unsigned char packet[] = {0x01, 0x02, 0x03};
        EXPECT_EQ(3, socket.WriteSocket(packet, sizeof packet));
        PacketBuffer buffer{};
        ASSERT_EQ(2, ReadSoon(socket, buffer));
        EXPECT_EQ(0x04, buffer[0]);
        EXPECT_EQ(0x05, buffer[1]);
        socket.CloseSocket();
        ASSERT_TRUE(server.WaitForEndedSessions(1, 10s));
        EXPECT_EQ(sim::Bytes(packet, packet + 3), server.Sessions()[0].received);
    }
}

TEST(ServerSocketTest, ARefusedOrUnknownServerIsNotConnectedAndLeavesNoSocket) {
    decoder::DecoderServer refusing(DecoderScriptFrom("refuse\n"));
    ASSERT_TRUE(refusing.Ready()) << refusing.Error();
    struct Case {
        std::string host;
        std::uint16_t port;
    } cases[] = {{"127.0.0.1", refusing.Port()},
                 {"localhost", refusing.Port()},
                 {"no-such-host.invalid", 9977},
                 {"", 9977}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        ServerSocket socket;
        socket.SetServer(c.port, c.host);
        const auto start = Clock::now();
        EXPECT_EQ(ConnectResult::NotConnected, socket.Connect());
        EXPECT_FALSE(socket.IsOpen());
        if (c.port == refusing.Port()) {
            EXPECT_LT(Clock::now() - start, 2500ms) << "a refusal is not a time-out";
        }
    }
}

TEST(ServerSocketTest, AServerThatDropsTheHandshakeCostsTheConnectTimeOut) {
    decoder::DecoderServer dropping(
        DecoderScriptFrom("drop\n"));  // its full queue drops every request
    ASSERT_TRUE(dropping.Ready()) << dropping.Error();
    ServerSocket socket;
    socket.SetServer(dropping.Port(), "127.0.0.1");
    const auto start = Clock::now();
    EXPECT_EQ(ConnectResult::NotConnected, socket.Connect());
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 2500ms);
    EXPECT_LT(took, 10s);
    EXPECT_FALSE(socket.IsOpen());
}

TEST(ServerSocketTest, WithoutASocketToBeHadConnectFailsAsSocketFailed) {
    decoder::DecoderServer server(DecoderScriptFrom("expect 01\n"));
    ASSERT_TRUE(server.Ready()) << server.Error();
    // Made before the limit: the socket library may need descriptors of its own to start, and
    // so may the undefined-behaviour sanitizer to check the object's type on its first call.
    ServerSocket socket;
    socket.SetServer(server.Port(), "127.0.0.1");
    rlimit limit{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
    const rlimit saved = limit;
    limit.rlim_cur = 0;  // no new descriptor for this process
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
    const int result = socket.Connect();
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(ConnectResult::SocketFailed, result);
    EXPECT_FALSE(socket.IsOpen());
    socket.CloseSocket();
    EXPECT_EQ(ConnectResult::Connected, socket.Connect());
}

TEST(ServerSocketTest, TheConnectionIsBlockingWithoutDelayAndFiveMillisecondTimeOuts) {
    decoder::DecoderServer server(DecoderScriptFrom("expect 01\n"));
    ServerSocket socket;
    ConnectTo(socket, server.Port());
    // The client's descriptor: the one whose peer is the server.
    int found = -1;
    for (int fd = 0; fd < 1024 && found == -1; ++fd) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
            peer.sin_family == AF_INET && ntohs(peer.sin_port) == server.Port()) {
            found = fd;
        }
    }
    ASSERT_NE(-1, found);
    EXPECT_EQ(0, fcntl(found, F_GETFL) & O_NONBLOCK);
    int noDelay = 0;
    socklen_t length = sizeof noDelay;
    ASSERT_EQ(0, getsockopt(found, IPPROTO_TCP, TCP_NODELAY, &noDelay, &length));
    EXPECT_NE(0, noDelay);
    for (int option : {SO_SNDTIMEO, SO_RCVTIMEO}) {
        timeval value{};
        length = sizeof value;
        ASSERT_EQ(0, getsockopt(found, SOL_SOCKET, option, &value, &length));
        EXPECT_EQ(0, value.tv_sec);
        EXPECT_GE(value.tv_usec, 4000);  // the kernel rounds to its clock tick
        EXPECT_LE(value.tv_usec, 10000);
    }
}

TEST(ServerSocketTest, AReadWithNothingWaitingReturnsNothing) {
    ServerSocket unconnected;
    PacketBuffer buffer{};
    EXPECT_EQ(ReceiveResult::Nothing, unconnected.ReadSocket(buffer));

    decoder::DecoderServer server(DecoderScriptFrom("expect 01\n"));  // never answers
    ServerSocket socket;
    ConnectTo(socket, server.Port());
    buffer.fill(0x5A);
    const auto start = Clock::now();
    EXPECT_EQ(ReceiveResult::Nothing, socket.ReadSocket(buffer));
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 2ms) << "the read waits for data";
    EXPECT_LT(took, 2s);
    EXPECT_EQ(0x5A, buffer[0]);
}

TEST(ServerSocketTest, AReadTakesAtMost2048BytesAndTheRestComesWithTheNext) {
    decoder::DecoderServer server(DecoderScriptFrom("send 11*2048 22*952\nclose\n"));
    ServerSocket socket;
    ConnectTo(socket, server.Port());
    ASSERT_TRUE(server.WaitForEndedSessions(1, 10s));  // everything sent before the first read
    PacketBuffer buffer{};
    ASSERT_EQ(2048, ReadSoon(socket, buffer));
    EXPECT_EQ(0x11, buffer[2047]);
    buffer.fill(0);
    ASSERT_EQ(952, ReadSoon(socket, buffer));
    EXPECT_EQ(0x22, buffer[0]);
    EXPECT_EQ(0x22, buffer[951]);
    EXPECT_EQ(0x00, buffer[952]);
}

TEST(ServerSocketTest, AConnectionTheServerClosedReadsAsFailedAgainAndAgain) {
    decoder::DecoderServer server(DecoderScriptFrom("close\n"));
    ServerSocket socket;
    ConnectTo(socket, server.Port());
    PacketBuffer buffer{};
    EXPECT_EQ(ReceiveResult::Failed, ReadSoon(socket, buffer));
    EXPECT_EQ(ReceiveResult::Failed, socket.ReadSocket(buffer));
    EXPECT_TRUE(socket.IsOpen()) << "the socket stays open until it is closed";

    // Writing to it fails sooner or later, and never ends the process with a signal.
    const unsigned char packet[26] = {0xAA, 0x00, 0x16, 0x01};
    int result = 1;
    for (int i = 0; i < 50 && result > 0; ++i) {
        result = socket.WriteSocket(packet, sizeof packet);
    }
    EXPECT_LE(result, 0);
}

TEST(ServerSocketTest, WritesWithoutAConnectionOrWithoutBytesSendNothing) {
    decoder::DecoderServer server(DecoderScriptFrom("expect 01\n"));
    ServerSocket socket;
    const unsigned char packet[] = {0x01, 0x02};
    EXPECT_EQ(-1, socket.WriteSocket(packet, sizeof packet));

    ConnectTo(socket, server.Port());
    EXPECT_EQ(0, socket.WriteSocket(packet, 0));
    EXPECT_EQ(-1, socket.WriteSocket(packet, -1));
    EXPECT_EQ(-1, socket.WriteSocket(nullptr, 2));
    socket.CloseSocket();
    EXPECT_EQ(-1, socket.WriteSocket(packet, sizeof packet));
    ASSERT_TRUE(server.WaitForEndedSessions(1, 10s));
    EXPECT_TRUE(server.Sessions()[0].received.empty());
    EXPECT_EQ("client closed", server.Sessions()[0].outcome);
}

TEST(ServerSocketTest, ClosingTwiceIsHarmlessAndClosesNothingElse) {
    ServerSocket fresh;
    fresh.CloseSocket();
    fresh.CloseSocket();
    EXPECT_NE(-1, fcntl(STDIN_FILENO, F_GETFD)) << "standard input was closed";

    decoder::DecoderServer server(DecoderScriptFrom("expect 01\n"));
    ServerSocket socket;
    ConnectTo(socket, server.Port());
    socket.CloseSocket();
    EXPECT_FALSE(socket.IsOpen());
    int pipeEnds[2];
    ASSERT_EQ(0, pipe(pipeEnds));  // likely takes the number the socket had
    socket.CloseSocket();
    EXPECT_EQ(1, write(pipeEnds[1], "x", 1)) << "a descriptor reused after the close was closed";
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

TEST(ServerSocketTest, WorksOnADescriptorBeyondTheSelectLimit) {
    rlimit limit{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
    const rlimit saved = limit;
    if (limit.rlim_cur < 2 * FD_SETSIZE) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 2 * FD_SETSIZE);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur < FD_SETSIZE + 64) {
        GTEST_SKIP() << "the process may not open enough descriptors";
    }
    decoder::DecoderServer server(DecoderScriptFrom("expect 01\nsend 02 03\n"));
    std::vector<int> fillers;
    for (int fd = dup(STDERR_FILENO); fd != -1 && fd < FD_SETSIZE + 8; fd = dup(STDERR_FILENO)) {
        fillers.push_back(fd);
    }
    {
        ServerSocket socket;
        ConnectTo(socket, server.Port());
        const unsigned char packet[] = {0x01};
        EXPECT_EQ(1, socket.WriteSocket(packet, 1));
        PacketBuffer buffer{};
        EXPECT_EQ(2, ReadSoon(socket, buffer));
    }
    for (int fd : fillers) {
        close(fd);
    }
    setrlimit(RLIMIT_NOFILE, &saved);
}

}  // namespace
