// The Internet layer on libcurl: sessions and connections hold settings, and each request drives
// a transfer (platform/posix/internet_transfer.h) one step per operation.
#include "platform/internet_session.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>

#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/internet_text.h"
#include "platform/posix/curl_error.h"
#include "platform/posix/internet_transfer.h"
#include "platform/system_error.h"

namespace platform::internet {
namespace {

bool CurlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

std::string Narrow(std::u16string_view text) {
    return codepage::FromUtf16(codepage::kAnsi, text).value_or(std::string());
}

// A proxy bypass list in the Windows form ("a;b c") in curl's form ("a,b,c"). "<local>" has no
// counterpart and is left out.
std::string NoProxyList(std::string_view bypass) {
    std::string list;
    size_t start = 0;
    while (start <= bypass.size()) {
        size_t end = bypass.find_first_of("; ,", start);
        if (end == std::string_view::npos) {
            end = bypass.size();
        }
        const std::string_view entry = bypass.substr(start, end - start);
        if (!entry.empty() && entry != "<local>") {
            list += (list.empty() ? "" : ",") + std::string(entry);
        }
        start = end + 1;
    }
    return list;
}

}  // namespace

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
    if (!IsOneHeaderLine(line)) {
        return error::kInvalidParameter;
    }
    const size_t colon = line.find(':');
    const std::string_view name = line.substr(0, colon);
    // curl takes "Name:" with nothing after it as "leave this header out"; "Name;" sends it empty.
    t.headerLines.push_back(ascii::Trim(line.substr(colon + 1)).empty() ? std::string(name) + ";"
                                                                        : std::string(line));
    t.hasContentType = t.hasContentType || ascii::EqualsIgnoringCase(name, "Content-Type");
    return error::kNone;
}

uint32_t Request::Send(uint32_t bodyLength) {
    Transfer& t = *transfer_;
    if (t.stage != Transfer::Stage::Opened) {
        return error::kInternetIncorrectHandleState;
    }
    t.stage = Transfer::Stage::Broken;
    t.announced = bodyLength;
    const SessionSettings& session = t.connection.session;
    if (session.totalTimeoutMs != 0) {
        t.deadline = Transfer::Clock::now() + std::chrono::milliseconds(session.totalTimeoutMs);
    }
    if (const uint32_t failure = t.Start()) {
        return failure;
    }
    const uint32_t failure = t.DriveUntil(
        [&t] { return t.headSent; }, uint64_t{session.connectTimeoutMs} + session.receiveTimeoutMs);
    // Once the head is out, what fails afterwards belongs to the answer and shows at End.
    if (!t.headSent) {
        if (failure != error::kNone) {
            return failure;
        }
        return t.result != CURLE_OK ? FromCurl(t.result) : error::kInternetInternalError;
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
    if (size > t.announced - t.taken) {
        return error::kInvalidParameter;
    }
    if (!t.done && !t.headFinal) {
        t.pending = static_cast<const char*>(data);
        t.pendingLeft = size;
        t.sendPaused = false;
        t.ApplyPause();
        const uint32_t failure = t.DriveUntil([&t] { return t.pendingLeft == 0 || t.headFinal; },
                                              t.connection.session.receiveTimeoutMs);
        t.pending = nullptr;
        t.pendingLeft = 0;
        if (failure != error::kNone) {
            t.stage = Transfer::Stage::Broken;
            return failure;
        }
    }
    // An answer that came early wins over a failure to send the rest.
    if (t.done && t.result != CURLE_OK && !t.headFinal) {
        t.stage = Transfer::Stage::Broken;
        return FromCurl(t.result);
    }
    t.taken += size;
    written = size;
    return error::kNone;
}

uint32_t Request::End() {
    Transfer& t = *transfer_;
    if (t.stage != Transfer::Stage::Sent || t.taken < t.announced) {
        return error::kInternetIncorrectHandleState;
    }
    const uint32_t failure =
        t.DriveUntil([&t] { return t.headFinal; }, t.connection.session.receiveTimeoutMs);
    if (failure != error::kNone || !t.headFinal) {
        t.stage = Transfer::Stage::Broken;
        if (failure != error::kNone) {
            return failure;
        }
        return t.result != CURLE_OK ? FromCurl(t.result) : error::kHttpInvalidServerResponse;
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
    const std::string narrowName = Narrow(name);
    uint32_t seen = 0;
    for (const Transfer::Header& header : t.headers) {
        if (!ascii::EqualsIgnoringCase(header.name, narrowName) || seen++ != index) {
            continue;
        }
        const std::u16string value =
            codepage::ToUtf16(codepage::kAnsi, header.value).value_or(std::u16string());
        const uint64_t needed = (value.size() + 1) * sizeof(char16_t);
        if (buffer == nullptr || bufferBytes < needed) {
            bufferBytes = static_cast<uint32_t>(needed);
            return error::kInsufficientBuffer;
        }
        std::memcpy(buffer, value.c_str(), needed);
        bufferBytes = static_cast<uint32_t>(value.size() * sizeof(char16_t));
        return error::kNone;
    }
    return error::kHttpHeaderNotFound;
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
        uint32_t failure = error::kNone;
        if (t.Expired()) {
            // Bytes that came before the deadline are not handed out after it either.
            failure = error::kInternetTimeout;
        } else if (t.Buffered() > 0) {
            const size_t n = std::min<size_t>(capacity - read, t.Buffered());
            std::memcpy(out + read, t.body.data() + t.bodyRead, n);
            t.bodyRead += n;
            read += static_cast<uint32_t>(n);
            continue;
        } else if (t.done) {
            break;
        } else {
            t.recvPaused = false;
            t.ApplyPause();
            failure = t.DriveUntil([&t] { return t.Buffered() > 0; },
                                   t.connection.session.receiveTimeoutMs);
        }
        if (failure != error::kNone) {
            t.stage = Transfer::Stage::Broken;
            if (read == 0) {
                return failure;
            }
            t.readFailure = failure;  // the bytes taken so far are the caller's
            break;
        }
    }
    if (read == 0 && t.done && t.result != CURLE_OK) {
        return FromCurl(t.result);
    }
    return error::kNone;
}

Connection::Connection(std::unique_ptr<ConnectionSettings> settings)
    : settings_(std::move(settings)) {}
Connection::~Connection() = default;

uint32_t Connection::SetOption(TextOption option, std::u16string_view value) {
    switch (option) {
        case TextOption::ProxyUserName:
            settings_->proxyUserName = Narrow(value);
            return error::kNone;
        case TextOption::ProxyPassword:
            settings_->proxyPassword = Narrow(value);
            return error::kNone;
    }
    return error::kInvalidParameter;
}

std::unique_ptr<Request> Connection::OpenRequest(std::string_view verb, std::string_view objectName,
                                                 std::string_view version,
                                                 const std::vector<std::string>& acceptTypes,
                                                 uint32_t flags, uint32_t& error) const {
    const bool verbValid =
        !verb.empty() && std::all_of(verb.begin(), verb.end(), ascii::IsUpper<char>);
    if (!verbValid || (version != "HTTP/1.1" && version != "HTTP/1.0")) {
        error = error::kInvalidParameter;
        return nullptr;
    }
    auto transfer = std::make_unique<Request::Transfer>();
    transfer->connection = *settings_;
    transfer->verb = std::string(verb);
    transfer->httpVersion = version == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1;
    transfer->follow = (flags & kFlagNoAutoRedirect) == 0;
    const std::string port = settings_->port == 0 ? "" : ":" + std::to_string(settings_->port);
    transfer->url = std::string((flags & kFlagSecure) != 0 ? "https://" : "http://") +
                    settings_->host + port + RequestTarget(objectName);
    transfer->headerLines.push_back(AcceptHeaderLine(acceptTypes));
    error = error::kNone;
    return std::unique_ptr<Request>(new Request(std::move(transfer)));
}

Session::Session(std::unique_ptr<SessionSettings> settings) : settings_(std::move(settings)) {}
Session::~Session() = default;

std::unique_ptr<Session> Session::Open(std::u16string_view userAgent, Access access,
                                       std::u16string_view proxy, std::u16string_view proxyBypass,
                                       uint32_t flags, uint32_t& error) {
    const bool accessValid = access == Access::Preconfigured || access == Access::Direct ||
                             access == Access::PreconfiguredWithoutAutoProxy ||
                             (access == Access::NamedProxy && !proxy.empty());
    if (!accessValid || flags != 0) {
        error = error::kInvalidParameter;
        return nullptr;
    }
    if (!CurlReady()) {
        error = error::kInternetInternalError;
        return nullptr;
    }
    auto settings = std::make_unique<SessionSettings>();
    settings->userAgent = Narrow(userAgent);
    settings->access = access;
    settings->proxy = Narrow(proxy);
    settings->noProxy = NoProxyList(Narrow(proxyBypass));
    error = error::kNone;
    return std::unique_ptr<Session>(new Session(std::move(settings)));
}

uint32_t Session::SetOption(TimeOption option, uint32_t milliseconds) {
    if (milliseconds == 0) {
        return error::kInvalidParameter;
    }
    switch (option) {
        case TimeOption::ConnectTimeout:
            settings_->connectTimeoutMs = milliseconds;
            return error::kNone;
        case TimeOption::ReceiveTimeout:
            settings_->receiveTimeoutMs = milliseconds;
            return error::kNone;
        case TimeOption::TotalTimeout:
            settings_->totalTimeoutMs = milliseconds;
            return error::kNone;
    }
    return error::kInvalidParameter;
}

std::unique_ptr<Connection> Session::Connect(std::u16string_view host, uint16_t port,
                                             uint32_t& error) const {
    std::string urlHost = UrlHost(host);
    if (urlHost.empty()) {
        error = error::kInternetInvalidUrl;
        return nullptr;
    }
    auto settings = std::make_unique<ConnectionSettings>();
    settings->session = *settings_;
    settings->host = std::move(urlHost);
    settings->port = port;
    error = error::kNone;
    return std::unique_ptr<Connection>(new Connection(std::move(settings)));
}

}  // namespace platform::internet
