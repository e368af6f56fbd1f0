#include "sim/decoder/decoder_script.h"

#include <gtest/gtest.h>

namespace {

TEST(DecoderScriptTest, PacketsAndPatternsReadWithRepeatsAndWildcards) {
    std::string error;
    const auto packet = sim::ParsePacket("AA 05 11 A0 00 5E*1296", error);
    ASSERT_TRUE(packet) << error;
    EXPECT_EQ(1301u, packet->size());
    EXPECT_EQ(0xA0, (*packet)[3]);
    EXPECT_EQ(0x5E, packet->back());

    const auto pattern = sim::ParsePattern("?? ?? ?? 01 ??*22", error);
    ASSERT_TRUE(pattern) << error;
    sim::Bytes first(26, 0x00);
    first[3] = 0x01;
    EXPECT_TRUE(pattern->Matches(first.data(), first.size()));
    first[3] = 0x02;
    EXPECT_FALSE(pattern->Matches(first.data(), first.size()));
    EXPECT_FALSE(pattern->Matches(first.data(), 25));
}

TEST(DecoderScriptTest, AScriptThatDoesNotReadSaysWhereAndWhy) {
    struct Case {
        const char* script;
        const char* error;
    } cases[] = {
        {"send AA 0\n", "line 1: '0' is not a hex byte"},
        {"send ?? 01\n",
         "line 1: '?"
         "?' is not a hex byte"},
        {"# comment\n\nexpect AA*0\n", "line 3: bad repeat count in 'AA*0'"},
        {"send 00*70000\n", "line 1: longer than 65536 bytes"},
        {"send\n", "line 1: no bytes"},
        {"delay soon\n", "line 1: 'soon' is not a number of milliseconds"},
        {"hang up\n", "line 1: unknown step 'hang'"},
        {"refuse\nsend 01\n", "line 1: a script that refuses or drops has no other steps"},
        {"# hold\ndrop\nrefuse\n", "line 2: a script that refuses or drops has no other steps"},
        {"send 01\n\ndialogue\nsend 02\n", "line 1: a step before the first 'dialogue' line"},
        {"dialogue\nsend 01\ndialogue two\nsend 0\n", "line 4: '0' is not a hex byte"},
        {"refuse\ndialogue\n", "line 1: a script that refuses or drops has no other steps"},
        // Found by fuzzing: the one fault of a script that did not name its line.
        {"         drop     #    0fuses.\n# Th\x01# The box of the relay\n\ndialogue the box falls "
         "silent and answers the check\n",
         "line 1: a script that refuses or drops has no other steps"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(decoder::DecoderScript::Parse(c.script, error)) << c.script;
        EXPECT_EQ(c.error, error);
    }
}

TEST(DecoderScriptTest, TheDefaultDialogueEndsWithTheFinalPacketOfACardRead) {
    const decoder::DecoderScript script = decoder::DecoderScript::Default();
    ASSERT_FALSE(script.steps.empty());
    EXPECT_EQ(26u, script.steps.front().pattern->size());
    const decoder::Step& last = script.steps.back();
    ASSERT_EQ(decoder::Step::Kind::Send, last.kind);
    EXPECT_EQ(1301u, last.packet.size());
    EXPECT_EQ(0xA0, last.packet[3]);
}

}  // namespace
