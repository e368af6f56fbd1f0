#pragma once

#include <string>

namespace trovik_sim {

// Appends one line to the file named by TROVIK_SIM_LOG, when that is set, and flushes it.
void LogCall(const std::string& line);

}  // namespace trovik_sim
