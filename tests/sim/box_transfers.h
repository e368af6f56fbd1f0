#pragma once

#include <string>
#include <vector>

#include "sim/script/script_text.h"

// The interrupt transfers in the box stand-in's call log, in order.
struct BoxTransfer {
    bool write = false;  // a write from the host; otherwise a read
    int timeout = 0;     // milliseconds
    int result = 0;      // bytes moved, or the error code
    sim::Bytes bytes;    // what moved
};

inline std::vector<BoxTransfer> BoxTransfers(const std::vector<std::string>& calls) {
    std::vector<BoxTransfer> transfers;
    for (const std::string& line : calls) {
        const bool write = line.rfind("usb_interrupt_write ", 0) == 0;
        if (!write && line.rfind("usb_interrupt_read ", 0) != 0) {
            continue;
        }
        // "<call> <box> ep=.. size=N timeout=T[ HEX] -> R[ HEX]"
        BoxTransfer transfer;
        transfer.write = write;
        const std::size_t timeoutAt = line.find("timeout=");
        const std::size_t arrow = line.find(" -> ");
        transfer.timeout = std::stoi(line.substr(timeoutAt + 8));
        transfer.result = std::stoi(line.substr(arrow + 4));
        const std::size_t timeoutEnd = line.find(' ', timeoutAt);
        std::string hex;
        if (write && timeoutEnd < arrow) {
            hex = line.substr(timeoutEnd + 1, arrow - timeoutEnd - 1);
        } else if (!write && transfer.result > 0) {
            hex = line.substr(line.find(' ', arrow + 4) + 1);
        }
        std::string error;
        if (!hex.empty()) {
            transfer.bytes = sim::ParsePacket(hex, error).value_or(sim::Bytes{});
        }
        transfers.push_back(transfer);
    }
    return transfers;
}

// The writes among the transfers.
inline std::vector<BoxTransfer> BoxWrites(const std::vector<std::string>& calls) {
    std::vector<BoxTransfer> writes;
    for (const BoxTransfer& transfer : BoxTransfers(calls)) {
        if (transfer.write) {
            writes.push_back(transfer);
        }
    }
    return writes;
}
