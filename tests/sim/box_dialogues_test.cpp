// The box stand-in's scenarios of several dialogues, one per box session, and the line it prints
// for each session when asked to; through the box transport, as the relay uses the box.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "relay/usb/usb_box.h"
#include "tests/sim/box_fixture.h"

namespace {

using namespace std::chrono_literals;
using ::testing::IsEmpty;

constexpr const char* kOneBox = "bus\ndevice 0400:C355\n";
constexpr const char* kCheck = "AA 00 03 00 00 03";
constexpr const char* kRestart = "AA 00 03 F0 00 F3";
const std::vector<unsigned char> kCheckBytes = {0xAA, 0x00, 0x03, 0x00, 0x00, 0x03};
const std::vector<unsigned char> kRestartBytes = {0xAA, 0x00, 0x03, 0xF0, 0x00, 0xF3};

class BoxDialoguesTest : public BoxFixture {
  protected:
    void TearDown() override {
        SetSetting(u"USBBOX_SIM_SUMMARY", std::nullopt);
        BoxFixture::TearDown();
    }

    // Opens the box, reads once, and closes it: the bytes read, or the read's code as text.
    std::string PlayOnce(std::chrono::milliseconds wait = 50ms) {
        EXPECT_EQ(UsbResult::Connected, box_.ConnectUsb());
        PacketBuffer buffer{};
        const int result = box_.ReadUsb(buffer, wait);
        box_.DisConnectUsb();
        return result > 0 ? std::string(buffer.begin(), buffer.begin() + result)
                          : std::to_string(result);
    }

    // The box's answer to a command the host writes: its bytes, or the read's code as text.
    std::string AnswerTo(const std::vector<unsigned char>& command) {
        EXPECT_EQ(static_cast<int>(command.size()),
                  box_.WriteUsb(command.data(), static_cast<int>(command.size())));
        PacketBuffer buffer{};
        const int result = box_.ReadUsb(buffer, 50ms);
        return result > 0 ? std::string(buffer.begin(), buffer.begin() + result)
                          : std::to_string(result);
    }
};

TEST_F(BoxDialoguesTest, SuccessiveOpensPlayTheDialoguesInTurnFromTheFirstAgainAfterTheLast) {
    UseScenario(std::string(kOneBox) +
                "dialogue one\ndeliver 31\n"
                "dialogue\ndeliver 32 32\n"
                "dialogue three\n# nothing: a silent box\n");
    for (const char* expected : {"1", "22", "-110", "1", "22"}) {
        EXPECT_EQ(expected, PlayOnce());
    }

    // Without dialogue lines every open plays all the steps.
    UseScenario(std::string(kOneBox) + "deliver 31\ndeliver 32\n");
    EXPECT_EQ("1", PlayOnce());
    EXPECT_EQ("1", PlayOnce());
}

TEST_F(BoxDialoguesTest, AChangedScenarioStartsAgainAtItsFirstDialogue) {
    UseScenario(std::string(kOneBox) + "dialogue\ndeliver 31\ndialogue\ndeliver 32\n");
    EXPECT_EQ("1", PlayOnce());
    UseScenario(std::string(kOneBox) + "dialogue\ndeliver 33\ndialogue\ndeliver 34\n");
    EXPECT_EQ("3", PlayOnce());
    EXPECT_EQ("4", PlayOnce());
}

TEST_F(BoxDialoguesTest, RulesAboveTheFirstDialogueAnswerInEachAndADialoguesOwnOnlyInIt) {
    UseScenario(std::string(kOneBox) + "on " + kRestart + " reply 52\n" +
                "dialogue answers the check\non " + kCheck + " reply 43\n" +
                "dialogue does not answer the check\n");
    const std::string noAnswer = "-110";
    struct Case {
        std::string check;
        std::string restart;
    } cases[] = {{"C", "R"}, {noAnswer, "R"}, {"C", "R"}};
    for (const Case& c : cases) {
        ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
        EXPECT_EQ(c.check, AnswerTo(kCheckBytes));
        EXPECT_EQ(c.restart, AnswerTo(kRestartBytes));
        box_.DisConnectUsb();
    }
}

TEST_F(BoxDialoguesTest, AScenarioWhoseDialoguesDoNotReadSaysWhereAndWhy) {
    struct Case {
        std::string text;
        const char* error;
    } cases[] = {
        {"deliver 01\ndialogue\n", "line 3: a step before the first 'dialogue' line"},
        {"dialogue\nbus\n", "line 4: bus and device lines come before the first 'dialogue' line"},
        {"dialogue\ndevice 0400:C355\n",
         "line 4: bus and device lines come before the first 'dialogue' line"},
        {"dialogue a\ndeliver 01\ndialogue b\nwait soon\n",
         "line 6: 'soon' is not a whole number of at least 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        UseScenario(kOneBox + c.text);
        testing::internal::CaptureStderr();
        EXPECT_EQ(UsbResult::NoBox, box_.ConnectUsb());
        EXPECT_THAT(testing::internal::GetCapturedStderr(),
                    ::testing::HasSubstr(std::string(c.error) + "; no devices attached"));
    }
}

// What the host does in a box session, and the ending the session's line tells.
struct Session {
    const char* name;
    std::string dialogue;                            // the scenario's steps and rules
    std::vector<std::vector<unsigned char>> writes;  // each followed by a read
    const char* line;                                // after the dialogue's label and time
};

std::vector<unsigned char> CardRead() {
    std::vector<unsigned char> packet(1301, 0x5E);
    packet[3] = 0xA0;
    return packet;
}

TEST_F(BoxDialoguesTest, WithTheSummaryAskedForEachSessionEndsWithALineOnStandardError) {
    const std::string first = "deliver AA 00 16 01 00*22\n";
    const std::string answersCheck = std::string("on ") + kCheck + " reply " + kCheck + "\n";
    const std::string answersRestart = std::string("on ") + kRestart + " reply " + kRestart + "\n";
    const Session sessions[] = {
        {"card read",
         first + "expect ??*1301\n",
         {{0x01}, CardRead()},
         "sent 1 packet, got 2; card read: final packet of 1301 bytes written to the box"},
        {"check answered",
         answersCheck,
         {kCheckBytes},
         "sent 1 packet, got 1; no first packet: check command answered"},
        {"restart answered",
         answersRestart,
         {kCheckBytes, kRestartBytes},
         "sent 1 packet, got 2; no first packet: check command not answered, restart command "
         "sent and answered"},
        {"nothing answered",
         "",
         {kCheckBytes, kRestartBytes},
         "sent 0 packets, got 2; no first packet: check command not answered, restart command "
         "sent, no answer"},
        {"no final packet",
         first + "deliver 01 02\n",
         {{0x03}},
         "sent 2 packets, got 1; closed without a final packet"},
        {"unplugged", "unplug\n", {}, "sent 0 packets, got 0; the box was unplugged"},
        {"nothing", "", {}, "sent 0 packets, got 0; closed before a card dialogue began"},
    };
    std::string scenario = kOneBox;
    for (const Session& session : sessions) {
        scenario += std::string("dialogue ") + session.name + "\n" + session.dialogue;
    }
    UseScenario(scenario);
    SetSetting(u"USBBOX_SIM_SUMMARY", "1");
    int index = 0;
    for (const Session& session : sessions) {
        SCOPED_TRACE(session.name);
        ++index;
        testing::internal::CaptureStderr();
        ASSERT_EQ(UsbResult::Connected, box_.ConnectUsb());
        PacketBuffer buffer{};
        box_.ReadUsb(buffer, 10ms);
        for (const auto& write : session.writes) {
            box_.WriteUsb(write.data(), static_cast<int>(write.size()));
            box_.ReadUsb(buffer, 10ms);
        }
        box_.DisConnectUsb();
        const std::string expected = "^usbbox: session [0-9]+, dialogue " + std::to_string(index) +
                                     " of 7 \"" + session.name +
                                     "\" \\([0-9]+\\.[0-9] s\\): " + session.line + "\n$";
        EXPECT_TRUE(std::regex_search(testing::internal::GetCapturedStderr(), std::regex(expected)))
            << expected;
    }
}

TEST_F(BoxDialoguesTest, TheSessionLineNamesNoDialogueForAScenarioOfOneUnnamed) {
    UseScenario(std::string(kOneBox) + "deliver 01\n");
    SetSetting(u"USBBOX_SIM_SUMMARY", "yes");
    testing::internal::CaptureStderr();
    EXPECT_EQ("\x01", PlayOnce());
    // std::regex: GoogleTest's own on Windows has no bracket expressions.
    const std::string expected =
        "^usbbox: session [0-9]+ \\([0-9.]+ s\\): sent 1 packet, got 0; "
        "closed before a card dialogue began\n$";
    EXPECT_TRUE(std::regex_search(testing::internal::GetCapturedStderr(), std::regex(expected)))
        << expected;
}

TEST_F(BoxDialoguesTest, WithoutTheSummaryAskedForASessionPrintsNothing) {
    UseScenario(std::string(kOneBox) + "dialogue quiet\ndeliver 01\n");
    for (const char* value : {"", "0"}) {
        SetSetting(u"USBBOX_SIM_SUMMARY", value);
        testing::internal::CaptureStderr();
        EXPECT_EQ("\x01", PlayOnce());
        EXPECT_THAT(testing::internal::GetCapturedStderr(), IsEmpty()) << value;
    }
}

}  // namespace
