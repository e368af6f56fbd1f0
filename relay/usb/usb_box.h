#pragma once

#include "relay/engine/packet_buffer.h"

// Result codes of the box transport. Any other negative result is the USB library's own error
// code, passed through unchanged (a read time-out, say).
namespace UsbResult {
constexpr int Connected = 0;
constexpr int NoBox = -1;             // no box attached, it cannot be opened, or none is open
constexpr int IoError = -5;           // the library's I/O error; a read resets its endpoint
constexpr int InvalidArgument = -22;  // a write with a negative length or without bytes
}  // namespace UsbResult

// The USB box: vendor 0x0400, product 0xC355, configuration 1, interface 0, interrupt endpoints
// 0x83 (in) and 0x03 (out). One box handle per process; these functions use it from one thread.
// Order of use: ConnectUsb, then any WriteUsb, ReadUsb and ResetUsb, then DisConnectUsb.

// Opens the first box in bus order, then device order. A box still open is closed first.
int ConnectUsb();

// One interrupt transfer of up to 2048 bytes from the box, waiting at most timeoutMs. Greater
// than 0: that many bytes were copied to the start of destination; otherwise destination is left
// as it was.
int ReadUsb(PacketBuffer& destination, int timeoutMs);

// Sends length bytes to the box in one interrupt transfer. The bytes written, or a negative code.
int WriteUsb(const unsigned char* data, int length);

// Gives the box a moment between two transfers: after a leftover packet was dropped, and before
// it is asked whether it still answers.
void PauseUsb(int milliseconds);

// Restarts the box's USB link (both endpoints, then the device); the box stays open.
void ResetUsb();

// Closes the box; afterwards no box is open, whatever the library said.
void DisConnectUsb();
