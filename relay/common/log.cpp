#include "relay/common/log.h"

#include <cstddef>

#include "platform/hex_text.h"

namespace {

LogSink sink = nullptr;

}  // namespace

void WriteLog(std::string_view tag, std::string_view text) {
    if (sink != nullptr) {
        sink(tag, text);
    }
}

void WriteLog(std::string_view text) {
    WriteLog({}, text);
}

void WriteLogPacket(std::string_view tag, std::string_view prefix, const unsigned char* bytes,
                    int count) {
    if (sink != nullptr) {
        sink(tag, std::string(prefix) + ToHexText(bytes, count));
    }
}

std::string ToHexText(const unsigned char* bytes, int count) {
    if (bytes == nullptr || count <= 0) {
        return {};
    }
    return platform::HexBytes(bytes, static_cast<std::size_t>(count)) + ' ';
}

void SetLogSink(LogSink newSink) {
    sink = newSink;
}
