#include "platform/socket.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

platform::Socket NewTcpSocket() {
    return platform::Socket(socket(AF_INET, SOCK_STREAM, 0));
}

TEST(SocketTest, TheLibraryStartsAndAnOwnedSocketIsClosedOnceWhenItGoes) {
    platform::SocketLibrary library;
    EXPECT_TRUE(library.Started());
    platform::Socket first = NewTcpSocket();
    ASSERT_TRUE(first.IsOpen());
    const platform::NativeSocket native = first.Native();
    platform::Socket second = std::move(first);
    EXPECT_FALSE(first.IsOpen());  // NOLINT(bugprone-use-after-move): moved-from state is defined
    EXPECT_EQ(native, second.Native());
    second.Close();
    second.Close();
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(-1, fcntl(native, F_GETFD));
}

TEST(SocketTest, BlockingModeAndTimeOutsAreSetAsAsked) {
    platform::Socket socket = NewTcpSocket();
    ASSERT_EQ(platform::error::kNone, platform::SetBlocking(socket.Native(), false));
    EXPECT_NE(0, fcntl(socket.Native(), F_GETFL) & O_NONBLOCK);
    ASSERT_EQ(platform::error::kNone, platform::SetBlocking(socket.Native(), true));
    EXPECT_EQ(0, fcntl(socket.Native(), F_GETFL) & O_NONBLOCK);

    ASSERT_EQ(platform::error::kNone, platform::SetIoTimeouts(socket.Native(), 5ms));
    for (int option : {SO_SNDTIMEO, SO_RCVTIMEO}) {
        timeval value{};
        socklen_t length = sizeof value;
        ASSERT_EQ(0, getsockopt(socket.Native(), SOL_SOCKET, option, &value, &length));
        EXPECT_EQ(0, value.tv_sec);
        EXPECT_GE(value.tv_usec, 4000);  // the kernel rounds to its clock tick
        EXPECT_LE(value.tv_usec, 10000);
    }
    EXPECT_NE(platform::error::kNone, platform::SetBlocking(platform::kNoSocket, true));
}

TEST(SocketTest, AWaitEndsWhenTheSocketIsReadyOrTheTimeIsUp) {
    int ends[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, ends));
    platform::Socket near(ends[0]);
    platform::Socket far(ends[1]);
    // Timed out: a wait that worked, and the socket not ready.
    EXPECT_FALSE(platform::WaitForSocket(near.Native(), platform::SocketReadiness::Readable, 3ms)
                     .value_or(true));
    EXPECT_TRUE(platform::WaitForSocket(near.Native(), platform::SocketReadiness::Writable, 3ms)
                    .value_or(false));
    EXPECT_EQ(1, platform::SendBytes(far.Native(), "x", 1).value_or(-1));
    EXPECT_TRUE(platform::WaitForSocket(near.Native(), platform::SocketReadiness::Readable, 3ms)
                    .value_or(false));
    EXPECT_FALSE(
        platform::WaitForSocket(platform::kNoSocket, platform::SocketReadiness::Readable, 3ms)
            .has_value());

    far.Close();  // a send to a closed peer fails instead of raising a signal
    EXPECT_FALSE(platform::SendBytes(near.Native(), "x", 1).has_value());
    EXPECT_FALSE(platform::SendBytes(near.Native(), "x", -1).has_value());
}

}  // namespace
