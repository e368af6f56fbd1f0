// sim-decoder: a decoding server on 127.0.0.1 that plays a card dialogue with each client, for
// trying the relay without the real server. Runs until interrupted (Ctrl-C) or terminated.
//   sim-decoder [--port N] [--script FILE]
// The port defaults to 9977, the script to the default card dialogue (default.dialogue).

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/decoder/decoder_server.h"

namespace {

constexpr int kDefaultPort = 9977;
constexpr char kUsage[] =
    "usage: sim-decoder [--port N] [--script FILE]\n"
    "  --port N       listen on 127.0.0.1 port N (default 9977; 0 picks a free port)\n"
    "  --script FILE  play the dialogue in FILE instead of the default card dialogue\n";

int Usage(const char* problem) {
    std::fprintf(stderr, "sim-decoder: %s\n%s", problem, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    long long port = kDefaultPort;
    std::string scriptPath;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if ((option == "--port" || option == "--script") && i + 1 >= argc) {
            return Usage(("missing value after " + option).c_str());
        }
        if (option == "--port") {
            const auto number = sim::ParseNumber(argv[++i]);
            if (!number || *number < 0 || *number > 65535) {
                return Usage("the port must be a number from 0 to 65535");
            }
            port = *number;
        } else if (option == "--script") {
            scriptPath = argv[++i];
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

    // The stop signals are taken here, by sigwait, and not by the server's thread.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const char* how = script.refuse ? "refusing every connection on"
                      : script.drop ? "answering no connection on"
                                    : "listening on";
    decoder::DecoderServer server(std::move(script), static_cast<std::uint16_t>(port),
                                  [](std::size_t index, const decoder::Session& session) {
                                      std::printf("session %zu: %zu bytes received, %s\n",
                                                  index + 1, session.received.size(),
                                                  session.outcome.c_str());
                                      std::fflush(stdout);
                                  });
    if (!server.Ready()) {
        std::fprintf(stderr, "sim-decoder: cannot serve: %s\n", server.Error().c_str());
        return 1;
    }
    std::printf("sim-decoder: %s 127.0.0.1:%u\n", how, static_cast<unsigned>(server.Port()));
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    return 0;
}
