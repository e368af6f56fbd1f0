#include "tests/platform/usb0/fake_libusb.h"

#include "platform/win32/usb0/libusb1.h"

#include <algorithm>
#include <cstring>
#include <map>

struct libusb_context {};

struct libusb_device {
    FakeLibusb::Device info;
    int references;
};

struct libusb_device_handle {
    libusb_device* device;
};

namespace {

struct State {
    libusb_context context;
    std::vector<libusb_device*> attached;  // each holds a reference of the fake's own
    std::map<FakeLibusb::Call, int> results;
    int transferResult = 0;
    int moved = 0;
    std::string readBytes;
    std::vector<FakeLibusb::Transfer> transfers;
    int openHandles = 0;
    int liveDevices = 0;
} state;

int ResultOf(FakeLibusb::Call call) {
    const auto found = state.results.find(call);
    return found == state.results.end() ? 0 : found->second;
}

}  // namespace

namespace FakeLibusb {

void Reset() {
    while (!state.attached.empty()) {
        Detach(state.attached.front()->info.bus, state.attached.front()->info.address);
    }
    state.results.clear();
    state.transferResult = 0;
    state.moved = 0;
    state.readBytes.clear();
    state.transfers.clear();
}

void Attach(const Device& device) {
    state.attached.push_back(new libusb_device{device, 1});
    ++state.liveDevices;
}

void Detach(std::uint8_t bus, std::uint8_t address) {
    auto found = std::find_if(state.attached.begin(), state.attached.end(), [&](auto* device) {
        return device->info.bus == bus && device->info.address == address;
    });
    if (found != state.attached.end()) {
        libusb_device* device = *found;
        state.attached.erase(found);
        libusb_unref_device(device);
    }
}

void SetResult(Call call, int libusbResult) {
    state.results[call] = libusbResult;
}

void SetTransfer(int libusbResult, int moved, const std::string& readBytes) {
    state.transferResult = libusbResult;
    state.moved = moved;
    state.readBytes = readBytes;
}

const std::vector<Transfer>& Transfers() {
    return state.transfers;
}

int OpenHandles() {
    return state.openHandles;
}

int LiveDevices() {
    return state.liveDevices;
}

}  // namespace FakeLibusb

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context** context) {
    *context = &state.context;
    return 0;
}

const char* LIBUSB_CALL libusb_strerror(int errcode) {
    return errcode == LIBUSB_ERROR_ACCESS ? "Fake access denied" : "Fake failure";
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context*, libusb_device*** list) {
    *list = new libusb_device*[state.attached.size() + 1];
    std::size_t count = 0;
    for (libusb_device* device : state.attached) {
        (*list)[count++] = libusb_ref_device(device);
    }
    (*list)[count] = nullptr;
    return static_cast<ssize_t>(count);
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int unrefDevices) {
    for (libusb_device** device = list; unrefDevices != 0 && *device != nullptr; ++device) {
        libusb_unref_device(*device);
    }
    delete[] list;
}

libusb_device* LIBUSB_CALL libusb_ref_device(libusb_device* device) {
    ++device->references;
    return device;
}

void LIBUSB_CALL libusb_unref_device(libusb_device* device) {
    if (--device->references == 0) {
        delete device;
        --state.liveDevices;
    }
}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device* device) {
    return device->info.bus;
}

uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device* device) {
    return device->info.address;
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* device,
                                             libusb_device_descriptor* descriptor) {
    *descriptor = {};
    descriptor->bLength = LIBUSB_DT_DEVICE_SIZE;
    descriptor->bDescriptorType = LIBUSB_DT_DEVICE;
    descriptor->bcdUSB = 0x0200;
    descriptor->bMaxPacketSize0 = 64;
    descriptor->idVendor = device->info.vendor;
    descriptor->idProduct = device->info.product;
    descriptor->bcdDevice = 0x0101;
    descriptor->bNumConfigurations = 1;
    return 0;
}

int LIBUSB_CALL libusb_open(libusb_device* device, libusb_device_handle** handle) {
    const int result = ResultOf(FakeLibusb::Call::Open);
    if (result != 0) {
        return result;
    }
    *handle = new libusb_device_handle{libusb_ref_device(device)};
    ++state.openHandles;
    return 0;
}

void LIBUSB_CALL libusb_close(libusb_device_handle* handle) {
    libusb_unref_device(handle->device);
    delete handle;
    --state.openHandles;
}

int LIBUSB_CALL libusb_set_configuration(libusb_device_handle*, int) {
    return ResultOf(FakeLibusb::Call::SetConfiguration);
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle*, int) {
    return ResultOf(FakeLibusb::Call::ClaimInterface);
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle*, int) {
    return ResultOf(FakeLibusb::Call::ReleaseInterface);
}

int LIBUSB_CALL libusb_clear_halt(libusb_device_handle*, unsigned char) {
    return ResultOf(FakeLibusb::Call::ClearHalt);
}

int LIBUSB_CALL libusb_reset_device(libusb_device_handle*) {
    return ResultOf(FakeLibusb::Call::Reset);
}

int LIBUSB_CALL libusb_interrupt_transfer(libusb_device_handle*, unsigned char endpoint,
                                          unsigned char* data, int length, int* moved,
                                          unsigned int timeout) {
    const bool read = (endpoint & LIBUSB_ENDPOINT_IN) != 0;
    const char* bytes = reinterpret_cast<const char*>(data);
    state.transfers.push_back(
        {endpoint, length, timeout, read ? std::string() : std::string(bytes, bytes + length)});
    *moved = std::min(state.moved, length);
    if (read) {
        const auto copied = std::min<std::size_t>(*moved, state.readBytes.size());
        std::memcpy(data, state.readBytes.data(), copied);
    }
    return state.transferResult;
}

}  // extern "C"
