// The Internet layer's request steps and argument checks, the same on every system: the order of
// the steps, the announced body, the total bound, the header query's buffer and the read failure
// held back. The transport under them is the system's.
#include "platform/internet_request.h"

#include <algorithm>
#include <cstring>

#include "platform/ascii.h"
#include "platform/internet_text.h"

namespace platform::internet {

uint32_t SetBound(Bounds& bounds, TimeOption option, uint32_t milliseconds) {
    if (milliseconds == 0) {
        return error::kInvalidParameter;
    }
    switch (option) {
        case TimeOption::ConnectTimeout:
            bounds.connectMs = milliseconds;
            return error::kNone;
        case TimeOption::ReceiveTimeout:
            bounds.receiveMs = milliseconds;
            return error::kNone;
        case TimeOption::TotalTimeout:
            bounds.totalMs = milliseconds;
            return error::kNone;
    }
    return error::kInvalidParameter;
}

Result<std::unique_ptr<Session>> Session::Open(std::u16string_view userAgent, Access access,
                                               std::u16string_view proxy,
                                               std::u16string_view proxyBypass, uint32_t flags) {
    const bool accessValid = access == Access::Preconfigured || access == Access::Direct ||
                             access == Access::PreconfiguredWithoutAutoProxy ||
                             (access == Access::NamedProxy && !proxy.empty());
    if (!accessValid || flags != 0) {
        return Result<std::unique_ptr<Session>>::Failure(error::kInvalidParameter);
    }
    return TransportOpen(userAgent, access, proxy, proxyBypass);
}

Result<std::unique_ptr<Connection>> Session::Connect(std::u16string_view host,
                                                     uint16_t port) const {
    const std::string urlHost = UrlHost(host);
    if (urlHost.empty()) {
        return Result<std::unique_ptr<Connection>>::Failure(error::kInternetInvalidUrl);
    }
    return TransportConnect(urlHost, port);
}

Result<std::unique_ptr<Request>> Connection::OpenRequest(
    std::string_view verb, std::string_view objectName, std::string_view version,
    const std::vector<std::string>& acceptTypes, uint32_t flags) const {
    const bool verbValid =
        !verb.empty() && std::all_of(verb.begin(), verb.end(), ascii::IsUpper<char>);
    if (!verbValid || (version != "HTTP/1.1" && version != "HTTP/1.0")) {
        return Result<std::unique_ptr<Request>>::Failure(error::kInvalidParameter);
    }
    return TransportOpenRequest(verb, objectName, version, acceptTypes, flags);
}

// The settings and the exchange are the transport's types: shared pointers destroy them with the
// deleters the transport made them with, so that these frames are the same on every system.
Session::Session(std::shared_ptr<SessionSettings> settings) : settings_(std::move(settings)) {}
Session::~Session() = default;

Connection::Connection(std::shared_ptr<ConnectionSettings> settings)
    : settings_(std::move(settings)) {}
Connection::~Connection() = default;

Request::Request(std::shared_ptr<Exchange> exchange, uint32_t totalMs)
    : transfer_(std::make_unique<Transfer>()) {
    transfer_->exchange = std::move(exchange);
    transfer_->totalMs = totalMs;
}
Request::~Request() = default;

uint32_t Request::AddHeader(std::string_view line) {
    if (transfer_->stage != Transfer::Stage::Opened) {
        return error::kInternetIncorrectHandleState;
    }
    if (line.size() >= 2 && line.substr(line.size() - 2) == "\r\n") {
        line.remove_suffix(2);
    }
    // A transport would take several lines in one, or turn a bad one into a failure of its own.
    if (!IsOneHeaderLine(line)) {
        return error::kInvalidParameter;
    }
    return AddHeaderLine(*transfer_, line);
}

uint32_t Request::Send(uint32_t bodyLength) {
    Transfer& t = *transfer_;
    if (t.stage != Transfer::Stage::Opened) {
        return error::kInternetIncorrectHandleState;
    }
    t.stage = Transfer::Stage::Broken;
    t.announced = bodyLength;
    if (t.totalMs != 0) {
        t.deadline = Clock::now() + std::chrono::milliseconds(t.totalMs);
    }
    if (const uint32_t failure = SendHead(t)) {
        return failure;
    }
    t.stage = Transfer::Stage::Sent;
    return error::kNone;
}

Result<uint32_t> Request::Write(const void* data, uint32_t size) {
    Transfer& t = *transfer_;
    if (t.stage != Transfer::Stage::Sent) {
        return Result<uint32_t>::Failure(error::kInternetIncorrectHandleState);
    }
    // Sent, they would reach the server as the start of another request.
    if (size > t.announced - t.taken) {
        return Result<uint32_t>::Failure(error::kInvalidParameter);
    }
    uint32_t taken = 0;
    if (const uint32_t failure = WriteBody(t, data, size, taken)) {
        t.stage = Transfer::Stage::Broken;
        return Result<uint32_t>::Failure(failure);
    }
    t.taken += taken;
    return taken;
}

uint32_t Request::End() {
    Transfer& t = *transfer_;
    if (t.stage != Transfer::Stage::Sent || t.taken < t.announced) {
        return error::kInternetIncorrectHandleState;
    }
    if (const uint32_t failure = EndRequest(t)) {
        t.stage = Transfer::Stage::Broken;
        return failure;
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
    if (const uint32_t failure = FindHeader(t, name, index, value)) {
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

Result<uint32_t> Request::Read(void* buffer, uint32_t capacity) {
    Transfer& t = *transfer_;
    if (t.readFailure != error::kNone) {
        return Result<uint32_t>::Failure(t.readFailure);
    }
    if (t.stage != Transfer::Stage::Ended) {
        return Result<uint32_t>::Failure(error::kInternetIncorrectHandleState);
    }
    uint32_t read = 0;
    const uint32_t failure = ReadBody(t, static_cast<char*>(buffer), capacity, read);
    if (failure == error::kNone) {
        return read;
    }
    t.stage = Transfer::Stage::Broken;
    if (read == 0) {
        return Result<uint32_t>::Failure(failure);
    }
    t.readFailure = failure;  // the bytes taken so far are the caller's
    return read;
}

}  // namespace platform::internet
