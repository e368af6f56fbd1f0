#include "relay/http/http_response.h"

#include "relay/http/http_error.h"

namespace Osmer {

CHttpResponseT::CHttpResponseT(std::unique_ptr<InternetHandle> hInternet,
                               std::unique_ptr<ConnectionHandle> hConnection,
                               std::unique_ptr<RequestHandle> hRequest)
    : internet_(std::move(hInternet)),
      connection_(std::move(hConnection)),
      request_(std::move(hRequest)) {}

CHttpResponseT::~CHttpResponseT() {
    request_.reset();
    connection_.reset();
    internet_.reset();
}

uint32_t CHttpResponseT::GetHeaderCount(std::u16string_view name) {
    if (headers_.Count(name) == 0) {
        LoadHeader(name);
    }
    return static_cast<uint32_t>(headers_.Count(name));
}

std::optional<std::u16string> CHttpResponseT::GetHeaderValue(std::u16string_view name,
                                                             uint32_t index) {
    if (headers_.Count(name) == 0) {
        LoadHeader(name);
    }
    const auto* entry = headers_.Find(name, index);
    if (entry == nullptr) {
        return std::nullopt;
    }
    return Guarded([&] { return entry->second.value; });
}

uint32_t CHttpResponseT::ReadContent(uint8_t* buffer, uint32_t capacity) {
    if (!request_) {
        ThrowArgumentError("CHttpResponseT::ReadContent: m_hRequest can not be NULL.");
    }
    if (buffer == nullptr && capacity > 0) {
        ThrowArgumentError("CHttpResponseT::ReadContent: pbyBuff can not be NULL.");
    }
    const platform::Result<uint32_t> read = request_->Read(buffer, capacity);
    if (!read) {
        ThrowError(HttpError::ReadFileFailed, read.Error());
    }
    return *read;
}

void CHttpResponseT::LoadHeader(std::u16string_view name) {
    if (!request_) {
        ThrowArgumentError("CHttpResponseT::_LoadHeader: m_hRequest can not be NULL.");
    }
    try {
        for (uint32_t index = 0;; ++index) {
            std::unique_ptr<std::u16string> value =
                CHttpToolW::GetHeader(request_.get(), name, index);
            if (!value) {
                break;
            }
            headers_.AddPointerDirectly(
                Guarded([&] { return std::make_unique<std::u16string>(name); }), std::move(value));
        }
    } catch (...) {
        headers_.Remove(name);
        throw;
    }
}

}  // namespace Osmer
