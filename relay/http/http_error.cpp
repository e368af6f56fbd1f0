#include "relay/http/http_error.h"

#include <cstring>

namespace Osmer {
namespace {

struct ErrorText {
    uint32_t error;
    const char* narrow;
    const char16_t* wide;
};

// Each message once, in both forms.
#define OSMER_ERROR_TEXT(error, text) \
    { error, text, u"" text }

constexpr ErrorText kErrorTable[] = {
    OSMER_ERROR_TEXT(HttpError::NotSpecified, "Not specified"),
    OSMER_ERROR_TEXT(HttpError::Unexpected, "Unexpected error occurred."),
    OSMER_ERROR_TEXT(HttpError::IndexOutOfRange, "The index is out of range."),
    OSMER_ERROR_TEXT(HttpError::OutOfMemory, "Out of memory."),
    OSMER_ERROR_TEXT(HttpError::InvalidUrl, "The requested URL is not a valid URL."),
    OSMER_ERROR_TEXT(HttpError::PostNotStarted, "The post context is not started yet."),
    OSMER_ERROR_TEXT(HttpError::FileShorterThanExpected,
                     "Couldn't read expected bytes from a file."),
    OSMER_ERROR_TEXT(HttpError::PostNotFinished, "The post context has not been finished yet."),
    OSMER_ERROR_TEXT(HttpError::InvalidPort, "The port number is not valid."),
    OSMER_ERROR_TEXT(HttpError::StdException, "std::exception occurred."),
    OSMER_ERROR_TEXT(HttpError::InvalidEncodedUrl, "The encoded URL is not valid."),
    OSMER_ERROR_TEXT(HttpError::InvalidUtf8, "The UTF8 string contains an invalid character."),
    OSMER_ERROR_TEXT(HttpError::ArithmeticUnexpected,
                     "An unexpected arithmetic error has been occurred."),
    OSMER_ERROR_TEXT(HttpError::ArithmeticOverflow,
                     "An arithmetic overflow error has been occurred."),
    OSMER_ERROR_TEXT(HttpError::ArithmeticDivideByZero,
                     "An interger divide by zero exception has been occurred."),
    OSMER_ERROR_TEXT(HttpError::FileExists, "The file (%s) aleady exists."),
    OSMER_ERROR_TEXT(HttpError::Blank, ""),
    OSMER_ERROR_TEXT(HttpError::QueryInfoFailed, "::HttpQueryInfo failed."),
    OSMER_ERROR_TEXT(HttpError::ReadFileFailed, "::InternetReadFile failed."),
    OSMER_ERROR_TEXT(HttpError::OpenFailed, "::InternetOpen failed."),
    OSMER_ERROR_TEXT(HttpError::ConnectFailed, "::InternetConnect failed."),
    OSMER_ERROR_TEXT(HttpError::OpenRequestFailed, "::HttpOpenRequest failed."),
    OSMER_ERROR_TEXT(HttpError::AddRequestHeadersFailed, "::HttpAddRequestHeaders failed."),
    OSMER_ERROR_TEXT(HttpError::SendRequestFailed, "::HttpSendRequest failed."),
    OSMER_ERROR_TEXT(HttpError::SendRequestExFailed, "::HttpSendRequestEx failed."),
    OSMER_ERROR_TEXT(HttpError::WriteFileFailed, "::InternetWriteFile failed."),
    OSMER_ERROR_TEXT(HttpError::EndRequestFailed, "::HttpEndRequest failed."),
    OSMER_ERROR_TEXT(HttpError::SetOptionFailed, "::InternetSetOption failed."),
    OSMER_ERROR_TEXT(HttpError::ToNarrowFailed, "::WideCharToMultiByte failed."),
    OSMER_ERROR_TEXT(HttpError::ToWideFailed, "::MultiByteToWideChar failed."),
    OSMER_ERROR_TEXT(HttpError::FileReadFailed, "::ReadFile failed."),
    OSMER_ERROR_TEXT(HttpError::FileOpenFailed, "OpenFile (::CreateFile) failed (\"%s\")."),
    OSMER_ERROR_TEXT(HttpError::FileSeekFailed, "::SetFilePointer failed."),
    OSMER_ERROR_TEXT(HttpError::FileSizeFailed, "::GetFileSize failed (\"%s\")."),
    OSMER_ERROR_TEXT(HttpError::FileWriteFailed, "::WriteFile failed (\"%s\")."),
};

#undef OSMER_ERROR_TEXT

constexpr ErrorText kUserDefined = {HttpError::UserDefined, "user-defined error message",
                                    u"user-defined error message"};

// A number below 1000 that the table lacks reads as unspecified.
const ErrorText& Lookup(uint32_t error) {
    if (error >= HttpError::UserDefined) {
        return kUserDefined;
    }
    for (const ErrorText& entry : kErrorTable) {
        if (entry.error == error) {
            return entry;
        }
    }
    return kErrorTable[0];
}

constexpr size_t kMaxFormattedLength = 511;

template <typename Text>
Text Format(const Text& pattern, const Text& argument) {
    Text out = pattern;
    const typename Text::value_type placeholder[] = {'%', 's', 0};
    if (const size_t at = out.find(placeholder); at != Text::npos) {
        out.replace(at, 2, argument);
    }
    if (out.size() > kMaxFormattedLength) {
        out.resize(kMaxFormattedLength);
    }
    return out;
}

std::u16string Widen(const char* ascii) {
    return std::u16string(ascii, ascii + std::strlen(ascii));
}

}  // namespace

const char* ErrorMessageA(uint32_t error) {
    return Lookup(error).narrow;
}
const char16_t* ErrorMessageW(uint32_t error) {
    return Lookup(error).wide;
}

std::string FormatErrorMessageA(uint32_t error, const std::string& argument) {
    return Format<std::string>(ErrorMessageA(error), argument);
}

std::u16string FormatErrorMessageW(uint32_t error, const std::u16string& argument) {
    std::u16string out = Format<std::u16string>(ErrorMessageW(error), argument);
    // A cut through a surrogate pair would leave half a character.
    if (out.size() == kMaxFormattedLength && out.back() >= 0xD800 && out.back() <= 0xDBFF) {
        out.pop_back();
    }
    return out;
}

errmsg_exceptionA::errmsg_exceptionA(const char* message) {
    SetMessage(message);
}
errmsg_exceptionA::~errmsg_exceptionA() = default;

const char* errmsg_exceptionA::Message() const noexcept {
    return message_ ? message_->c_str() : "NULL";
}

void errmsg_exceptionA::SetMessage(const char* message) {
    if (message == nullptr) {
        message_.reset();
    } else {
        message_ = std::string(message);
    }
}

errmsg_exceptionW::errmsg_exceptionW(const char16_t* message) {
    SetMessage(message);
}
errmsg_exceptionW::~errmsg_exceptionW() = default;

const char16_t* errmsg_exceptionW::Message() const noexcept {
    return message_ ? message_->c_str() : u"NULL";
}

void errmsg_exceptionW::SetMessage(const char16_t* message) {
    if (message == nullptr) {
        message_.reset();
    } else {
        message_ = std::u16string(message);
    }
}

httpclientexceptionA::httpclientexceptionA(const char* message, uint32_t errorCode,
                                           uint32_t win32ErrorCode)
    : errmsg_exceptionA(message), errorCode_(errorCode), win32ErrorCode_(win32ErrorCode) {}

httpclientexceptionW::httpclientexceptionW(const char16_t* message, uint32_t errorCode,
                                           uint32_t win32ErrorCode)
    : errmsg_exceptionW(message), errorCode_(errorCode), win32ErrorCode_(win32ErrorCode) {}

void ThrowError(uint32_t error, uint32_t win32ErrorCode) {
    throw httpclientexceptionW(ErrorMessageW(error), error, win32ErrorCode);
}

void ThrowFileError(uint32_t error, const std::u16string& path, uint32_t win32ErrorCode) {
    throw httpclientexceptionW(FormatErrorMessageW(error, path).c_str(), error, win32ErrorCode);
}

void ThrowArgumentError(const char* message) {
    throw httpclientexceptionW(Widen(message).c_str(), HttpError::NotSpecified, 0);
}

}  // namespace Osmer
