// The decoding-server stand-in's scripts of several dialogues, which successive connections play
// in turn.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "sim/decoder/decoder_server.h"
#include "tests/sim/decoder_scripts.h"
#include "tests/sim/first_packet_client.h"

namespace {

using namespace std::chrono_literals;

TEST(DecoderDialoguesTest, DialogueLinesSplitTheStepsAmongSuccessiveConnections) {
    const decoder::DecoderScript script = DecoderScriptFrom(
        "# the first\n"
        "dialogue a card is read\n"
        "expect ??*26\n"
        "send 01\n"
        "dialogue\n"
        "dialogue the last\n"
        "send 02\n"
        "close\n");
    ASSERT_EQ(4u, script.steps.size());
    struct Case {
        std::size_t connection;
        std::size_t begin;
        std::size_t end;
        const char* label;
    } cases[] = {
        {0, 0, 2, "dialogue 1 of 3 \"a card is read\""},
        {1, 2, 2, "dialogue 2 of 3"},
        {2, 2, 4, "dialogue 3 of 3 \"the last\""},
        {3, 0, 2, "dialogue 1 of 3 \"a card is read\""},
    };
    for (const Case& c : cases) {
        const decoder::Dialogue dialogue = script.DialogueOf(c.connection);
        EXPECT_EQ(c.begin, dialogue.begin) << c.connection;
        EXPECT_EQ(c.end, dialogue.end) << c.connection;
        EXPECT_EQ(c.label, script.LabelOf(c.connection));
    }

    // A script without dialogue lines plays all its steps on every connection, unnamed.
    const decoder::DecoderScript plain = DecoderScriptFrom("expect ??*26\nsend 01\n");
    EXPECT_EQ(2u, plain.DialogueOf(5).end);
    EXPECT_EQ(0u, plain.DialogueOf(5).begin);
    EXPECT_EQ("", plain.LabelOf(5));
}

TEST(DecoderDialoguesTest, EachConnectionPlaysTheNextDialogueAndItsSessionNamesIt) {
    decoder::DecoderServer server(
        DecoderScriptFrom("dialogue card read\n"
                          "expect ??*26\n"
                          "send AA 05 11 A0 00 5E*1296\n"
                          "dialogue card not read\n"
                          "expect ??*26\n"
                          "send AA 00 0D A0 01 00*12\n"));
    ASSERT_TRUE(server.Ready()) << server.Error();
    const int expected[] = {1301, 17, 1301};
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        PacketBuffer answer{};
        EXPECT_EQ(expected[i], AnswerToAFirstPacket(server.Port(), answer)) << i;
        EXPECT_EQ(0xA0, answer[3]);
        ASSERT_TRUE(server.WaitForEndedSessions(i + 1, 10s));
    }
    const std::vector<decoder::Session> sessions = server.Sessions();
    ASSERT_EQ(3u, sessions.size());
    EXPECT_EQ("dialogue 1 of 2 \"card read\"", sessions[0].dialogue);
    EXPECT_EQ("dialogue 2 of 2 \"card not read\"", sessions[1].dialogue);
    EXPECT_EQ("dialogue 1 of 2 \"card read\"", sessions[2].dialogue);
    EXPECT_EQ(1301u, sessions[0].lastSent.size());
    EXPECT_EQ(17u, sessions[1].lastSent.size());
    for (const decoder::Session& session : sessions) {
        EXPECT_EQ(26u, session.received.size());
        EXPECT_EQ("client closed", session.outcome);
    }
}

}  // namespace
