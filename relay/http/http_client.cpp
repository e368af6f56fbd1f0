#include "relay/http/http_client.h"

#include <algorithm>

#include "platform/ascii.h"
#include "platform/port_number.h"
#include "relay/http/http_encoder.h"
#include "relay/http/http_error.h"
#include "relay/http/http_url_analyzer.h"
#include "relay/http/size_arithmetic.h"

namespace Osmer {
namespace {

using platform::internet::Access;
using platform::internet::TextOption;
using platform::internet::TimeOption;

// Files go up with this content type: the client does not guess what they hold.
constexpr const char* kFileContentType = "application/octet-stream";

std::optional<std::u16string> Copy(const char16_t* text) {
    return text == nullptr ? std::nullopt : std::optional<std::u16string>(text);
}

void AppendHex(std::u16string& out, uint32_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        out.push_back(
            static_cast<char16_t>(platform::ascii::kLowerHexDigits[(value >> shift) & 0xF]));
    }
}

std::u16string BoundaryFrom(const platform::Guid& guid) {
    std::u16string boundary = u"----TAVIN-";
    AppendHex(boundary, guid.data1, 8);
    AppendHex(boundary, guid.data2, 4);
    AppendHex(boundary, guid.data3, 4);
    for (const uint8_t byte : guid.data4) {
        AppendHex(boundary, byte, 2);
    }
    boundary += u"-";
    return boundary;
}

// The URL a step is given; no URL at all is not a valid one.
std::u16string_view UrlText(const char16_t* url) {
    if (url == nullptr) {
        ThrowError(HttpError::InvalidUrl);
    }
    return url;
}

CHttpUrlAnalyzerT Analyzed(std::u16string_view url, unsigned codePage) {
    CHttpUrlAnalyzerT parts;
    parts.Analyze(url, codePage);
    return parts;
}

bool IsHttps(std::u16string_view url, const CHttpUrlAnalyzerT& parts) {
    return parts.SchemeLength() == 5 &&
           platform::ascii::EqualsIgnoringCase(url.substr(0, 5), u"https");
}

uint16_t ParsePort(std::u16string_view text) {
    const std::optional<uint16_t> port = platform::ParsePortNumber(text);
    if (!port) {
        ThrowError(HttpError::InvalidPort);
    }
    return *port;
}

// A name in a part head: quotes and line breaks would end the field or the head early.
std::string EscapeFieldText(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "%22";
                break;
            case '\r':
                out += "%0D";
                break;
            case '\n':
                out += "%0A";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::u16string BaseName(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"/\\");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

bool HasFlag(uint32_t flags, uint32_t flag) {
    return (flags & flag) != 0;
}

}  // namespace

// One parameter of a running post: the bytes that go before its value ("&name=" of a form, the
// part head of an upload), and its value's bytes or the file that holds them. The lengths the
// request announces are counted from these same bytes.
struct CHttpClientT::Part {
    std::u16string name;
    std::u16string value;  // the text, or the path of a file to upload
    std::string head;
    std::string text;     // the bytes of a text value
    uint32_t length = 0;  // bytes of the value or of the file
    std::unique_ptr<platform::ReadOnlyFile> file;
};

struct CHttpClientT::PostContext {
    ~PostContext() {
        request.reset();
        connection.reset();
        internet.reset();
    }

    bool upload = false;
    std::unique_ptr<InternetHandle> internet;
    std::unique_ptr<ConnectionHandle> connection;
    std::unique_ptr<RequestHandle> request;
    std::vector<Part> parts;
    size_t next = 0;           // the part to start next
    std::string closing;       // an upload's closing boundary, until it is written
    size_t piecePos = 0;       // of the current text value
    uint32_t contentLeft = 0;  // bytes of the current value or file still to write
};

CHttpClientT::CHttpClientT() : CHttpClientT(platform::NewGuid()) {}

CHttpClientT::CHttpClientT(const platform::Result<platform::Guid>& guid) {
    if (!guid) {
        return;
    }
    try {
        boundary_ = BoundaryFrom(*guid);
    } catch (const std::bad_alloc&) {
        boundary_.reset();  // uploads fall back to the fixed boundary
    }
}

CHttpClientT::~CHttpClientT() {
    EndPostContext();
}

void CHttpClientT::SetInternetSettings(const char16_t* userAgent, uint32_t accessType,
                                       const char16_t* proxyName, const char16_t* proxyBypass,
                                       uint32_t openFlags) {
    Guarded([&] {
        // Every copy first, so that a failure leaves the old settings as they were.
        auto agent = Copy(userAgent);
        auto proxy = Copy(proxyName);
        auto bypass = Copy(proxyBypass);
        userAgent_ = std::move(agent);
        proxyName_ = std::move(proxy);
        proxyBypass_ = std::move(bypass);
        accessType_ = accessType;
        openFlags_ = openFlags;
    });
}

void CHttpClientT::SetProxyAccount(const char16_t* userName, const char16_t* password) {
    Guarded([&] {
        auto user = Copy(userName);
        auto secret = Copy(password);
        proxyUserName_ = std::move(user);
        proxyPassword_ = std::move(secret);
    });
}

void CHttpClientT::SetUseUtf8(bool useUtf8) {
    if (post_) {
        ThrowArgumentError(
            "CHttpClientT::SetUseUtf8: It is not allowed to call this method if the POST context "
            "is active.");
    }
    useUtf8_ = useUtf8;
}

void CHttpClientT::StartPost(const char16_t* url, uint32_t flags) {
    Start(url, flags, false);
}

void CHttpClientT::StartUpload(const char16_t* url, uint32_t flags) {
    Start(url, flags, true);
}

void CHttpClientT::Start(const char16_t* url, uint32_t flags, bool upload) {
    EndPostContext();
    if (url == nullptr) {
        ThrowError(HttpError::InvalidUrl);
    }
    Guarded([&] {
        auto context = std::make_unique<PostContext>();
        context->upload = upload;
        context->parts = upload ? UploadParts() : FormParts();

        uint32_t total = 0;
        uint32_t actualTotal = 0;
        uint32_t files = 0;
        for (const Part& part : context->parts) {
            total = SizeAdd(total, part.length);
            actualTotal = SizeAdd(actualTotal, SizeAdd(SizeNarrow(part.head.size()), part.length));
            files += part.file ? 1 : 0;
        }
        if (upload) {
            const std::string boundary = *CHttpToolW::Unicode2Ansi(UploadBoundary().c_str(), 0);
            context->closing = (context->parts.empty() ? "--" : "\r\n--") + boundary + "--\r\n";
            actualTotal = SizeAdd(actualTotal, SizeNarrow(context->closing.size()));
        } else {
            total = actualTotal;  // a form has no bytes besides its own
        }

        platform::Result<std::unique_ptr<InternetHandle>> internet = InternetHandle::Open(
            userAgent_ ? *userAgent_ : kDefaultUserAgent, static_cast<Access>(accessType_),
            proxyName_.value_or(u""), proxyBypass_.value_or(u""), openFlags_);
        if (!internet) {
            ThrowError(HttpError::OpenFailed, internet.Error());
        }
        context->internet = std::move(*internet);
        if (totalTimeoutMs_ != 0) {
            if (const uint32_t failure =
                    context->internet->SetOption(TimeOption::TotalTimeout, totalTimeoutMs_)) {
                ThrowError(HttpError::SetOptionFailed, failure);
            }
        }
        context->connection = OpenConnection(context->internet.get(), url);
        context->request = OpenRequest(context->connection.get(), url, flags);
        AddRequestHeader(context->request.get());
        const std::u16string contentType =
            upload ? u"multipart/form-data; boundary=" + UploadBoundary()
                   : u"application/x-www-form-urlencoded";
        CHttpToolW::AddHeader(context->request.get(), u"Content-Type", contentType.c_str(),
                              codePage_);
        CHttpToolW::SendRequestEx(context->request.get(), actualTotal);

        CHttpPostStatT stat;
        stat.Start(total, actualTotal, static_cast<uint32_t>(context->parts.size()), files);
        if (!context->parts.empty()) {
            const Part& first = context->parts.front();
            stat.StartParam(first.name, first.file ? first.value : u"", first.length);
        }
        post_ = std::move(context);
        stat_ = std::move(stat);
    });
}

std::vector<CHttpClientT::Part> CHttpClientT::FormParts() const {
    std::vector<Part> parts;
    for (const auto& [name, entry] : params_) {
        Part part;
        part.name = name;
        part.value = entry.value.value_or(u"");
        part.head = (parts.empty() ? "" : "&") +
                    FormText(name, HasFlag(entry.flags, ParamFlag::EncodedName)) + "=";
        part.text = FormText(part.value, HasFlag(entry.flags, ParamFlag::EncodedValue));
        part.length = SizeNarrow(part.text.size());
        parts.push_back(std::move(part));
    }
    return parts;
}

std::vector<CHttpClientT::Part> CHttpClientT::UploadParts() const {
    const std::string boundary = *CHttpToolW::Unicode2Ansi(UploadBoundary().c_str(), 0);
    std::vector<Part> parts;
    for (const auto& [name, entry] : params_) {
        Part part;
        part.name = name;
        part.value = entry.value.value_or(u"");
        part.head = (parts.empty() ? "--" : "\r\n--") + boundary +
                    "\r\nContent-Disposition: form-data; name=\"" +
                    EscapeFieldText(PlainText(name)) + "\"";
        if (HasFlag(entry.flags, ParamFlag::File)) {
            platform::Result<std::unique_ptr<platform::ReadOnlyFile>> file =
                platform::ReadOnlyFile::Open(part.value);
            if (!file) {
                ThrowFileError(HttpError::FileOpenFailed, part.value, file.Error());
            }
            part.file = std::move(*file);
            part.length = SizeNarrow(CHttpToolW::GetFileSize(part.file.get(), part.value.c_str()));
            part.head += "; filename=\"" + EscapeFieldText(PlainText(BaseName(part.value))) +
                         "\"\r\nContent-Type: " + kFileContentType;
        } else {
            part.text = PlainText(part.value);
            part.length = SizeNarrow(part.text.size());
        }
        part.head += "\r\n\r\n";
        parts.push_back(std::move(part));
    }
    return parts;
}

std::unique_ptr<ConnectionHandle> CHttpClientT::OpenConnection(InternetHandle* hInternet,
                                                               const char16_t* url) const {
    if (hInternet == nullptr) {
        ThrowArgumentError("CHttpClientT::OpenConnection: hInternet can not be NULL.");
    }
    const std::u16string_view target = UrlText(url);
    const CHttpUrlAnalyzerT parts = Analyzed(target, codePage_);
    uint16_t port = IsHttps(target, parts) ? 443 : 80;
    if (parts.PortLength() > 0) {
        port = ParsePort(target.substr(parts.PortOffset(), parts.PortLength()));
    }
    if (parts.HostLength() == 0) {
        ThrowError(HttpError::InvalidUrl);
    }
    const std::u16string host = Guarded(
        [&] { return std::u16string(target.substr(parts.HostOffset(), parts.HostLength())); });
    auto connection = CHttpToolW::OpenConnection(hInternet, host.c_str(), port);
    ApplyProxyAccount(connection.get());
    return connection;
}

void CHttpClientT::ApplyProxyAccount(ConnectionHandle* hConnection) const {
    if (hConnection == nullptr) {
        ThrowArgumentError("CHttpClientT::ApplyProxyAccount: hConnection can not be NULL.");
    }
    if (!proxyUserName_ || !proxyPassword_ || proxyUserName_->empty() || proxyPassword_->empty()) {
        return;
    }
    if (const uint32_t failure =
            hConnection->SetOption(TextOption::ProxyUserName, *proxyUserName_)) {
        ThrowError(HttpError::SetOptionFailed, failure);
    }
    if (const uint32_t failure =
            hConnection->SetOption(TextOption::ProxyPassword, *proxyPassword_)) {
        ThrowError(HttpError::SetOptionFailed, failure);
    }
}

std::unique_ptr<RequestHandle> CHttpClientT::OpenRequest(ConnectionHandle* hConnection,
                                                         const char16_t* url,
                                                         uint32_t flags) const {
    if (hConnection == nullptr) {
        ThrowArgumentError("CHttpClientT::OpenRequest: hConnection can not be NULL.");
    }
    const std::u16string_view target = UrlText(url);
    const CHttpUrlAnalyzerT parts = Analyzed(target, codePage_);
    if (IsHttps(target, parts)) {
        flags |= RequestFlag::Secure;
    }
    const std::u16string objectName = Guarded([&] {
        const std::u16string rest(target.substr(parts.PathOffset()));
        return parts.PathLength() > 0 ? rest : u"/" + rest;
    });
    auto request = CHttpToolW::OpenRequest(hConnection, objectName.c_str(), flags, codePage_);
    if (HasFlag(flags, RequestFlag::PragmaNoCache)) {
        CHttpToolW::AddHeader(request.get(), u"Cache-Control", u"no-cache", codePage_);
    }
    return request;
}

void CHttpClientT::AddRequestHeader(RequestHandle* hRequest) const {
    if (hRequest == nullptr) {
        ThrowArgumentError("CHttpClientT::AddRequestHeader: hRequest can not be NULL.");
    }
    for (const auto& [name, entry] : headers_) {
        CHttpToolW::AddHeader(hRequest, name.c_str(), entry.value ? entry.value->c_str() : nullptr,
                              codePage_);
    }
}

std::unique_ptr<CHttpResponseT> CHttpClientT::ProceedPost() {
    // A post context holds its three handles from its start until it ends or hands them to
    // the response, so a missing context is the one thing to refuse.
    if (!post_) {
        ThrowError(HttpError::PostNotStarted);
    }
    try {
        return Guarded([&] { return Step(); });
    } catch (...) {
        EndPostContext();
        throw;
    }
}

std::unique_ptr<CHttpResponseT> CHttpClientT::Step() {
    PostContext& post = *post_;
    if (post.contentLeft > 0) {
        WriteContentPiece();
        return nullptr;
    }
    if (post.next < post.parts.size()) {
        StartPart();
        return nullptr;
    }
    if (!post.closing.empty()) {
        Write(post.closing);
        stat_.AddPosted(0, static_cast<uint32_t>(post.closing.size()));
        post.closing.clear();
        return nullptr;
    }
    CHttpToolW::EndRequest(post.request.get());
    auto response = std::make_unique<CHttpResponseT>(
        std::move(post.internet), std::move(post.connection), std::move(post.request));
    post_.reset();
    stat_.Clear();
    return response;
}

void CHttpClientT::StartPart() {
    PostContext& post = *post_;
    const Part& part = post.parts[post.next];
    post.piecePos = 0;
    post.contentLeft = part.length;
    ++post.next;
    stat_.StartParam(part.name, part.file ? part.value : u"", part.length);
    Write(part.head);
    const auto headBytes = static_cast<uint32_t>(part.head.size());
    stat_.AddPosted(post.upload ? 0 : headBytes, headBytes);
    if (part.length == 0) {
        stat_.CompleteParam();
    }
}

void CHttpClientT::WriteContentPiece() {
    PostContext& post = *post_;
    Part& part = post.parts[post.next - 1];
    const uint32_t size = std::min(kPieceSize, post.contentLeft);
    if (part.file) {
        std::string bytes(size, '\0');
        uint32_t got = 0;
        while (got < size) {
            const platform::Result<uint32_t> read = part.file->Read(bytes.data() + got, size - got);
            if (!read) {
                ThrowError(HttpError::FileReadFailed, read.Error());
            }
            if (*read == 0) {
                ThrowError(HttpError::FileShorterThanExpected);  // the file shrank meanwhile
            }
            got += *read;
        }
        Write(bytes);
    } else {
        Write(part.text.substr(post.piecePos, size));
        post.piecePos += size;
    }
    post.contentLeft -= size;
    stat_.AddPosted(size, size);
    stat_.AddParamPosted(size);
    if (post.contentLeft == 0) {
        stat_.CompleteParam();
    }
}

void CHttpClientT::Write(const std::string& bytes) {
    CHttpToolW::InternetWriteFile(post_->request.get(),
                                  reinterpret_cast<const uint8_t*>(bytes.data()),
                                  static_cast<uint32_t>(bytes.size()));
}

std::u16string CHttpClientT::UploadBoundary() const {
    return boundary_.value_or(kFixedBoundary);
}

std::string CHttpClientT::FormText(const std::u16string& text, bool encoded) const {
    if (encoded) {
        return PlainText(text);
    }
    return CHttpEncoderW::UrlEncodeA(text.c_str(), codePage_, useUtf8_);
}

std::string CHttpClientT::PlainText(const std::u16string& text) const {
    return useUtf8_ ? CHttpEncoderW::Utf8Encode(text.c_str())
                    : CHttpEncoderW::AnsiEncode(text.c_str(), codePage_);
}

void CHttpClientT::QueryPostStat(CHttpPostStatT& stat) const {
    Guarded([&] { stat = stat_; });
}

void CHttpClientT::EndPostContext() {
    post_.reset();
    stat_.Clear();
}

}  // namespace Osmer
