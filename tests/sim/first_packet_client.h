#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "relay/common/waits.h"
#include "relay/net/server_socket.h"

// Connects to a decoding server on 127.0.0.1 as the relay does, sends it a first packet (26
// bytes, byte 3 = 01), takes what it answers within a few seconds and closes the connection: the
// answer's length, or the receive's result when none came.
inline int AnswerToAFirstPacket(std::uint16_t port, PacketBuffer& answer) {
    ServerSocket socket;
    socket.SetServer(port, "127.0.0.1");
    EXPECT_EQ(ConnectResult::Connected, socket.Connect());
    unsigned char first[26] = {0xAA, 0x00, 0x16, 0x01};
    EXPECT_EQ(26, socket.WriteSocket(first, sizeof first));
    int received = ReceiveResult::Nothing;
    for (int i = 0; i < 3000 && received == ReceiveResult::Nothing; ++i) {
        received = socket.ReadSocket(answer, waits::kServerRead);
    }
    socket.CloseSocket();
    return received;
}
