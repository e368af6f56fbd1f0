#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The decoding server a configuration entry names.
struct ServerEntry {
    std::string host;  // dotted IPv4 text or a host name
    int port = 0;
};

// The most of a configuration answer's body that is read; a longer body names no server.
constexpr std::size_t kMaxConfigBody = 1024 * 1024;

// The server the configuration answer names: the first element of the top-level array "data"
// that is an object with all of "serverUrl", "isUsing", "serverPort", "type" and "status",
// readable as text and integers, whose type is 4, isUsing 1 and serverPort from 1 to 65535. None
// when the text does not parse as JSON, is not an object, or holds no such element. The text ends
// at its first zero byte, as a read block handed over with a terminating zero does.
std::optional<ServerEntry> ChooseServer(std::string_view document);

// The body of a configuration answer, joined from its read blocks so that a document the network
// delivered in pieces is read whole.
class ConfigBody {
  public:
    // Adds a block; false once the body has grown past kMaxConfigBody (it is then dropped).
    bool Append(const unsigned char* block, std::size_t size);

    // The server the whole body names; none when it names none or was too long.
    std::optional<ServerEntry> Server() const;

  private:
    std::string text_;
    bool tooLong_ = false;
};
