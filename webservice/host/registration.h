#pragma once

#include <cstdint>

#include "platform/registration_store.h"

// Zembra's entries with the service manager and in the registrations. Failures are shown to the
// person at the console; every function answers 0 or the failure's code.

// Registers the application id in the scope's store; as a service also records the service in
// it and installs the service. An installed service is removed first.
uint32_t RegisterAppId(platform::RegistrationScope scope, bool asService);

// Removes the service, then the application id's entries from the scope's store.
uint32_t UnregisterAppId(platform::RegistrationScope scope);

// When the service is installed: sets it to start automatically and gives it its description.
uint32_t ConfigureInstalledService();
