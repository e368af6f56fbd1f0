// How long a packet takes to cross the relay in each direction while the box and the server are
// otherwise idle. The relay polls the box for up to 20 ms and the server for up to 3 ms in turn,
// so a server packet waits up to about 23 ms for its pass and a box packet up to about 3 ms.
//
// The real relay cycle runs on a thread of its own, with the box stand-in as its libusb and a
// server of the benchmark's own that notes when it sends and receives. Each dialogue carries 150
// packets each way; the counters give the median and the 99th percentile in milliseconds.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "relay/engine/relay_cycle.h"
#include "relay/engine/relay_state.h"
#include "relay/net/server_socket.h"
#include "relay/usb/usb_box.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

constexpr const char* kFirstPacket = "AA 00 16 01 05 43 41 52 44 2D 30 30 30 31 00*11 7E";
constexpr int kPackets = 150;

// Server packets carry byte 3 = 02, box packets 03: neither is a final packet, and after a box
// packet the relay reads the server in the same pass.
Bytes ServerPacket(int i) {
    return {0xAA, 0x00, 0x05, 0x02, static_cast<unsigned char>(i)};
}

std::string BoxPacketText(int i) {
    char text[32];
    std::snprintf(text, sizeof text, "AA 00 05 03 %02X", i & 0xFF);
    return text;
}

std::string ServerPacketText(int i) {
    char text[32];
    std::snprintf(text, sizeof text, "AA 00 05 02 %02X", i & 0xFF);
    return text;
}

// A decoding server of the benchmark's own: one connection, blocking, timed.
class TimedServer {
  public:
    TimedServer() : listener_(platform::OpenTcpSocket().value_or(platform::Socket())) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (!listener_.IsOpen() ||
            bind(listener_.Native(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(listener_.Native(), 1) != 0 ||
            getsockname(listener_.Native(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("no listening socket");
        }
        port_ = ntohs(address.sin_port);
    }

    std::uint16_t Port() const { return port_; }

    void Accept() {
        connection_ = platform::Socket(accept(listener_.Native(), nullptr, nullptr));
        platform::SetNoDelay(connection_.Native());
    }

    void Send(const Bytes& packet) const {
        const int size = static_cast<int>(packet.size());
        if (platform::SendBytes(connection_.Native(), packet.data(), size).value_or(-1) != size) {
            throw std::runtime_error("send failed");
        }
    }

    // Receives exactly count bytes; the time the last of them arrived.
    Clock::time_point Receive(std::size_t count) const {
        unsigned char buffer[64];
        while (count > 0) {
            const int got = platform::ReceiveBytes(connection_.Native(), buffer,
                                                   static_cast<int>(std::min(count, sizeof buffer)))
                                .value_or(0);
            if (got <= 0) {
                throw std::runtime_error("the relay closed the connection");
            }
            count -= static_cast<std::size_t>(got);
        }
        return Clock::now();
    }

  private:
    platform::Socket listener_;
    platform::Socket connection_;
    std::uint16_t port_ = 0;
};

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

// One dialogue of kPackets exchanges. Server to box: the server sends at a random moment and the
// box answers at once, so each round trip is the server packet's crossing (the answer's crossing
// right after a box write is immediate). Box to server: the server answers at once, which the
// relay picks up within its server read, and the box waits a random time before it answers, so
// each round trip less that wait is the box packet's crossing.
void RunDialogue(benchmark::State& state, bool serverToBox) {
    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> serverWait(0, 30);
    std::uniform_int_distribution<int> boxWait(25, 55);
    std::vector<int> serverWaits(kPackets, 0);
    std::vector<int> boxWaits(kPackets, 0);
    std::string scenario =
        std::string("bus\ndevice 0400:C355\nidle 1\ndeliver ") + kFirstPacket + "\n";
    for (int i = 0; i < kPackets; ++i) {
        (serverToBox ? serverWaits[i] : boxWaits[i]) =
            serverToBox ? serverWait(random) : boxWait(random);
        scenario += "expect " + ServerPacketText(i) + "\n";
        if (boxWaits[i] > 0) {
            scenario += "wait " + std::to_string(boxWaits[i]) + "\n";
        }
        scenario += "deliver " + BoxPacketText(i) + "\n";
    }
    const std::filesystem::path scenarioFile =
        std::filesystem::temp_directory_path() /
        ("relay-latency-" + std::to_string(getpid()) + ".scenario");
    std::ofstream(scenarioFile) << scenario;
    setenv("USBBOX_SIM_SCENARIO", scenarioFile.c_str(), 1);

    TimedServer server;
    RelayState relayState;
    relayState.serverPort = server.Port();
    relayState.serverHost = "127.0.0.1";
    int result = 1;
    std::thread relay([&result, &relayState] {
        UsbBox box;
        ServerSocket socket;
        PacketBuffer boxBuffer{};
        PacketBuffer serverBuffer{};
        result = box.ConnectUsb() == UsbResult::Connected
                     ? RelayCycle(box, socket, relayState).Run(boxBuffer, serverBuffer)
                     : UsbResult::NoBox;
    });
    server.Accept();
    server.Receive(26);  // the box's first packet

    std::vector<double> crossings;
    for (int i = 0; i < kPackets; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(serverWaits[i]));
        const Clock::time_point sent = Clock::now();
        server.Send(ServerPacket(i));
        const Clock::time_point answered = server.Receive(5);
        const double roundTrip = std::chrono::duration<double, std::milli>(answered - sent).count();
        crossings.push_back(roundTrip - boxWaits[i]);
    }
    server.Send({0xAA, 0x00, 0x0D, 0xA0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // not read
    relay.join();
    std::filesystem::remove(scenarioFile);
    if (result != RelayResult::CardNotRead) {
        state.SkipWithError("the dialogue did not end as scripted");
        return;
    }
    state.counters["median_ms"] = Percentile(crossings, 0.5);
    state.counters["p99_ms"] = Percentile(crossings, 0.99);
    state.counters["max_ms"] = Percentile(crossings, 1.0);
}

void ServerPacketToBox(benchmark::State& state) {
    for (auto _ : state) {
        RunDialogue(state, true);
    }
}

void BoxPacketToServer(benchmark::State& state) {
    for (auto _ : state) {
        RunDialogue(state, false);
    }
}

BENCHMARK(ServerPacketToBox)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BoxPacketToServer)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
