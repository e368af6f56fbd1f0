// sim-configserver: the relay configuration endpoint as a program, for the demo and for trying
// the relay without the real endpoint. Prints one line per request; stops on SIGINT or SIGTERM.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "platform/interrupt_handler.h"
#include "platform/quit_signal.h"
#include "sim/configserver/config_server.h"
#include "sim/script/script_text.h"

namespace {

constexpr const char* kUsage =
    "usage: sim-configserver [options]\n"
    "  --port N               listen on port N (default 8080; 0 picks a free port)\n"
    "  --address A            listen on address A (default 127.0.0.1)\n"
    "  --server HOST:PORT     decoding server named in the default answer (127.0.0.1:9977)\n"
    "  --body-file F          answer with the bytes of file F instead\n"
    "  --status N [REASON]    answer status (default 200 OK)\n"
    "  --content-type T       Content-Type of the answer ('' for none)\n"
    "  --header 'Name: v'     an extra answer header (repeatable)\n"
    "  --delay-ms N           wait N ms before answering\n"
    "  --close-without-answer read each request, then close the connection\n"
    "  --record F             append the raw bytes of every request to file F\n";

[[noreturn]] void Fail(const std::string& message) {
    std::cerr << "sim-configserver: " << message << "\n" << kUsage;
    std::exit(2);
}

unsigned long Number(const char* text, unsigned long maximum) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value > maximum) {
        Fail(std::string("not a valid number: ") + text);
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long port = 8080;
    std::string address = "127.0.0.1";
    std::string recordPath;
    sim::ConfigAnswer answer;
    answer.body = sim::ConfigurationBody("127.0.0.1", 9977);
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                Fail("missing value after " + option);
            }
            return argv[++i];
        };
        if (option == "--port") {
            port = Number(value(), 65535);
        } else if (option == "--address") {
            address = value();
        } else if (option == "--server") {
            const std::string server = value();
            const size_t colon = server.rfind(':');
            if (colon == std::string::npos || colon == 0) {
                Fail("--server takes HOST:PORT");
            }
            answer.body =
                sim::ConfigurationBody(server.substr(0, colon),
                                       static_cast<int>(Number(server.c_str() + colon + 1, 65535)));
        } else if (option == "--body-file") {
            const char* path = value();
            const std::optional<std::string> body = sim::ReadTextFile(path);
            if (!body) {
                Fail(std::string("cannot read ") + path);
            }
            answer.body = *body;
        } else if (option == "--status") {
            answer.status = static_cast<int>(Number(value(), 999));
            answer.reason = i + 1 < argc && argv[i + 1][0] != '-' ? argv[++i] : "";
        } else if (option == "--content-type") {
            answer.contentType = value();
        } else if (option == "--header") {
            answer.extraHeaders.emplace_back(value());
        } else if (option == "--delay-ms") {
            answer.delay = std::chrono::milliseconds(Number(value(), 3600000));
        } else if (option == "--close-without-answer") {
            answer.closeWithoutAnswer = true;
        } else if (option == "--record") {
            recordPath = value();
        } else if (option == "--help" || option == "-h") {
            std::cout << kUsage;
            return 0;
        } else {
            Fail("unknown option " + option);
        }
    }

    // The stop requests are caught before the listening line tells anyone to send them.
    platform::QuitSignal quit;
    const platform::InterruptHandler interrupt([&quit] { quit.Post(); });
    try {
        sim::ConfigServer server(static_cast<uint16_t>(port), address);
        server.SetAnswer(answer);
        server.SetObserver([recordPath](const std::string& request) {
            std::cout << "sim-configserver: " << request.substr(0, request.find("\r\n"))
                      << std::endl;
            if (!recordPath.empty()) {
                std::ofstream(recordPath, std::ios::binary | std::ios::app) << request;
            }
        });
        std::cout << "sim-configserver listening on " << address << ":" << server.Port()
                  << std::endl;
        quit.Wait();
    } catch (const std::exception& e) {
        std::cerr << "sim-configserver: cannot listen on " << address << ":" << port << ": "
                  << e.what() << "\n";
        return 1;
    }
    return 0;
}
