#include "relay/usb/usb_box.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "tests/sim/box_fixture.h"

namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kOneBox = "bus\ndevice 0400:C355\n";

PacketBuffer Filled(unsigned char value) {
    PacketBuffer buffer;
    buffer.fill(value);
    return buffer;
}

std::vector<std::string> WithPrefix(const std::vector<std::string>& lines, const char* prefix) {
    std::vector<std::string> found;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                 [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    return found;
}

using UsbBoxTest = BoxFixture;

TEST_F(UsbBoxTest, ConnectScansOpensSelectsConfigurationOneAndClaimsInterfaceZero) {
    UseScenario(kOneBox);
    EXPECT_EQ(UsbResult::Connected, box_.ConnectUsb());
    EXPECT_THAT(Calls(), ElementsAre("usb_init", "usb_find_busses -> 1", "usb_find_devices -> 1",
                                     "usb_get_busses", "usb_open 001/001 -> ok",
                                     "usb_set_configuration 001/001 1 -> 0",
                                     "usb_claim_interface 001/001 0 -> 0"));
}

TEST_F(UsbBoxTest, OpensTheFirstBoxInBusThenDeviceOrderAndTouchesNoOther) {
    struct Case {
        const char* scenario;
        std::string box;  // bus/device
    } cases[] = {
        {"bus\ndevice 0400:C355\nbus\ndevice 0400:C355\n", "001/001"},
        {"bus\ndevice 0400:1234\ndevice 1234:C355\ndevice 0400:C355\n", "001/003"},
        {"bus\nbus\ndevice 0400:C356\nbus\ndevice 0400:C355\ndevice 0400:C355\n", "003/001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        UseScenario(c.scenario);
        ForgetCalls();
        ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
        box_.DisConnectUsb();
        EXPECT_THAT(WithPrefix(Calls(), "usb_open"), ElementsAre("usb_open " + c.box + " -> ok"));
        for (const std::string& line : Calls()) {
            if (line.find('/') != std::string::npos) {
                EXPECT_NE(line.find(c.box), std::string::npos) << line;
            }
        }
    }
}

TEST_F(UsbBoxTest, WithoutABoxConnectFailsQuietlyAndNothingReachesTheBus) {
    UseScenario("bus\ndevice 0400:1234\ndevice 1234:C355\n");
    EXPECT_EQ(UsbResult::NoBox, box_.ConnectUsb());
    EXPECT_THAT(WithPrefix(Calls(), "usb_open"), IsEmpty());
    EXPECT_THAT(WithPrefix(Calls(), "usb_strerror"), IsEmpty());

    ForgetCalls();
    PacketBuffer buffer = Filled(0x5A);
    const unsigned char command[] = {0xAA, 0x00, 0x03, 0x00, 0x00, 0x03};
    EXPECT_EQ(UsbResult::NoBox, box_.ReadUsb(buffer, 10ms));
    EXPECT_EQ(UsbResult::NoBox, box_.WriteUsb(command, sizeof command));
    box_.ResetUsb();
    box_.DisConnectUsb();
    EXPECT_THAT(Calls(), IsEmpty());
    EXPECT_EQ(Filled(0x5A), buffer);
}

TEST_F(UsbBoxTest, ABoxThatCannotBeOpenedFailsWithoutTryingTheNextBox) {
    UseScenario("bus\ndevice 0400:C355 open-fails\nbus\ndevice 0400:C355\n");
    EXPECT_EQ(UsbResult::NoBox, box_.ConnectUsb());
    EXPECT_THAT(WithPrefix(Calls(), "usb_open"), ElementsAre("usb_open 001/001 -> null"));
    EXPECT_THAT(WithPrefix(Calls(), "usb_strerror"), ::testing::SizeIs(1));
    PacketBuffer buffer{};
    EXPECT_EQ(UsbResult::NoBox, box_.ReadUsb(buffer, 10ms));
}

TEST_F(UsbBoxTest, ConfigurationAndInterfaceFailuresStillConnect) {
    for (const char* flags : {"config-fails", "claim-fails", "config-fails claim-fails"}) {
        SCOPED_TRACE(flags);
        UseScenario(std::string("bus\ndevice 0400:C355 ") + flags + "\ndeliver 01 02 03\n");
        ForgetCalls();
        ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
        const bool config = std::string(flags).find("config") != std::string::npos;
        const bool claim = std::string(flags).find("claim") != std::string::npos;
        EXPECT_THAT(WithPrefix(Calls(), "usb_set_configuration"),
                    ElementsAre(config ? "usb_set_configuration 001/001 1 -> -16"
                                       : "usb_set_configuration 001/001 1 -> 0"));
        EXPECT_THAT(WithPrefix(Calls(), "usb_claim_interface"),
                    ElementsAre(claim ? "usb_claim_interface 001/001 0 -> -16"
                                      : "usb_claim_interface 001/001 0 -> 0"));
        PacketBuffer buffer{};
        EXPECT_EQ(3, box_.ReadUsb(buffer, 10ms));
        box_.DisConnectUsb();
    }
}

TEST_F(UsbBoxTest, ReadTimeOutPassesTheLibraryCodeAndLeavesTheDestination) {
    UseScenario(kOneBox);
    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
    ForgetCalls();
    PacketBuffer buffer = Filled(0x5A);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(-110, box_.ReadUsb(buffer, 50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_EQ(Filled(0x5A), buffer);
    EXPECT_THAT(Calls(), ElementsAre("usb_interrupt_read 001/001 ep=0x83 size=2048 timeout=50 "
                                     "-> -110"));
}

TEST_F(UsbBoxTest, OnlyAnIoErrorResetsTheReadEndpointOnce) {
    for (int code : {-5, -110, -19, -1}) {
        SCOPED_TRACE(code);
        UseScenario(std::string(kOneBox) + "read-error " + std::to_string(code) + "\n");
        ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
        ForgetCalls();
        PacketBuffer buffer = Filled(0x5A);
        EXPECT_EQ(code, box_.ReadUsb(buffer, 1000ms));
        EXPECT_EQ(Filled(0x5A), buffer);
        std::vector<std::string> expected = {
            "usb_interrupt_read 001/001 ep=0x83 size=2048 timeout=1000 -> " + std::to_string(code)};
        if (code == UsbResult::IoError) {
            expected.push_back("usb_resetep 001/001 ep=0x83 -> 0");
        }
        EXPECT_EQ(expected, Calls());
        box_.DisConnectUsb();
    }
}

TEST_F(UsbBoxTest, ReceivedBytesOverwriteExactlyTheirLengthOfTheDestination) {
    UseScenario(std::string(kOneBox) + "deliver AA 00 16 01 11*21 7E\n");
    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
    PacketBuffer buffer = Filled(0x5A);
    ASSERT_EQ(26, box_.ReadUsb(buffer, 1000ms));
    const unsigned char head[] = {0xAA, 0x00, 0x16, 0x01};
    EXPECT_TRUE(std::equal(std::begin(head), std::end(head), buffer.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + 4, buffer.begin() + 25,
                            [](unsigned char b) { return b == 0x11; }));
    EXPECT_EQ(0x7E, buffer[25]);
    EXPECT_TRUE(
        std::all_of(buffer.begin() + 26, buffer.end(), [](unsigned char b) { return b == 0x5A; }));
}

TEST_F(UsbBoxTest, AnEmptyTransferReadsAsZeroAndLeavesTheDestination) {
    UseScenario(std::string(kOneBox) +
                "on AA 00 03 00 00 03 reply empty\ndeliver empty\nexpect 01\n");
    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
    ForgetCalls();
    PacketBuffer buffer = Filled(0x5A);
    EXPECT_EQ(0, box_.ReadUsb(buffer, 1000ms));
    const unsigned char check[] = {0xAA, 0x00, 0x03, 0x00, 0x00, 0x03};
    ASSERT_EQ(6, box_.WriteUsb(check, sizeof check));
    EXPECT_EQ(0, box_.ReadUsb(buffer, 1000ms));  // the box answers the check with no bytes
    EXPECT_EQ(Filled(0x5A), buffer);
    EXPECT_THAT(WithPrefix(Calls(), "usb_interrupt_read"),
                ElementsAre("usb_interrupt_read 001/001 ep=0x83 size=2048 timeout=1000 -> 0",
                            "usb_interrupt_read 001/001 ep=0x83 size=2048 timeout=1000 -> 0"));
    EXPECT_THAT(WithPrefix(Calls(), "usb_resetep"), IsEmpty());
}

TEST_F(UsbBoxTest, AFinalPacketGoesOutAsOneTransfer) {
    UseScenario(kOneBox);
    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
    ForgetCalls();
    std::vector<unsigned char> packet(1301, 0x5E);
    packet[3] = 0xA0;
    EXPECT_EQ(1301, box_.WriteUsb(packet.data(), static_cast<int>(packet.size())));
    const auto writes = WithPrefix(Calls(), "usb_interrupt_write");
    ASSERT_EQ(1u, writes.size());
    EXPECT_EQ(0u, writes[0].rfind("usb_interrupt_write 001/001 ep=0x03 size=1301 timeout=100 "
                                  "5E 5E 5E A0 5E",
                                  0));
    EXPECT_EQ(writes[0].size() - 8, writes[0].rfind(" -> 1301"));
    EXPECT_THAT(WithPrefix(Calls(), "usb_clear_halt"), IsEmpty());
}

TEST_F(UsbBoxTest, AFailedWriteClearsTheHaltOfTheWriteEndpoint) {
    UseScenario(std::string(kOneBox) + "write-error -110\n");
    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
    ForgetCalls();
    const unsigned char command[] = {0xAA, 0x00, 0x03, 0x00, 0x00, 0x03};
    EXPECT_EQ(-110, box_.WriteUsb(command, sizeof command));
    EXPECT_THAT(Calls(), ElementsAre("usb_interrupt_write 001/001 ep=0x03 size=6 timeout=100 "
                                     "AA 00 03 00 00 03 -> -110",
                                     "usb_clear_halt 001/001 ep=0x03 -> 0"));
}

TEST_F(UsbBoxTest, AWriteWithoutBytesOrWithANegativeLengthNeverReachesTheBox) {
    UseScenario(kOneBox);
    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
    ForgetCalls();
    const unsigned char byte = 0;
    EXPECT_EQ(UsbResult::InvalidArgument, box_.WriteUsb(nullptr, 6));
    EXPECT_EQ(UsbResult::InvalidArgument, box_.WriteUsb(&byte, -1));
    EXPECT_THAT(Calls(), IsEmpty());
    EXPECT_EQ(0, box_.WriteUsb(&byte, 0));  // an empty transfer is a transfer
}

TEST_F(UsbBoxTest, DisconnectReleasesAndClosesOnceThenDoesNothing) {
    UseScenario(kOneBox);
    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
    ForgetCalls();
    box_.DisConnectUsb();
    box_.DisConnectUsb();
    EXPECT_THAT(Calls(),
                ElementsAre("usb_release_interface 001/001 0 -> 0", "usb_close 001/001 -> 0"));
    PacketBuffer buffer{};
    EXPECT_EQ(UsbResult::NoBox, box_.ReadUsb(buffer, 10ms));
}

TEST_F(UsbBoxTest, ConnectingAgainLetsGoOfTheBoxLeftOpenFirst) {
    UseScenario(kOneBox);
    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
    ForgetCalls();
    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
    const std::vector<std::string> calls = Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ("usb_release_interface 001/001 0 -> 0", calls[0]);
    EXPECT_EQ("usb_close 001/001 -> 0", calls[1]);
    EXPECT_EQ("usb_init", calls[2]);
}

TEST_F(UsbBoxTest, AFailedCloseStillLetsGoOfTheHandle) {
    UseScenario("bus\ndevice 0400:C355 close-fails\n");
    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
    ForgetCalls();
    box_.DisConnectUsb();
    EXPECT_THAT(Calls(),
                ElementsAre("usb_release_interface 001/001 0 -> 0", "usb_close 001/001 -> -16"));
    PacketBuffer buffer{};
    EXPECT_EQ(UsbResult::NoBox, box_.ReadUsb(buffer, 10ms));
    EXPECT_EQ(UsbResult::Connected, box_.ConnectUsb());  // a new connection starts cleanly
}

TEST_F(UsbBoxTest, ResetRestartsBothEndpointsThenTheDeviceAndKeepsTheBox) {
    UseScenario(std::string(kOneBox) + "deliver 01 02\n");
    box_.ResetUsb();
    EXPECT_THAT(Calls(), IsEmpty());

    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
    ForgetCalls();
    box_.ResetUsb();
    EXPECT_THAT(Calls(), ElementsAre("usb_resetep 001/001 ep=0x03 -> 0",
                                     "usb_resetep 001/001 ep=0x83 -> 0", "usb_reset 001/001 -> 0"));
    PacketBuffer buffer{};
    EXPECT_EQ(2, box_.ReadUsb(buffer, 10ms));
}

TEST_F(UsbBoxTest, ABoxUnpluggedMidDialogueIsJustAnErrorResult) {
    UseScenario(std::string(kOneBox) + "deliver 01 02 03\nunplug\n");
    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
    PacketBuffer buffer = Filled(0x5A);
    ASSERT_EQ(3, box_.ReadUsb(buffer, 10ms));
    EXPECT_EQ(-19, box_.ReadUsb(buffer, 10ms));
    const unsigned char command[] = {0xAA, 0x00, 0x03, 0x00, 0x00, 0x03};
    EXPECT_EQ(-19, box_.WriteUsb(command, sizeof command));
    box_.DisConnectUsb();
    EXPECT_EQ(UsbResult::NoBox, box_.ReadUsb(buffer, 10ms));
    EXPECT_EQ(0x01, buffer[0]);
    EXPECT_EQ(0x5A, buffer[3]);

    // Pulled while a read waits: the read ends then, with the same error.
    UseScenario(std::string(kOneBox) + "wait 100\nunplug\n");
    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(-19, box_.ReadUsb(buffer, 8000ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(6000));
}

TEST_F(UsbBoxTest, TheDefaultBoxAnswersTheCheckAndRestartCommands) {
    ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());  // no scenario given
    const unsigned char commands[][6] = {{0xAA, 0x00, 0x03, 0x00, 0x00, 0x03},
                                         {0xAA, 0x00, 0x03, 0xF0, 0x00, 0xF3}};
    for (const auto& command : commands) {
        ASSERT_EQ(6, box_.WriteUsb(command, 6));
        PacketBuffer answer{};
        EXPECT_EQ(6, box_.ReadUsb(answer, 1000ms));
        EXPECT_TRUE(std::equal(std::begin(command), std::end(command), answer.begin()));
    }
}

TEST_F(UsbBoxTest, AScenarioThatDoesNotReadAttachesNoBox) {
    for (const char* scenario :
         {"bus\ndevice 0400\n", "device 0400:C355\n", "bus\ndevice 0400:C355 sticky\n",
          "bus\ndevice 0400:C355\ndeliver 0G\n", "bus\ndevice 0400:C355\nidle 0\n",
          "bus\ndevice 0400:C355\nread-error 5\n", "bus\ndevice 0400:C355\nfrobnicate\n"}) {
        SCOPED_TRACE(scenario);
        UseScenario(scenario);
        EXPECT_EQ(UsbResult::NoBox, box_.ConnectUsb());
    }
}

}  // namespace
