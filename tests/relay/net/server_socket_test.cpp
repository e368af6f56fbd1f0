// The server socket against the decoding-server stand-in on 127.0.0.1, on every system.
#include "relay/net/server_socket.h"

#include <gtest/gtest.h>

#include <chrono>

#include "relay/common/waits.h"
#include "sim/decoder/decoder_server.h"
#include "tests/relay/net/server_socket_support.h"
#include "tests/sim/decoder_scripts.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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
    // Three seconds, and not much more, however loaded the machine.
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 2950ms);
    EXPECT_LT(took, 3700ms);
    EXPECT_FALSE(socket.IsOpen());
}

TEST(ServerSocketTest, AReadWithNothingWaitingReturnsNothing) {
    ServerSocket unconnected;
    PacketBuffer buffer{};
    EXPECT_EQ(ReceiveResult::Nothing, unconnected.ReadSocket(buffer, waits::kServerRead));

    decoder::DecoderServer server(DecoderScriptFrom("expect 01\n"));  // never answers
    ServerSocket socket;
    ConnectTo(socket, server.Port());
    buffer.fill(0x5A);
    const auto start = Clock::now();
    EXPECT_EQ(ReceiveResult::Nothing, socket.ReadSocket(buffer, waits::kServerRead));
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
    EXPECT_EQ(ReceiveResult::Failed, socket.ReadSocket(buffer, waits::kServerRead));
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

}  // namespace
