#include "sim/usbbox/scenario.h"

#include <charconv>

namespace usbbox {
namespace {

std::optional<std::uint16_t> ParseId(std::string_view text) {
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [at, status] = std::from_chars(text.data(), end, value, 16);
    if (text.empty() || text.size() > 4 || status != std::errc() || at != end) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

bool ParseDevice(std::string_view argument, Device& device, std::string& error) {
    const std::vector<std::string_view> words = sim::SplitWords(argument);
    const auto colon = words.empty() ? std::string_view::npos : words[0].find(':');
    const auto vendor =
        colon == std::string::npos ? std::nullopt : ParseId(words[0].substr(0, colon));
    const auto product =
        colon == std::string::npos ? std::nullopt : ParseId(words[0].substr(colon + 1));
    if (!vendor || !product) {
        error = "a device needs <vendor>:<product> in hex, e.g. 0400:C355";
        return false;
    }
    device.vendor = *vendor;
    device.product = *product;
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "open-fails") {
            device.openFails = true;
        } else if (words[i] == "config-fails") {
            device.configFails = true;
        } else if (words[i] == "claim-fails") {
            device.claimFails = true;
        } else if (words[i] == "close-fails") {
            device.closeFails = true;
        } else {
            error = "unknown device flag '" + std::string(words[i]) + "'";
            return false;
        }
    }
    return true;
}

bool ParseCount(const std::string& argument, long long minimum, long long& value,
                std::string& error) {
    const auto number = sim::ParseNumber(argument);
    if (!number || *number < minimum) {
        error = "'" + argument + "' is not a whole number of at least " + std::to_string(minimum);
        return false;
    }
    value = *number;
    return true;
}

bool ParseErrorCode(const std::string& argument, long long& value, std::string& error) {
    const auto number = sim::ParseNumber(argument);
    if (!number || *number >= 0 || *number < -1000) {
        error = "'" + argument + "' is not a negative error code";
        return false;
    }
    value = *number;
    return true;
}

// A transfer of the box: a packet, or "empty" for a transfer of no bytes.
std::optional<sim::Bytes> ParseTransfer(std::string_view text, std::string& error) {
    if (text == "empty") {
        return sim::Bytes{};
    }
    return sim::ParsePacket(text, error);
}

bool ParseRule(const std::string& argument, std::vector<Rule>& rules, std::string& error) {
    const auto split = argument.find(" reply ");
    if (split == std::string::npos) {
        error = "a rule reads: on <pattern> reply <packet>";
        return false;
    }
    auto command = sim::ParsePattern(argument.substr(0, split), error);
    auto reply = command ? ParseTransfer(argument.substr(split + 7), error) : std::nullopt;
    if (!reply) {
        return false;
    }
    rules.push_back(Rule{std::move(*command), std::move(*reply)});
    return true;
}

bool ParseStep(const sim::ScriptLine& line, std::vector<Step>& steps, std::string& error) {
    Step step;
    const std::string& keyword = line.keyword;
    if (keyword == "deliver") {
        auto packet = ParseTransfer(line.argument, error);
        if (!packet) {
            return false;
        }
        step.packet = std::move(*packet);
    } else if (keyword == "expect") {
        step.kind = Step::Kind::Expect;
        step.pattern = sim::ParsePattern(line.argument, error);
        if (!step.pattern) {
            return false;
        }
    } else if (keyword == "idle") {
        step.kind = Step::Kind::Idle;
        if (!ParseCount(line.argument, 1, step.number, error)) {
            return false;
        }
    } else if (keyword == "wait") {
        step.kind = Step::Kind::Wait;
        if (!ParseCount(line.argument, 0, step.number, error)) {
            return false;
        }
    } else if (keyword == "read-error" || keyword == "write-error") {
        step.kind = keyword == "read-error" ? Step::Kind::ReadError : Step::Kind::WriteError;
        if (!ParseErrorCode(line.argument, step.number, error)) {
            return false;
        }
    } else if (keyword == "unplug" && line.argument.empty()) {
        step.kind = Step::Kind::Unplug;
    } else {
        error = "unknown step '" + keyword + "'";
        return false;
    }
    steps.push_back(std::move(step));
    return true;
}

}  // namespace

std::optional<Scenario> Scenario::Parse(std::string_view text, std::string& error) {
    Scenario scenario;
    scenario.dialogues.emplace_back();  // the one of a scenario without 'dialogue' lines
    bool dialogueLines = false;
    int firstStepLine = 0;  // of a step outside any 'dialogue' line
    for (const sim::ScriptLine& line : sim::SplitScript(text)) {
        bool ok = true;
        if ((line.keyword == "bus" || line.keyword == "device") && dialogueLines) {
            ok = false;
            error = "bus and device lines come before the first 'dialogue' line";
        } else if (line.keyword == "bus" && line.argument.empty()) {
            scenario.busses.emplace_back();
        } else if (line.keyword == "device") {
            Device device;
            ok = ParseDevice(line.argument, device, error);
            if (ok && scenario.busses.empty()) {
                ok = false;
                error = "a device must follow a 'bus' line";
            }
            if (ok) {
                scenario.busses.back().push_back(device);
            }
        } else if (line.keyword == "dialogue") {
            if (firstStepLine != 0) {
                error = "line " + std::to_string(firstStepLine) +
                        ": a step before the first 'dialogue' line";
                return std::nullopt;
            }
            if (!dialogueLines) {
                scenario.dialogues.clear();
                dialogueLines = true;
            }
            scenario.dialogues.push_back(Dialogue{line.argument, {}, {}});
        } else if (line.keyword == "on") {
            ok = ParseRule(line.argument,
                           dialogueLines ? scenario.dialogues.back().rules : scenario.rules, error);
        } else {
            ok = ParseStep(line, scenario.dialogues.back().steps, error);
            if (!dialogueLines && firstStepLine == 0) {
                firstStepLine = line.number;
            }
        }
        if (!ok) {
            error = "line " + std::to_string(line.number) + ": " + error;
            return std::nullopt;
        }
    }
    return scenario;
}

}  // namespace usbbox
