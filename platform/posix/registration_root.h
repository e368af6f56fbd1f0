#pragma once

#include <string>

namespace platform::posix {

// The environment setting that moved both registration stores into one directory, as
// "NAME=absolute directory", for a service that must find the same stores; empty when unset.
std::string RegistrationRootSetting();

}  // namespace platform::posix
