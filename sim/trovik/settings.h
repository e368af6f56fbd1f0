#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the simulated reader and its card do, as read from the settings file.
namespace trovik_sim {

struct Settings {
    std::vector<int> ports;  // ports on which the reader answers; none: it answers nowhere
    bool closeOk = true;
    bool samOk = true;
    std::u16string samId;
    bool cardPresent = true;
    bool findOk = true;
    bool selectOk = true;
    bool photo = true;  // the photo getters deliver the generated picture
    // Text getters fill their whole buffer with no terminator; the base64 getter too.
    bool fillWholeBuffers = false;
    // The read of the card takes this long, so that a caller can act while a read is in progress.
    int readDelayMs = 0;
    std::int32_t sexCode = 0;
    std::optional<std::uint32_t> issuesNum;  // none: the getter leaves the number untouched
    // Card texts by their setting name ("card.name", ...).
    std::vector<std::pair<std::string, std::u16string>> texts;

    const std::u16string& Text(const std::string& key) const;
};

// The settings in force now: the file named by TROVIK_SIM_CONFIG, else trovik-sim.conf beside
// this library, else the built-in defaults. Read again whenever the file has changed (its size,
// times or identity differ), so an edited file takes effect without restarting the program that
// loaded the library, and an unchanged one costs no parsing; problems in the file are reported on
// standard error once per change of its content. Shared, not copied: the SDK's calls ask for
// them at every call, a card read two dozen times.
std::shared_ptr<const Settings> CurrentSettings();

}  // namespace trovik_sim
