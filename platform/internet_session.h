#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

// The HTTP transport beneath the relay's HTTP client, in the shape of Windows' Internet layer:
// a session (the internet handle) opens connections, a connection opens requests, and a request
// is sent in steps: its head goes out (the connection attempt included) when it is sent, its
// body pieces as they are written, and the response head is read when the request ends; then
// response headers are queried by name and the body is read in pieces. Each object owns its
// handle and closes it when it goes; a child keeps working after its parent is gone.
//
// Every step answers a failure number of platform/system_error.h, 0 for success, and every call
// that gives a value a Result (platform/result.h).
namespace platform::internet {

// How a session reaches servers.
enum class Access : uint32_t {
    Preconfigured = 0,  // the system's settings: here the proxy variables of the environment
    Direct = 1,
    NamedProxy = 3,
    PreconfiguredWithoutAutoProxy = 4,
};

// Request flags, with the values Windows gives them.
constexpr uint32_t kFlagSecure = 0x00800000;          // TLS
constexpr uint32_t kFlagNoAutoRedirect = 0x00200000;  // do not follow redirections

// Bounds of a session, inherited by its connections and requests.
enum class TimeOption : uint32_t {
    ConnectTimeout = 2,  // name lookup and connection, in milliseconds
    ReceiveTimeout = 6,  // longest wait without progress once connected, in milliseconds
    // The layer's own, which Windows lacks: the longest a request may take from its send to the
    // end of its last read, in milliseconds, however its bytes trickle in. Past it every step
    // fails with kInternetTimeout. A session starts without one.
    TotalTimeout = 0x10000,
};

// The bounds a session starts with.
constexpr uint32_t kDefaultConnectTimeoutMs = 10000;
constexpr uint32_t kDefaultReceiveTimeoutMs = 30000;

// Texts of a connection.
enum class TextOption : uint32_t {
    ProxyUserName = 43,
    ProxyPassword = 44,
};

// The transport's own part of one request.
struct Exchange;

class Request {
  public:
    ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Adds one header line, "Name: value", with or without its closing CR LF. Headers go out
    // in the order they were added, after the platform's own (Host, User-Agent, Accept).
    uint32_t AddHeader(std::string_view line);

    // Connects and sends the head, announcing a body of `bodyLength` bytes.
    uint32_t Send(uint32_t bodyLength);

    // Sends body bytes: how many were taken. Bytes past the announced length are refused. Once
    // the server has answered, further bytes are taken and dropped.
    Result<uint32_t> Write(const void* data, uint32_t size);

    // Ends the request once the whole body has been written, and reads the response head.
    uint32_t End();

    // One value of a response header: the occurrence `index` of `name`, any letter case, in
    // the order received, as UTF-16 with a terminating zero. `bufferBytes` gives the buffer's
    // size in bytes; on success it becomes the value's size without the terminator, and when
    // the buffer is too small (kInsufficientBuffer) the size needed with it.
    // kHttpHeaderNotFound when there is no such occurrence.
    uint32_t QueryHeader(std::u16string_view name, uint32_t index, char16_t* buffer,
                         uint32_t& bufferBytes) const;

    // Reads response body bytes: fills the buffer unless the body ends first; how many it read,
    // 0 at the end of the body. A failure met after some bytes were taken is answered by the
    // next read, so that those bytes are not lost.
    Result<uint32_t> Read(void* buffer, uint32_t capacity);

    // The layer's own record of the request, the same on every system (internet_request.h).
    struct Transfer;

  private:
    friend class Connection;
    // A request of what the transport has opened for it, bounded in all by totalMs (0: none).
    Request(std::shared_ptr<Exchange> exchange, uint32_t totalMs);
    std::unique_ptr<Transfer> transfer_;
};

struct ConnectionSettings;

class Connection {
  public:
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    uint32_t SetOption(TextOption option, std::u16string_view value);

    // A request for `objectName` (path and query, narrow text; bytes that may not stand in a
    // request line are sent percent-encoded). `version` is "HTTP/1.1" or "HTTP/1.0";
    // `acceptTypes` become the Accept header (none: no Accept header).
    Result<std::unique_ptr<Request>> OpenRequest(std::string_view verb, std::string_view objectName,
                                                 std::string_view version,
                                                 const std::vector<std::string>& acceptTypes,
                                                 uint32_t flags) const;

  private:
    friend class Session;
    explicit Connection(std::shared_ptr<ConnectionSettings> settings);
    // The transport's part of OpenRequest, the arguments checked.
    Result<std::unique_ptr<Request>> TransportOpenRequest(
        std::string_view verb, std::string_view objectName, std::string_view version,
        const std::vector<std::string>& acceptTypes, uint32_t flags) const;
    std::shared_ptr<ConnectionSettings> settings_;
};

struct SessionSettings;

class Session {
  public:
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // `userAgent` empty: no User-Agent header. `proxy` and `proxyBypass` are used with
    // Access::NamedProxy only; the bypass list takes host names separated by ';' or blanks.
    // No open flags are supported: anything but 0 is refused.
    static Result<std::unique_ptr<Session>> Open(std::u16string_view userAgent, Access access,
                                                 std::u16string_view proxy,
                                                 std::u16string_view proxyBypass, uint32_t flags);

    uint32_t SetOption(TimeOption option, uint32_t milliseconds);

    // A connection to `host` (a name, a dotted address or a bracketed IPv6 address) and `port`
    // (0: the default port of the request's scheme). No traffic until a request is sent.
    Result<std::unique_ptr<Connection>> Connect(std::u16string_view host, uint16_t port) const;

  private:
    explicit Session(std::shared_ptr<SessionSettings> settings);
    // The transport's parts of Open and Connect, the arguments checked; `urlHost` as UrlHost
    // (platform/internet_text.h) gives it.
    static Result<std::unique_ptr<Session>> TransportOpen(std::u16string_view userAgent,
                                                          Access access, std::u16string_view proxy,
                                                          std::u16string_view proxyBypass);
    Result<std::unique_ptr<Connection>> TransportConnect(const std::string& urlHost,
                                                         uint16_t port) const;
    std::shared_ptr<SessionSettings> settings_;
};

}  // namespace platform::internet
