#include "relay/usb/usb_box.h"

#include <usb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "relay/common/log.h"
#include "relay/common/waits.h"

namespace {

constexpr unsigned short kVendorId = 0x0400;
constexpr unsigned short kProductId = 0xC355;
constexpr int kConfiguration = 1;
constexpr int kInterface = 0;
constexpr unsigned char kReadEndpoint = 0x83;
constexpr unsigned char kWriteEndpoint = 0x03;

struct usb_device* FindBox() {
    for (struct usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
            if (device->descriptor.idVendor == kVendorId &&
                device->descriptor.idProduct == kProductId) {
                return device;
            }
        }
    }
    return nullptr;
}

const char* LastUsbError() {
    const char* text = usb_strerror();
    return text != nullptr ? text : "";
}

}  // namespace

UsbBox::~UsbBox() {
    DisConnectUsb();
}

int UsbBox::ConnectUsb() {
    // A box still open from an earlier connection is let go first, so that no handle is lost.
    DisConnectUsb();
    usb_init();
    usb_find_busses();
    usb_find_devices();

    struct usb_device* device = FindBox();
    if (device == nullptr) {
        return UsbResult::NoBox;
    }
    // Only the first box is ever tried: a box that cannot be opened is reported, not passed over.
    device_ = usb_open(device);
    if (device_ == nullptr) {
        WriteLog("[USB] error opening device:", LastUsbError());
        WriteLog("usb_open 失败");
        return UsbResult::NoBox;
    }
    // A box whose configuration or interface request fails may still move transfers.
    if (usb_set_configuration(device_, kConfiguration) != 0) {
        WriteLog("[USB]", "usb_set_configuration ERR");
        WriteLog("usb_set_configuration 失败");
    }
    if (usb_claim_interface(device_, kInterface) != 0) {
        WriteLog("[USB]", "usb_claim_interface ERR");
        WriteLog("usb_claim_interface 失败");
    }
    WriteLog("[USB]", "usb conncet success");
    return UsbResult::Connected;
}

int UsbBox::ReadUsb(PacketBuffer& destination, std::chrono::milliseconds wait) {
    if (device_ == nullptr) {
        return UsbResult::NoBox;
    }
    // The transfer lands in a scratch buffer so that the destination keeps its contents unless
    // bytes actually arrived.
    PacketBuffer scratch{};
    const int result =
        usb_interrupt_read(device_, kReadEndpoint, reinterpret_cast<char*>(scratch.data()),
                           static_cast<int>(scratch.size()), static_cast<int>(wait.count()));
    if (result > 0) {
        const int received = std::min(result, static_cast<int>(scratch.size()));
        std::memcpy(destination.data(), scratch.data(), static_cast<std::size_t>(received));
        return received;
    }
    if (result == UsbResult::IoError) {
        WriteLog("usb 读取数据失败 调用 usb_resetep接口重启");
        usb_resetep(device_, kReadEndpoint);
    }
    return result;
}

int UsbBox::WriteUsb(const unsigned char* data, int length) {
    if (device_ == nullptr) {
        return UsbResult::NoBox;
    }
    if (length < 0 || (data == nullptr && length > 0)) {
        return UsbResult::InvalidArgument;
    }
    const int result =
        usb_interrupt_write(device_, kWriteEndpoint, reinterpret_cast<const char*>(data), length,
                            static_cast<int>(waits::kBoxWrite.count()));
    if (result < 0) {
        usb_clear_halt(device_, kWriteEndpoint);
        WriteLog("[WriteUsb]", "USB数据写入失败");
    }
    return result;
}

void UsbBox::PauseUsb(std::chrono::milliseconds pause) {
    std::this_thread::sleep_for(pause);
}

void UsbBox::ResetUsb() {
    if (device_ == nullptr) {
        return;
    }
    usb_resetep(device_, kWriteEndpoint);
    usb_resetep(device_, kReadEndpoint);
    usb_reset(device_);
}

void UsbBox::DisConnectUsb() {
    if (device_ == nullptr) {
        return;
    }
    usb_release_interface(device_, kInterface);
    if (usb_close(device_) == 0) {
        WriteLog("[USB]", "Close Success");
    }
    // The library has let go of the handle whatever usb_close answered.
    device_ = nullptr;
    WriteLog("[USB]", "DisConnectUsb...");
}
