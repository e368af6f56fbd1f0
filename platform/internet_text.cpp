#include "platform/internet_text.h"

#include <algorithm>
#include <cstring>

#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/percent_encoding.h"

namespace platform::internet {
namespace {

bool IsHexOrColon(char16_t c) {
    return ascii::HexDigitValue(c) >= 0 || c == u':' || c == u'.';
}

}  // namespace

std::string UrlHost(std::u16string_view host) {
    std::u16string_view address = host;
    if (!host.empty() && host.front() == u'[') {
        if (host.size() < 3 || host.back() != u']') {
            return {};
        }
        address = host.substr(1, host.size() - 2);
    }
    if (address.find(u':') != std::u16string_view::npos) {
        if (!std::all_of(address.begin(), address.end(), IsHexOrColon)) {
            return {};
        }
        return "[" + codepage::Utf16ToUtf8(address) + "]";
    }
    const bool valid = !host.empty() && std::all_of(host.begin(), host.end(), [](char16_t c) {
        return ascii::IsAlphanumeric(c) || c == u'-' || c == u'.' || c == u'_' || c >= 0x80;
    });
    return valid ? codepage::Utf16ToUtf8(host) : std::string();
}

std::string RequestTarget(std::string_view objectName) {
    objectName = objectName.substr(0, objectName.find('#'));
    std::string target;
    if (objectName.empty() || objectName.front() != '/') {
        target.push_back('/');
    }
    for (const char c : objectName) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr) {
            AppendPercentEncoded(target, byte);
        } else {
            target.push_back(c);
        }
    }
    return target;
}

bool IsOneHeaderLine(std::string_view line) {
    const size_t colon = line.find(':');
    const std::string_view name = colon == std::string_view::npos ? "" : line.substr(0, colon);
    const bool nameValid = !name.empty() && name.find_first_of(" \t") == std::string_view::npos;
    return nameValid && line.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string AcceptHeaderLine(const std::vector<std::string>& acceptTypes) {
    std::string accept = "Accept:";
    for (size_t i = 0; i < acceptTypes.size(); ++i) {
        accept += (i == 0 ? " " : ", ") + acceptTypes[i];
    }
    return accept;
}

}  // namespace platform::internet
