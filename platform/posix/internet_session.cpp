// The Internet layer on libcurl: sessions and connections hold settings, and each step of a
// request drives its transfer (platform/posix/internet_transfer.h) until that step is done.
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

uint32_t AddHeaderLine(Request::Transfer& transfer, std::string_view line) {
    Exchange& x = *transfer.exchange;
    const size_t colon = line.find(':');
    const std::string_view name = line.substr(0, colon);
    // curl takes "Name:" with nothing after it as "leave this header out"; "Name;" sends it empty.
    x.headerLines.push_back(ascii::Trim(line.substr(colon + 1)).empty() ? std::string(name) + ";"
                                                                        : std::string(line));
    x.hasContentType = x.hasContentType || ascii::EqualsIgnoringCase(name, "Content-Type");
    return error::kNone;
}

uint32_t SendHead(Request::Transfer& transfer) {
    Exchange& x = *transfer.exchange;
    x.deadline = transfer.deadline;
    if (const uint32_t failure = x.Start(transfer.announced)) {
        return failure;
    }
    const Bounds& bounds = x.connection.session.bounds;
    const uint32_t failure =
        x.DriveUntil([&x] { return x.headSent; }, uint64_t{bounds.connectMs} + bounds.receiveMs);
    // Once the head is out, what fails afterwards belongs to the answer and shows at the end.
    if (!x.headSent) {
        if (failure != error::kNone) {
            return failure;
        }
        return x.result != CURLE_OK ? FromCurl(x.result) : error::kInternetInternalError;
    }
    return error::kNone;
}

uint32_t WriteBody(Request::Transfer& transfer, const void* data, uint32_t size,
                   uint32_t& written) {
    Exchange& x = *transfer.exchange;
    if (!x.done && !x.headFinal) {
        x.pending = static_cast<const char*>(data);
        x.pendingLeft = size;
        x.sendPaused = false;
        x.ApplyPause();
        const uint32_t failure = x.DriveUntil([&x] { return x.pendingLeft == 0 || x.headFinal; },
                                              x.connection.session.bounds.receiveMs);
        x.pending = nullptr;
        x.pendingLeft = 0;
        if (failure != error::kNone) {
            return failure;
        }
    }
    // An answer that came early wins over a failure to send the rest.
    if (x.done && x.result != CURLE_OK && !x.headFinal) {
        return FromCurl(x.result);
    }
    written = size;
    return error::kNone;
}

uint32_t EndRequest(Request::Transfer& transfer) {
    Exchange& x = *transfer.exchange;
    const uint32_t failure =
        x.DriveUntil([&x] { return x.headFinal; }, x.connection.session.bounds.receiveMs);
    if (failure != error::kNone) {
        return failure;
    }
    if (!x.headFinal) {
        return x.result != CURLE_OK ? FromCurl(x.result) : error::kHttpInvalidServerResponse;
    }
    return error::kNone;
}

uint32_t FindHeader(const Request::Transfer& transfer, std::u16string_view name, uint32_t index,
                    std::u16string& value) {
    const std::string narrowName = Narrow(name);
    uint32_t seen = 0;
    for (const Exchange::Header& header : transfer.exchange->headers) {
        if (ascii::EqualsIgnoringCase(header.name, narrowName) && seen++ == index) {
            value = codepage::ToUtf16(codepage::kAnsi, header.value).value_or(std::u16string());
            return error::kNone;
        }
    }
    return error::kHttpHeaderNotFound;
}

uint32_t ReadBody(Request::Transfer& transfer, char* out, uint32_t capacity, uint32_t& read) {
    Exchange& x = *transfer.exchange;
    while (read < capacity) {
        if (x.Expired()) {
            // Bytes that came before the deadline are not handed out after it either.
            return error::kInternetTimeout;
        }
        if (x.Buffered() > 0) {
            const size_t n = std::min<size_t>(capacity - read, x.Buffered());
            std::memcpy(out + read, x.body.data() + x.bodyRead, n);
            x.bodyRead += n;
            read += static_cast<uint32_t>(n);
            continue;
        }
        if (x.done) {
            break;
        }
        x.recvPaused = false;
        x.ApplyPause();
        if (const uint32_t failure = x.DriveUntil([&x] { return x.Buffered() > 0; },
                                                  x.connection.session.bounds.receiveMs)) {
            return failure;
        }
    }
    if (read == 0 && x.done && x.result != CURLE_OK) {
        return FromCurl(x.result);
    }
    return error::kNone;
}

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

Result<std::unique_ptr<Request>> Connection::TransportOpenRequest(
    std::string_view verb, std::string_view objectName, std::string_view version,
    const std::vector<std::string>& acceptTypes, uint32_t flags) const {
    auto exchange = std::make_shared<Exchange>();
    exchange->connection = *settings_;
    exchange->verb = std::string(verb);
    exchange->httpVersion = version == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1;
    exchange->follow = (flags & kFlagNoAutoRedirect) == 0;
    const std::string port = settings_->port == 0 ? "" : ":" + std::to_string(settings_->port);
    exchange->url = std::string((flags & kFlagSecure) != 0 ? "https://" : "http://") +
                    settings_->host + port + RequestTarget(objectName);
    exchange->headerLines.push_back(AcceptHeaderLine(acceptTypes));
    const uint32_t totalMs = settings_->session.bounds.totalMs;
    return std::unique_ptr<Request>(new Request(std::move(exchange), totalMs));
}

Result<std::unique_ptr<Session>> Session::TransportOpen(std::u16string_view userAgent,
                                                        Access access, std::u16string_view proxy,
                                                        std::u16string_view proxyBypass) {
    if (!CurlReady()) {
        return Result<std::unique_ptr<Session>>::Failure(error::kInternetInternalError);
    }
    auto settings = std::make_shared<SessionSettings>();
    settings->userAgent = Narrow(userAgent);
    settings->access = access;
    settings->proxy = Narrow(proxy);
    settings->noProxy = NoProxyList(Narrow(proxyBypass));
    return std::unique_ptr<Session>(new Session(std::move(settings)));
}

uint32_t Session::SetOption(TimeOption option, uint32_t milliseconds) {
    return SetBound(settings_->bounds, option, milliseconds);
}

Result<std::unique_ptr<Connection>> Session::TransportConnect(const std::string& urlHost,
                                                              uint16_t port) const {
    auto settings = std::make_shared<ConnectionSettings>();
    settings->session = *settings_;
    settings->host = urlHost;
    settings->port = port;
    return std::unique_ptr<Connection>(new Connection(std::move(settings)));
}

}  // namespace platform::internet
