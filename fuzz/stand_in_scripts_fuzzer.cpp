// The stand-ins' scripts, as a person edits them: the decoding server's dialogue and the USB
// box's scenario (the first byte says which). Any bytes are either refused with the line and the
// reason, or read as a script whose packets and patterns stay within the scripts' bound.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "sim/decoder/decoder_script.h"
#include "sim/usbbox/scenario.h"

namespace {

bool NamesTheLine(const std::string& error) {
    return error.rfind("line ", 0) == 0 && error.find(": ") != std::string::npos;
}

void CheckDialogue(std::string_view text) {
    std::string error;
    const std::optional<decoder::DecoderScript> script = decoder::DecoderScript::Parse(text, error);
    if (!script) {
        FuzzCheck(NamesTheLine(error), "a refused dialogue names the line and what is wrong");
        return;
    }
    for (const decoder::Step& step : script->steps) {
        FuzzCheck(step.packet.size() <= sim::kMaxPacketSize &&
                      (!step.pattern || step.pattern->size() <= sim::kMaxPacketSize),
                  "no packet or pattern is longer than the bound");
    }
    for (std::size_t i = 0; i < script->dialogues.size(); ++i) {
        const decoder::Dialogue dialogue = script->DialogueOf(i);
        FuzzCheck(dialogue.begin <= dialogue.end && dialogue.end <= script->steps.size(),
                  "a dialogue's steps are steps of the script");
        script->LabelOf(i);
    }
}

void CheckScenario(std::string_view text) {
    std::string error;
    const std::optional<usbbox::Scenario> scenario = usbbox::Scenario::Parse(text, error);
    if (!scenario) {
        FuzzCheck(NamesTheLine(error), "a refused scenario names the line and what is wrong");
        return;
    }
    FuzzCheck(!scenario->dialogues.empty(), "a scenario plays at least one dialogue");
    for (const usbbox::Dialogue& dialogue : scenario->dialogues) {
        for (const usbbox::Step& step : dialogue.steps) {
            FuzzCheck(step.packet.size() <= sim::kMaxPacketSize,
                      "no packet is longer than the bound");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0) {
        CheckDialogue(text);
    } else {
        CheckScenario(text);
    }
    return 0;
}
