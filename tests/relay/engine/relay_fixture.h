#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "relay/engine/relay_cycle.h"
#include "relay/engine/relay_state.h"
#include "relay/net/server_socket.h"
#include "relay/usb/usb_box.h"
#include "tests/sim/box_fixture.h"
#include "tests/sim/box_transfers.h"

// Packets of the stand-ins' default card dialogue, for scenarios and scripts.
namespace packets {
constexpr const char* kFirst = "AA 00 16 01 05 43 41 52 44 2D 30 30 30 31 00*11 7E";
constexpr const char* kChallenge = "AA 00 0C 02 00 11 22 33 44 55 66 77 88 99 AA BB";
constexpr const char* kAnswer = "AA 00 20 03 00 5A*30 C3";
constexpr const char* kCardRead = "AA 05 11 A0 00 5E*1296";  // final packet, 1301 bytes
constexpr const char* kNotRead = "AA 00 0D A0 01 00*12";     // final packet, 17 bytes
}  // namespace packets

// One relay cycle on the box stand-in, with a relay state of the test's own. The server link is
// the relay's socket unless a test gives the cycle another.
class RelayFixture : public BoxFixture {
  protected:
    void TearDown() override {
        Link().CloseSocket();
        BoxFixture::TearDown();
    }

    virtual ServerLink& Link() { return socket_; }

    // One box on the bus that plays the given steps.
    void UseBox(const std::string& steps) { UseScenario("bus\ndevice 0400:C355\n" + steps); }

    void UseServerPort(std::uint16_t port) {
        state_.serverPort = port;
        state_.serverHost = "127.0.0.1";
    }

    // Opens the box and runs one cycle on fresh buffers.
    int RunCycle(std::chrono::milliseconds idleBound = kExchangeIdleBound) {
        EXPECT_EQ(UsbResult::Connected, box_.ConnectUsb());
        PacketBuffer box{};
        PacketBuffer server{};
        return RelayCycle(box_, Link(), state_).Run(box, server, idleBound);
    }

    // The bytes of every write to the box that carried some.
    std::vector<sim::Bytes> PacketsWrittenToBox() const {
        std::vector<sim::Bytes> packets;
        for (const BoxTransfer& write : BoxWrites(Calls())) {
            if (write.result > 0) {
                packets.push_back(write.bytes);
            }
        }
        return packets;
    }

    // Whether the box stand-in logged a call that starts with prefix.
    bool Called(const std::string& prefix) const {
        for (const std::string& line : Calls()) {
            if (line.rfind(prefix, 0) == 0) {
                return true;
            }
        }
        return false;
    }

    bool BoxClosed() const {
        const std::vector<std::string> calls = Calls();
        return !calls.empty() && calls.back().rfind("usb_close ", 0) == 0;
    }

    ServerSocket socket_;
    RelayState state_;
};

inline sim::Bytes Packet(const std::string& text) {
    std::string error;
    auto bytes = sim::ParsePacket(text, error);
    EXPECT_TRUE(bytes) << error;
    return bytes.value_or(sim::Bytes{});
}
