#include "relay/engine/config_document.h"

#include <json/reader.h>
#include <json/value.h>

#include <exception>

namespace {

constexpr int kServerEntryType = 4;
constexpr int kInUse = 1;
// A port outside TCP's range names no server: cut to 16 bits it would name another one.
constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65535;

// The entry's server when the element is a complete, readable entry of type 4 in use.
std::optional<ServerEntry> UsableEntry(const Json::Value& element) {
    if (!element.isObject()) {
        return std::nullopt;
    }
    for (const char* member : {"serverUrl", "isUsing", "serverPort", "type", "status"}) {
        if (!element.isMember(member)) {
            return std::nullopt;
        }
    }
    try {
        ServerEntry entry{element["serverUrl"].asString(), element["serverPort"].asInt()};
        const int isUsing = element["isUsing"].asInt();
        const int type = element["type"].asInt();
        element["status"].asInt();  // must be readable; its value is not used
        const bool portInRange = entry.port >= kLowestPort && entry.port <= kHighestPort;
        if (type == kServerEntryType && isUsing == kInUse && portInRange) {
            return entry;
        }
    } catch (const Json::Exception&) {
        // A member that cannot be read as its kind: the element is skipped.
    }
    return std::nullopt;
}

}  // namespace

std::optional<ServerEntry> ChooseServer(std::string_view document) {
    document = document.substr(0, document.find('\0'));
    Json::Value root;
    try {
        Json::Reader reader;
        if (!reader.parse(document.data(), document.data() + document.size(), root)) {
            return std::nullopt;
        }
    } catch (const std::exception&) {
        return std::nullopt;  // nested beyond the reader's depth limit
    }
    if (!root.isObject()) {
        return std::nullopt;
    }
    const Json::Value& entries = static_cast<const Json::Value&>(root)["data"];
    if (!entries.isArray()) {
        return std::nullopt;
    }
    for (const Json::Value& element : entries) {
        if (std::optional<ServerEntry> entry = UsableEntry(element)) {
            return entry;
        }
    }
    return std::nullopt;
}

bool ConfigBody::Append(const unsigned char* block, std::size_t size) {
    if (tooLong_) {
        return false;
    }
    if (size > kMaxConfigBody - text_.size()) {
        tooLong_ = true;
        text_.clear();
        text_.shrink_to_fit();
        return false;
    }
    text_.append(reinterpret_cast<const char*>(block), size);
    return true;
}

std::optional<ServerEntry> ConfigBody::Server() const {
    if (tooLong_) {
        return std::nullopt;
    }
    return ChooseServer(text_);
}
