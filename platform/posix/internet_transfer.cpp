#include "platform/posix/internet_transfer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/ascii.h"

namespace platform::internet {
namespace {

using Milliseconds = std::chrono::milliseconds;

constexpr long kMaxRedirects = 10;
// Response bytes held ahead of reads; one more download piece of curl may come on top.
constexpr size_t kBodyBufferLimit = 64 * 1024;

}  // namespace

Exchange::~Exchange() {
    if (multi && easy) {
        curl_multi_remove_handle(multi.get(), easy.get());
    }
}

void Exchange::ApplyPause() {
    if (!done) {
        curl_easy_pause(easy.get(),
                        (sendPaused ? CURLPAUSE_SEND : 0) | (recvPaused ? CURLPAUSE_RECV : 0));
    }
}

uint32_t Exchange::Start(uint32_t announced) {
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
    curl_easy_setopt(e, CURLOPT_READFUNCTION, &Exchange::ReadBody);
    curl_easy_setopt(e, CURLOPT_READDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Exchange::ReceiveBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Exchange::ReceiveHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    // Send must know when the head of the request has gone out: a failure before that (no
    // connection, the head not sent) is its own, one after it belongs to the answer, as in the
    // Windows layer. libcurl tells that only to a debug callback (CURLINFO_HEADER_OUT), and calls
    // one only with verbose output on; with a callback of its own, that output goes nowhere else.
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &Exchange::Trace);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(session.bounds.connectMs));
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

uint32_t Exchange::DriveUntil(const std::function<bool()>& reached, uint64_t boundMs) {
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
        const auto now = Clock::now();
        const auto idle = std::chrono::duration_cast<Milliseconds>(now - lastActivity);
        if (idle >= Milliseconds(boundMs) || Expired()) {
            return error::kInternetTimeout;
        }
        int64_t wait = std::min<int64_t>(static_cast<int64_t>(boundMs) - idle.count(), 1000);
        if (deadline) {
            const auto left = std::chrono::ceil<Milliseconds>(*deadline - now);
            wait = std::min<int64_t>(wait, left.count());
        }
        curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(wait), nullptr);
    }
    return error::kNone;
}

void Exchange::CollectResult() {
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

size_t Exchange::ReadBody(char* buffer, size_t size, size_t count, void* user) {
    auto* self = static_cast<Exchange*>(user);
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

size_t Exchange::ReceiveBody(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Exchange*>(user);
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

size_t Exchange::ReceiveHeader(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Exchange*>(user);
    self->Touch();
    const size_t length = size * count;
    if (self->headFinal) {
        return length;  // trailers of a chunked body
    }
    std::string_view ended(data, length);
    while (!ended.empty() && (ended.back() == '\n' || ended.back() == '\r')) {
        ended.remove_suffix(1);
    }
    // A bare CR inside the line is no line end; it is taken as a blank, as HTTP asks of a
    // recipient, so that no header value carries one.
    std::string text(ended);
    std::replace(text.begin(), text.end(), '\r', ' ');
    const std::string_view line = text;
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
        self->headers.back().value += " " + std::string(ascii::Trim(line));
    } else if (const size_t colon = line.find(':'); colon != std::string_view::npos) {
        self->headers.push_back({std::string(ascii::Trim(line.substr(0, colon))),
                                 std::string(ascii::Trim(line.substr(colon + 1)))});
    }
    return length;
}

void Exchange::EndOfHead() {
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

int Exchange::Trace(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* self = static_cast<Exchange*>(user);
    const std::string_view text(data, size);
    if (type == CURLINFO_HEADER_OUT && text.size() > self->verb.size() &&
        text.substr(0, self->verb.size()) == self->verb && text[self->verb.size()] == ' ') {
        self->headSent = true;
    }
    return 0;
}

}  // namespace platform::internet
