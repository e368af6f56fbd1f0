#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "relay/http/http_client_map.h"
#include "relay/http/http_tool.h"

namespace Osmer {

// One response: owns the handles of its request (and the connection and internet handles the
// client owned), gives its headers and reads its body. Destroying it closes the request, then
// the connection, then the internet handle.
class CHttpResponseT {
  public:
    CHttpResponseT(std::unique_ptr<InternetHandle> hInternet,
                   std::unique_ptr<ConnectionHandle> hConnection,
                   std::unique_ptr<RequestHandle> hRequest);
    virtual ~CHttpResponseT();
    CHttpResponseT(const CHttpResponseT&) = delete;
    CHttpResponseT& operator=(const CHttpResponseT&) = delete;

    // How many values the header `name` has (any letter case).
    uint32_t GetHeaderCount(std::u16string_view name);
    // The value number `index` of the header `name`; none when there is no such value.
    std::optional<std::u16string> GetHeaderValue(std::u16string_view name, uint32_t index = 0);

    // Reads body bytes into the buffer, filling it unless the body ends first; 0 at the end.
    uint32_t ReadContent(uint8_t* buffer, uint32_t capacity);

  private:
    // Headers are asked of the platform on the first query of each name.
    void LoadHeader(std::u16string_view name);

    std::unique_ptr<InternetHandle> internet_;
    std::unique_ptr<ConnectionHandle> connection_;
    std::unique_ptr<RequestHandle> request_;
    CHttpClientMapT headers_;
};

}  // namespace Osmer
