// The Internet layer on WinINet: the steps of one request, in the layer's order.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/internet_session.h"
#include "platform/internet_text.h"
#include "platform/system_error.h"
#include "platform/win32/internet_handles.h"
#include "platform/win32/wide_text.h"

namespace platform::internet {
namespace {

// The failure of the last WinINet call. Wine's WinINet passes a few socket failures on as they
// are, where Windows' own reports its Internet numbers.
uint32_t LastFailure() {
    const DWORD failure = GetLastError();
    switch (failure) {
        case WSAETIMEDOUT:
            return error::kInternetTimeout;
        case WSAECONNRESET:
            return error::kInternetConnectionReset;
        case WSAECONNABORTED:
            return error::kInternetConnectionAborted;
        default:
            return failure;
    }
}

// The value of the occurrence `index` of a response header, asked by name: the first try fits a
// value as long as the name, a longer one takes a second try with the size WinINet asks for.
uint32_t CustomHeader(HINTERNET request, std::u16string_view name, uint32_t index,
                      std::u16string& value) {
    std::vector<wchar_t> buffer(name.size() + 1);
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::fill(buffer.begin(), buffer.end(), L'\0');
        std::copy(name.begin(), name.end(), buffer.begin());
        DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        DWORD occurrence = index;
        if (HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, buffer.data(), &bytes, &occurrence)) {
            value = win32::FromWide(std::wstring_view(buffer.data(), bytes / sizeof(wchar_t)));
            return error::kNone;
        }
        const uint32_t failure = LastFailure();
        if (failure != error::kInsufficientBuffer) {
            return failure;
        }
        buffer.resize(std::max<size_t>(bytes / sizeof(wchar_t) + 1, name.size() + 1));
    }
    return error::kInsufficientBuffer;
}

// Whether the request's connection is secured with TLS.
bool IsSecured(HINTERNET request) {
    DWORD flags = 0;
    DWORD size = sizeof flags;
    return InternetQueryOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size) &&
           (flags & SECURITY_FLAG_SECURE) != 0;
}

// The status code of the response, 0 when no status line came.
DWORD StatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr)) {
        return 0;
    }
    return status;
}

}  // namespace

uint32_t Request::Transfer::CutWaitsToDeadline() const {
    if (!deadline) {
        return error::kNone;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return error::kInternetTimeout;
    }
    return SetBounds(request->get(), defaults, static_cast<uint32_t>(left.count()));
}

Request::Request(std::unique_ptr<Transfer> transfer) : transfer_(std::move(transfer)) {}
Request::~Request() = default;

uint32_t Request::AddHeader(std::string_view line) {
    Transfer& t = *transfer_;
    if (t.stage != Transfer::Stage::Opened) {
        return error::kInternetIncorrectHandleState;
    }
    if (line.size() >= 2 && line.substr(line.size() - 2) == "\r\n") {
        line.remove_suffix(2);
    }
    // WinINet would take several lines in one, or turn a bad one into a failure of its own.
    if (!IsOneHeaderLine(line)) {
        return error::kInvalidParameter;
    }
    const std::string text(line);
    return HttpAddRequestHeadersA(t.request->get(), text.c_str(), static_cast<DWORD>(text.size()),
                                  HTTP_ADDREQ_FLAG_ADD)
               ? error::kNone
               : LastFailure();
}

uint32_t Request::Send(uint32_t bodyLength) {
    Transfer& t = *transfer_;
    if (t.stage != Transfer::Stage::Opened) {
        return error::kInternetIncorrectHandleState;
    }
    t.stage = Transfer::Stage::Broken;
    t.announced = bodyLength;
    if (t.defaults.totalTimeoutMs != 0) {
        t.deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(t.defaults.totalTimeoutMs);
    }
    if (const uint32_t failure = t.CutWaitsToDeadline()) {
        return failure;
    }
    INTERNET_BUFFERSW buffers = {};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = bodyLength;
    if (!HttpSendRequestExW(t.request->get(), &buffers, nullptr, 0, 0)) {
        return LastFailure();
    }
    // The body of a secure request never goes out in the clear. Wine's WinINet sends a secure
    // request through a proxy without setting up the proxy's tunnel.
    if (t.secure && !IsSecured(t.request->get())) {
        return error::kInternetSecurityChannelError;
    }
    t.stage = Transfer::Stage::Sent;
    return error::kNone;
}

uint32_t Request::Write(const void* data, uint32_t size, uint32_t& written) {
    Transfer& t = *transfer_;
    written = 0;
    if (t.stage != Transfer::Stage::Sent) {
        return error::kInternetIncorrectHandleState;
    }
    // WinINet would send them, and the server would take them for the start of another request.
    if (size > t.announced - t.taken) {
        return error::kInvalidParameter;
    }
    DWORD sent = 0;
    if (const uint32_t failure = t.CutWaitsToDeadline()) {
        t.stage = Transfer::Stage::Broken;
        return failure;
    }
    if (!InternetWriteFile(t.request->get(), data, size, &sent)) {
        t.stage = Transfer::Stage::Broken;
        return LastFailure();
    }
    t.taken += sent;
    written = sent;
    return error::kNone;
}

uint32_t Request::End() {
    Transfer& t = *transfer_;
    if (t.stage != Transfer::Stage::Sent || t.taken < t.announced) {
        return error::kInternetIncorrectHandleState;
    }
    if (const uint32_t failure = t.CutWaitsToDeadline()) {
        t.stage = Transfer::Stage::Broken;
        return failure;
    }
    if (!HttpEndRequestW(t.request->get(), nullptr, 0, 0)) {
        t.stage = Transfer::Stage::Broken;
        return LastFailure();
    }
    // A server that closed without a word is no answer; Wine's WinINet ends such a request as if
    // an empty one had come.
    if (StatusCode(t.request->get()) == 0) {
        t.stage = Transfer::Stage::Broken;
        return error::kHttpInvalidServerResponse;
    }
    t.stage = Transfer::Stage::Ended;
    return error::kNone;
}

uint32_t Request::QueryHeader(std::u16string_view name, uint32_t index, char16_t* buffer,
                              uint32_t& bufferBytes) const {
    const Transfer& t = *transfer_;
    if (t.stage != Transfer::Stage::Ended) {
        return error::kInternetIncorrectHandleState;
    }
    std::u16string value;
    if (const uint32_t failure = CustomHeader(t.request->get(), name, index, value)) {
        return failure;
    }
    const uint64_t needed = (value.size() + 1) * sizeof(char16_t);
    if (buffer == nullptr || bufferBytes < needed) {
        bufferBytes = static_cast<uint32_t>(needed);
        return error::kInsufficientBuffer;
    }
    std::memcpy(buffer, value.c_str(), needed);
    bufferBytes = static_cast<uint32_t>(value.size() * sizeof(char16_t));
    return error::kNone;
}

uint32_t Request::Read(void* buffer, uint32_t capacity, uint32_t& read) {
    Transfer& t = *transfer_;
    read = 0;
    if (t.readFailure != error::kNone) {
        return t.readFailure;
    }
    if (t.stage != Transfer::Stage::Ended) {
        return error::kInternetIncorrectHandleState;
    }
    auto* out = static_cast<char*>(buffer);
    while (read < capacity) {
        // WinINet's read waits until it has all it was asked for, each receive with a wait of
        // its own: it is asked only for what has come, once a wait cut to the time left has
        // brought some.
        DWORD got = 0;
        DWORD available = 0;
        uint32_t failure = t.CutWaitsToDeadline();
        if (failure == error::kNone &&
            !InternetQueryDataAvailable(t.request->get(), &available, 0, 0)) {
            failure = LastFailure();
        }
        if (failure == error::kNone && available > 0 &&
            !InternetReadFile(t.request->get(), out + read,
                              std::min<DWORD>(available, capacity - read), &got)) {
            failure = LastFailure();
        }
        // A failed read may still have taken bytes (Wine's WinINet says how many).
        read += got;
        if (failure != error::kNone) {
            t.stage = Transfer::Stage::Broken;
            if (read == 0) {
                return failure;
            }
            t.readFailure = failure;  // the bytes taken so far are the caller's
            break;
        }
        if (got == 0) {
            break;
        }
    }
    return error::kNone;
}

}  // namespace platform::internet
