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

struct DecoderScript {
    bool refuse = false;  // hold the port but refuse every connection
    bool drop = false;    // hold the port but answer no connection attempt (a full queue)
    std::vector<Step> steps;

    // The script in text; on a fault, nothing, and "line N: reason" in error.
    static std::optional<DecoderScript> Parse(std::string_view text, std::string& error);
    // The default card dialogue, which the box stand-in's default scenario plays with.
    static DecoderScript Default();
};

}  // namespace decoder
