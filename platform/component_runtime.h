#pragma once

#include <cstdint>

#include "platform/registration_store.h"

// The component runtime (COM on Windows) and the program's type library. A system without one
// needs none of these steps: there each succeeds and does nothing. Failures are HRESULTs.
namespace platform {

// For the calling thread; balanced by UninitializeComponentRuntime after a success.
uint32_t InitializeComponentRuntime();
void UninitializeComponentRuntime();

// Security of the process's components: no authentication, identify-level impersonation.
uint32_t InitializeComponentSecurity();

// Registers the type library held in the running program, for the machine or the current user.
uint32_t RegisterTypeLibrary(RegistrationScope scope);
uint32_t UnregisterTypeLibrary(RegistrationScope scope);

}  // namespace platform
