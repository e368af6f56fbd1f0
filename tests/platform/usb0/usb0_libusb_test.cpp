// libusb 0.1's calls over the real libusb-1.0 (under Wine, over the Windows build of it): it
// starts, a scan lists what it sees in good order, and a second scan finds nothing changed. No box
// is attached to the machines that run the tests; in a container or under Wine no device at all.
#include <gtest/gtest.h>

#include "platform/win32/usb0/usb.h"

namespace {

TEST(Usb0OverLibusb, ScanOfThisMachineHoldsTogetherAndFindsNoBox) {
    usb_init();
    ASSERT_GE(usb_find_busses(), 0) << usb_strerror();
    ASSERT_GE(usb_find_devices(), 0) << usb_strerror();
    EXPECT_EQ(usb_find_busses(), 0);
    EXPECT_EQ(usb_find_devices(), 0);

    const usb_bus* previousBus = nullptr;
    for (usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
        EXPECT_EQ(bus->prev, previousBus);
        const usb_device* previousDevice = nullptr;
        for (usb_device* device = bus->devices; device != nullptr; device = device->next) {
            EXPECT_EQ(device->bus, bus);
            EXPECT_EQ(device->prev, previousDevice);
            EXPECT_FALSE(device->descriptor.idVendor == 0x0400 &&
                         device->descriptor.idProduct == 0xC355);
            previousDevice = device;
        }
        previousBus = bus;
    }
}

}  // namespace
