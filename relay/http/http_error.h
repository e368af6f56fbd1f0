#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>

// The failures of the HTTP client: error numbers with their message table, and the exceptions
// that carry them. The client throws nothing but httpclientexceptionW.
namespace Osmer {

// Error numbers; the table in http_error.cpp gives each its message.
namespace HttpError {
constexpr uint32_t NotSpecified = 0;  // argument checks: the message says what went wrong
constexpr uint32_t Unexpected = 100;
constexpr uint32_t IndexOutOfRange = 101;
constexpr uint32_t OutOfMemory = 102;
constexpr uint32_t InvalidUrl = 103;
constexpr uint32_t PostNotStarted = 104;
constexpr uint32_t FileShorterThanExpected = 105;
constexpr uint32_t PostNotFinished = 106;
constexpr uint32_t InvalidPort = 107;
constexpr uint32_t StdException = 108;
constexpr uint32_t InvalidEncodedUrl = 109;
constexpr uint32_t InvalidUtf8 = 110;
constexpr uint32_t ArithmeticUnexpected = 111;
constexpr uint32_t ArithmeticOverflow = 112;
constexpr uint32_t ArithmeticDivideByZero = 113;
constexpr uint32_t FileExists = 114;
constexpr uint32_t Blank = 200;
constexpr uint32_t QueryInfoFailed = 400;
constexpr uint32_t ReadFileFailed = 401;
constexpr uint32_t OpenFailed = 402;
constexpr uint32_t ConnectFailed = 403;
constexpr uint32_t OpenRequestFailed = 404;
constexpr uint32_t AddRequestHeadersFailed = 405;
constexpr uint32_t SendRequestFailed = 406;
constexpr uint32_t SendRequestExFailed = 407;
constexpr uint32_t WriteFileFailed = 408;
constexpr uint32_t EndRequestFailed = 409;
constexpr uint32_t SetOptionFailed = 410;
constexpr uint32_t ToNarrowFailed = 600;
constexpr uint32_t ToWideFailed = 601;
constexpr uint32_t FileReadFailed = 602;
constexpr uint32_t FileOpenFailed = 603;
constexpr uint32_t FileSeekFailed = 604;
constexpr uint32_t FileSizeFailed = 605;
constexpr uint32_t FileWriteFailed = 606;
constexpr uint32_t UserDefined = 1000;  // and every number above
}  // namespace HttpError

// The message of an error number, narrow and wide; "%s" stands where a file path goes.
const char* ErrorMessageA(uint32_t error);
const char16_t* ErrorMessageW(uint32_t error);

// The message of an error number with "%s" replaced by `argument`, at most 511 characters.
std::string FormatErrorMessageA(uint32_t error, const std::string& argument);
std::u16string FormatErrorMessageW(uint32_t error, const std::u16string& argument);

// An exception that owns a copy of its narrow message, or none.
class errmsg_exceptionA : public std::exception {
  public:
    explicit errmsg_exceptionA(const char* message = nullptr);
    ~errmsg_exceptionA() override;

    const char* what() const noexcept override { return Message(); }
    // The message, or "NULL" when there is none.
    virtual const char* Message() const noexcept;
    // Replaces the message with a copy of `message` (none for null).
    virtual void SetMessage(const char* message);

  private:
    std::optional<std::string> message_;
};

// The same with a wide message; what() names the class.
class errmsg_exceptionW : public std::exception {
  public:
    explicit errmsg_exceptionW(const char16_t* message = nullptr);
    ~errmsg_exceptionW() override;

    const char* what() const noexcept override { return "errmsg_exceptionW"; }
    virtual const char16_t* Message() const noexcept;
    virtual void SetMessage(const char16_t* message);

  private:
    std::optional<std::u16string> message_;
};

class httpclientexceptionA : public errmsg_exceptionA {
  public:
    explicit httpclientexceptionA(const char* message = nullptr, uint32_t errorCode = 0,
                                  uint32_t win32ErrorCode = 0);

    uint32_t ErrorCode() const noexcept { return errorCode_; }
    uint32_t Win32ErrorCode() const noexcept { return win32ErrorCode_; }

  private:
    uint32_t errorCode_;
    uint32_t win32ErrorCode_;
};

class httpclientexceptionW : public errmsg_exceptionW {
  public:
    explicit httpclientexceptionW(const char16_t* message = nullptr, uint32_t errorCode = 0,
                                  uint32_t win32ErrorCode = 0);

    const char* what() const noexcept override { return "httpclientexceptionW"; }
    uint32_t ErrorCode() const noexcept { return errorCode_; }
    uint32_t Win32ErrorCode() const noexcept { return win32ErrorCode_; }

  private:
    uint32_t errorCode_;
    uint32_t win32ErrorCode_;
};

// The client's failures, thrown as httpclientexceptionW.
[[noreturn]] void ThrowError(uint32_t error, uint32_t win32ErrorCode = 0);
// An error whose message names a file.
[[noreturn]] void ThrowFileError(uint32_t error, const std::u16string& path,
                                 uint32_t win32ErrorCode);
// A failed argument check: error number 0 with the given message (ASCII).
[[noreturn]] void ThrowArgumentError(const char* message);

// Runs `operation`, turning what the standard library throws into the client's errors: out of
// memory into 102, any other standard exception into 108.
template <typename Operation>
auto Guarded(Operation operation) -> decltype(operation()) {
    try {
        return operation();
    } catch (const httpclientexceptionW&) {
        throw;
    } catch (const std::bad_alloc&) {
        ThrowError(HttpError::OutOfMemory);
    } catch (const std::exception&) {
        ThrowError(HttpError::StdException);
    }
}

}  // namespace Osmer
