// The libusb 0.1 calls of a USB box transport, answered by a simulated box. Built as
// libusb-0.1.so.4, so that a program linked against the system's libusb finds this one first
// on its library path; on Windows as libusb0.dll, which test builds of the relay link in the
// place of libusb 0.1's calls over libusb-1.0. Each call is written as one line to the file
// named by USBBOX_SIM_LOG;
// the scenario comes from the file named by USBBOX_SIM_SCENARIO (default.scenario otherwise).
// With USBBOX_SIM_SUMMARY set (and not 0), each box session ends with one line on standard error
// that says what it played and how it ended, for a person watching the box.

#include <usb.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/code_page.h"
#include "platform/environment.h"
#include "platform/hex_text.h"
#include "sim/usbbox/box_session.h"
#include "sim/usbbox/session_summary.h"

struct usb_dev_handle {
    std::string name;  // "bus/device", as in the call log
    usbbox::Device device;
    usbbox::BoxSession session;
    std::size_t number;    // 1 for the first box session of the process
    std::string dialogue;  // its label in the session's summary
    std::chrono::steady_clock::time_point opened;
};

namespace {

constexpr int kInvalid = -22;   // -EINVAL: not an endpoint, interface or configuration of the box
constexpr int kBadHandle = -9;  // -EBADF: not a handle this library opened, or closed already
constexpr int kBusy = -16;      // -EBUSY: the scenario makes the request fail
constexpr int kReadEndpoint = 0x83;
constexpr int kWriteEndpoint = 0x03;
constexpr std::uint8_t kDeviceDescriptorLength = 18;
constexpr std::uint8_t kDeviceDescriptorType = 1;

// The bus and device lists of one scenario text, in the layout of usb.h.
struct DeviceTree {
    std::string text;
    usbbox::Scenario scenario;
    std::unique_ptr<usb_bus[]> busses;
    std::unique_ptr<struct usb_device[]> devices;
    std::size_t busCount = 0;
    std::size_t deviceCount = 0;
    std::size_t nextDialogue = 0;  // the one the next usb_open plays
};

struct State {
    std::mutex mutex;
    // Every tree handed out stays valid: a caller may hold device pointers of an earlier scan.
    std::vector<std::unique_ptr<DeviceTree>> trees;
    std::set<usb_dev_handle*> open;
    std::size_t sessions = 0;  // box sessions opened so far
    char lastError[256] = "";
};

// Built when this library is loaded, before the program or library that links it, so that it
// is torn down after them: their static clean-up may still call in, and an unloaded library
// leaves nothing behind.
State theState;

State& TheState() {
    return theState;
}

// A setting of the environment, empty when it is not set. Read through the platform, where a
// test sets it, rather than through a C runtime's copy.
std::string Setting(std::u16string_view name) {
    return platform::codepage::Utf16ToUtf8(platform::EnvironmentValue(name).value_or(u""));
}

void Log(const std::string& line) {
    const std::string path = Setting(u"USBBOX_SIM_LOG");
    if (!path.empty()) {
        std::ofstream(path, std::ios::binary | std::ios::app) << line << '\n';
    }
}

void SetError(const std::string& text) {
    State& state = TheState();
    std::snprintf(state.lastError, sizeof state.lastError, "%s", text.c_str());
}

std::string Hex(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value) & 0xFFu);
    return text;
}

std::string ScenarioText() {
    const std::string path = Setting(u"USBBOX_SIM_SCENARIO");
    if (path.empty()) {
        return std::string(usbbox::DefaultScenarioText());
    }
    if (auto text = sim::ReadTextFile(path)) {
        return *text;
    }
    std::fprintf(stderr, "usbbox: cannot read the scenario file %s; no devices attached\n",
                 path.c_str());
    return {};
}

std::unique_ptr<DeviceTree> BuildTree(std::string text) {
    auto tree = std::make_unique<DeviceTree>();
    std::string error;
    auto scenario = usbbox::Scenario::Parse(text, error);
    tree->text = std::move(text);
    if (!scenario) {
        const std::string path = Setting(u"USBBOX_SIM_SCENARIO");
        std::fprintf(stderr, "usbbox: scenario %s: %s; no devices attached\n",
                     path.empty() ? "(default)" : path.c_str(), error.c_str());
        return tree;
    }
    tree->scenario = std::move(*scenario);
    tree->busCount = tree->scenario.busses.size();
    for (const auto& bus : tree->scenario.busses) {
        tree->deviceCount += bus.size();
    }
    tree->busses = std::make_unique<usb_bus[]>(tree->busCount);
    tree->devices = std::make_unique<struct usb_device[]>(tree->deviceCount);
    std::size_t d = 0;
    for (std::size_t b = 0; b < tree->busCount; ++b) {
        usb_bus& bus = tree->busses[b];
        std::snprintf(bus.dirname, sizeof bus.dirname, "%03zu", b + 1);
        bus.location = static_cast<std::uint32_t>(b + 1);
        bus.prev = b > 0 ? &tree->busses[b - 1] : nullptr;
        bus.next = b + 1 < tree->busCount ? &tree->busses[b + 1] : nullptr;
        const auto& specs = tree->scenario.busses[b];
        for (std::size_t i = 0; i < specs.size(); ++i, ++d) {
            struct usb_device& device = tree->devices[d];
            std::snprintf(device.filename, sizeof device.filename, "%03zu", i + 1);
            device.bus = &bus;
            device.devnum = static_cast<std::uint8_t>(i + 1);
            device.descriptor.bLength = kDeviceDescriptorLength;
            device.descriptor.bDescriptorType = kDeviceDescriptorType;
            device.descriptor.bcdUSB = 0x0200;
            device.descriptor.idVendor = specs[i].vendor;
            device.descriptor.idProduct = specs[i].product;
            device.descriptor.bNumConfigurations = 1;
            device.prev = i > 0 ? &tree->devices[d - 1] : nullptr;
            device.next = i + 1 < specs.size() ? &tree->devices[d + 1] : nullptr;
        }
        bus.devices = specs.empty() ? nullptr : &tree->devices[d - specs.size()];
    }
    return tree;
}

// The scan for the scenario now in force; a rescan of the same text keeps the same lists.
DeviceTree& Scan() {
    State& state = TheState();
    std::string text = ScenarioText();
    if (state.trees.empty() || state.trees.back()->text != text) {
        state.trees.push_back(BuildTree(std::move(text)));
    }
    return *state.trees.back();
}

// The scenario entry and name of a device from any scan.
const usbbox::Device* FindDevice(const struct usb_device* device, DeviceTree** owner) {
    for (const auto& tree : TheState().trees) {
        for (std::size_t b = 0, d = 0; b < tree->busCount; ++b) {
            for (const auto& spec : tree->scenario.busses[b]) {
                if (&tree->devices[d++] == device) {
                    *owner = tree.get();
                    return &spec;
                }
            }
        }
    }
    return nullptr;
}

// The dialogue's label in a session's summary: none for a scenario of one unnamed dialogue.
std::string DialogueLabel(const usbbox::Scenario& scenario, std::size_t index) {
    const usbbox::Dialogue& dialogue = scenario.dialogues[index];
    if (scenario.dialogues.size() == 1 && dialogue.name.empty()) {
        return {};
    }
    return sim::DialogueLabel(index, scenario.dialogues.size(), dialogue.name);
}

bool SummaryWanted() {
    const std::string value = Setting(u"USBBOX_SIM_SUMMARY");
    return !value.empty() && value != "0";
}

std::string NameOf(const struct usb_device* device) {
    return std::string(device->bus->dirname) + "/" + device->filename;
}

bool IsOpen(usb_dev_handle* handle) {
    return TheState().open.count(handle) != 0;
}

int Answer(const std::string& call, int result) {
    Log(call + " -> " + std::to_string(result));
    return result;
}

// A control request to the box: 0, or the code for a request the box does not have (valid
// false), for a request the scenario makes fail (its flag set on the device), or for a box gone.
int Request(const char* function, usb_dev_handle* handle, const std::string& arguments, bool valid,
            bool usbbox::Device::*failFlag) {
    std::lock_guard<std::mutex> lock(TheState().mutex);
    if (!IsOpen(handle)) {
        return Answer(std::string(function) + " (not open) " + arguments, kBadHandle);
    }
    const std::string call =
        std::string(function) + " " + handle->name + (arguments.empty() ? "" : " " + arguments);
    if (handle->session.Unplugged()) {
        return Answer(call, usbbox::kNoDevice);
    }
    if (!valid) {
        return Answer(call, kInvalid);
    }
    return Answer(call, failFlag != nullptr && handle->device.*failFlag ? kBusy : 0);
}

}  // namespace

extern "C" {

void usb_init(void) {
    std::lock_guard<std::mutex> lock(TheState().mutex);
    Log("usb_init");
}

int usb_find_busses(void) {
    std::lock_guard<std::mutex> lock(TheState().mutex);
    return Answer("usb_find_busses", static_cast<int>(Scan().busCount));
}

int usb_find_devices(void) {
    std::lock_guard<std::mutex> lock(TheState().mutex);
    return Answer("usb_find_devices", static_cast<int>(Scan().deviceCount));
}

struct usb_bus* usb_get_busses(void) {
    std::lock_guard<std::mutex> lock(TheState().mutex);
    Log("usb_get_busses");
    State& state = TheState();
    if (state.trees.empty() || state.trees.back()->busCount == 0) {
        return nullptr;
    }
    return &state.trees.back()->busses[0];
}

usb_dev_handle* usb_open(struct usb_device* dev) {
    std::lock_guard<std::mutex> lock(TheState().mutex);
    DeviceTree* tree = nullptr;
    const usbbox::Device* spec = dev != nullptr ? FindDevice(dev, &tree) : nullptr;
    if (spec == nullptr) {
        SetError("usb_open: no such device");
        Log("usb_open (unknown device) -> null");
        return nullptr;
    }
    const std::string name = NameOf(dev);
    if (spec->openFails) {
        SetError("could not open device " + name + ": Permission denied");
        Log("usb_open " + name + " -> null");
        return nullptr;
    }
    // Each open plays the scenario's next dialogue, with its rules after those of every dialogue.
    const std::size_t index = tree->nextDialogue;
    tree->nextDialogue = (index + 1) % tree->scenario.dialogues.size();
    const usbbox::Dialogue& dialogue = tree->scenario.dialogues[index];
    std::vector<usbbox::Rule> rules = tree->scenario.rules;
    rules.insert(rules.end(), dialogue.rules.begin(), dialogue.rules.end());
    auto* handle = new usb_dev_handle{name,
                                      *spec,
                                      usbbox::BoxSession(std::move(rules), dialogue.steps),
                                      ++TheState().sessions,
                                      DialogueLabel(tree->scenario, index),
                                      std::chrono::steady_clock::now()};
    TheState().open.insert(handle);
    Log("usb_open " + name + " -> ok");
    return handle;
}

int usb_close(usb_dev_handle* dev) {
    std::lock_guard<std::mutex> lock(TheState().mutex);
    if (!IsOpen(dev)) {
        return Answer("usb_close (not open)", kBadHandle);
    }
    // The handle is gone either way, as with the real library.
    TheState().open.erase(dev);
    const int result = dev->device.closeFails ? kBusy : 0;
    Answer("usb_close " + dev->name, result);
    if (SummaryWanted()) {
        const std::string line =
            usbbox::SessionSummary(dev->number, dev->dialogue,
                                   std::chrono::steady_clock::now() - dev->opened, dev->session) +
            "\n";
        std::fputs(line.c_str(), stderr);
    }
    delete dev;
    return result;
}

char* usb_strerror(void) {
    std::lock_guard<std::mutex> lock(TheState().mutex);
    Log(std::string("usb_strerror -> ") + TheState().lastError);
    return TheState().lastError;
}

int usb_set_configuration(usb_dev_handle* dev, int configuration) {
    return Request("usb_set_configuration", dev, std::to_string(configuration), configuration == 1,
                   &usbbox::Device::configFails);
}

int usb_claim_interface(usb_dev_handle* dev, int interface) {
    return Request("usb_claim_interface", dev, std::to_string(interface), interface == 0,
                   &usbbox::Device::claimFails);
}

int usb_release_interface(usb_dev_handle* dev, int interface) {
    return Request("usb_release_interface", dev, std::to_string(interface), interface == 0,
                   nullptr);
}

int usb_clear_halt(usb_dev_handle* dev, unsigned int ep) {
    return Request("usb_clear_halt", dev, "ep=" + Hex(static_cast<int>(ep)),
                   ep == kReadEndpoint || ep == kWriteEndpoint, nullptr);
}

int usb_resetep(usb_dev_handle* dev, unsigned int ep) {
    return Request("usb_resetep", dev, "ep=" + Hex(static_cast<int>(ep)),
                   ep == kReadEndpoint || ep == kWriteEndpoint, nullptr);
}

int usb_reset(usb_dev_handle* dev) {
    return Request("usb_reset", dev, "", true, nullptr);
}

int usb_interrupt_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
    std::lock_guard<std::mutex> lock(TheState().mutex);
    const std::string arguments =
        " ep=" + Hex(ep) + " size=" + std::to_string(size) + " timeout=" + std::to_string(timeout);
    if (!IsOpen(dev)) {
        return Answer("usb_interrupt_read (not open)" + arguments, kBadHandle);
    }
    const std::string call = "usb_interrupt_read " + dev->name + arguments;
    if (ep != kReadEndpoint || bytes == nullptr || size < 0) {
        return Answer(call, kInvalid);
    }
    auto* buffer = reinterpret_cast<unsigned char*>(bytes);
    const int result = dev->session.Read(buffer, size, std::chrono::milliseconds(timeout));
    Log(call + " -> " + std::to_string(result) +
        (result > 0 ? " " + platform::HexBytes(buffer, static_cast<std::size_t>(result)) : ""));
    return result;
}

int usb_interrupt_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout) {
    std::lock_guard<std::mutex> lock(TheState().mutex);
    const std::string arguments =
        " ep=" + Hex(ep) + " size=" + std::to_string(size) + " timeout=" + std::to_string(timeout);
    if (!IsOpen(dev)) {
        return Answer("usb_interrupt_write (not open)" + arguments, kBadHandle);
    }
    auto* data = reinterpret_cast<const unsigned char*>(bytes);
    const bool valid = ep == kWriteEndpoint && size >= 0 && (bytes != nullptr || size == 0);
    const std::string call =
        "usb_interrupt_write " + dev->name + arguments +
        (valid && size > 0 ? " " + platform::HexBytes(data, static_cast<std::size_t>(size)) : "");
    if (!valid) {
        return Answer(call, kInvalid);
    }
    return Answer(call, dev->session.Write(data, size));
}

}  // extern "C"
