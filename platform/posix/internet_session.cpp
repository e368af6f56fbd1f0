// The Internet layer on libcurl. A request is one easy transfer on its own multi handle, driven
// only while one of the request's operations runs: the upload callback pauses the transfer when
// the caller has not written the next piece yet, and the download callback pauses it when the
// response bytes held ahead of reads reach their bound. That gives the step-by-step model of
// the Windows layer (head on send, body as written, response head on end, body as read).
#include "platform/internet_session.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/percent_encoding.h"
#include "platform/system_error.h"

namespace platform::internet {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

constexpr uint32_t kDefaultConnectTimeoutMs = 10000;
constexpr uint32_t kDefaultReceiveTimeoutMs = 30000;
constexpr long kMaxRedirects = 10;
// Response bytes held ahead of reads; one more download piece of curl may come on top.
constexpr size_t kBodyBufferLimit = 64 * 1024;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

bool CurlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

std::string Narrow(std::u16string_view text) {
    return codepage::FromUtf16(codepage::kAnsi, text).value_or(std::string());
}

bool IsHexOrColon(char16_t c) {
    return ascii::HexDigitValue(c) >= 0 || c == u':' || c == u'.';
}

// The host as it stands in a URL, or empty when it is not a host name or address: nothing in
// it may change the meaning of the URL it is put into.
std::string UrlHost(std::u16string_view host) {
    std::u16string_view address = host;
    if (!host.empty() && host.front() == u'[') {
        if (host.size() < 3 || host.back() != u']') {
            return {};
        }
        address = host.substr(1, host.size() - 2);
    }
    if (address.find(u':') != std::u16string_view::npos) {
        if (!std::all_of(address.begin(), address.end(), IsHexOrColon)) {
            return {};
        }
        return "[" + codepage::Utf16ToUtf8(address) + "]";
    }
    const bool valid = !host.empty() && std::all_of(host.begin(), host.end(), [](char16_t c) {
        return ascii::IsAlphanumeric(c) || c == u'-' || c == u'.' || c == u'_' || c >= 0x80;
    });
    return valid ? codepage::Utf16ToUtf8(host) : std::string();
}

// The request target with every byte that may not stand in a request line percent-encoded.
std::string RequestTarget(std::string_view objectName) {
    std::string target;
    if (objectName.empty() || objectName.front() != '/') {
        target.push_back('/');
    }
    for (const char c : objectName) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr) {
            AppendPercentEncoded(target, byte);
        } else {
            target.push_back(c);
        }
    }
    return target;
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

uint32_t FromCurl(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return error::kNone;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return error::kInternetUnrecognizedScheme;
        case CURLE_URL_MALFORMAT:
            return error::kInternetInvalidUrl;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
            return error::kInternetNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return error::kInternetCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return error::kInternetTimeout;
        case CURLE_OUT_OF_MEMORY:
            return error::kNotEnoughMemory;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return error::kInternetInvalidCa;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_USE_SSL_FAILED:
            return error::kInternetSecurityChannelError;
        case CURLE_TOO_MANY_REDIRECTS:
        case CURLE_SEND_FAIL_REWIND:
            return error::kHttpRedirectFailed;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
            return error::kHttpInvalidServerResponse;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return error::kInternetConnectionReset;
        case CURLE_PARTIAL_FILE:
            return error::kInternetConnectionAborted;
        default:
            return error::kInternetInternalError;
    }
}

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

struct SessionSettings {
    std::string userAgent;
    Access access = Access::Preconfigured;
    std::string proxy;
    std::string noProxy;
    uint32_t connectTimeoutMs = kDefaultConnectTimeoutMs;
    uint32_t receiveTimeoutMs = kDefaultReceiveTimeoutMs;
};

struct ConnectionSettings {
    SessionSettings session;
    std::string host;
    uint16_t port = 0;
    std::string proxyUserName;
    std::string proxyPassword;
};

struct Request::Transfer {
    struct Header {
        std::string name;
        std::string value;
    };
    enum class Stage { Opened, Sent, Ended, Broken };

    ~Transfer() {
        if (multi && easy) {
            curl_multi_remove_handle(multi.get(), easy.get());
        }
    }

    ConnectionSettings connection;
    std::string verb;
    std::string url;
    long httpVersion = CURL_HTTP_VERSION_1_1;
    bool follow = true;
    std::vector<std::string> headerLines;
    bool hasContentType = false;

    // In this order, the transfer goes before the multi handle and the header list it uses.
    std::unique_ptr<curl_slist, ListDeleter> headerList;
    std::unique_ptr<CURLM, MultiDeleter> multi;
    std::unique_ptr<CURL, EasyDeleter> easy;
    Stage stage = Stage::Opened;
    bool done = false;
    CURLcode result = CURLE_OK;
    Clock::time_point lastActivity;

    // Upload: the caller's piece being handed to curl, and the bytes taken so far.
    uint64_t announced = 0;
    uint64_t taken = 0;
    const char* pending = nullptr;
    size_t pendingLeft = 0;
    bool sendPaused = false;
    bool headSent = false;

    // Download: the head of the latest response, and body bytes not yet read.
    std::vector<Header> headers;
    long status = 0;
    bool headFinal = false;
    bool awaitingRedirect = false;
    std::string body;
    size_t bodyRead = 0;
    bool recvPaused = false;
    // A failure met by a read that had already taken bytes; the next read reports it.
    uint32_t readFailure = error::kNone;

    void Touch() { lastActivity = Clock::now(); }
    size_t Buffered() const { return body.size() - bodyRead; }

    void ApplyPause() {
        if (!done) {
            curl_easy_pause(easy.get(),
                            (sendPaused ? CURLPAUSE_SEND : 0) | (recvPaused ? CURLPAUSE_RECV : 0));
        }
    }

    uint32_t Start();

    // Runs the transfer until `reached` holds or it is done. kInternetTimeout when nothing moved
    // for `boundMs`.
    template <typename Condition>
    uint32_t DriveUntil(Condition reached, uint64_t boundMs) {
        Touch();
        while (!reached() && !done) {
            int running = 0;
            if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
                return error::kInternetInternalError;
            }
            CollectResult();
            if (reached() || done) {
                break;
            }
            // Once the answer has come, the rest of the body is not wanted: curl asks for it
            // again and hears that it has ended, so the transfer can finish with the answer.
            if (headFinal && sendPaused) {
                sendPaused = false;
                ApplyPause();
            }
            const auto idle = std::chrono::duration_cast<Milliseconds>(Clock::now() - lastActivity);
            if (idle >= Milliseconds(boundMs)) {
                return error::kInternetTimeout;
            }
            const auto wait = std::min<int64_t>(static_cast<int64_t>(boundMs) - idle.count(), 1000);
            curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(wait), nullptr);
        }
        return error::kNone;
    }

    void CollectResult() {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
            if (message->msg == CURLMSG_DONE) {
                done = true;
                result = message->data.result;
                // A redirection that was not followed is the final answer.
                headFinal = headFinal || awaitingRedirect;
            }
        }
    }

    static size_t ReadBody(char* buffer, size_t size, size_t count, void* user) {
        auto* self = static_cast<Transfer*>(user);
        if (self->headFinal) {
            return 0;
        }
        if (self->pendingLeft == 0) {
            self->sendPaused = true;
            return CURL_READFUNC_PAUSE;
        }
        const size_t n = std::min(size * count, self->pendingLeft);
        std::memcpy(buffer, self->pending, n);
        self->pending += n;
        self->pendingLeft -= n;
        self->Touch();
        return n;
    }

    static size_t ReceiveBody(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Transfer*>(user);
        // curl drops the body of a redirection it follows, so body bytes mean a final answer.
        self->headFinal = true;
        if (self->Buffered() >= kBodyBufferLimit) {
            self->recvPaused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (self->bodyRead > 0) {
            self->body.erase(0, self->bodyRead);
            self->bodyRead = 0;
        }
        self->body.append(data, size * count);
        self->Touch();
        return size * count;
    }

    static size_t ReceiveHeader(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Transfer*>(user);
        self->Touch();
        const size_t length = size * count;
        if (self->headFinal) {
            return length;  // trailers of a chunked body
        }
        std::string_view line(data, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        if (line.substr(0, 5) == "HTTP/") {
            self->headers.clear();
            self->awaitingRedirect = false;
            const size_t blank = line.find(' ');
            self->status =
                blank == std::string_view::npos
                    ? 0
                    : std::strtol(std::string(line.substr(blank + 1, 3)).c_str(), nullptr, 10);
        } else if (line.empty()) {
            self->EndOfHead();
        } else if ((line.front() == ' ' || line.front() == '\t') && !self->headers.empty()) {
            self->headers.back().value += " " + std::string(Trim(line));
        } else if (const size_t colon = line.find(':'); colon != std::string_view::npos) {
            self->headers.push_back({std::string(Trim(line.substr(0, colon))),
                                     std::string(Trim(line.substr(colon + 1)))});
        }
        return length;
    }

    void EndOfHead() {
        if (status >= 100 && status < 200) {
            return;  // an interim answer; the real one follows
        }
        const bool redirect = follow && status >= 300 && status < 400 &&
                              std::any_of(headers.begin(), headers.end(), [](const Header& h) {
                                  return ascii::EqualsIgnoringCase(h.name, "Location");
                              });
        if (redirect) {
            awaitingRedirect = true;  // followed (a new head comes) unless curl declines
        } else {
            headFinal = true;
        }
    }

    // The head of this request (not that of a proxy tunnel's CONNECT) has gone out.
    static int Trace(CURL*, curl_infotype type, char* data, size_t size, void* user) {
        auto* self = static_cast<Transfer*>(user);
        const std::string_view text(data, size);
        if (type == CURLINFO_HEADER_OUT && text.size() > self->verb.size() &&
            text.substr(0, self->verb.size()) == self->verb && text[self->verb.size()] == ' ') {
            self->headSent = true;
        }
        return 0;
    }
};

uint32_t Request::Transfer::Start() {
    multi.reset(curl_multi_init());
    easy.reset(curl_easy_init());
    if (!multi || !easy) {
        return error::kNotEnoughMemory;
    }
    curl_slist* list = nullptr;
    const auto append = [&list](const std::string& line) {
        curl_slist* grown = curl_slist_append(list, line.c_str());
        if (grown != nullptr) {
            list = grown;
        }
        return grown != nullptr;
    };
    bool listed = true;
    for (const std::string& line : headerLines) {
        listed = listed && append(line);
    }
    // curl's own additions are not part of this request.
    listed = listed && append("Expect:") && (hasContentType || append("Content-Type:"));
    headerList.reset(list);
    if (!listed) {
        return error::kNotEnoughMemory;
    }

    CURL* e = easy.get();
    const SessionSettings& session = connection.session;
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, httpVersion);
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(announced));
    if (verb != "POST") {
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }
    if (!session.userAgent.empty()) {
        curl_easy_setopt(e, CURLOPT_USERAGENT, session.userAgent.c_str());
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(e, CURLOPT_READFUNCTION, &Transfer::ReadBody);
    curl_easy_setopt(e, CURLOPT_READDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::ReceiveBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::ReceiveHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &Transfer::Trace);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(session.connectTimeoutMs));
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (session.access == Access::Direct) {
        curl_easy_setopt(e, CURLOPT_PROXY, "");
    } else if (session.access == Access::NamedProxy) {
        curl_easy_setopt(e, CURLOPT_PROXY, session.proxy.c_str());
        curl_easy_setopt(e, CURLOPT_NOPROXY, session.noProxy.c_str());
    }
    if (!connection.proxyUserName.empty() || !connection.proxyPassword.empty()) {
        curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, connection.proxyUserName.c_str());
        curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, connection.proxyPassword.c_str());
    }
    if (curl_multi_add_handle(multi.get(), e) != CURLM_OK) {
        return error::kInternetInternalError;
    }
    return error::kNone;
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
    const size_t colon = line.find(':');
    const std::string_view name = colon == std::string_view::npos ? "" : line.substr(0, colon);
    const bool nameValid = !name.empty() && name.find_first_of(" \t") == std::string_view::npos;
    if (!nameValid || line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        return error::kInvalidParameter;
    }
    // curl takes "Name:" with nothing after it as "leave this header out"; "Name;" sends it empty.
    t.headerLines.push_back(Trim(line.substr(colon + 1)).empty() ? std::string(name) + ";"
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
    if (const uint32_t failure = t.Start()) {
        return failure;
    }
    const SessionSettings& session = t.connection.session;
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
        if (t.Buffered() > 0) {
            const size_t n = std::min<size_t>(capacity - read, t.Buffered());
            std::memcpy(out + read, t.body.data() + t.bodyRead, n);
            t.bodyRead += n;
            read += static_cast<uint32_t>(n);
            continue;
        }
        if (t.done) {
            break;
        }
        t.recvPaused = false;
        t.ApplyPause();
        const uint32_t failure =
            t.DriveUntil([&t] { return t.Buffered() > 0; }, t.connection.session.receiveTimeoutMs);
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
    std::string accept = "Accept:";
    for (size_t i = 0; i < acceptTypes.size(); ++i) {
        accept += (i == 0 ? " " : ", ") + acceptTypes[i];
    }
    transfer->headerLines.push_back(accept);
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
