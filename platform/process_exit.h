#pragma once

#include <cstdint>

namespace platform {

// The exit status a program reports for a result code of its own (0, a failure number of
// platform/system_error.h, or an HRESULT). Where exit statuses are narrower than the code, a
// failure never turns into success: on POSIX codes 0 to 255 pass unchanged and every other code
// becomes 255. A Windows exit code holds every code whole.
int ProcessExitStatus(uint32_t code);

}  // namespace platform
