#include "sim/usbbox/session_summary.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace usbbox {
namespace {

const sim::Bytes kCheckCommand = {0xAA, 0x00, 0x03, 0x00, 0x00, 0x03};
const sim::Bytes kRestartCommand = {0xAA, 0x00, 0x03, 0xF0, 0x00, 0xF3};

// The box starts a card dialogue with it: 26 bytes, byte 3 = 01.
bool IsFirstPacket(const Transfer& transfer) {
    return !transfer.fromHost && transfer.bytes.size() == 26 && transfer.bytes[3] == 0x01;
}

// The server's final packet of a card read, written to the box: byte 3 = A0, over 1000 bytes.
bool IsCardRead(const Transfer& transfer) {
    return transfer.fromHost && transfer.bytes.size() > 1000 && transfer.bytes[3] == 0xA0;
}

// The index of the last write of command, or transfers.size() when the host wrote none.
std::size_t LastWriteOf(const std::vector<Transfer>& transfers, const sim::Bytes& command) {
    for (std::size_t i = transfers.size(); i-- > 0;) {
        if (transfers[i].fromHost && transfers[i].bytes == command) {
            return i;
        }
    }
    return transfers.size();
}

// Whether the host read something from the box after the write at index, before its next write.
bool Answered(const std::vector<Transfer>& transfers, std::size_t index) {
    return index + 1 < transfers.size() && !transfers[index + 1].fromHost;
}

std::string Packets(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " packet" : " packets");
}

std::string SelfCheck(const std::vector<Transfer>& transfers, std::size_t check,
                      std::size_t restart) {
    const bool firstPacket = std::any_of(transfers.begin(), transfers.end(), IsFirstPacket);
    std::string text = firstPacket ? "self-check" : "no first packet";
    if (check < transfers.size()) {
        text += Answered(transfers, check) ? ": check command answered"
                                           : ": check command not answered";
    }
    if (restart < transfers.size()) {
        text += check < transfers.size() ? ", restart command sent" : ": restart command sent";
        text += Answered(transfers, restart) ? " and answered" : ", no answer";
    }
    return text;
}

std::string Ending(const BoxSession& box) {
    const std::vector<Transfer>& transfers = box.Transfers();
    const auto cardRead = std::find_if(transfers.rbegin(), transfers.rend(), IsCardRead);
    if (cardRead != transfers.rend()) {
        return "card read: final packet of " + std::to_string(cardRead->bytes.size()) +
               " bytes written to the box";
    }
    const std::size_t check = LastWriteOf(transfers, kCheckCommand);
    const std::size_t restart = LastWriteOf(transfers, kRestartCommand);
    if (check < transfers.size() || restart < transfers.size()) {
        return SelfCheck(transfers, check, restart);
    }
    if (box.Unplugged()) {
        return "the box was unplugged";
    }
    if (std::any_of(transfers.begin(), transfers.end(), IsFirstPacket)) {
        return "closed without a final packet";
    }
    return "closed before a card dialogue began";
}

}  // namespace

std::string SessionSummary(std::size_t session, const std::string& dialogue,
                           std::chrono::steady_clock::duration duration, const BoxSession& box) {
    std::size_t sent = 0;
    std::size_t got = 0;
    for (const Transfer& transfer : box.Transfers()) {
        if (!transfer.bytes.empty()) {
            ++(transfer.fromHost ? got : sent);
        }
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s",
                  std::chrono::duration<double>(duration).count());
    return "usbbox: session " + std::to_string(session) +
           (dialogue.empty() ? "" : ", " + dialogue) + " (" + seconds + "): sent " + Packets(sent) +
           ", got " + std::to_string(got) + "; " + Ending(box);
}

}  // namespace usbbox
