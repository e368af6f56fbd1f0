#include "sim/trovik/call_log.h"

#include <cstdio>
#include <cstdlib>

namespace trovik_sim {

void LogCall(const std::string& line) {
    const char* path = std::getenv("TROVIK_SIM_LOG");
    if (path == nullptr || *path == '\0') {
        return;
    }
    // Opened per line so every line is on disk before the call returns.
    if (std::FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

}  // namespace trovik_sim
