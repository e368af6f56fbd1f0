#include "relay/http/http_tool.h"

#include <vector>

#include "platform/code_page.h"
#include "platform/system_error.h"
#include "relay/http/http_error.h"

namespace Osmer {
namespace {

namespace codepage = platform::codepage;
namespace error = platform::error;

bool IsRefusedCodePage(unsigned codePage) {
    return codePage == codepage::kUtf8 || codePage == codepage::kUtf7;
}

}  // namespace

std::unique_ptr<RequestHandle> CHttpToolA::OpenRequest(ConnectionHandle* hConnection,
                                                       const char* szVerb, const char* szObjectName,
                                                       uint32_t dwFlags) {
    if (hConnection == nullptr) {
        ThrowArgumentError("CHttpToolA::OpenRequest: hConnection can not be NULL.");
    }
    if (szObjectName == nullptr) {
        ThrowArgumentError("CHttpToolA::OpenRequest: szObjectName can not be NULL.");
    }
    if (*szObjectName == '\0') {
        ThrowArgumentError("CHttpToolA::OpenRequest: szObjectName can not be an empty string.");
    }
    auto request = Guarded([&] {
        return hConnection->OpenRequest(szVerb == nullptr ? "GET" : szVerb, szObjectName,
                                        "HTTP/1.1", {"*/*"}, dwFlags);
    });
    if (!request) {
        ThrowError(HttpError::OpenRequestFailed, request.Error());
    }
    return std::move(*request);
}

void CHttpToolA::AddHeader(RequestHandle* hRequest, const char* szName, const char* szValue) {
    if (hRequest == nullptr) {
        ThrowArgumentError("CHttpToolA::AddHeader: hRequest can not be NULL.");
    }
    if (szName == nullptr) {
        ThrowArgumentError("CHttpToolA::AddHeader: szName can not be NULL.");
    }
    const std::string line = Guarded(
        [&] { return std::string(szName) + ": " + (szValue == nullptr ? "" : szValue) + "\r\n"; });
    if (const uint32_t failure = hRequest->AddHeader(line)) {
        ThrowError(HttpError::AddRequestHeadersFailed, failure);
    }
}

std::optional<std::string> CHttpToolW::Unicode2Ansi(const char16_t* szStr, unsigned codePage) {
    if (IsRefusedCodePage(codePage)) {
        ThrowArgumentError(
            "CHttpToolW::Unicode2Ansi: CP_UTF8 and CP_UTF7 can not be used for the CodePage "
            "parameter.");
    }
    if (szStr == nullptr) {
        return std::nullopt;
    }
    platform::Result<std::string> narrow =
        Guarded([&] { return codepage::FromUtf16(codePage, szStr); });
    if (!narrow) {
        ThrowError(HttpError::ToNarrowFailed, narrow.Error());
    }
    return std::move(*narrow);
}

std::unique_ptr<ConnectionHandle> CHttpToolW::OpenConnection(InternetHandle* hInternet,
                                                             const char16_t* szServerAddr,
                                                             uint16_t port) {
    if (hInternet == nullptr) {
        ThrowArgumentError("CHttpToolW::OpenConnection: hInternet can not be NULL.");
    }
    if (szServerAddr == nullptr) {
        ThrowArgumentError("CHttpToolW::OpenConnection: szServerAddr can not be NULL.");
    }
    if (*szServerAddr == u'\0') {
        ThrowArgumentError("CHttpToolW::OpenConnection: szServerAddr can not be an empty string.");
    }
    auto connection = Guarded([&] { return hInternet->Connect(szServerAddr, port); });
    if (!connection) {
        ThrowError(HttpError::ConnectFailed, connection.Error());
    }
    return std::move(*connection);
}

std::unique_ptr<RequestHandle> CHttpToolW::OpenRequest(ConnectionHandle* hConnection,
                                                       const char16_t* szObjectName,
                                                       uint32_t dwFlags, unsigned codePage) {
    if (hConnection == nullptr) {
        ThrowArgumentError("CHttpToolW::OpenRequest: hConnection can not be NULL.");
    }
    if (szObjectName == nullptr) {
        ThrowArgumentError("CHttpToolW::OpenRequest: szObjectName can not be NULL.");
    }
    if (*szObjectName == u'\0') {
        ThrowArgumentError("CHttpToolW::OpenRequest: szObjectName can not be an empty string.");
    }
    if (IsRefusedCodePage(codePage)) {
        ThrowArgumentError(
            "CHttpToolW::OpenRequest: CP_UTF8 and CP_UTF7 can not be used for the CodePage "
            "parameter.");
    }
    const std::string verb = *Unicode2Ansi(u"POST", codePage);
    const std::string objectName = *Unicode2Ansi(szObjectName, codePage);
    return CHttpToolA::OpenRequest(hConnection, verb.c_str(), objectName.c_str(), dwFlags);
}

void CHttpToolW::AddHeader(RequestHandle* hRequest, const char16_t* szName, const char16_t* szValue,
                           unsigned codePage) {
    if (hRequest == nullptr) {
        ThrowArgumentError("CHttpToolW::AddHeader: hRequest can not be NULL.");
    }
    if (szName == nullptr) {
        ThrowArgumentError("CHttpToolW::AddHeader: szName can not be NULL.");
    }
    if (IsRefusedCodePage(codePage)) {
        ThrowArgumentError(
            "CHttpToolW::AddHeader: CP_UTF8 and CP_UTF7 can not be used for the CodePage "
            "parameter.");
    }
    const std::string name = *Unicode2Ansi(szName, codePage);
    const std::optional<std::string> value = Unicode2Ansi(szValue, codePage);
    CHttpToolA::AddHeader(hRequest, name.c_str(), value ? value->c_str() : nullptr);
}

void CHttpToolW::SendRequestEx(RequestHandle* hRequest, uint32_t totalLength) {
    if (hRequest == nullptr) {
        ThrowArgumentError("CHttpToolW::SendRequestEx: hRequest can not be NULL.");
    }
    if (const uint32_t failure = hRequest->Send(totalLength)) {
        ThrowError(HttpError::SendRequestExFailed, failure);
    }
}

void CHttpToolW::InternetWriteFile(RequestHandle* hRequest, const uint8_t* pbyBuff,
                                   uint32_t cbyBuff) {
    if (hRequest == nullptr) {
        ThrowArgumentError("CHttpToolW::InternetWriteFile: hRequest can not be NULL.");
    }
    if (pbyBuff == nullptr) {
        ThrowArgumentError("CHttpToolW::InternetWriteFile: pbyBuff can not be NULL.");
    }
    if (cbyBuff == 0) {
        ThrowArgumentError("CHttpToolW::InternetWriteFile: cbyBuff can not be zero.");
    }
    uint32_t done = 0;
    while (done < cbyBuff) {
        const platform::Result<uint32_t> written = hRequest->Write(pbyBuff + done, cbyBuff - done);
        if (!written || *written == 0) {
            ThrowError(HttpError::WriteFileFailed,
                       written ? error::kInternetConnectionAborted : written.Error());
        }
        done += *written;
    }
}

void CHttpToolW::EndRequest(RequestHandle* hRequest) {
    if (hRequest == nullptr) {
        ThrowArgumentError("CHttpToolW::EndRequest: hRequest can not be NULL.");
    }
    if (const uint32_t failure = hRequest->End()) {
        ThrowError(HttpError::EndRequestFailed, failure);
    }
}

std::unique_ptr<std::u16string> CHttpToolW::GetHeader(RequestHandle* hRequest,
                                                      std::u16string_view szName, uint32_t index) {
    if (hRequest == nullptr) {
        ThrowArgumentError("CHttpToolW::GetHeader: hRequest can not be NULL.");
    }
    return Guarded([&]() -> std::unique_ptr<std::u16string> {
        // The first try fits a value as long as the name; a longer one takes a second try
        // with the size the platform asks for.
        std::vector<char16_t> buffer(szName.size() + 1);
        uint32_t bytes = static_cast<uint32_t>(buffer.size() * sizeof(char16_t));
        uint32_t failure = hRequest->QueryHeader(szName, index, buffer.data(), bytes);
        if (failure == error::kInsufficientBuffer) {
            buffer.assign(bytes / sizeof(char16_t) + 1, u'\0');
            bytes = static_cast<uint32_t>(buffer.size() * sizeof(char16_t));
            failure = hRequest->QueryHeader(szName, index, buffer.data(), bytes);
        }
        if (failure == error::kHttpHeaderNotFound) {
            return nullptr;
        }
        if (failure != error::kNone) {
            ThrowError(HttpError::QueryInfoFailed, failure);
        }
        return std::make_unique<std::u16string>(buffer.data(), bytes / sizeof(char16_t));
    });
}

uint64_t CHttpToolW::GetFileSize(platform::ReadOnlyFile* hFile, const char16_t* szFilePath) {
    if (hFile == nullptr) {
        ThrowArgumentError("CHttpToolW::GetFileSize: hFile can not be NULL.");
    }
    if (szFilePath == nullptr) {
        ThrowArgumentError("CHttpToolW::GetFileSize: szFilePath can not be NULL.");
    }
    const platform::Result<uint64_t> size = hFile->Size();
    if (!size) {
        ThrowFileError(HttpError::FileSizeFailed, szFilePath, size.Error());
    }
    return *size;
}

}  // namespace Osmer
