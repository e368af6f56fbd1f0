#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/script/script_text.h"

// What the simulated USB box does: the devices on the bus and the box's side of a dialogue.
// default.scenario beside this file documents the format; it is also the scenario played when
// none is given.
namespace usbbox {

struct Device {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    bool openFails = false;
    bool configFails = false;
    bool claimFails = false;
    bool closeFails = false;
};

// A command the box answers whenever the host writes it, at any point of the dialogue.
struct Rule {
    sim::Pattern command;
    sim::Bytes reply;
};

struct Step {
    enum class Kind { Deliver, Idle, Wait, Expect, ReadError, WriteError, Unplug };
    Kind kind = Kind::Deliver;
    sim::Bytes packet;                    // Deliver
    std::optional<sim::Pattern> pattern;  // Expect
    long long number = 0;                 // Idle: reads; Wait: milliseconds; errors: the code
};

// What the box plays from one usb_open to its usb_close.
struct Dialogue {
    std::string name;         // as the scenario names it; empty when it gives none
    std::vector<Rule> rules;  // answered in this dialogue only
    std::vector<Step> steps;
};

struct Scenario {
    std::vector<std::vector<Device>> busses;  // in bus order, each in device order
    std::vector<Rule> rules;                  // answered in every dialogue
    // Played by successive opens in turn, from the first again after the last. A scenario
    // without 'dialogue' lines has one, unnamed, of all its steps.
    std::vector<Dialogue> dialogues;

    // The scenario in text; on a fault, nothing, and "line N: reason" in error.
    static std::optional<Scenario> Parse(std::string_view text, std::string& error);
};

// The text of the scenario played when none is given: one box that plays the default card
// dialogue of the decoding-server stand-in.
std::string_view DefaultScenarioText();

}  // namespace usbbox
