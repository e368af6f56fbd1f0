#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/script/script_text.h"

// The server side of a card dialogue, as the decoding-server stand-in plays it on each
// connection. default.dialogue beside this file documents the format; it is also the dialogue
// played when none is given.
namespace decoder {

struct Step {
    enum class Kind { Expect, Send, Delay, Close };
    Kind kind = Kind::Send;
    std::optional<sim::Pattern> pattern;  // Expect
    sim::Bytes packet;                    // Send
    long long milliseconds = 0;           // Delay
};

// The steps one connection plays: steps[begin, end) of its script.
struct Dialogue {
    std::string name;  // as the script names it; empty when it gives none
    std::size_t begin = 0;
    std::size_t end = 0;
};

struct DecoderScript {
    bool refuse = false;      // hold the port but refuse every connection
    bool drop = false;        // hold the port but answer no connection attempt (a full queue)
    std::vector<Step> steps;  // of every dialogue, in script order
    // Played by successive connections in turn, from the first again after the last. A script
    // without 'dialogue' lines has none here: every connection plays all its steps.
    std::vector<Dialogue> dialogues;

    // The dialogue of the connection with this index (0 for the first), and how a line for a
    // person names it (nothing for a script without 'dialogue' lines).
    Dialogue DialogueOf(std::size_t connection) const;
    std::string LabelOf(std::size_t connection) const;

    // The script in text; on a fault, nothing, and "line N: reason" in error.
    static std::optional<DecoderScript> Parse(std::string_view text, std::string& error);
    // The default card dialogue, which the box stand-in's default scenario plays with.
    static DecoderScript Default();
};

}  // namespace decoder
