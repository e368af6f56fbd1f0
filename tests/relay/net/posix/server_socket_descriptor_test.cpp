// What the server socket does with the system's descriptors: the limits of the process, the
// descriptor's settings, and descriptors it does not own.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "relay/net/server_socket.h"
#include "sim/decoder/decoder_server.h"
#include "tests/relay/net/server_socket_support.h"
#include "tests/sim/decoder_scripts.h"

namespace {

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
