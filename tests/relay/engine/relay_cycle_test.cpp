// The relay cycle between the box stand-in (as the process's libusb) and the decoding-server
// stand-in on 127.0.0.1.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "printed_lines.h"
#include "sim/decoder/decoder_server.h"
#include "tests/relay/engine/relay_fixture.h"
#include "tests/sim/decoder_scripts.h"

namespace {

using namespace std::chrono_literals;
using namespace packets;
using Clock = std::chrono::steady_clock;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string Line(const std::string& keyword, const std::string& argument) {
    return keyword + " " + argument + "\n";
}

using RelayCycleTest = RelayFixture;

TEST_F(RelayCycleTest, TheDefaultBoxAndServerReadACardAndTheFinalPacketReachesTheBoxWhole) {
    decoder::DecoderServer server(decoder::DecoderScript::Default());
    ASSERT_TRUE(server.Ready()) << server.Error();
    UseServerPort(server.Port());

    EXPECT_EQ(RelayResult::CardRead, RunCycle());

    const std::vector<sim::Bytes> written = PacketsWrittenToBox();
    ASSERT_THAT(written,
                ElementsAre(Packet(kChallenge), Packet("AA 00 08 04 00 01 02 03 04 05 06 07"),
                            Packet(kCardRead)));
    EXPECT_TRUE(BoxClosed());
    EXPECT_FALSE(socket_.IsOpen());
    ASSERT_TRUE(server.WaitForEndedSessions(1, 10s));
    EXPECT_EQ("client closed", server.Sessions()[0].outcome);
    EXPECT_EQ(26u + 36u + 1024u + 256u, server.Sessions()[0].received.size());
    EXPECT_EQ(0, state_.connectFailures);
}

TEST_F(RelayCycleTest, WithoutAValidFirstPacketTheBoxIsCheckedAndNoServerIsAsked) {
    const std::string answersCheck = "on AA 00 03 00 00 03 reply AA 00 03 00 00 03\n";
    const std::string answersRestart = "on AA 00 03 F0 00 F3 reply AA 00 03 F0 00 F3\n";
    struct Case {
        const char* name;
        std::string steps;
        std::vector<std::string> commands;  // written to the box, in order
        bool linkReset;                     // the box's USB link restarted
    } cases[] = {
        {"first packet with byte 3 = 02",
         answersCheck + "idle 1\ndeliver AA 00 16 02 05 00*21\n",
         {"AA 00 03 00 00 03"},
         false},
        {"25 bytes with byte 3 = 01",
         answersCheck + "idle 1\ndeliver AA 00 15 01 05 00*20\n",
         {"AA 00 03 00 00 03"},
         false},
        {"read error", answersCheck + "idle 1\nread-error -5\n", {"AA 00 03 00 00 03"}, false},
        {"silent box answers the restart",
         answersRestart + "idle 1\nread-error -5\n",
         {"AA 00 03 00 00 03", "AA 00 03 F0 00 F3"},
         false},
        {"silent box",
         "idle 1\nread-error -5\n",
         {"AA 00 03 00 00 03", "AA 00 03 F0 00 F3"},
         false},
        {"check command not written",
         answersCheck + "idle 1\nread-error -5\nwrite-error -110\n",
         {"AA 00 03 F0 00 F3"},
         true},
    };
    decoder::DecoderServer server(DecoderScriptFrom("expect ??\n"));
    ASSERT_TRUE(server.Ready()) << server.Error();
    UseServerPort(server.Port());

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UseBox(c.steps);
        ForgetCalls();
        EXPECT_EQ(RelayResult::NoFirstPacket, RunCycle());

        std::vector<sim::Bytes> commands;
        for (const std::string& text : c.commands) {
            commands.push_back(Packet(text));
        }
        EXPECT_EQ(commands, PacketsWrittenToBox());
        // The drain, the wait for the first packet, then one second for each command's answer.
        std::vector<int> readWaits;
        for (const BoxTransfer& transfer : BoxTransfers(Calls())) {
            if (!transfer.write) {
                readWaits.push_back(transfer.timeout);
            }
        }
        std::vector<int> expectedWaits = {10, 10000, 1000};
        if (c.commands.size() == 2 || c.linkReset) {
            expectedWaits.push_back(1000);
        }
        EXPECT_EQ(expectedWaits, readWaits);
        EXPECT_EQ(c.linkReset, Called("usb_reset "));
        EXPECT_TRUE(BoxClosed());
    }
    EXPECT_TRUE(server.Sessions().empty());
}

TEST_F(RelayCycleTest, TheFifthAndEveryLaterRefusedConnectionInARowMakesTheNextCallReload) {
    UseBox(Line("idle", "1") + Line("deliver", kFirst));
    decoder::DecoderServer refusing(DecoderScriptFrom("refuse\n"));
    ASSERT_TRUE(refusing.Ready()) << refusing.Error();
    UseServerPort(refusing.Port());

    for (int failure = 1; failure <= 6; ++failure) {
        SCOPED_TRACE(failure);
        state_.configLoaded = true;
        EXPECT_EQ(RelayResult::ServerUnreachable, RunCycle());
        EXPECT_EQ(failure, state_.connectFailures);
        EXPECT_EQ(failure < 5, state_.configLoaded);
        EXPECT_TRUE(BoxClosed());
        EXPECT_FALSE(socket_.IsOpen());
    }

    // A connection that succeeds starts the count again, whatever the dialogue then does.
    decoder::DecoderServer closing(
        DecoderScriptFrom(Line("expect", "?? ?? ?? 01 ??*22") + "close\n"));
    ASSERT_TRUE(closing.Ready()) << closing.Error();
    UseServerPort(closing.Port());
    state_.configLoaded = true;
    const int result = RunCycle();
    EXPECT_TRUE(result == RelayResult::FirstAnswerFailed || result == RelayResult::ExchangeFailed)
        << result;
    EXPECT_EQ(0, state_.connectFailures);
    EXPECT_TRUE(state_.configLoaded);
}

// Dialogues that end on the server's side: the box plays its part, the server decides.
TEST_F(RelayCycleTest, TheServersPacketsDecideTheOutcome) {
    const std::string box = Line("idle", "1") + Line("deliver", kFirst) +
                            Line("expect", kChallenge) + Line("deliver", kAnswer);
    const std::string serverOpening =
        Line("expect", "?? ?? ?? 01 ??*22") + Line("send", kChallenge) + Line("expect", kAnswer);
    const std::string ordinaryFinal = "AA 02 55 A0 00 33*595";  // 600 bytes, byte 3 = A0
    struct Case {
        const char* name;
        std::string boxTail;
        std::string serverTail;
        int result;
        std::vector<std::string> written;  // packets that reach the box
    } cases[] = {
        {"17-byte final packet: not read, not written",
         "",
         Line("send", kNotRead),
         RelayResult::CardNotRead,
         {kChallenge}},
        {"600-byte packet with byte 3 = A0 is an ordinary one",
         Line("expect", "??*600") + Line("deliver", "AA 00 05 06 00"),
         Line("send", ordinaryFinal) + Line("expect", "AA 00 05 06 00") + Line("send", kCardRead),
         RelayResult::CardRead,
         {kChallenge, ordinaryFinal, kCardRead}},
        {"server closes during the exchange",
         "",
         "close\n",
         RelayResult::ExchangeFailed,
         {kChallenge}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        decoder::DecoderServer server(DecoderScriptFrom(serverOpening + c.serverTail));
        ASSERT_TRUE(server.Ready()) << server.Error();
        UseServerPort(server.Port());
        UseBox(box + c.boxTail);
        ForgetCalls();

        EXPECT_EQ(c.result, RunCycle());
        std::vector<sim::Bytes> expected;
        for (const std::string& text : c.written) {
            expected.push_back(Packet(text));
        }
        EXPECT_EQ(expected, PacketsWrittenToBox());
        EXPECT_TRUE(BoxClosed());
        EXPECT_FALSE(socket_.IsOpen());
        ASSERT_TRUE(server.WaitForEndedSessions(1, 10s));
        EXPECT_NE(std::string::npos, server.Sessions()[0].outcome.find("closed"))
            << server.Sessions()[0].outcome;
    }
}

// Only a packet of exactly 26 bytes with byte 3 = 01 is a first packet: one of 25 or 27 bytes
// with that byte 3 goes to the server like any other.
TEST_F(RelayCycleTest, AFirstPacketRepeatedDuringTheExchangeIsPrintedAndNotForwarded) {
    const char* shorter = "AA 00 15 01 05 00*20";  // 25 bytes
    const char* longer = "AA 00 17 01 05 00*22";   // 27 bytes
    UseBox(Line("idle", "1") + Line("deliver", kFirst) + Line("expect", kChallenge) +
           Line("deliver", kFirst) + Line("deliver", shorter) + Line("deliver", longer) +
           Line("deliver", kAnswer));
    decoder::DecoderServer server(DecoderScriptFrom(
        Line("expect", kFirst) + Line("send", kChallenge) + Line("expect", shorter) +
        Line("expect", longer) + Line("expect", kAnswer) + Line("send", kCardRead)));
    ASSERT_TRUE(server.Ready()) << server.Error();
    UseServerPort(server.Port());

    testing::internal::CaptureStdout();
    const int result = RunCycle();
    EXPECT_EQ(printed_lines::kRepeatedFirstPacket, testing::internal::GetCapturedStdout());
    EXPECT_EQ(RelayResult::CardRead, result);
    ASSERT_TRUE(server.WaitForEndedSessions(1, 10s));
    sim::Bytes expected;
    for (const char* packet : {kFirst, shorter, longer, kAnswer}) {
        const sim::Bytes bytes = Packet(packet);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(expected, server.Sessions()[0].received);
}

TEST_F(RelayCycleTest, AnExchangeWhereNeitherSideDeliversEndsAfterTheIdleBound) {
    UseBox(Line("idle", "1") + Line("deliver", kFirst));
    decoder::DecoderServer silent(DecoderScriptFrom(Line("expect", kFirst)));
    ASSERT_TRUE(silent.Ready()) << silent.Error();
    UseServerPort(silent.Port());

    const auto start = Clock::now();
    EXPECT_EQ(RelayResult::ExchangeFailed, RunCycle(300ms));
    EXPECT_GE(Clock::now() - start, 300ms);
    EXPECT_TRUE(BoxClosed());
    EXPECT_FALSE(socket_.IsOpen());
    ASSERT_TRUE(silent.WaitForEndedSessions(1, 10s));
    EXPECT_EQ("client closed", silent.Sessions()[0].outcome);
}

// Bytes from either side keep the exchange alive: the box's, or the server's while the box says
// nothing.
TEST_F(RelayCycleTest, ADialogueThatKeepsMovingOutlastsTheIdleBound) {
    struct Case {
        const char* name;
        std::string box;
        std::string server;
    } cases[] = {
        {"the box speaks", Line("idle", "1") + Line("deliver", kFirst), Line("expect", kFirst)},
        {"the server speaks", Line("idle", "1") + Line("deliver", kFirst), Line("expect", kFirst)}};
    // Every 150 ms for over a second; the bound is 600 ms.
    for (int i = 0; i < 8; ++i) {
        const std::string packet = "AA 00 04 05 0" + std::to_string(i);
        cases[0].box += Line("wait", "150") + Line("deliver", packet);
        cases[0].server += Line("expect", packet);
        cases[1].server += Line("delay", "150") + Line("send", packet);
        cases[1].box += Line("expect", packet);
    }
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        UseBox(c.box);
        // The final packet apart from the packets before it, so that it arrives on its own.
        decoder::DecoderServer decoder(
            DecoderScriptFrom(c.server + Line("delay", "150") + Line("send", kCardRead)));
        ASSERT_TRUE(decoder.Ready()) << decoder.Error();
        UseServerPort(decoder.Port());

        const auto start = Clock::now();
        EXPECT_EQ(RelayResult::CardRead, RunCycle(600ms));
        EXPECT_GE(Clock::now() - start, 1000ms);
    }
}

// A minute: long enough for a card dialogue that pauses, short enough that a server that keeps
// the connection and says nothing does not hold the call, and with it the stop of Halvane (its
// unit's stop time-out counts on it).
TEST(RelayCycleBoundTest, TheExchangesIdleBoundIsAMinute) {
    EXPECT_EQ(std::chrono::seconds(60), kExchangeIdleBound);
}

}  // namespace
