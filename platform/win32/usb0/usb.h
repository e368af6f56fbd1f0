/* libusb 0.1's interface, the part the relay's box transport calls, over libusb-1.0: no package
 * offers libusb 0.1 for Windows. Results are those of libusb 0.1 on Linux: 0 or a byte count on
 * success, a negative errno value as Linux numbers it on failure (-110 time-out, -19 no device,
 * -5 input/output error, -22 invalid argument, ...), whatever the host's errno.h says.
 *
 * As in libusb 0.1, the calls are for one thread at a time. */
#pragma once

#include <stdint.h>

#define USB_ENDPOINT_IN 0x80
#define USB_ENDPOINT_OUT 0x00

#define LIBUSB_PATH_MAX 512

#ifdef __cplusplus
extern "C" {
#endif

/* Device descriptor, in host byte order. */
struct usb_device_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t bcdUSB;
    uint8_t bDeviceClass;
    uint8_t bDeviceSubClass;
    uint8_t bDeviceProtocol;
    uint8_t bMaxPacketSize0;
    uint16_t idVendor;
    uint16_t idProduct;
    uint16_t bcdDevice;
    uint8_t iManufacturer;
    uint8_t iProduct;
    uint8_t iSerialNumber;
    uint8_t bNumConfigurations;
};

struct usb_config_descriptor;
struct usb_bus;

/* A device of a bus's list. Busses are listed by ascending number, their devices by ascending
 * address; filename and devnum carry the address, the bus's dirname and location its number.
 * Configuration descriptors are not read: config is null. dev is the libusb-1.0 device. */
struct usb_device {
    struct usb_device *next, *prev;
    char filename[LIBUSB_PATH_MAX + 1];
    struct usb_bus* bus;
    struct usb_device_descriptor descriptor;
    struct usb_config_descriptor* config;
    void* dev;
    uint8_t devnum;
    unsigned char num_children;
    struct usb_device** children;
};

struct usb_bus {
    struct usb_bus *next, *prev;
    char dirname[LIBUSB_PATH_MAX + 1];
    struct usb_device* devices;
    uint32_t location;
    struct usb_device* root_dev;
};

typedef struct usb_dev_handle usb_dev_handle;

/* Starts libusb-1.0 on the first call (and on later calls while it could not start). */
void usb_init(void);
/* Bring the bus list, then each listed bus's devices, up to date; the number of busses or
 * devices that came or went. A device that stays keeps its usb_device; one that goes while a
 * handle is open on it stays valid until usb_close. */
int usb_find_busses(void);
int usb_find_devices(void);
struct usb_bus* usb_get_busses(void);

usb_dev_handle* usb_open(struct usb_device* dev);
int usb_close(usb_dev_handle* dev);

int usb_set_configuration(usb_dev_handle* dev, int configuration);
int usb_claim_interface(usb_dev_handle* dev, int interface);
int usb_release_interface(usb_dev_handle* dev, int interface);

/* One interrupt transfer; the direction bit of ep is set by the call. The bytes moved, or a
 * negative errno value. A read that times out after bytes arrived returns those bytes; a write
 * that moved only part of its bytes fails. A time-out of 0 waits without limit. */
int usb_interrupt_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout);
int usb_interrupt_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout);

/* Clears a halted endpoint. usb_resetep does the same: libusb-1.0 resets an endpoint's data
 * toggle only together with its halt. */
int usb_clear_halt(usb_dev_handle* dev, unsigned int ep);
int usb_resetep(usb_dev_handle* dev, unsigned int ep);
int usb_reset(usb_dev_handle* dev);

/* The text of the last failure, naming the call. */
char* usb_strerror(void);

#ifdef __cplusplus
}
#endif
