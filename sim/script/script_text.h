#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The text both stand-in scripts are written in (the box's scenario and the decoding server's
// dialogue): one step a line, a keyword and its argument, '#' to the end of a line a comment.
//
// Packets are hex bytes separated by blanks; "XX*n" stands for n bytes XX, so that long packets
// stay readable ("AA 05 11 A0 00 5E*1296" is 1301 bytes). Patterns, which match a packet, also
// take "??" for any byte ("?? ?? ?? 01 ??*22" matches every 26-byte packet whose byte 3 is 01).
namespace sim {

using Bytes = std::vector<unsigned char>;

// The longest packet a script may hold; far beyond any transfer of the box or the server.
constexpr std::size_t kMaxPacketSize = 65536;

struct ScriptLine {
    int number = 0;        // 1 for the first line of the text
    std::string keyword;   // the first word
    std::string argument;  // the rest of the line, blanks at both ends removed
};

// The lines of a script that hold a step, comments and blank lines left out.
std::vector<ScriptLine> SplitScript(std::string_view text);

// The blank-separated words of text.
std::vector<std::string_view> SplitWords(std::string_view text);

// A packet pattern: each element is a byte value, or -1 for any byte.
class Pattern {
  public:
    explicit Pattern(std::vector<int> elements) : elements_(std::move(elements)) {}
    std::size_t size() const { return elements_.size(); }
    bool Matches(const unsigned char* bytes, std::size_t count) const;

  private:
    std::vector<int> elements_;
};

// Parse a packet or a pattern; on a fault, nothing, and the reason in error.
std::optional<Bytes> ParsePacket(std::string_view text, std::string& error);
std::optional<Pattern> ParsePattern(std::string_view text, std::string& error);

// Parse a whole decimal number, optionally negative; nothing when text is anything else.
std::optional<long long> ParseNumber(std::string_view text);

// How a line for a person names the dialogue of a script with several: dialogue 2 of 5 "name"
// (index 1 here), without the quoted part when the dialogue has no name.
std::string DialogueLabel(std::size_t index, std::size_t count, const std::string& name);

// The whole file at path; nothing when it cannot be read.
std::optional<std::string> ReadTextFile(const std::string& path);

}  // namespace sim
