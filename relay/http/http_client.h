#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/guid.h"
#include "relay/http/http_client_map.h"
#include "relay/http/http_error.h"
#include "relay/http/http_post_stat.h"
#include "relay/http/http_response.h"
#include "relay/http/http_tool.h"

namespace Osmer {

// Request flags the client acts on itself; the others go to the platform as they are.
namespace RequestFlag {
constexpr uint32_t PragmaNoCache = 0x00000100;  // adds "Cache-Control: no-cache"
constexpr uint32_t Secure = platform::internet::kFlagSecure;
}  // namespace RequestFlag

// The HTTP client: posts a form (URL-encoded parameters) or uploads files and values
// (multipart/form-data) step by step. StartPost or StartUpload opens a post context, each
// ProceedPost call writes one piece until the last one ends the request and hands back the
// response; QueryPostStat shows the progress in between. Every failure is thrown as an
// httpclientexceptionW. Used by one thread at a time.
class CHttpClientT {
  public:
    static constexpr const char16_t* kDefaultUserAgent = u"Osmer HTTP Client Class";
    // The boundary of uploads when the client could not make one of its own.
    static constexpr const char16_t* kFixedBoundary =
        u"----OSMER-FB3B405B7EAE495aB0C0295C54D4E096-";
    static constexpr uint32_t kPieceSize = 1024;

    // A client whose upload boundary comes from a fresh identifier.
    CHttpClientT();
    // A client whose upload boundary comes from `guid`; none: uploads use kFixedBoundary.
    explicit CHttpClientT(const platform::Result<platform::Guid>& guid);
    virtual ~CHttpClientT();
    CHttpClientT(const CHttpClientT&) = delete;
    CHttpClientT& operator=(const CHttpClientT&) = delete;

    // How the internet is reached: the user agent (null: kDefaultUserAgent), the access type
    // (0 preconfigured, 1 direct, 3 named proxy), the proxy and its bypass list (null: none)
    // and the open flags (none are supported but 0). Takes effect with the next post.
    void SetInternetSettings(const char16_t* userAgent, uint32_t accessType,
                             const char16_t* proxyName, const char16_t* proxyBypass,
                             uint32_t openFlags);
    // The longest each post may take, from its start to the last read of its response, in
    // milliseconds; past it the post's steps and reads fail. 0, as at construction: no bound but
    // the platform's waits without progress. Takes effect with the next post.
    void SetTotalTimeout(uint32_t milliseconds) { totalTimeoutMs_ = milliseconds; }
    // The proxy account, applied to each connection when both texts are non-empty.
    void SetProxyAccount(const char16_t* userName, const char16_t* password);

    // Parameter texts as UTF-8 instead of the code page; refused while a post is active.
    void SetUseUtf8(bool useUtf8);
    bool UseUtf8() const { return useUtf8_; }
    // The code page of texts on the wire, 0 for the system's ANSI code page. UTF-8 and UTF-7
    // are refused by every operation that uses it.
    void SetCodePage(unsigned codePage) { codePage_ = codePage; }
    unsigned CodePage() const { return codePage_; }

    // Request headers, sent in map order after the platform's own.
    CHttpClientMapT& Headers() { return headers_; }
    // Parameters of the next post, with the flags of ParamFlag.
    CHttpClientMapT& Params() { return params_; }

    // The upload boundary; none when the client could not make one.
    const std::optional<std::u16string>& Boundary() const { return boundary_; }

    void StartPost(const char16_t* url, uint32_t flags);
    void StartUpload(const char16_t* url, uint32_t flags);
    // One step of the post: null while it goes on, the response (the caller's) at the end.
    std::unique_ptr<CHttpResponseT> ProceedPost();
    void QueryPostStat(CHttpPostStatT& stat) const;
    // Ends an active post context early, closing its handles. Harmless when none is active.
    void EndPostContext();

    // The steps of a start, each on a handle of the step before; a null handle is refused.
    // A connection for the URL's host and port, with the proxy account applied.
    std::unique_ptr<ConnectionHandle> OpenConnection(InternetHandle* hInternet,
                                                     const char16_t* url) const;
    // Sets the proxy account on the connection when both its texts are non-empty.
    void ApplyProxyAccount(ConnectionHandle* hConnection) const;
    // A POST request for the URL's object name; "Cache-Control: no-cache" for PragmaNoCache.
    std::unique_ptr<RequestHandle> OpenRequest(ConnectionHandle* hConnection, const char16_t* url,
                                               uint32_t flags) const;
    // Adds every request header, in map order.
    void AddRequestHeader(RequestHandle* hRequest) const;

  private:
    struct Part;
    struct PostContext;

    void Start(const char16_t* url, uint32_t flags, bool upload);
    std::vector<Part> FormParts() const;
    std::vector<Part> UploadParts() const;
    std::unique_ptr<CHttpResponseT> Step();
    void StartPart();
    void WriteContentPiece();
    void Write(const std::string& bytes);
    std::u16string UploadBoundary() const;
    // A form text's bytes: URL-encoded, or converted only when the caller encoded it already.
    std::string FormText(const std::u16string& text, bool encoded) const;
    std::string PlainText(const std::u16string& text) const;

    std::optional<std::u16string> userAgent_;
    uint32_t accessType_ = 0;
    std::optional<std::u16string> proxyName_;
    std::optional<std::u16string> proxyBypass_;
    uint32_t openFlags_ = 0;
    uint32_t totalTimeoutMs_ = 0;
    std::optional<std::u16string> proxyUserName_;
    std::optional<std::u16string> proxyPassword_;
    bool useUtf8_ = false;
    unsigned codePage_ = 0;
    CHttpClientMapT headers_;
    CHttpClientMapT params_;
    std::optional<std::u16string> boundary_;
    std::unique_ptr<PostContext> post_;
    CHttpPostStatT stat_;
};

}  // namespace Osmer
