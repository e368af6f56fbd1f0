// The box stand-in's default scenario and the decoding-server stand-in's default dialogue play a
// whole card dialogue with each other, carried through the real transport: the demo's path.

#include <gtest/gtest.h>

#include <chrono>

#include "relay/common/waits.h"
#include "relay/net/server_socket.h"
#include "relay/usb/usb_box.h"
#include "sim/decoder/decoder_server.h"
#include "tests/sim/box_fixture.h"

namespace {

using namespace std::chrono_literals;
using DefaultDialogueTest = BoxFixture;

TEST_F(DefaultDialogueTest, TheDefaultBoxAndServerCompleteACardReadThroughTheTransport) {
    decoder::DecoderServer server(decoder::DecoderScript::Default());
    ASSERT_TRUE(server.Ready()) << server.Error();

    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());  // no scenario given: the default box
    PacketBuffer fromBox{};
    box_.ReadUsb(fromBox, 10ms);
    ASSERT_EQ(26, box_.ReadUsb(fromBox, 10000ms));
    ASSERT_EQ(0x01, fromBox[3]);

    ServerSocket socket;
    socket.SetServer(server.Port(), "127.0.0.1");
    ASSERT_EQ(ConnectResult::Connected, socket.Connect());
    ASSERT_EQ(26, socket.WriteSocket(fromBox.data(), 26));

    // Pass packets both ways until the server's final packet has gone to the box.
    PacketBuffer fromServer{};
    int finalLength = 0;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (finalLength == 0 && std::chrono::steady_clock::now() < deadline) {
        const int n = box_.ReadUsb(fromBox, 20ms);
        if (n > 0) {
            ASSERT_EQ(n, socket.WriteSocket(fromBox.data(), n));
        }
        const int s = socket.ReadSocket(fromServer, waits::kServerRead);
        ASSERT_NE(ReceiveResult::Failed, s);
        if (s > 0) {
            ASSERT_EQ(s, box_.WriteUsb(fromServer.data(), s));
            if (fromServer[3] == 0xA0 && s > 1000) {
                finalLength = s;
            }
        }
    }
    EXPECT_EQ(1301, finalLength);
    socket.CloseSocket();
    box_.DisConnectUsb();

    ASSERT_TRUE(server.WaitForEndedSessions(1, 10s));
    const decoder::Session session = server.Sessions()[0];
    EXPECT_EQ("client closed", session.outcome);
    EXPECT_EQ(26u + 36u + 1024u + 256u, session.received.size());
}

}  // namespace
