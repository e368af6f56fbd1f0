#pragma once

#include <cstdint>
#include "platform/result.h"

namespace platform {

// A globally unique identifier, in the layout Windows gives one.
struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

// A fresh random identifier (version 4, as Windows makes them); a failure when the system
// cannot supply random bytes.
Result<Guid> NewGuid();

}  // namespace platform
