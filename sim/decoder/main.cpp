// sim-decoder: a decoding server on 127.0.0.1 that plays a card dialogue with each client, for
// trying the relay without the real server. Runs until interrupted (Ctrl-C) or terminated.
//   sim-decoder [--port N] [--script FILE] [--record FILE]
// The port defaults to 9977, the script to the default card dialogue (default.dialogue). Prints
// one line per connection when it ends: its dialogue, what it received, how it ended, and the
// final packet when the server's last packet was one. With --record, each connection's bytes go
// to the file too, as one line of hex.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/hex_text.h"
#include "platform/interrupt_handler.h"
#include "platform/port_number.h"
#include "platform/quit_signal.h"
#include "sim/decoder/decoder_server.h"

namespace {

constexpr std::uint16_t kDefaultPort = 9977;
constexpr char kUsage[] =
    "usage: sim-decoder [--port N] [--script FILE] [--record FILE]\n"
    "  --port N       listen on 127.0.0.1 port N (default 9977; 0 picks a free port)\n"
    "  --script FILE  play the dialogue in FILE instead of the default card dialogue\n"
    "  --record FILE  append the bytes each connection received to FILE, a line of hex each\n";

int Usage(const char* problem) {
    std::fprintf(stderr, "sim-decoder: %s\n%s", problem, kUsage);
    return 2;
}

// What the final packet of a card dialogue (byte 3 = A0) tells, when the server's last packet was
// one: 17 bytes, the card was not read; over 1000 bytes, it was.
std::string FinalPacketNote(const sim::Bytes& packet) {
    const bool final = packet.size() > 3 && packet[3] == 0xA0;
    if (final && packet.size() == 17) {
        return "; sent the final packet: card not read (17 bytes)";
    }
    if (final && packet.size() > 1000) {
        return "; sent the final packet: card read (" + std::to_string(packet.size()) + " bytes)";
    }
    return {};
}

void RecordSession(const std::string& path, std::size_t index, const decoder::Session& session) {
    const std::string line = "session " + std::to_string(index + 1) + ": " +
                             platform::HexBytes(session.received.data(), session.received.size()) +
                             "\n";
    std::ofstream(path, std::ios::binary | std::ios::app) << line;
}

void PrintSession(std::size_t index, const decoder::Session& session) {
    const std::string line = "sim-decoder: session " + std::to_string(index + 1) +
                             (session.dialogue.empty() ? "" : ", " + session.dialogue) + ": " +
                             std::to_string(session.received.size()) + " bytes received, " +
                             session.outcome + FinalPacketNote(session.lastSent) + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::uint16_t port = kDefaultPort;
    std::string scriptPath;
    std::string recordPath;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if ((option == "--port" || option == "--script" || option == "--record") && i + 1 >= argc) {
            return Usage(("missing value after " + option).c_str());
        }
        if (option == "--port") {
            const auto number = platform::ParsePortNumber(std::string_view(argv[++i]));
            if (!number) {
                return Usage("the port must be a number from 0 to 65535");
            }
            port = *number;
        } else if (option == "--script") {
            scriptPath = argv[++i];
        } else if (option == "--record") {
            recordPath = argv[++i];
        } else {
            return Usage(("unknown argument " + option).c_str());
        }
    }

    decoder::DecoderScript script = decoder::DecoderScript::Default();
    if (!scriptPath.empty()) {
        const auto text = sim::ReadTextFile(scriptPath);
        if (!text) {
            std::fprintf(stderr, "sim-decoder: cannot read %s\n", scriptPath.c_str());
            return 1;
        }
        std::string error;
        auto parsed = decoder::DecoderScript::Parse(*text, error);
        if (!parsed) {
            std::fprintf(stderr, "sim-decoder: %s: %s\n", scriptPath.c_str(), error.c_str());
            return 1;
        }
        script = std::move(*parsed);
    }

    // The stop requests are taken here, and not by the server's thread.
    platform::QuitSignal quit;
    const platform::InterruptHandler interrupt([&quit] { quit.Post(); });

    const char* how = script.refuse ? "refusing every connection on"
                      : script.drop ? "answering no connection on"
                                    : "listening on";
    decoder::DecoderServer server(
        std::move(script), port, [&recordPath](std::size_t index, const decoder::Session& session) {
            if (!recordPath.empty()) {
                RecordSession(recordPath, index, session);
            }
            PrintSession(index, session);
        });
    if (!server.Ready()) {
        std::fprintf(stderr, "sim-decoder: cannot serve: %s\n", server.Error().c_str());
        return 1;
    }
    std::printf("sim-decoder: %s 127.0.0.1:%u\n", how, static_cast<unsigned>(server.Port()));
    std::fflush(stdout);

    quit.Wait();
    return 0;
}
