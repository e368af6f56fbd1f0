#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

// A property a fuzz target holds its code to. A broken one ends the run as a crash, so that
// libFuzzer keeps the input that broke it.
inline void FuzzCheck(bool holds, std::string_view what) {
    if (!holds) {
        std::fprintf(stderr, "Property broken: %.*s\n", static_cast<int>(what.size()), what.data());
        std::abort();
    }
}
