#include "webservice/web/server_settings.h"

#include <boost/asio/ip/address_v4.hpp>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>

#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/port_number.h"
#include "platform/read_only_file.h"
#include "platform/system_error.h"

namespace {

constexpr std::string_view kBlanks = " \t";
// Far above any sensible file; a larger one is a mistake, not settings.
constexpr std::uint64_t kLongestFile = 64 * 1024;
constexpr long long kLongestIdleTimeout = 24 * 60 * 60;
// The service unit lets the program hold well above this many descriptors.
constexpr long long kMostConnections = 10000;

std::vector<std::string> Words(std::string_view text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while ((at = text.find_first_not_of(kBlanks, at)) != std::string_view::npos) {
        const std::size_t end = std::min(text.find_first_of(kBlanks, at), text.size());
        words.emplace_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

bool IsDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A host name as it stands in a Host field: letters, digits, '-', '_' and dots between labels.
bool IsHostName(std::string_view name) {
    if (name.empty() || name.size() > 253 || name.front() == '.' || name.back() == '.' ||
        name.find("..") != std::string_view::npos) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return platform::ascii::IsAlphanumeric(c) || c == '-' || c == '_' || c == '.';
    });
}

bool IsPort(std::string_view text) {
    const std::optional<std::uint16_t> port = platform::ParsePortNumber(text);
    return port && *port >= 1;
}

// scheme "://" host [":" port], as a browser writes an Origin field; or "null", the origin of
// files and sandboxed frames.
bool IsOrigin(std::string_view origin) {
    if (origin == "null") {
        return true;
    }
    const std::size_t separator = origin.find("://");
    if (separator == std::string_view::npos || separator == 0 ||
        !platform::ascii::IsAlphanumeric(origin[0])) {
        return false;
    }
    const std::string_view scheme = origin.substr(0, separator);
    if (!std::all_of(scheme.begin(), scheme.end(), [](char c) {
            return platform::ascii::IsAlphanumeric(c) || c == '+' || c == '-' || c == '.';
        })) {
        return false;
    }
    std::string_view authority = origin.substr(separator + 3);
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos || close < 3) {
            return false;
        }
        authority.remove_prefix(close + 1);
        return authority.empty() || (authority.front() == ':' && IsPort(authority.substr(1)));
    }
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos) {
        return IsHostName(authority.substr(0, colon)) && IsPort(authority.substr(colon + 1));
    }
    return IsHostName(authority);
}

std::optional<long long> Number(std::string_view text, long long low, long long high) {
    if (!IsDigits(text) || text.size() > 12) {
        return std::nullopt;
    }
    const long long value = std::stoll(std::string(text));
    if (value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// "*" alone, or a list of entries that each pass check. Empty problem when the value is good.
std::string ParseList(std::string_view value, bool (*check)(std::string_view), const char* what,
                      bool& any, std::vector<std::string>& list) {
    const std::vector<std::string> words = Words(value);
    any = words.size() == 1 && words[0] == "*";
    list.clear();
    if (any) {
        return {};
    }
    for (const std::string& word : words) {
        if (word == "*") {
            return "\"*\" stands alone, without other entries";
        }
        if (!check(word)) {
            return "\"" + word + "\" is not " + what;
        }
        list.push_back(platform::ascii::Lowered(word));
    }
    return {};
}

// The first control byte of a line, blanks aside; none when it has none. A value must not hold
// one: the address parser would read "127.0.0.1" out of "127.0.0.1\0..." and take it.
std::optional<unsigned char> ControlByte(std::string_view line) {
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
            return byte;
        }
    }
    return std::nullopt;
}

std::string ByteText(unsigned char byte) {
    constexpr auto& kDigits = platform::ascii::kUpperHexDigits;
    return std::string("0x") + kDigits[byte >> 4] + kDigits[byte & 0x0F];
}

// Applies one setting; empty when it was taken, else what is wrong with it.
std::string Apply(ServerSettings& settings, const std::string& key, std::string_view value) {
    if (key == "listen") {
        boost::system::error_code error;
        const auto address = boost::asio::ip::make_address_v4(std::string(value), error);
        // Four dotted decimals and nothing else: Windows would also take shorthands like 127.1.
        if (error || address.to_string() != value) {
            return "listen takes one IPv4 address, such as 127.0.0.1, not \"" + std::string(value) +
                   "\"";
        }
        settings.listenAddress = address.to_string();
        return {};
    }
    if (key == "allowed_origins") {
        const std::string problem = ParseList(value, IsOrigin,
                                              "an origin such as https://intranet.example or "
                                              "http://10.0.0.5:8080 (scheme, host, port, no path)",
                                              settings.anyOrigin, settings.allowedOrigins);
        return problem.empty() ? problem : "allowed_origins: " + problem;
    }
    if (key == "allowed_hosts") {
        const std::string problem = ParseList(value, IsHostName, "a host name without a port",
                                              settings.anyHost, settings.allowedHosts);
        return problem.empty() ? problem : "allowed_hosts: " + problem;
    }
    if (key == "idle_timeout") {
        const auto seconds = Number(value, 1, kLongestIdleTimeout);
        if (!seconds) {
            return "idle_timeout takes a whole number of seconds from 1 to " +
                   std::to_string(kLongestIdleTimeout) + ", not \"" + std::string(value) + "\"";
        }
        settings.idleTimeout = std::chrono::seconds(*seconds);
        return {};
    }
    if (key == "max_connections") {
        const auto count = Number(value, 1, kMostConnections);
        if (!count) {
            return "max_connections takes a whole number from 1 to " +
                   std::to_string(kMostConnections) + ", not \"" + std::string(value) + "\"";
        }
        settings.maxConnections = static_cast<std::size_t>(*count);
        return {};
    }
    return "unknown setting \"" + key +
           "\" (known: listen, allowed_origins, allowed_hosts, idle_timeout, max_connections)";
}

// Why what stands at the file's name is not a file of settings; empty for a regular file.
std::string NotAFile(platform::FileKind kind) {
    switch (kind) {
        case platform::FileKind::RegularFile:
        case platform::FileKind::Nothing:
            return {};
        case platform::FileKind::Directory:
            return "is a directory, not a file";
        case platform::FileKind::DanglingLink:
            return "is a symbolic link to nothing";
        case platform::FileKind::LinkLoop:
            return "is a symbolic link in a loop";
        case platform::FileKind::Pipe:
            return "is a named pipe, not a file";
        case platform::FileKind::Device:
            return "is a device, not a file";
        case platform::FileKind::Other:
            break;
    }
    return "is not a file";
}

// Editors on Windows may save text as UTF-16, with or without a byte-order mark; settings text
// starts with ASCII, which UTF-16 pairs with a NUL.
bool IsUtf16(std::string_view text) {
    return text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF" ||
           (text.size() >= 2 && (text[0] == '\0' || text[1] == '\0'));
}

std::string ReadFailure(std::uint32_t failure) {
    switch (failure) {
        case platform::error::kAccessDenied:
            return "access denied";
        case platform::error::kTooManyOpenFiles:
            return "too many open files";
        default:
            return "error " + std::to_string(failure);
    }
}

}  // namespace

bool ParseServerSettings(std::string_view text, ServerSettings& settings, std::string& problem) {
    if (IsUtf16(text)) {
        problem = "line 1: the file is saved as UTF-16; save it as UTF-8";
        return false;
    }
    // Notepad begins a file saved as UTF-8 with a byte-order mark.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    ServerSettings parsed;
    std::set<std::string> seen;
    int number = 0;
    while (!text.empty()) {
        ++number;
        // Lines end in LF, CR LF, or CR alone as old editors of the Mac wrote them.
        const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
        const std::string_view line = platform::ascii::Trim(text.substr(0, end));
        const bool crLf = text.substr(end, 2) == "\r\n";
        text.remove_prefix(std::min(end + (crLf ? 2 : 1), text.size()));
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t equals = line.find('=');
        const std::string key = equals == std::string_view::npos
                                    ? std::string()
                                    : std::string(platform::ascii::Trim(line.substr(0, equals)));
        std::string wrong;
        if (const std::optional<unsigned char> control = ControlByte(line)) {
            wrong = "the control byte " + ByteText(*control) + " stands in the line";
        } else if (equals == std::string_view::npos || key.empty()) {
            wrong = "expected \"key = value\", found \"" + std::string(line) + "\"";
        } else if (!seen.insert(key).second) {
            wrong = key + " is set twice";
        } else {
            wrong = Apply(parsed, key, platform::ascii::Trim(line.substr(equals + 1)));
        }
        if (!wrong.empty()) {
            problem = "line " + std::to_string(number) + ": " + wrong;
            return false;
        }
    }
    settings = std::move(parsed);
    return true;
}

bool LoadServerSettings(std::u16string_view path, ServerSettings& settings, std::string& problem) {
    const std::string name = platform::codepage::Utf16ToUtf8(path);
    const auto opened = platform::ReadOnlyFile::Open(path);
    if (!opened) {
        // Only a name where nothing stands means no settings: anything else there is the
        // administrator's, and taking it as absent would open up what it may have narrowed.
        const platform::FileKind kind = platform::KindOfPath(path);
        if (kind == platform::FileKind::Nothing) {
            settings = ServerSettings();
            return true;
        }
        const std::string notAFile = NotAFile(kind);
        problem = name + (notAFile.empty() ? ": cannot be read: " + ReadFailure(opened.Error())
                                           : ": cannot be read: it " + notAFile);
        return false;
    }
    platform::ReadOnlyFile* const file = opened->get();
    if (const std::string notAFile = NotAFile(file->Kind()); !notAFile.empty()) {
        problem = name + ": cannot be read: it " + notAFile;
        return false;
    }
    const platform::Result<std::uint64_t> sized = file->Size();
    if (!sized) {
        problem = name + ": cannot be read: " + ReadFailure(sized.Error());
        return false;
    }
    const std::uint64_t size = *sized;
    if (size > kLongestFile) {
        problem = name + ": larger than " + std::to_string(kLongestFile) + " bytes";
        return false;
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const platform::Result<std::uint32_t> read =
            file->Read(text.data() + filled, static_cast<std::uint32_t>(text.size() - filled));
        if (!read) {
            problem = name + ": cannot be read: " + ReadFailure(read.Error());
            return false;
        }
        if (*read == 0) {
            break;
        }
        filled += *read;
    }
    text.resize(filled);
    std::string where;
    if (!ParseServerSettings(text, settings, where)) {
        problem = name + ", " + where;
        return false;
    }
    return true;
}
