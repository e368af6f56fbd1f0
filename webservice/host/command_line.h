#pragma once

#include <string_view>

// What the command line asks of the program.
enum class HostCommand {
    Run,  // no switch: run as a service or as a plain process
    UnregServer,
    RegServer,
    UnregServerPerUser,
    RegServerPerUser,
    Service,
};

// Scans the command line for switches: a word right after any "-" or "/", compared without
// regard to ASCII case, that ends at a blank, a tab or the end of the line. The first of the four
// registration switches decides; "Service" counts only when none of them is there; other words
// are passed over.
HostCommand ParseCommandLine(std::u16string_view commandLine);
