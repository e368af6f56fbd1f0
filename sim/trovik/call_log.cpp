#include "sim/trovik/call_log.h"

#include <filesystem>
#include <fstream>

#include "platform/environment.h"

namespace trovik_sim {

void LogCall(const std::string& line) {
    const auto path = platform::EnvironmentValue(u"TROVIK_SIM_LOG");
    if (!path || path->empty()) {
        return;
    }
    // Opened per line so every line is on disk before the call returns.
    std::ofstream(std::filesystem::path(*path), std::ios::app | std::ios::binary) << line << '\n';
}

}  // namespace trovik_sim
