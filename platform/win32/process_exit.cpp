#include "platform/process_exit.h"

namespace platform {

// A Windows exit code holds 32 bits: every code passes whole.
int ProcessExitStatus(uint32_t code) {
    return static_cast<int>(code);
}

}  // namespace platform
