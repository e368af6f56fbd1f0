#pragma once

#include <curl/curl.h>

#include <cstdint>

namespace platform::internet {

// The failure number (platform/system_error.h) that the Windows Internet layer reports where
// libcurl reports `code`.
uint32_t FromCurl(CURLcode code);

}  // namespace platform::internet
