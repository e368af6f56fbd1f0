#pragma once

// libusb-1.0's header. On Windows it includes <windows.h>, whose min and max macros stay out.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <libusb.h>
