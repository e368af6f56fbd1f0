#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// What an administrator may narrow in the web server through the settings file. The defaults are
// the server's behaviour without the file: every IPv4 address, any origin, the host names of this
// machine.
struct ServerSettings {
    std::string listenAddress = "0.0.0.0";  // dotted IPv4
    bool anyOrigin = true;
    std::vector<std::string> allowedOrigins;  // lower case; used when anyOrigin is false
    bool anyHost = false;
    std::vector<std::string> allowedHosts;  // lower case, besides the names always accepted
    // A connection that completes no request for this long is closed; so is a write that makes
    // no progress for this long, and an upgraded WebSocket connection after this long.
    std::chrono::seconds idleTimeout{60};
    // A new connection beyond this many closes the connection idle the longest.
    std::size_t maxConnections = 500;
};

// Name of the settings file, read from the program's directory.
constexpr char16_t kServerSettingsFileName[] = u"zembra.conf";

// Settings from the text of a settings file: "key = value" lines, "#" comment lines and blank
// lines. False, with problem as "line N: what is wrong", on an unknown key, a key given twice, a
// line without "=" or a bad value: a mistake never falls back to a default.
bool ParseServerSettings(std::string_view text, ServerSettings& settings, std::string& problem);

// Reads the settings file at path; a file that does not exist leaves the defaults. False, with
// problem naming the file (and the line), when the file cannot be read or holds a mistake.
bool LoadServerSettings(std::u16string_view path, ServerSettings& settings, std::string& problem);
