#include "sim/decoder/decoder_script.h"

#include <stdexcept>

namespace decoder {

std::string_view DefaultDialogueText();

std::optional<DecoderScript> DecoderScript::Parse(std::string_view text, std::string& error) {
    DecoderScript script;
    for (const sim::ScriptLine& line : sim::SplitScript(text)) {
        Step step;
        std::string reason;
        if (line.keyword == "expect") {
            step.kind = Step::Kind::Expect;
            step.pattern = sim::ParsePattern(line.argument, reason);
        } else if (line.keyword == "send") {
            auto packet = sim::ParsePacket(line.argument, reason);
            if (packet) {
                step.packet = std::move(*packet);
            }
        } else if (line.keyword == "delay") {
            step.kind = Step::Kind::Delay;
            const auto number = sim::ParseNumber(line.argument);
            if (number && *number >= 0) {
                step.milliseconds = *number;
            } else {
                reason = "'" + line.argument + "' is not a number of milliseconds";
            }
        } else if (line.keyword == "close" && line.argument.empty()) {
            step.kind = Step::Kind::Close;
        } else if (line.keyword == "refuse" && line.argument.empty()) {
            script.refuse = true;
            continue;
        } else if (line.keyword == "drop" && line.argument.empty()) {
            script.drop = true;
            continue;
        } else {
            reason = "unknown step '" + line.keyword + "'";
        }
        if (!reason.empty()) {
            error = "line " + std::to_string(line.number) + ": " + reason;
            return std::nullopt;
        }
        script.steps.push_back(std::move(step));
    }
    if ((script.refuse || script.drop) &&
        (!script.steps.empty() || (script.refuse && script.drop))) {
        error = "a script that refuses or drops has no other steps";
        return std::nullopt;
    }
    return script;
}

DecoderScript DecoderScript::Default() {
    std::string error;
    auto script = Parse(DefaultDialogueText(), error);
    if (!script) {
        throw std::logic_error("the default dialogue does not parse: " + error);
    }
    return std::move(*script);
}

}  // namespace decoder
