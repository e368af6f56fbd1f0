#include "sim/script/script_text.h"

#include <charconv>

#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/read_only_file.h"
#include "platform/system_error.h"

namespace sim {
namespace {

// What a line may have at its ends besides its text: blanks, and the CR of a CR LF line end.
constexpr std::string_view kLineBlanks = " \t\r";

// Elements of a packet text; -1 stands for "??" where wildcards are allowed.
std::optional<std::vector<int>> ParseElements(std::string_view text, bool wildcards,
                                              std::string& error) {
    std::vector<int> elements;
    for (std::string_view word : SplitWords(text)) {
        std::string_view byteText = word;
        long long repeat = 1;
        if (const auto star = word.find('*'); star != std::string_view::npos) {
            byteText = word.substr(0, star);
            const auto count = ParseNumber(word.substr(star + 1));
            if (!count || *count < 1) {
                error = "bad repeat count in '" + std::string(word) + "'";
                return std::nullopt;
            }
            repeat = *count;
        }
        int value = -1;
        if (byteText == "??" && wildcards) {
            value = -1;
        } else if (byteText.size() == 2 && platform::ascii::HexDigitValue(byteText[0]) >= 0 &&
                   platform::ascii::HexDigitValue(byteText[1]) >= 0) {
            value = platform::ascii::HexDigitValue(byteText[0]) * 16 +
                    platform::ascii::HexDigitValue(byteText[1]);
        } else {
            error = "'" + std::string(word) + "' is not a " +
                    (wildcards ? "hex byte or ??" : "hex byte");
            return std::nullopt;
        }
        if (static_cast<unsigned long long>(repeat) > kMaxPacketSize - elements.size()) {
            error = "longer than " + std::to_string(kMaxPacketSize) + " bytes";
            return std::nullopt;
        }
        elements.insert(elements.end(), static_cast<std::size_t>(repeat), value);
    }
    if (elements.empty()) {
        error = "no bytes";
        return std::nullopt;
    }
    return elements;
}

}  // namespace

std::vector<std::string_view> SplitWords(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (true) {
        at = text.find_first_not_of(" \t\r", at);
        if (at == std::string_view::npos) {
            return words;
        }
        const auto end = text.find_first_of(" \t\r", at);
        words.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
        at = end;
    }
}

std::vector<ScriptLine> SplitScript(std::string_view text) {
    std::vector<ScriptLine> lines;
    int number = 0;
    for (std::size_t start = 0; start <= text.size();) {
        ++number;
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        line = platform::ascii::Trim(line.substr(0, line.find('#')), kLineBlanks);
        start = end + 1;
        if (line.empty()) {
            continue;
        }
        const auto split = line.find_first_of(" \t");
        ScriptLine entry;
        entry.number = number;
        entry.keyword = std::string(line.substr(0, split));
        if (split != std::string_view::npos) {
            entry.argument = std::string(platform::ascii::Trim(line.substr(split), kLineBlanks));
        }
        lines.push_back(std::move(entry));
    }
    return lines;
}

bool Pattern::Matches(const unsigned char* bytes, std::size_t count) const {
    if (count != elements_.size()) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (elements_[i] >= 0 && elements_[i] != bytes[i]) {
            return false;
        }
    }
    return true;
}

std::optional<Bytes> ParsePacket(std::string_view text, std::string& error) {
    const auto elements = ParseElements(text, false, error);
    if (!elements) {
        return std::nullopt;
    }
    return Bytes(elements->begin(), elements->end());
}

std::optional<Pattern> ParsePattern(std::string_view text, std::string& error) {
    auto elements = ParseElements(text, true, error);
    if (!elements) {
        return std::nullopt;
    }
    return Pattern(std::move(*elements));
}

std::optional<long long> ParseNumber(std::string_view text) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [at, status] = std::from_chars(text.data(), end, value);
    if (text.empty() || status != std::errc() || at != end) {
        return std::nullopt;
    }
    return value;
}

std::string DialogueLabel(std::size_t index, std::size_t count, const std::string& name) {
    std::string label = "dialogue " + std::to_string(index + 1) + " of " + std::to_string(count);
    return name.empty() ? label : label + " \"" + name + "\"";
}

std::optional<std::string> ReadTextFile(const std::string& path) {
    platform::Result<std::string> text =
        platform::ReadWholeFile(platform::codepage::Utf8ToUtf16(path));
    if (!text) {
        return std::nullopt;
    }
    return std::move(*text);
}

}  // namespace sim
