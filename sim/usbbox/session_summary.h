#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "sim/usbbox/box_session.h"

namespace usbbox {

// What a person watching the box wants to know of one session (usb_open to usb_close), in one
// line: which dialogue it played, how many packets went each way and how the session ended, read
// from the packets of the relay's card dialogue and the box's check and restart commands:
//   usbbox: session 3, dialogue 3 of 5 "the box falls silent" (10.0 s): sent 1 packet, got 1;
//   no first packet: check command answered
// dialogue is the label of the dialogue ("dialogue 3 of 5 \"name\""), empty for a scenario of one
// unnamed dialogue.
std::string SessionSummary(std::size_t session, const std::string& dialogue,
                           std::chrono::steady_clock::duration duration, const BoxSession& box);

}  // namespace usbbox
