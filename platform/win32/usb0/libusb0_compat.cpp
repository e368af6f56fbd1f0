#include "usb.h"

#include "libusb1.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct usb_dev_handle {
    libusb_device_handle* handle;
    struct usb_device* device;
};

namespace {

// libusb 0.1's failures are negative errno values as Linux numbers them (MinGW's errno.h has
// other numbers: its ETIMEDOUT is 138).
constexpr int kIoError = -5;
constexpr int kInvalidArgument = -22;

struct ErrorCode {
    int libusb;
    int errnoResult;
};

constexpr ErrorCode kErrorCodes[] = {
    {LIBUSB_ERROR_IO, kIoError},                     // EIO
    {LIBUSB_ERROR_INVALID_PARAM, kInvalidArgument},  // EINVAL
    {LIBUSB_ERROR_ACCESS, -13},                      // EACCES
    {LIBUSB_ERROR_NO_DEVICE, -19},                   // ENODEV
    {LIBUSB_ERROR_NOT_FOUND, -2},                    // ENOENT
    {LIBUSB_ERROR_BUSY, -16},                        // EBUSY
    {LIBUSB_ERROR_TIMEOUT, -110},                    // ETIMEDOUT
    {LIBUSB_ERROR_OVERFLOW, -75},                    // EOVERFLOW
    {LIBUSB_ERROR_PIPE, -32},                        // EPIPE
    {LIBUSB_ERROR_INTERRUPTED, -4},                  // EINTR
    {LIBUSB_ERROR_NO_MEM, -12},                      // ENOMEM
    {LIBUSB_ERROR_NOT_SUPPORTED, -38},               // ENOSYS
};

int ErrnoResult(int libusbError) {
    for (const ErrorCode& code : kErrorCodes) {
        if (code.libusb == libusbError) {
            return code.errnoResult;
        }
    }
    return kIoError;  // LIBUSB_ERROR_OTHER, and codes of later versions
}

// A listed device, or one that went while a handle was open on it (then unlisted until its
// last handle closes). Holds a reference to its libusb-1.0 device.
struct DeviceRecord {
    usb_device device{};
    int openHandles = 0;
    bool listed = true;

    libusb_device* Source() const { return static_cast<libusb_device*>(device.dev); }
    ~DeviceRecord() { libusb_unref_device(Source()); }
};

struct Library {
    libusb_context* context = nullptr;
    std::vector<std::unique_ptr<usb_bus>> busses;  // by ascending number, linked in that order
    std::vector<std::unique_ptr<DeviceRecord>> devices;
    std::string lastError = "No error";
};

// Never destroyed: a box still open when the relay library is unloaded is closed by a static
// clean-up that may run after this object's would have.
Library& TheLibrary() {
    static Library* library = new Library;
    return *library;
}

int Fail(const char* call, const char* reason, int result) {
    TheLibrary().lastError = std::string(call) + ": " + reason;
    return result;
}

int FailWithLibusb(const char* call, int libusbError) {
    return Fail(call, libusb_strerror(libusbError), ErrnoResult(libusbError));
}

// Links the entries into a list in their order; returns its head.
template <typename Entry>
Entry* Link(const std::vector<Entry*>& entries) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i]->prev = i > 0 ? entries[i - 1] : nullptr;
        entries[i]->next = i + 1 < entries.size() ? entries[i + 1] : nullptr;
    }
    return entries.empty() ? nullptr : entries.front();
}

// The devices libusb-1.0 sees now, released on destruction.
class DeviceList {
  public:
    explicit DeviceList(libusb_context* context)
        : count_(libusb_get_device_list(context, &list_)) {}
    ~DeviceList() {
        if (list_ != nullptr) {
            libusb_free_device_list(list_, 1);
        }
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    // Negative: the libusb-1.0 error of the enumeration.
    int Error() const { return count_ < 0 ? static_cast<int>(count_) : 0; }
    libusb_device* const* begin() const { return list_; }
    libusb_device* const* end() const { return list_ + std::max<ssize_t>(count_, 0); }

  private:
    libusb_device** list_ = nullptr;
    ssize_t count_;
};

void Erase(Library& library, const DeviceRecord* record) {
    auto& devices = library.devices;
    devices.erase(std::find_if(devices.begin(), devices.end(),
                               [&](const auto& entry) { return entry.get() == record; }));
}

// Takes a device off its bus's list; it stays while a handle is open on it.
void Unlist(Library& library, DeviceRecord& record) {
    record.listed = false;
    record.device.bus = nullptr;
    record.device.next = record.device.prev = nullptr;
    if (record.openHandles == 0) {
        Erase(library, &record);
    }
}

DeviceRecord* ListedRecord(Library& library, const usb_device* device) {
    for (const auto& record : library.devices) {
        if (&record->device == device && record->listed) {
            return record.get();
        }
    }
    return nullptr;
}

std::unique_ptr<DeviceRecord> NewRecord(libusb_device* source, usb_bus* bus) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(source, &descriptor) != 0) {
        return nullptr;
    }
    auto record = std::make_unique<DeviceRecord>();
    usb_device& device = record->device;
    device.dev = libusb_ref_device(source);
    device.bus = bus;
    device.devnum = libusb_get_device_address(source);
    std::snprintf(device.filename, sizeof device.filename, "%03u", unsigned{device.devnum});
    device.descriptor = {
        descriptor.bLength,         descriptor.bDescriptorType,   descriptor.bcdUSB,
        descriptor.bDeviceClass,    descriptor.bDeviceSubClass,   descriptor.bDeviceProtocol,
        descriptor.bMaxPacketSize0, descriptor.idVendor,          descriptor.idProduct,
        descriptor.bcdDevice,       descriptor.iManufacturer,     descriptor.iProduct,
        descriptor.iSerialNumber,   descriptor.bNumConfigurations};
    return record;
}

// Brings one bus's device list up to date with what libusb-1.0 sees; the number of changes.
int UpdateBus(Library& library, usb_bus& bus, const DeviceList& seen) {
    int changes = 0;
    std::vector<DeviceRecord*> stale;
    for (const auto& record : library.devices) {
        if (record->listed && record->device.bus == &bus &&
            std::find(seen.begin(), seen.end(), record->Source()) == seen.end()) {
            stale.push_back(record.get());
        }
    }
    for (DeviceRecord* record : stale) {
        Unlist(library, *record);
        ++changes;
    }

    for (libusb_device* source : seen) {
        if (libusb_get_bus_number(source) != bus.location) {
            continue;
        }
        const bool known =
            std::any_of(library.devices.begin(), library.devices.end(),
                        [&](const auto& r) { return r->listed && r->Source() == source; });
        if (!known) {
            if (auto record = NewRecord(source, &bus)) {
                library.devices.push_back(std::move(record));
                ++changes;
            }
        }
    }

    std::vector<usb_device*> listed;
    for (const auto& record : library.devices) {
        if (record->listed && record->device.bus == &bus) {
            listed.push_back(&record->device);
        }
    }
    std::sort(listed.begin(), listed.end(),
              [](const usb_device* a, const usb_device* b) { return a->devnum < b->devnum; });
    bus.devices = Link(listed);
    return changes;
}

bool ValidTransfer(const usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout) {
    return dev != nullptr && ep >= 0 && ep <= 0xff && size >= 0 &&
           (bytes != nullptr || size == 0) && timeout >= 0;
}

int InvalidArgument(const char* call) {
    return Fail(call, "Invalid argument", kInvalidArgument);
}

int ClearHalt(const char* call, usb_dev_handle* dev, unsigned int ep) {
    if (dev == nullptr || ep > 0xff) {
        return InvalidArgument(call);
    }
    const int result = libusb_clear_halt(dev->handle, static_cast<unsigned char>(ep));
    return result == 0 ? 0 : FailWithLibusb(call, result);
}

}  // namespace

extern "C" {

void usb_init(void) {
    Library& library = TheLibrary();
    if (library.context != nullptr) {
        return;
    }
    const int result = libusb_init(&library.context);
    if (result != 0) {
        library.context = nullptr;
        FailWithLibusb("usb_init", result);
    }
}

int usb_find_busses(void) {
    Library& library = TheLibrary();
    if (library.context == nullptr) {
        return Fail("usb_find_busses", "libusb is not initialised", kInvalidArgument);
    }
    const DeviceList seen(library.context);
    if (seen.Error() != 0) {
        return FailWithLibusb("usb_find_busses", seen.Error());
    }
    std::set<uint32_t> numbers;
    for (libusb_device* source : seen) {
        numbers.insert(libusb_get_bus_number(source));
    }

    int changes = 0;
    auto& busses = library.busses;
    for (auto bus = busses.begin(); bus != busses.end();) {
        if (numbers.erase((*bus)->location) != 0) {
            ++bus;
            continue;
        }
        // A bus that went takes its devices along.
        for (usb_device* device = (*bus)->devices; device != nullptr;) {
            usb_device* next = device->next;
            Unlist(library, *ListedRecord(library, device));
            device = next;
        }
        bus = busses.erase(bus);
        ++changes;
    }
    for (uint32_t number : numbers) {
        auto bus = std::make_unique<usb_bus>();
        bus->location = number;
        std::snprintf(bus->dirname, sizeof bus->dirname, "%03u", unsigned{number});
        busses.push_back(std::move(bus));
        ++changes;
    }

    std::sort(busses.begin(), busses.end(),
              [](const auto& a, const auto& b) { return a->location < b->location; });
    std::vector<usb_bus*> ordered;
    for (const auto& bus : busses) {
        ordered.push_back(bus.get());
    }
    Link(ordered);
    return changes;
}

int usb_find_devices(void) {
    Library& library = TheLibrary();
    if (library.context == nullptr) {
        return Fail("usb_find_devices", "libusb is not initialised", kInvalidArgument);
    }
    const DeviceList seen(library.context);
    if (seen.Error() != 0) {
        return FailWithLibusb("usb_find_devices", seen.Error());
    }
    int changes = 0;
    for (const auto& bus : library.busses) {
        changes += UpdateBus(library, *bus, seen);
    }
    return changes;
}

struct usb_bus* usb_get_busses(void) {
    const auto& busses = TheLibrary().busses;
    return busses.empty() ? nullptr : busses.front().get();
}

usb_dev_handle* usb_open(struct usb_device* dev) {
    Library& library = TheLibrary();
    DeviceRecord* record = ListedRecord(library, dev);
    if (record == nullptr) {
        Fail("usb_open", "not a device of the bus list", kInvalidArgument);
        return nullptr;
    }
    libusb_device_handle* handle = nullptr;
    const int result = libusb_open(record->Source(), &handle);
    if (result != 0) {
        FailWithLibusb("usb_open", result);
        return nullptr;
    }
    ++record->openHandles;
    return new usb_dev_handle{handle, dev};
}

int usb_close(usb_dev_handle* dev) {
    if (dev == nullptr) {
        return InvalidArgument("usb_close");
    }
    std::unique_ptr<usb_dev_handle> owned(dev);
    libusb_close(dev->handle);
    Library& library = TheLibrary();
    for (const auto& record : library.devices) {
        if (&record->device == dev->device) {
            --record->openHandles;
            if (!record->listed && record->openHandles == 0) {
                Erase(library, record.get());
            }
            break;
        }
    }
    return 0;
}

int usb_set_configuration(usb_dev_handle* dev, int configuration) {
    if (dev == nullptr) {
        return InvalidArgument("usb_set_configuration");
    }
    const int result = libusb_set_configuration(dev->handle, configuration);
    return result == 0 ? 0 : FailWithLibusb("usb_set_configuration", result);
}

int usb_claim_interface(usb_dev_handle* dev, int interface) {
    if (dev == nullptr) {
        return InvalidArgument("usb_claim_interface");
    }
    const int result = libusb_claim_interface(dev->handle, interface);
    return result == 0 ? 0 : FailWithLibusb("usb_claim_interface", result);
}

int usb_release_interface(usb_dev_handle* dev, int interface) {
    if (dev == nullptr) {
        return InvalidArgument("usb_release_interface");
    }
    const int result = libusb_release_interface(dev->handle, interface);
    return result == 0 ? 0 : FailWithLibusb("usb_release_interface", result);
}

int usb_interrupt_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
    if (!ValidTransfer(dev, ep, bytes, size, timeout)) {
        return InvalidArgument("usb_interrupt_read");
    }
    int moved = 0;
    const int result = libusb_interrupt_transfer(
        dev->handle, static_cast<unsigned char>(ep | LIBUSB_ENDPOINT_IN),
        reinterpret_cast<unsigned char*>(bytes), size, &moved, static_cast<unsigned>(timeout));
    // Bytes that arrived before a time-out are the box's and are handed over, not lost.
    if (result == 0 || (result == LIBUSB_ERROR_TIMEOUT && moved > 0)) {
        return moved;
    }
    return FailWithLibusb("usb_interrupt_read", result);
}

int usb_interrupt_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout) {
    if (!ValidTransfer(dev, ep, bytes, size, timeout)) {
        return InvalidArgument("usb_interrupt_write");
    }
    int moved = 0;
    // libusb-1.0 takes the bytes of a write as writable; it does not change them.
    const int result =
        libusb_interrupt_transfer(dev->handle, static_cast<unsigned char>(ep & ~LIBUSB_ENDPOINT_IN),
                                  reinterpret_cast<unsigned char*>(const_cast<char*>(bytes)), size,
                                  &moved, static_cast<unsigned>(timeout));
    return result == 0 ? moved : FailWithLibusb("usb_interrupt_write", result);
}

int usb_clear_halt(usb_dev_handle* dev, unsigned int ep) {
    return ClearHalt("usb_clear_halt", dev, ep);
}

int usb_resetep(usb_dev_handle* dev, unsigned int ep) {
    return ClearHalt("usb_resetep", dev, ep);
}

int usb_reset(usb_dev_handle* dev) {
    if (dev == nullptr) {
        return InvalidArgument("usb_reset");
    }
    const int result = libusb_reset_device(dev->handle);
    return result == 0 ? 0 : FailWithLibusb("usb_reset", result);
}

char* usb_strerror(void) {
    return TheLibrary().lastError.data();
}

}  // extern "C"
