#include "platform/process_exit.h"

namespace platform {
namespace {

// The shell sees only the low eight bits of an exit status.
constexpr uint32_t kLargestStatus = 255;

}  // namespace

int ProcessExitStatus(uint32_t code) {
    return static_cast<int>(code <= kLargestStatus ? code : kLargestStatus);
}

}  // namespace platform
