#pragma once

#include <chrono>

#include "relay/common/packet_buffer.h"

// Result codes of the box. Any other negative result is the USB library's own error code, passed
// through unchanged (a read time-out, say).
namespace UsbResult {
constexpr int Connected = 0;
constexpr int NoBox = -1;             // no box attached, it cannot be opened, or none is open
constexpr int IoError = -5;           // the library's I/O error; a read resets its endpoint
constexpr int InvalidArgument = -22;  // a write with a negative length or without bytes
}  // namespace UsbResult

// The USB box as the relay cycle uses it. The relay library's is the box transport (relay/usb);
// tests, fuzzers and benchmarks give the cycle one of their own. Used from one thread. Order of
// use: ConnectUsb, then any WriteUsb, ReadUsb, PauseUsb and ResetUsb, then DisConnectUsb.
class Box {
  public:
    virtual ~Box() = default;

    // Opens the box: UsbResult::Connected, or NoBox. A box still open is closed first.
    virtual int ConnectUsb() = 0;

    // One transfer of up to 2048 bytes from the box, waiting at most `wait`. Greater than 0: that
    // many bytes were copied to the start of destination; otherwise destination is left as it
    // was.
    virtual int ReadUsb(PacketBuffer& destination, std::chrono::milliseconds wait) = 0;

    // Sends length bytes to the box in one transfer. The bytes written, or a negative code.
    virtual int WriteUsb(const unsigned char* data, int length) = 0;

    // Gives the box a moment between two transfers.
    virtual void PauseUsb(std::chrono::milliseconds pause) = 0;

    // Restarts the box's USB link; the box stays open.
    virtual void ResetUsb() = 0;

    // Closes the box; afterwards no box is open. Harmless when none is.
    virtual void DisConnectUsb() = 0;
};
