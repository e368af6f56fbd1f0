#pragma once

#include "relay/common/box.h"

struct usb_dev_handle;

// The USB box over libusb 0.1: vendor 0x0400, product 0xC355, configuration 1, interface 0,
// interrupt endpoints 0x83 (in) and 0x03 (out). Holds the box handle, null while no box is open;
// a box still open is closed when the object goes.
class UsbBox final : public Box {
  public:
    UsbBox() = default;
    ~UsbBox() override;
    UsbBox(const UsbBox&) = delete;
    UsbBox& operator=(const UsbBox&) = delete;

    // Opens the first box in bus order, then device order.
    int ConnectUsb() override;
    int ReadUsb(PacketBuffer& destination, std::chrono::milliseconds wait) override;
    int WriteUsb(const unsigned char* data, int length) override;
    void PauseUsb(std::chrono::milliseconds pause) override;
    // Resets both endpoints, then the device.
    void ResetUsb() override;
    void DisConnectUsb() override;

  private:
    usb_dev_handle* device_ = nullptr;
};
