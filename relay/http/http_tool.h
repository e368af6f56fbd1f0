#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/internet_session.h"
#include "platform/read_only_file.h"

// The client's wrappers of the platform calls: each checks its arguments, makes the call, and
// turns a failure into the client's error with the platform's failure number.
namespace Osmer {

using InternetHandle = platform::internet::Session;
using ConnectionHandle = platform::internet::Connection;
using RequestHandle = platform::internet::Request;

// Narrow-text operations.
class CHttpToolA {
  public:
    // A request with version "HTTP/1.1" that accepts "*/*" only; a null verb means "GET".
    static std::unique_ptr<RequestHandle> OpenRequest(ConnectionHandle* hConnection,
                                                      const char* szVerb, const char* szObjectName,
                                                      uint32_t dwFlags);
    // Adds the header line "name: value" (an absent value counts as empty).
    static void AddHeader(RequestHandle* hRequest, const char* szName, const char* szValue);
};

// Wide-text operations; texts go to the narrow ones converted to the client's code page.
class CHttpToolW {
  public:
    // The text in the code page; none for none.
    static std::optional<std::string> Unicode2Ansi(const char16_t* szStr, unsigned codePage);

    static std::unique_ptr<ConnectionHandle> OpenConnection(InternetHandle* hInternet,
                                                            const char16_t* szServerAddr,
                                                            uint16_t port);
    // A POST request for the object name.
    static std::unique_ptr<RequestHandle> OpenRequest(ConnectionHandle* hConnection,
                                                      const char16_t* szObjectName,
                                                      uint32_t dwFlags, unsigned codePage);
    static void AddHeader(RequestHandle* hRequest, const char16_t* szName, const char16_t* szValue,
                          unsigned codePage);
    // Sends the request head, announcing a body of `totalLength` bytes.
    static void SendRequestEx(RequestHandle* hRequest, uint32_t totalLength);
    // Writes the whole buffer, in as many writes as the platform needs.
    static void InternetWriteFile(RequestHandle* hRequest, const uint8_t* pbyBuff,
                                  uint32_t cbyBuff);
    static void EndRequest(RequestHandle* hRequest);
    // The value number `index` of a response header; none when there is no such value.
    static std::unique_ptr<std::u16string> GetHeader(RequestHandle* hRequest,
                                                     std::u16string_view szName, uint32_t index);
    static uint64_t GetFileSize(platform::ReadOnlyFile* hFile, const char16_t* szFilePath);
};

}  // namespace Osmer
