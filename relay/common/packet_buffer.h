#pragma once

#include <array>
#include <cstddef>

// A packet buffer of the relay: every read from the box or the server lands in one of these, and
// no transfer asks for more than it holds.
constexpr std::size_t kPacketBufferSize = 2048;
using PacketBuffer = std::array<unsigned char, kPacketBufferSize>;
