#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "relay/common/waits.h"
#include "relay/net/server_socket.h"

// Reads until something other than "nothing arrived" comes, for at most ten seconds.
inline int ReadSoon(ServerSocket& socket, PacketBuffer& buffer) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int result = ReceiveResult::Nothing;
    while (result == ReceiveResult::Nothing && std::chrono::steady_clock::now() < deadline) {
        result = socket.ReadSocket(buffer, waits::kServerRead);
    }
    return result;
}

// A socket connected to the server at port on 127.0.0.1.
inline void ConnectTo(ServerSocket& socket, std::uint16_t port) {
    socket.SetServer(port, "127.0.0.1");
    ASSERT_EQ(ConnectResult::Connected, socket.Connect());
    ASSERT_TRUE(socket.IsOpen());
}
