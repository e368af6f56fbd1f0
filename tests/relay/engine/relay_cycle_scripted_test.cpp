// The relay cycle with the server's data cut exactly as each case says (a scripted server as its
// server link) and the box stand-in as the process's libusb.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "relay/common/log.h"
#include "tests/relay/engine/relay_fixture.h"
#include "tests/relay/engine/scripted_server.h"

namespace {

using namespace packets;
using Receive = ScriptedServer::Receive;

// A packet of length bytes with the given byte 3, the rest counting up from byte 4.
sim::Bytes PacketOf(std::size_t length, unsigned char byte3) {
    sim::Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    if (length > 3) {
        bytes[3] = byte3;
    }
    return bytes;
}

sim::Bytes Joined(const sim::Bytes& first, const sim::Bytes& second, std::size_t secondCount) {
    sim::Bytes joined = first;
    joined.insert(joined.end(), second.begin(), second.begin() + static_cast<long>(secondCount));
    return joined;
}

class RelayCycleScriptedTest : public RelayFixture {
  protected:
    ServerLink& Link() override { return server_; }

    void SetUp() override {
        RelayFixture::SetUp();
        UseBox(Line("idle", "1") + Line("deliver", kFirst));
    }

    static std::string Line(const std::string& keyword, const std::string& argument) {
        return keyword + " " + argument + "\n";
    }

    // Every write to the box, empty ones included.
    std::vector<sim::Bytes> BoxWritten() const {
        std::vector<sim::Bytes> written;
        for (const BoxTransfer& write : BoxWrites(Calls())) {
            written.push_back(write.bytes);
        }
        return written;
    }

    ScriptedServer server_;
};

TEST_F(RelayCycleScriptedTest, TheServersAnswersEndTheCycleAndTheFinalPacketIsCompletedOnce) {
    const sim::Bytes final1301 = PacketOf(1301, 0xA0);
    const sim::Bytes final1200 = PacketOf(1200, 0xA0);
    const sim::Bytes final2000 = PacketOf(2000, 0xA0);
    const sim::Bytes rest101 = PacketOf(101, 0x33);
    const sim::Bytes rest50 = PacketOf(50, 0x44);
    const sim::Bytes rest2048 = PacketOf(2048, 0x55);
    const sim::Bytes notRead17 = PacketOf(17, 0xA0);
    const sim::Bytes ordinary = PacketOf(40, 0x02);
    struct Case {
        const char* name;
        std::vector<Receive> receives;
        int result;
        std::vector<sim::Bytes> written;  // every write to the box, in order
        std::size_t receivesMade;
    } cases[] = {
        {"first answer fails", {ScriptedServer::Failure()}, RelayResult::FirstAnswerFailed, {}, 1},
        {"first answer is the whole final packet",
         {ScriptedServer::Data(final1301)},
         RelayResult::CardRead,
         {final1301},
         1},
        {"1200 + 101",
         {ScriptedServer::Data(final1200), ScriptedServer::Data(rest101)},
         RelayResult::CardRead,
         {Joined(final1200, rest101, 101)},
         2},
        {"1200 + 50, more later",
         {ScriptedServer::Data(final1200), ScriptedServer::Data(rest50),
          ScriptedServer::Data(rest101)},
         RelayResult::CardRead,
         {Joined(final1200, rest50, 50)},
         2},
        {"1200 + nothing",
         {ScriptedServer::Data(final1200), ScriptedServer::Nothing()},
         RelayResult::CardRead,
         {final1200},
         2},
        {"1200 + a failed read",
         {ScriptedServer::Data(final1200), ScriptedServer::Failure()},
         RelayResult::CardRead,
         {final1200},
         2},
        {"2000 + 2048 cut to the buffer",
         {ScriptedServer::Data(final2000), ScriptedServer::Data(rest2048)},
         RelayResult::CardRead,
         {Joined(final2000, rest2048, 48)},
         2},
        {"no first answer within the wait: an empty write, then the exchange",
         {ScriptedServer::Nothing(), ScriptedServer::Data(ordinary),
          ScriptedServer::Data(final1200), ScriptedServer::Data(rest101)},
         RelayResult::CardRead,
         {{}, ordinary, Joined(final1200, rest101, 101)},
         4},
        {"a 17-byte final packet as first answer is written like any other",
         {ScriptedServer::Data(notRead17), ScriptedServer::Data(notRead17)},
         RelayResult::CardNotRead,
         {notRead17},
         2},
        {"the server closes during the exchange",
         {ScriptedServer::Data(ordinary), ScriptedServer::Nothing(), ScriptedServer::Failure()},
         RelayResult::ExchangeFailed,
         {ordinary},
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server_.Script(ConnectResult::Connected, c.receives);
        ForgetCalls();
        EXPECT_EQ(c.result, RunCycle());
        EXPECT_EQ(c.written, BoxWritten());
        EXPECT_EQ(c.receivesMade, server_.SendsBeforeEachReceive().size());
        ASSERT_FALSE(server_.Sent().empty());
        EXPECT_EQ(Packet(kFirst), server_.Sent()[0]);
        EXPECT_TRUE(BoxClosed());
        EXPECT_FALSE(server_.IsOpen());
    }
}

TEST_F(RelayCycleScriptedTest, ABoxPacketThatGoesOnIsForwardedWithoutReadingTheServer) {
    struct Case {
        unsigned char byte3;
        unsigned char byte4;
        bool serverSkipped;
    } cases[] = {
        {0x12, 0x07, true},  {0x10, 0x05, true},  {0xFF, 0xFF, true},
        {0x12, 0x10, false}, {0x12, 0x04, false}, {0x0F, 0x07, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int{c.byte3} << " " << int{c.byte4});
        char middle[64];
        std::snprintf(middle, sizeof middle, "AA 00 05 %02X %02X 01 02", c.byte3, c.byte4);
        UseBox(Line("idle", "1") + Line("deliver", kFirst) + Line("deliver", middle) +
               Line("deliver", "AA 00 03 02 00"));
        server_.Script(
            ConnectResult::Connected,
            {ScriptedServer::Nothing(), ScriptedServer::Nothing(), ScriptedServer::Nothing()});

        EXPECT_EQ(RelayResult::ExchangeFailed, RunCycle());
        ASSERT_EQ(3u, server_.Sent().size());
        EXPECT_EQ(Packet(middle), server_.Sent()[1]);
        // The first answer is read after the first packet; then the server is read after the
        // middle packet unless the box goes on.
        const std::vector<std::size_t>& before = server_.SendsBeforeEachReceive();
        ASSERT_GE(before.size(), 2u);
        EXPECT_EQ(1u, before[0]);
        EXPECT_EQ(c.serverSkipped ? 3u : 2u, before[1]);
    }
}

TEST_F(RelayCycleScriptedTest, AnUnreachableServerIsCountedAndBothSidesAreClosed) {
    server_.Script(ConnectResult::NotConnected, {});
    EXPECT_EQ(RelayResult::ServerUnreachable, RunCycle());
    EXPECT_EQ(1, state_.connectFailures);
    EXPECT_TRUE(server_.Sent().empty());
    EXPECT_TRUE(BoxWritten().empty());
    EXPECT_TRUE(BoxClosed());
}

std::vector<std::string> loggedLines;

void KeepLine(std::string_view tag, std::string_view text) {
    loggedLines.push_back(std::string(tag) + "|" + std::string(text));
}

// The hook writes nowhere unless it is given a sink; given one, it gets each packet's hex text.
TEST_F(RelayCycleScriptedTest, ALogSinkGetsThePacketsTheCyclePassesOnAsHexText) {
    const sim::Bytes final1301 = PacketOf(1301, 0xA0);
    loggedLines.clear();
    SetLogSink(KeepLine);
    server_.Script(ConnectResult::Connected, {ScriptedServer::Data(final1301)});
    const int result = RunCycle();
    SetLogSink(nullptr);

    EXPECT_EQ(RelayResult::CardRead, result);
    const sim::Bytes first = Packet(kFirst);
    const std::vector<std::string> expected = {
        "[ConncetServer:]|连接成功",
        "[USB->TCP 第一包数据]|send:" + ToHexText(first.data(), 26),
        "最后一包=============|读卡成功",
        "[USB->TCP 第一包数据]|send:" + ToHexText(final1301.data(), 1301),
    };
    EXPECT_THAT(loggedLines, testing::IsSupersetOf(expected));
}

}  // namespace
