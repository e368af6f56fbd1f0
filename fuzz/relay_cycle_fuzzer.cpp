// The relay cycle (relay/engine) between a box and a decoding server the fuzzer plays as the
// cycle's box and server link: every read from either side, every write's outcome and the server
// connection's are taken from the input, so packets of any length with any bytes 3 and 4,
// continuations that overflow and closes at any point reach the real cycle. Whatever they are, the
// cycle writes no packet longer than a buffer, ends with one of its results, and leaves the box and
// the connection closed.
#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "relay/common/box.h"
#include "relay/common/server_link.h"
#include "relay/engine/relay_cycle.h"
#include "relay/engine/relay_state.h"

namespace {

// The input of the running case; empty between cases.
std::optional<FuzzedDataProvider> input;

// A read of either side: a packet of a chosen length whose bytes 3 and 4 are chosen too (the
// relay looks at nothing else), or a result without data. The packet's other bytes count up, so
// that a packet can be told apart from zeroed buffer bytes.
int Receive(PacketBuffer& destination, int nothing, const std::vector<int>& failures) {
    if (!input || input->remaining_bytes() == 0) {
        return failures.front();
    }
    switch (input->ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return nothing;
        case 1:
            return input->PickValueInArray({failures.front(), failures.back()});
        default:
            break;
    }
    // Lengths around the ones the relay tells apart come often; any other one may come as well.
    const int length =
        input->ConsumeBool()
            ? input->PickValueInArray({1, 4, 5, 17, 26, 1000, 1001, 1200, 1300, 1301, 1302, 2048})
            : input->ConsumeIntegralInRange<int>(1, static_cast<int>(kPacketBufferSize));
    static const std::vector<unsigned char> kCounting = [] {
        std::vector<unsigned char> bytes(kPacketBufferSize);
        std::iota(bytes.begin(), bytes.end(), static_cast<unsigned char>(0));
        return bytes;
    }();
    std::memcpy(destination.data(), kCounting.data(), static_cast<std::size_t>(length));
    if (length > 3) {
        destination[3] = input->PickValueInArray<unsigned char>({0x01, 0xA0, 0x10, 0x12, 0x02});
        if (input->ConsumeBool()) {
            destination[3] = input->ConsumeIntegral<unsigned char>();
        }
    }
    if (length > 4) {
        destination[4] = input->ConsumeIntegral<unsigned char>();
    }
    return length;
}

constexpr int kUsbTimeout = -110;
constexpr int kUsbIoError = -5;

// The box of the cycle.
class FuzzBox final : public Box {
  public:
    int ConnectUsb() override {
        open = true;
        return UsbResult::Connected;
    }

    int ReadUsb(PacketBuffer& destination, std::chrono::milliseconds /*wait*/) override {
        if (!open) {
            return UsbResult::NoBox;
        }
        return Receive(destination, 0, {kUsbTimeout, kUsbIoError});
    }

    int WriteUsb(const unsigned char* data, int length) override {
        FuzzCheck(open, "nothing is written to a closed box");
        FuzzCheck(length >= 0 && length <= static_cast<int>(kPacketBufferSize),
                  "no packet written to the box is longer than a buffer");
        const std::vector<unsigned char> written(data, data + length);
        lastWriteFinal = length > 1000 && written[3] == 0xA0;
        ++writes;
        return input && input->ConsumeBool() ? kUsbIoError : length;
    }

    void PauseUsb(std::chrono::milliseconds /*pause*/) override {}

    void ResetUsb() override {}

    void DisConnectUsb() override { open = false; }

    bool open = false;
    bool lastWriteFinal = false;  // the last write was a final packet the card was read with
    int writes = 0;
};

// The server link of the cycle.
class FuzzServer final : public ServerLink {
  public:
    void SetServer(std::uint16_t /*port*/, const std::string& /*host*/) override {}

    int Connect() override {
        open_ = connectResult == ConnectResult::Connected;
        return connectResult;
    }

    int ReadSocket(PacketBuffer& destination, std::chrono::milliseconds /*wait*/) override {
        if (!open_) {
            return ReceiveResult::Nothing;
        }
        // Once the input has run out, the server has closed the connection.
        lastRead = Receive(destination, ReceiveResult::Nothing, {ReceiveResult::Failed});
        lastMark = destination[3];
        return lastRead;
    }

    int WriteSocket(const unsigned char* data, int length) override {
        FuzzCheck(open_, "nothing is sent without a connection");
        FuzzCheck(length >= 0 && length <= static_cast<int>(kPacketBufferSize),
                  "no packet sent to the server is longer than a buffer");
        sent_.assign(data, data + length);  // every byte sent is one the sanitizer may check
        return input && input->ConsumeBool() ? -1 : length;
    }

    void CloseSocket() override { open_ = false; }

    bool IsOpen() const override { return open_; }

    int connectResult = ConnectResult::Connected;
    int lastRead = 0;
    unsigned char lastMark = 0;

  private:
    bool open_ = false;
    std::vector<unsigned char> sent_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    input.emplace(data, size);
    // The idle bound of the exchange: the real one, or one that has always passed already.
    const std::chrono::milliseconds idleBound =
        input->ConsumeBool() ? kExchangeIdleBound : std::chrono::milliseconds(0);
    FuzzBox box;
    FuzzServer server;
    server.connectResult =
        input->PickValueInArray({ConnectResult::Connected, ConnectResult::Connected,
                                 ConnectResult::NotConnected, ConnectResult::SocketFailed});
    RelayState state;
    state.connectFailures = input->ConsumeIntegralInRange(0, 6);
    state.configLoaded = true;
    const int failuresBefore = state.connectFailures;

    // The buffers on the heap of their own, so that a write past one is seen.
    const auto boxBuffer = std::make_unique<PacketBuffer>();
    const auto serverBuffer = std::make_unique<PacketBuffer>();
    boxBuffer->fill(0);
    serverBuffer->fill(0);
    box.ConnectUsb();
    const int result = RelayCycle(box, server, state).Run(*boxBuffer, *serverBuffer, idleBound);
    input.reset();

    FuzzCheck(result == RelayResult::CardRead || result == RelayResult::NoFirstPacket ||
                  result == RelayResult::ServerUnreachable ||
                  result == RelayResult::FirstAnswerFailed || result == RelayResult::CardNotRead ||
                  result == RelayResult::ExchangeFailed,
              "the cycle ends with one of its results");
    FuzzCheck(!box.open, "the box is closed at the end");
    FuzzCheck(!server.IsOpen(), "the server connection is closed at the end");
    FuzzCheck(result != RelayResult::CardRead || box.lastWriteFinal,
              "a card read ends with the final packet written to the box");
    FuzzCheck(
        result != RelayResult::CardNotRead || (server.lastRead == 17 && server.lastMark == 0xA0),
        "a card not read ends with the server's 17-byte final packet");
    if (result == RelayResult::ServerUnreachable) {
        FuzzCheck(state.connectFailures == failuresBefore + 1, "a failed connection is counted");
        FuzzCheck(state.configLoaded == (failuresBefore <= 3),
                  "the fifth failure in a row and every later one asks for the configuration");
    } else if (result != RelayResult::NoFirstPacket) {
        FuzzCheck(state.connectFailures == 0, "a connection made ends the failures in a row");
    }
    return 0;
}
