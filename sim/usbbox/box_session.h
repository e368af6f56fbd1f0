#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <vector>

#include "sim/usbbox/scenario.h"

namespace usbbox {

// libusb 0.1's codes for what the box can answer besides a byte count.
constexpr int kTimedOut = -110;  // -ETIMEDOUT: nothing arrived within the read's time-out
constexpr int kNoDevice = -19;   // -ENODEV: the box has been unplugged
constexpr int kOverflow = -75;   // -EOVERFLOW: the packet is longer than the read asked for

// A transfer that took place between host and box: a packet the host read, or one it wrote that
// the box took.
struct Transfer {
    bool fromHost = false;
    sim::Bytes bytes;
};

// The box's side of one session, from usb_open to usb_close: plays the scenario's dialogue from
// its first step and answers the rules' commands.
class BoxSession {
  public:
    BoxSession(std::vector<Rule> rules, std::vector<Step> dialogue);

    // One read transfer into buffer (size bytes at most): a byte count or a negative code. Waits
    // up to timeout when the box has nothing to deliver.
    int Read(unsigned char* buffer, int size, std::chrono::milliseconds timeout);

    // One write transfer from the host: size, or the error code the dialogue asks for.
    int Write(const unsigned char* bytes, int size);

    bool Unplugged() const { return unplugged_; }
    bool DialogueDone() const { return next_ == dialogue_.size(); }
    const std::vector<Transfer>& Transfers() const { return transfers_; }

  private:
    int Deliver(const sim::Bytes& packet, unsigned char* buffer, int size);
    void Advance();
    void Settle();

    std::vector<Rule> rules_;
    std::vector<Step> dialogue_;
    std::size_t next_ = 0;  // the step the box is at
    long long idleReadsLeft_ = 0;
    std::chrono::steady_clock::time_point waitEnd_;
    std::deque<sim::Bytes> replies_;  // answers to commands, delivered before the dialogue goes on
    bool unplugged_ = false;
    std::vector<Transfer> transfers_;
};

}  // namespace usbbox
