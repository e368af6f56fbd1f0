// libusb 0.1's calls over a scripted libusb-1.0: the bus walk, rescans, transfers, and the
// libusb 0.1 results and error codes the box transport relies on.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/win32/usb0/libusb1.h"
#include "platform/win32/usb0/usb.h"
#include "tests/platform/usb0/fake_libusb.h"

namespace {

using FakeLibusb::Call;

constexpr std::uint16_t kBoxVendor = 0x0400;
constexpr std::uint16_t kBoxProduct = 0xC355;

int Rescan() {
    const int busses = usb_find_busses();
    const int devices = usb_find_devices();
    return busses + devices;
}

std::vector<usb_bus*> Busses() {
    std::vector<usb_bus*> busses;
    for (usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
        busses.push_back(bus);
    }
    return busses;
}

std::vector<usb_device*> Devices(const usb_bus* bus) {
    std::vector<usb_device*> devices;
    for (usb_device* device = bus->devices; device != nullptr; device = device->next) {
        devices.push_back(device);
    }
    return devices;
}

class Usb0CompatTest : public testing::Test {
  protected:
    void SetUp() override {
        FakeLibusb::Reset();
        usb_init();
        Rescan();
    }

    // Nothing may be left open or referenced once every device is gone.
    void TearDown() override {
        FakeLibusb::Reset();
        Rescan();
        EXPECT_EQ(usb_get_busses(), nullptr);
        EXPECT_EQ(FakeLibusb::OpenHandles(), 0);
        EXPECT_EQ(FakeLibusb::LiveDevices(), 0);
    }

    // Attaches one box and opens it.
    usb_dev_handle* OpenBox() {
        FakeLibusb::Attach({1, 4, kBoxVendor, kBoxProduct});
        Rescan();
        return usb_open(usb_get_busses()->devices);
    }
};

TEST_F(Usb0CompatTest, WalkListsBussesByNumberAndTheirDevicesByAddress) {
    FakeLibusb::Attach({2, 5, kBoxVendor, kBoxProduct});
    FakeLibusb::Attach({1, 7, 0x1234, 0x0001});
    FakeLibusb::Attach({1, 3, kBoxVendor, kBoxProduct});
    EXPECT_EQ(usb_find_busses(), 2);
    EXPECT_EQ(usb_find_devices(), 3);

    const auto busses = Busses();
    ASSERT_EQ(busses.size(), 2u);
    EXPECT_STREQ(busses[0]->dirname, "001");
    EXPECT_EQ(busses[0]->location, 1u);
    EXPECT_STREQ(busses[1]->dirname, "002");
    EXPECT_EQ(busses[1]->prev, busses[0]);

    const auto first = Devices(busses[0]);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_STREQ(first[0]->filename, "003");
    EXPECT_EQ(first[0]->devnum, 3);
    EXPECT_STREQ(first[1]->filename, "007");
    EXPECT_EQ(first[1]->prev, first[0]);
    EXPECT_EQ(first[1]->descriptor.idVendor, 0x1234);
    EXPECT_EQ(first[1]->descriptor.idProduct, 0x0001);

    const auto second = Devices(busses[1]);
    ASSERT_EQ(second.size(), 1u);
    const usb_device& box = *second[0];
    EXPECT_EQ(box.bus, busses[1]);
    EXPECT_EQ(box.descriptor.bLength, 18);
    EXPECT_EQ(box.descriptor.bDescriptorType, 1);
    EXPECT_EQ(box.descriptor.bcdUSB, 0x0200);
    EXPECT_EQ(box.descriptor.bMaxPacketSize0, 64);
    EXPECT_EQ(box.descriptor.idVendor, kBoxVendor);
    EXPECT_EQ(box.descriptor.idProduct, kBoxProduct);
    EXPECT_EQ(box.descriptor.bcdDevice, 0x0101);
    EXPECT_EQ(box.descriptor.bNumConfigurations, 1);
    EXPECT_EQ(box.config, nullptr);
    EXPECT_NE(box.dev, nullptr);
}

TEST_F(Usb0CompatTest, RescanKeepsDevicesThatStayAndCountsThoseThatCameOrWent) {
    FakeLibusb::Attach({1, 2, 0x1111, 0x0001});
    FakeLibusb::Attach({1, 3, 0x2222, 0x0002});
    Rescan();
    usb_device* staying = usb_get_busses()->devices;

    EXPECT_EQ(Rescan(), 0);
    EXPECT_EQ(usb_get_busses()->devices, staying);

    FakeLibusb::Detach(1, 3);
    FakeLibusb::Attach({1, 9, 0x3333, 0x0003});
    EXPECT_EQ(usb_find_busses(), 0);
    EXPECT_EQ(usb_find_devices(), 2);
    const auto devices = Devices(usb_get_busses());
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0], staying);
    EXPECT_EQ(devices[1]->descriptor.idVendor, 0x3333);
}

TEST_F(Usb0CompatTest, BusWhoseDevicesAllWentLeavesTheList) {
    FakeLibusb::Attach({1, 2, 0x1111, 0x0001});
    FakeLibusb::Attach({2, 2, 0x2222, 0x0002});
    Rescan();
    FakeLibusb::Detach(2, 2);
    EXPECT_EQ(usb_find_busses(), 1);
    EXPECT_EQ(usb_find_devices(), 0);
    const auto busses = Busses();
    ASSERT_EQ(busses.size(), 1u);
    EXPECT_EQ(busses[0]->location, 1u);
}

TEST_F(Usb0CompatTest, DeviceThatWentWhileOpenStaysUsableUntilClosed) {
    usb_dev_handle* box = OpenBox();
    ASSERT_NE(box, nullptr);
    FakeLibusb::Reset();
    Rescan();
    EXPECT_EQ(usb_get_busses(), nullptr);

    FakeLibusb::SetTransfer(LIBUSB_ERROR_NO_DEVICE, 0);
    char bytes[64] = {};
    EXPECT_EQ(usb_interrupt_read(box, 0x83, bytes, sizeof bytes, 10), -19);
    EXPECT_EQ(FakeLibusb::LiveDevices(), 1);
    EXPECT_EQ(usb_close(box), 0);
}

TEST_F(Usb0CompatTest, TransfersCarryDirectionLengthAndTimeOutAndReturnTheBytesMoved) {
    usb_dev_handle* box = OpenBox();
    ASSERT_NE(box, nullptr);
    const std::string packet(1301, '\x5a');
    FakeLibusb::SetTransfer(0, 1301);
    EXPECT_EQ(usb_interrupt_write(box, 0x83, packet.data(), 1301, 100), 1301);

    const std::string arrived = "twenty-six bytes arrived!!";
    FakeLibusb::SetTransfer(0, 26, arrived);
    std::string buffer(2048, '#');
    EXPECT_EQ(usb_interrupt_read(box, 0x03, buffer.data(), 2048, 20), 26);
    EXPECT_EQ(buffer.substr(0, 26), arrived);
    EXPECT_EQ(buffer.substr(26), std::string(2048 - 26, '#'));

    const auto& transfers = FakeLibusb::Transfers();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].endpoint, 0x03);
    EXPECT_EQ(transfers[0].length, 1301);
    EXPECT_EQ(transfers[0].timeout, 100u);
    EXPECT_EQ(transfers[0].written, packet);
    EXPECT_EQ(transfers[1].endpoint, 0x83);
    EXPECT_EQ(transfers[1].length, 2048);
    EXPECT_EQ(transfers[1].timeout, 20u);
    EXPECT_EQ(usb_close(box), 0);
}

TEST_F(Usb0CompatTest, ReadTimedOutAfterBytesArrivedHandsThemOverButAPartWriteFails) {
    usb_dev_handle* box = OpenBox();
    ASSERT_NE(box, nullptr);
    FakeLibusb::SetTransfer(LIBUSB_ERROR_TIMEOUT, 64, std::string(64, 'x'));
    char buffer[2048] = {};
    EXPECT_EQ(usb_interrupt_read(box, 0x83, buffer, sizeof buffer, 10), 64);
    EXPECT_EQ(buffer[63], 'x');
    EXPECT_EQ(usb_interrupt_write(box, 0x03, buffer, 128, 100), -110);
    EXPECT_EQ(usb_close(box), 0);
}

struct ErrorCase {
    int libusbError;
    int result;
};

// libusb 0.1 on Linux answers with the negative errno of the failure.
const ErrorCase kErrorCases[] = {
    {LIBUSB_ERROR_IO, -5},        {LIBUSB_ERROR_INVALID_PARAM, -22},
    {LIBUSB_ERROR_ACCESS, -13},   {LIBUSB_ERROR_NO_DEVICE, -19},
    {LIBUSB_ERROR_NOT_FOUND, -2}, {LIBUSB_ERROR_BUSY, -16},
    {LIBUSB_ERROR_TIMEOUT, -110}, {LIBUSB_ERROR_OVERFLOW, -75},
    {LIBUSB_ERROR_PIPE, -32},     {LIBUSB_ERROR_INTERRUPTED, -4},
    {LIBUSB_ERROR_NO_MEM, -12},   {LIBUSB_ERROR_NOT_SUPPORTED, -38},
    {LIBUSB_ERROR_OTHER, -5},
};

TEST_F(Usb0CompatTest, EveryCallAnswersLibusbFailuresWithLibusb0ErrorCodes) {
    usb_dev_handle* box = OpenBox();
    ASSERT_NE(box, nullptr);
    char buffer[64] = {};
    const std::vector<std::pair<Call, std::function<int()>>> calls = {
        {Call::SetConfiguration, [&] { return usb_set_configuration(box, 1); }},
        {Call::ClaimInterface, [&] { return usb_claim_interface(box, 0); }},
        {Call::ReleaseInterface, [&] { return usb_release_interface(box, 0); }},
        {Call::ClearHalt, [&] { return usb_clear_halt(box, 0x03); }},
        {Call::ClearHalt, [&] { return usb_resetep(box, 0x83); }},
        {Call::Reset, [&] { return usb_reset(box); }},
    };
    for (const ErrorCase& error : kErrorCases) {
        SCOPED_TRACE(error.libusbError);
        for (const auto& [call, run] : calls) {
            FakeLibusb::SetResult(call, error.libusbError);
            EXPECT_EQ(run(), error.result);
            FakeLibusb::SetResult(call, 0);
            EXPECT_EQ(run(), 0);
        }
        FakeLibusb::SetTransfer(error.libusbError, 0);
        EXPECT_EQ(usb_interrupt_read(box, 0x83, buffer, sizeof buffer, 10), error.result);
        EXPECT_EQ(usb_interrupt_write(box, 0x03, buffer, sizeof buffer, 100), error.result);
    }
    EXPECT_EQ(usb_close(box), 0);
}

TEST_F(Usb0CompatTest, FailureTextNamesTheCallAndLibusbsReason) {
    FakeLibusb::SetResult(Call::Open, LIBUSB_ERROR_ACCESS);
    EXPECT_EQ(OpenBox(), nullptr);
    EXPECT_STREQ(usb_strerror(), "usb_open: Fake access denied");
    EXPECT_EQ(FakeLibusb::OpenHandles(), 0);

    FakeLibusb::SetResult(Call::Open, 0);
    usb_dev_handle* box = usb_open(usb_get_busses()->devices);
    ASSERT_NE(box, nullptr);
    FakeLibusb::SetTransfer(LIBUSB_ERROR_PIPE, 0);
    char buffer[8] = {};
    usb_interrupt_write(box, 0x03, buffer, sizeof buffer, 100);
    EXPECT_STREQ(usb_strerror(), "usb_interrupt_write: Fake failure");
    EXPECT_EQ(usb_close(box), 0);
}

TEST_F(Usb0CompatTest, BadArgumentsAreRefusedWithoutReachingLibusb) {
    usb_dev_handle* box = OpenBox();
    ASSERT_NE(box, nullptr);
    char buffer[16] = {};
    const std::vector<std::function<int()>> calls = {
        [&] { return usb_interrupt_read(nullptr, 0x83, buffer, 16, 10); },
        [&] { return usb_interrupt_read(box, 0x83, buffer, -1, 10); },
        [&] { return usb_interrupt_read(box, 0x83, nullptr, 16, 10); },
        [&] { return usb_interrupt_read(box, 0x83, buffer, 16, -1); },
        [&] { return usb_interrupt_read(box, 0x183, buffer, 16, 10); },
        [&] { return usb_interrupt_write(box, -3, buffer, 16, 100); },
        [&] { return usb_interrupt_write(nullptr, 0x03, buffer, 16, 100); },
        [&] { return usb_clear_halt(box, 0x103); },
        [&] { return usb_resetep(nullptr, 0x83); },
        [&] { return usb_set_configuration(nullptr, 1); },
        [&] { return usb_claim_interface(nullptr, 0); },
        [&] { return usb_release_interface(nullptr, 0); },
        [&] { return usb_reset(nullptr); },
        [&] { return usb_close(nullptr); },
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i](), -22) << "call " << i;
    }
    EXPECT_TRUE(FakeLibusb::Transfers().empty());

    usb_device stranger{};
    EXPECT_EQ(usb_open(&stranger), nullptr);
    EXPECT_EQ(usb_open(nullptr), nullptr);
    EXPECT_EQ(FakeLibusb::OpenHandles(), 1);
    EXPECT_EQ(usb_close(box), 0);
}

}  // namespace
