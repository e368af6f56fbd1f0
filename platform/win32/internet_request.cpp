// The Internet layer on WinINet: what WinINet does in each step of one request.
#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/internet_request.h"
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

// WinINet bounds each wait alone: every step cuts its waits to the time left of the request's
// total bound; kInternetTimeout when none is left.
uint32_t CutWaitsToDeadline(const Request::Transfer& transfer) {
    if (!transfer.deadline) {
        return error::kNone;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*transfer.deadline - Clock::now());
    if (left.count() <= 0) {
        return error::kInternetTimeout;
    }
    const Exchange& x = *transfer.exchange;
    return SetBounds(x.request->get(), x.bounds, static_cast<uint32_t>(left.count()));
}

}  // namespace

uint32_t AddHeaderLine(Request::Transfer& transfer, std::string_view line) {
    const std::string text(line);
    return HttpAddRequestHeadersA(transfer.exchange->request->get(), text.c_str(),
                                  static_cast<DWORD>(text.size()), HTTP_ADDREQ_FLAG_ADD)
               ? error::kNone
               : LastFailure();
}

uint32_t SendHead(Request::Transfer& transfer) {
    const Exchange& x = *transfer.exchange;
    if (const uint32_t failure = CutWaitsToDeadline(transfer)) {
        return failure;
    }
    INTERNET_BUFFERSW buffers = {};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = transfer.announced;
    if (!HttpSendRequestExW(x.request->get(), &buffers, nullptr, 0, 0)) {
        return LastFailure();
    }
    // The body of a secure request never goes out in the clear. Wine's WinINet sends a secure
    // request through a proxy without setting up the proxy's tunnel.
    if (x.secure && !IsSecured(x.request->get())) {
        return error::kInternetSecurityChannelError;
    }
    return error::kNone;
}

uint32_t WriteBody(Request::Transfer& transfer, const void* data, uint32_t size,
                   uint32_t& written) {
    if (const uint32_t failure = CutWaitsToDeadline(transfer)) {
        return failure;
    }
    DWORD sent = 0;
    if (!InternetWriteFile(transfer.exchange->request->get(), data, size, &sent)) {
        return LastFailure();
    }
    written = sent;
    return error::kNone;
}

uint32_t EndRequest(Request::Transfer& transfer) {
    const HINTERNET request = transfer.exchange->request->get();
    if (const uint32_t failure = CutWaitsToDeadline(transfer)) {
        return failure;
    }
    if (!HttpEndRequestW(request, nullptr, 0, 0)) {
        return LastFailure();
    }
    // A server that closed without a word is no answer; Wine's WinINet ends such a request as if
    // an empty one had come.
    if (StatusCode(request) == 0) {
        return error::kHttpInvalidServerResponse;
    }
    return error::kNone;
}

uint32_t FindHeader(const Request::Transfer& transfer, std::u16string_view name, uint32_t index,
                    std::u16string& value) {
    return CustomHeader(transfer.exchange->request->get(), name, index, value);
}

uint32_t ReadBody(Request::Transfer& transfer, char* out, uint32_t capacity, uint32_t& read) {
    const HINTERNET request = transfer.exchange->request->get();
    while (read < capacity) {
        // WinINet's read waits until it has all it was asked for, each receive with a wait of
        // its own: it is asked only for what has come, once a wait cut to the time left has
        // brought some.
        DWORD got = 0;
        DWORD available = 0;
        uint32_t failure = CutWaitsToDeadline(transfer);
        if (failure == error::kNone && !InternetQueryDataAvailable(request, &available, 0, 0)) {
            failure = LastFailure();
        }
        if (failure == error::kNone && available > 0 &&
            !InternetReadFile(request, out + read, std::min<DWORD>(available, capacity - read),
                              &got)) {
            failure = LastFailure();
        }
        // A failed read may still have taken bytes (Wine's WinINet says how many).
        read += got;
        if (failure != error::kNone) {
            return failure;
        }
        if (got == 0) {
            break;
        }
    }
    return error::kNone;
}

}  // namespace platform::internet
