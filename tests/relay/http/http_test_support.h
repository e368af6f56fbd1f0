#pragma once

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "relay/http/http_error.h"
#include "system_proxy.h"

namespace http_test {

inline std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

// Runs `operation`, which must throw httpclientexceptionW, and hands the exception back.
inline Osmer::httpclientexceptionW Failure(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const Osmer::httpclientexceptionW& e) {
        return e;
    }
    ADD_FAILURE() << "no httpclientexceptionW was thrown";
    return Osmer::httpclientexceptionW();
}

// Expects `operation` to fail with `error`, `message` and `win32ErrorCode`.
inline void ExpectFailure(const std::function<void()>& operation, uint32_t error,
                          const std::u16string& message, uint32_t win32ErrorCode = 0) {
    const Osmer::httpclientexceptionW e = Failure(operation);
    EXPECT_EQ(e.ErrorCode(), error);
    EXPECT_EQ(Narrow(e.Message()), Narrow(message));
    EXPECT_EQ(e.Win32ErrorCode(), win32ErrorCode);
}

// The relay's configuration request as it goes out on the wire, for the host line given.
inline std::string ConfigurationRequest(const std::string& hostLine) {
    return "POST /server/KS/queryDataInfo.html HTTP/1.1\r\n" + hostLine +
           "User-Agent: My User Agent v1.0\r\n"
           "Accept: */*\r\n"
           "Cache-Control: no-cache\r\n"
           "Osmer-Magic: My Magic Header\r\n"
           "User-Magic: User's Magic Header\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\n"
           "Content-Length: 0\r\n"
           "\r\n";
}

}  // namespace http_test
