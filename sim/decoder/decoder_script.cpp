#include "sim/decoder/decoder_script.h"

#include <stdexcept>

namespace decoder {

std::string_view DefaultDialogueText();

std::optional<DecoderScript> DecoderScript::Parse(std::string_view text, std::string& error) {
    DecoderScript script;
    int firstStepLine = 0;  // of a step outside any 'dialogue' line
    int holdLine = 0;       // of the first 'refuse' or 'drop' line
    for (const sim::ScriptLine& line : sim::SplitScript(text)) {
        Step step;
        std::string reason;
        if (line.keyword == "dialogue") {
            if (firstStepLine != 0) {
                error = "line " + std::to_string(firstStepLine) +
                        ": a step before the first 'dialogue' line";
                return std::nullopt;
            }
            script.dialogues.push_back(
                Dialogue{line.argument, script.steps.size(), script.steps.size()});
            continue;
        }
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
        } else if ((line.keyword == "refuse" || line.keyword == "drop") && line.argument.empty()) {
            (line.keyword == "refuse" ? script.refuse : script.drop) = true;
            holdLine = holdLine == 0 ? line.number : holdLine;
            continue;
        } else {
            reason = "unknown step '" + line.keyword + "'";
        }
        if (!reason.empty()) {
            error = "line " + std::to_string(line.number) + ": " + reason;
            return std::nullopt;
        }
        script.steps.push_back(std::move(step));
        if (!script.dialogues.empty()) {
            script.dialogues.back().end = script.steps.size();
        } else if (firstStepLine == 0) {
            firstStepLine = line.number;
        }
    }
    if ((script.refuse || script.drop) &&
        (!script.steps.empty() || !script.dialogues.empty() || (script.refuse && script.drop))) {
        error = "line " + std::to_string(holdLine) +
                ": a script that refuses or drops has no other steps";
        return std::nullopt;
    }
    return script;
}

Dialogue DecoderScript::DialogueOf(std::size_t connection) const {
    if (dialogues.empty()) {
        return Dialogue{"", 0, steps.size()};
    }
    return dialogues[connection % dialogues.size()];
}

std::string DecoderScript::LabelOf(std::size_t connection) const {
    if (dialogues.empty()) {
        return {};
    }
    const std::size_t index = connection % dialogues.size();
    return sim::DialogueLabel(index, dialogues.size(), dialogues[index].name);
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
