#pragma once

// The connection of the web server, over any stream of bytes: the server runs it on TCP sockets
// (http_session.cpp); the request fuzzer on an in-memory stream.
#include <boost/asio/socket_base.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/read.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "webservice/web/http_connection.h"
#include "webservice/web/http_session.h"
#include "webservice/web/request_body.h"
#include "webservice/web/routes.h"
#include "webservice/web/websocket_handshake.h"

namespace web_session {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

// A request head that does not end within this many bytes, request line included, closes the
// connection unanswered.
constexpr std::size_t kHeadLimit = 8192;
// Bytes are read from a connection in pieces of this size.
constexpr std::size_t kReadPiece = 4096;
// An idle connection keeps at most this much room for the answers still to come.
constexpr std::size_t kKeptOutputRoom = 4096;
// The answer to a request that Host or Origin rules out; the connection ends after it.
constexpr std::string_view kRefusal =
    "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

inline std::string_view View(beast::string_view text) {
    return {text.data(), text.size()};
}

inline std::string_view View(asio::const_buffer bytes) {
    return {static_cast<const char*>(bytes.data()), bytes.size()};
}

// Length of the request head at the start of data, up to and including the empty line that ends
// it; 0 when data holds no complete head. Lines may end in CR LF or in LF alone.
inline std::size_t HeadLength(std::string_view data) {
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] != '\n') {
            continue;
        }
        if (i + 1 < data.size() && data[i + 1] == '\n') {
            return i + 2;
        }
        if (i + 2 < data.size() && data[i + 1] == '\r' && data[i + 2] == '\n') {
            return i + 3;
        }
    }
    return 0;
}

// The head with every line ending in CR LF, as the parser wants it; empty when every line ends
// so already (a client's usual head, handed to the parser as it is).
inline std::string WithCrLf(std::string_view head) {
    bool bareLf = false;
    for (std::size_t i = 0; i < head.size() && !bareLf; ++i) {
        bareLf = head[i] == '\n' && (i == 0 || head[i - 1] != '\r');
    }
    if (!bareLf) {
        return {};
    }
    std::string lines;
    lines.reserve(head.size() + head.size() / 8);
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\n' && (i == 0 || head[i - 1] != '\r')) {
            lines += '\r';
        }
        lines += head[i];
    }
    return lines;
}

// One connection over a stream of bytes: a TCP socket in the server, an in-memory stream where the
// requests come from elsewhere (a fuzzer). Stream is an asynchronous read and write stream with the
// socket's shutdown and close.
template <class Stream>
class BasicHttpSession : public HttpSession,
                         public std::enable_shared_from_this<BasicHttpSession<Stream>> {
  public:
    BasicHttpSession(Stream socket, std::shared_ptr<const SessionRules> rules)
        : socket_(std::move(socket)),
          rules_(std::move(rules)),
          activeAt_(Clock::now()),
          deadline_(activeAt_ + rules_->idleTimeout) {}

    void Start() { ReadRequest(); }

    void Stop() override {
        stopping_ = true;
        if (!writing_) {
            Close();
        }
    }

    void Close() override {
        if (!open_) {
            return;
        }
        open_ = false;
        error_code ignored;
        socket_.shutdown(asio::socket_base::shutdown_both, ignored);
        socket_.close(ignored);
    }

    bool IsOpen() const override { return open_; }

    Clock::time_point ActiveAt() const override { return activeAt_; }

    void CloseIfOverdue(Clock::time_point now) override {
        if (now >= deadline_) {
            Close();
        }
    }

  private:
    using Step = void (BasicHttpSession::*)();

    // From here the next request must complete within the idle time-out.
    void ReadRequest() {
        ArmDeadline();
        parser_.emplace();
        // The head is bounded before it reaches the parser; ending its lines in CR LF may
        // lengthen it up to twice.
        parser_->header_limit(2 * kHeadLimit);
        parser_->body_limit(RequestBody::kLimit);
        ReadHead();
    }

    // Collects the request head; bytes of a further pipelined request stay in buffer_ for the
    // next one.
    void ReadHead() {
        // Empty lines before a request line are skipped, as clients may send one after a body.
        const std::string_view data = View(buffer_.data());
        buffer_.consume(std::min(data.find_first_not_of("\r\n"), data.size()));
        const std::size_t length = HeadLength(View(buffer_.data()).substr(0, kHeadLimit));
        if (length != 0) {
            OnHead(length);
            return;
        }
        if (buffer_.size() >= kHeadLimit) {
            Close();
            return;
        }
        ReadMore(&BasicHttpSession::ReadHead);
    }

    // Reads the next piece into buffer_, then takes the next step; the end of the stream, or an
    // error, ends the connection.
    void ReadMore(Step next) {
        socket_.async_read_some(
            buffer_.prepare(kReadPiece),
            [self = this->shared_from_this(), next](error_code error, std::size_t read) {
                if (error) {
                    self->Close();
                    return;
                }
                self->buffer_.commit(read);
                ((*self).*next)();
            });
    }

    // A malformed head, or a body whose end cannot be known, closes the connection without an
    // answer; a refused request gets 403. A WebSocket upgrade is answered as soon as its head is
    // in; any other request once its body has gone by.
    void OnHead(std::size_t length) {
        const std::string_view received = View(buffer_.data()).substr(0, length);
        const std::string rewritten = WithCrLf(received);
        error_code error;
        parser_->put(asio::buffer(rewritten.empty() ? received : std::string_view(rewritten)),
                     error);
        buffer_.consume(length);
        if (error || !parser_->is_header_done() || !FrameBody()) {
            Close();
            return;
        }
        if (!Admit()) {
            Write(std::string(kRefusal), &BasicHttpSession::Linger);
            return;
        }
        const auto& request = parser_->get();
        const auto key = request.find(http::field::sec_websocket_key);
        if (key != request.end()) {
            // The deadline that runs from the handshake's write on ends the upgraded connection.
            activeAt_ = Clock::now();
            Write(WebSocketHandshakeAnswer(View(key->value())), &BasicHttpSession::Discard);
            OnHttpEvent(connection_, HttpEvent::WebSocketHandshakeDone, nullptr);
            return;
        }
        // A client that waits for leave to send its body gets it, unless the body is coming.
        if (!body_->Ended() && request.version() >= 11 && buffer_.size() == 0 &&
            beast::iequals(request[http::field::expect], "100-continue")) {
            Write(std::string(kContinue), &BasicHttpSession::SkipBody);
            return;
        }
        SkipBody();
    }

    // How the body ends: after its length, or after its last chunk when chunked is its one
    // transfer coding. Any other coding leaves the end unknown, and what the client meant as the
    // body would be read as the next request, so such a request is refused; so is one that gives
    // both framings, or chunks in HTTP/1.0.
    bool FrameBody() {
        const auto& request = parser_->get();
        const auto codings = request.equal_range(http::field::transfer_encoding);
        if (codings.first == codings.second) {
            body_ = RequestBody::OfLength(parser_->content_length().value_or(0));
            return true;
        }
        if (std::next(codings.first) != codings.second ||
            !beast::iequals(codings.first->value(), "chunked") || request.version() < 11 ||
            request.count(http::field::content_length) != 0) {
            return false;
        }
        body_ = RequestBody::InChunks();
        return true;
    }

    // Host, Origin and Sec-Fetch-Site against the rules. Host or Origin given twice is refused,
    // as it cannot be told which one counts; Sec-Fetch-Site given twice counts as another site's.
    bool Admit() {
        struct Field {
            std::optional<std::string_view> value;
            int count = 0;
            void Add(beast::string_view text) {
                if (++count == 1) {
                    value = View(text);
                }
            }
        };
        Field host;
        Field origin;
        Field fetchSite;
        // One pass over the fields, whose lookups by name would each walk them again.
        for (const auto& field : parser_->get()) {
            if (field.name() == http::field::host) {
                host.Add(field.value());
            } else if (field.name() == http::field::origin) {
                origin.Add(field.value());
            } else if (beast::iequals(field.name_string(), "Sec-Fetch-Site")) {
                fetchSite.Add(field.value());
            }
        }
        if (host.count > 1 || origin.count > 1) {
            return false;
        }
        if (fetchSite.count > 1) {
            fetchSite.value = "cross-site";
        }
        const RequestPolicy::Admission admission =
            rules_->policy.Admit(host.value, origin.value, fetchSite.value);
        allowOrigin_ = admission.allowOrigin;
        return admission.admitted;
    }

    // Drops the body as it arrives; bytes after its end stay in buffer_ for the next request.
    void SkipBody() {
        std::size_t used = 0;
        const RequestBody::Progress progress = body_->Take(View(buffer_.data()), used);
        buffer_.consume(used);
        if (progress == RequestBody::Progress::Refused) {
            Close();
            return;
        }
        if (progress == RequestBody::Progress::Done) {
            OnRequest();
            return;
        }
        ReadMore(&BasicHttpSession::SkipBody);
    }

    void OnRequest() {
        activeAt_ = Clock::now();
        const auto& request = parser_->get();
        const std::string_view target = View(request.target());
        const HttpMessage message{View(request.method_string()), target.substr(0, target.find('?')),
                                  static_cast<int>(request.version()), allowOrigin_};
        try {
            OnHttpEvent(connection_, HttpEvent::Request, &message);
        } catch (const std::exception&) {
            // A request that could not be handled (memory exhausted) costs its connection, not
            // the server.
            Close();
            return;
        }
        // An HTTP/1.0 answer ends with the connection; a client that asked for the end gets it.
        const bool last = request.version() < 11 || !request.keep_alive();
        Write(connection_.TakeOutput(std::move(output_)),
              last ? &BasicHttpSession::Linger : &BasicHttpSession::ReadRequest);
    }

    // After the last answer nothing more is sent; what the client still sends is read and
    // dropped until it closes, so that no reset cuts the answer short on its way.
    void Linger() {
        error_code ignored;
        socket_.shutdown(asio::socket_base::shutdown_send, ignored);
        ArmDeadline();
        Discard();
    }

    // A WebSocket connection is never answered: what arrives is dropped until the peer closes
    // or the deadline passes.
    void Discard() {
        buffer_.consume(buffer_.size());
        ReadMore(&BasicHttpSession::Discard);
    }

    // Writes bytes, then takes the next step. The deadline runs while no byte goes out.
    void Write(std::string bytes, Step next) {
        if (bytes.empty()) {
            (this->*next)();
            return;
        }
        output_ = std::move(bytes);
        written_ = 0;
        next_ = next;
        writing_ = true;
        WriteSome();
    }

    // Every step after a write arms the deadline anew or ends the connection.
    void WriteSome() {
        ArmDeadline();
        socket_.async_write_some(
            asio::buffer(output_) + written_,
            [self = this->shared_from_this()](error_code error, std::size_t wrote) {
                if (error) {
                    self->writing_ = false;
                    self->Close();
                    return;
                }
                self->written_ += wrote;
                if (self->written_ < self->output_.size()) {
                    self->WriteSome();
                    return;
                }
                self->writing_ = false;
                // Room for an answer is kept for the next one, unless it was a large one.
                if (self->output_.capacity() > kKeptOutputRoom) {
                    std::string().swap(self->output_);
                }
                if (self->stopping_) {
                    self->Close();
                    return;
                }
                ((*self).*(self->next_))();
            });
    }

    // The connection ends once the idle time-out has passed from now, unless armed anew before.
    // The server looks at the deadline on its poll: moving it costs no system call, where a
    // kernel timer would be set again at every request.
    void ArmDeadline() { deadline_ = Clock::now() + rules_->idleTimeout; }

    Stream socket_;
    std::shared_ptr<const SessionRules> rules_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::empty_body>> parser_;
    std::optional<RequestBody> body_;
    HttpConnection connection_;
    std::string allowOrigin_;
    std::string output_;
    std::size_t written_ = 0;
    Step next_ = nullptr;
    Clock::time_point activeAt_;
    Clock::time_point deadline_;
    bool open_ = true;
    bool writing_ = false;
    bool stopping_ = false;
};

}  // namespace web_session
