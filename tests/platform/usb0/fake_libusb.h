#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A scripted libusb-1.0 for the tests of libusb 0.1's calls: the devices it sees, the results of
// its calls, and the transfers it was given. Devices live as long as libusb's reference counting
// says, so that a reference the layer under test forgets or drops too early shows.
namespace FakeLibusb {

struct Device {
    std::uint8_t bus;
    std::uint8_t address;
    std::uint16_t vendor;
    std::uint16_t product;
};

struct Transfer {
    unsigned char endpoint;
    int length;
    unsigned int timeout;
    std::string written;  // the bytes of a write
};

// The calls whose result a test sets; each gives 0 until set otherwise.
enum class Call { Open, SetConfiguration, ClaimInterface, ReleaseInterface, ClearHalt, Reset };

// Detaches every device and gives every call success again.
void Reset();
void Attach(const Device& device);
void Detach(std::uint8_t bus, std::uint8_t address);

void SetResult(Call call, int libusbResult);
// What each transfer moves (at most its length): for a read, the first bytes of readBytes.
void SetTransfer(int libusbResult, int moved, const std::string& readBytes = {});

const std::vector<Transfer>& Transfers();
int OpenHandles();
// Devices still allocated: those attached and those someone still holds a reference to.
int LiveDevices();

}  // namespace FakeLibusb
