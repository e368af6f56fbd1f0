#include "platform/component_runtime.h"

namespace platform {

uint32_t InitializeComponentRuntime() {
    return 0;
}

void UninitializeComponentRuntime() {}

uint32_t InitializeComponentSecurity() {
    return 0;
}

uint32_t RegisterTypeLibrary(RegistrationScope) {
    return 0;
}

uint32_t UnregisterTypeLibrary(RegistrationScope) {
    return 0;
}

}  // namespace platform
