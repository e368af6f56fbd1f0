#pragma once

// The state machine of one request of the Internet layer on libcurl: an easy transfer on its own
// multi handle, driven only while one of the request's operations runs. The upload callback
// pauses the transfer when the caller has not written the next piece yet, and the download
// callback pauses it when the response bytes held ahead of reads reach their bound. That gives
// the step-by-step model of the Windows layer (head on send, body as written, response head on
// end, body as read).
#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/internet_request.h"
#include "platform/internet_session.h"
#include "platform/system_error.h"

namespace platform::internet {

struct SessionSettings {
    std::string userAgent;
    Access access = Access::Preconfigured;
    std::string proxy;
    std::string noProxy;
    Bounds bounds;
};

struct ConnectionSettings {
    SessionSettings session;
    std::string host;
    uint16_t port = 0;
    std::string proxyUserName;
    std::string proxyPassword;
};
struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Exchange {
    struct Header {
        std::string name;
        std::string value;
    };

    ~Exchange();

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
    bool done = false;
    CURLcode result = CURLE_OK;
    Clock::time_point lastActivity;
    // The end of the request's total bound, from its send on; none without one.
    std::optional<Clock::time_point> deadline;

    // Upload: the caller's piece being handed to curl.
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

    void Touch() { lastActivity = Clock::now(); }
    bool Expired() const { return deadline && Clock::now() >= *deadline; }
    size_t Buffered() const { return body.size() - bodyRead; }
    void ApplyPause();

    // Sets the transfer up from the settings and the announced body length; 0 or a failure.
    uint32_t Start(uint32_t announced);

    // Runs the transfer until `reached` holds or it is done. kInternetTimeout when nothing moved
    // for `boundMs`, or when the deadline has passed.
    uint32_t DriveUntil(const std::function<bool()>& reached, uint64_t boundMs);

  private:
    void CollectResult();
    void EndOfHead();

    static size_t ReadBody(char* buffer, size_t size, size_t count, void* user);
    static size_t ReceiveBody(char* data, size_t size, size_t count, void* user);
    static size_t ReceiveHeader(char* data, size_t size, size_t count, void* user);
    // Marks the head of this request (not that of a proxy tunnel's CONNECT) as gone out.
    static int Trace(CURL*, curl_infotype type, char* data, size_t size, void* user);
};

}  // namespace platform::internet
