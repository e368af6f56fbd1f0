// Zembra's request handling: a client's bytes, cut into pieces anywhere and read back with
// writes of any size, through the real connection (webservice/web/basic_http_session.h) on an
// in-memory stream, with the real routes on the simulated reader SDK. Whatever the bytes, the
// server writes only whole answers of the kinds it has (200 chunked or with its length, 100, 101,
// 403), nothing after an answer that ends the connection, and the connection ends when the client
// has nothing more to say.
#include <boost/asio/io_context.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/memory_stream.h"
#include "platform/code_page.h"
#include "webservice/reader/card_reader.h"
#include "webservice/web/basic_http_session.h"
#include "webservice/web/server_settings.h"

namespace {

using Session = web_session::BasicHttpSession<MemoryStream>;

boost::asio::io_context context;

// The rules of a server without settings, and of one narrowed by an administrator.
std::vector<std::shared_ptr<const SessionRules>> rules;

std::shared_ptr<const SessionRules> RulesOf(std::string_view settingsText) {
    ServerSettings settings;
    std::string problem;
    FuzzCheck(ParseServerSettings(settingsText, settings, problem), "the fuzzer's settings parse");
    return std::make_shared<const SessionRules>(
        SessionRules{RequestPolicy(settings, "zembra-fuzz"), settings.idleTimeout});
}

bool Consume(std::string_view& output, std::string_view prefix) {
    if (output.substr(0, prefix.size()) != prefix) {
        return false;
    }
    output.remove_prefix(prefix.size());
    return true;
}

// Takes a chunked body off the output; false when it is not one.
bool ConsumeChunks(std::string_view& output) {
    for (;;) {
        const std::size_t lineEnd = output.find("\r\n");
        if (lineEnd == std::string_view::npos || lineEnd == 0) {
            return false;
        }
        char* end = nullptr;
        const std::string digits(output.substr(0, lineEnd));
        const unsigned long length = std::strtoul(digits.c_str(), &end, 16);
        if (*end != '\0') {
            return false;
        }
        output.remove_prefix(lineEnd + 2);
        if (length == 0) {
            return Consume(output, "\r\n");
        }
        if (output.size() < length + 2 || output.substr(length, 2) != "\r\n") {
            return false;
        }
        output.remove_prefix(length + 2);
    }
}

// Walks the answers the server wrote, one after the other.
void CheckAnswers(std::string_view output) {
    while (!output.empty()) {
        if (Consume(output, "HTTP/1.1 100 Continue\r\n\r\n")) {
            continue;
        }
        if (Consume(output, "HTTP/1.1 403 Forbidden\r\n") ||
            Consume(output, "HTTP/1.1 101 Switching Protocols\r\n")) {
            const std::size_t headEnd = output.find("\r\n\r\n");
            FuzzCheck(headEnd != std::string_view::npos, "an answer's head is whole");
            FuzzCheck(headEnd + 4 == output.size(),
                      "nothing follows a refusal or a WebSocket handshake");
            return;
        }
        FuzzCheck(Consume(output, "HTTP/1.1 200 OK\r\n"), "every answer is one the server has");
        const std::size_t headEnd = output.find("\r\n\r\n");
        FuzzCheck(headEnd != std::string_view::npos, "an answer's head is whole");
        std::string_view fields = output.substr(0, headEnd + 2);
        output.remove_prefix(headEnd + 4);
        if (Consume(fields, "Transfer-Encoding: chunked\r\n")) {
            // A HEAD answer has no chunks; the next answer, or the end, follows at once.
            if (!output.empty() && output.substr(0, 9) != "HTTP/1.1 ") {
                FuzzCheck(ConsumeChunks(output), "a chunked body is whole");
            }
            continue;
        }
        FuzzCheck(Consume(fields, "Content-Length: "), "a whole answer gives its length");
        const std::size_t length = std::strtoul(std::string(fields).c_str(), nullptr, 10);
        // An HTTP/1.0 answer ends the connection: its body, or nothing for HEAD, is the last.
        FuzzCheck(output.empty() || output.size() == length,
                  "nothing follows an answer that ends the connection");
        return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    FuzzCheck(TheCardReader().LoadSdkFrom(platform::codepage::Utf8ToUtf16(TROVIK_SIM_LIBRARY)) == 1,
              "the simulated SDK loads");
    rules.push_back(RulesOf(""));
    rules.push_back(
        RulesOf("allowed_origins = https://intranet.example null\n"
                "allowed_hosts = reader.intranet.example\n"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    // Three bytes choose the rules, the size of the client's pieces and of the server's writes.
    const auto state = std::make_shared<MemoryStream::State>();
    const std::shared_ptr<const SessionRules>& chosen = rules[data[0] % rules.size()];
    const std::size_t piece = data[1] == 0 ? size : data[1];
    state->writeLimit = data[2] == 0 ? SIZE_MAX : data[2];
    const std::string_view client(reinterpret_cast<const char*>(data) + 3, size - 3);
    for (std::size_t at = 0; at < client.size(); at += piece) {
        state->pieces.emplace_back(client.substr(at, piece));
    }

    TheCardReader().Close();  // every case starts with the reader closed
    context.restart();
    const auto session =
        std::make_shared<Session>(MemoryStream(context.get_executor(), state), chosen);
    session->Start();
    context.run();

    FuzzCheck(!session->IsOpen() && state->closed,
              "the connection has ended once the client has nothing more to say");
    CheckAnswers(state->output);
    return 0;
}
