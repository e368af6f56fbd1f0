#include "webservice/web/http_session.h"

#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "webservice/web/http_connection.h"
#include "webservice/web/routes.h"
#include "webservice/web/websocket_handshake.h"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using boost::system::error_code;

// A request head that does not end within this many bytes closes the connection unanswered.
constexpr std::uint32_t kHeadLimit = 8192;
// Request bodies are read and ignored; a larger one closes the connection.
constexpr std::uint64_t kBodyLimit = 1024 * 1024;
// Bytes of a WebSocket connection are read in pieces of this size and dropped.
constexpr std::size_t kDiscardPiece = 4096;

std::string_view View(beast::string_view text) {
    return {text.data(), text.size()};
}

class Session : public HttpSession, public std::enable_shared_from_this<Session> {
  public:
    explicit Session(asio::ip::tcp::socket socket) : socket_(std::move(socket)) {}

    void Start() { ReadRequest(); }

    void Stop() override {
        stopping_ = true;
        if (!writing_) {
            Close();
        }
    }

    void Close() override {
        error_code ignored;
        socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }

  private:
    using Step = void (Session::*)();

    void ReadRequest() {
        parser_.emplace();
        parser_->header_limit(kHeadLimit);
        parser_->body_limit(kBodyLimit);
        // Bytes of a further pipelined request stay in buffer_ for the next read.
        http::async_read(
            socket_, buffer_, *parser_,
            [self = shared_from_this()](error_code error, std::size_t) { self->OnRequest(error); });
    }

    // The end of the stream, a head over the limit, a malformed request or a body over the
    // limit all close the connection without an answer.
    void OnRequest(error_code error) {
        if (error) {
            Close();
            return;
        }
        const auto& request = parser_->get();
        const auto key = request.find(http::field::sec_websocket_key);
        if (key != request.end()) {
            Write(WebSocketHandshakeAnswer(View(key->value())), &Session::Discard);
            OnHttpEvent(connection_, HttpEvent::WebSocketHandshakeDone, nullptr);
            return;
        }
        const std::string_view target = View(request.target());
        const HttpMessage message{View(request.method_string()),
                                  target.substr(0, target.find('?'))};
        try {
            OnHttpEvent(connection_, HttpEvent::Request, &message);
        } catch (const std::exception&) {
            // A request that could not be handled (memory exhausted) costs its connection, not
            // the server.
            Close();
            return;
        }
        Write(connection_.TakeOutput(), &Session::ReadRequest);
    }

    // A WebSocket connection is never answered: what arrives is dropped until the peer closes.
    void Discard() {
        buffer_.consume(buffer_.size());
        socket_.async_read_some(buffer_.prepare(kDiscardPiece),
                                [self = shared_from_this()](error_code error, std::size_t) {
                                    if (error) {
                                        self->Close();
                                        return;
                                    }
                                    self->Discard();
                                });
    }

    void Write(std::string bytes, Step next) {
        if (bytes.empty()) {
            (this->*next)();
            return;
        }
        output_ = std::move(bytes);
        writing_ = true;
        asio::async_write(socket_, asio::buffer(output_),
                          [self = shared_from_this(), next](error_code error, std::size_t) {
                              self->writing_ = false;
                              if (error || self->stopping_) {
                                  self->Close();
                                  return;
                              }
                              ((*self).*next)();
                          });
    }

    asio::ip::tcp::socket socket_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    HttpConnection connection_;
    std::string output_;
    bool writing_ = false;
    bool stopping_ = false;
};

}  // namespace

std::shared_ptr<HttpSession> StartHttpSession(asio::ip::tcp::socket socket) {
    auto session = std::make_shared<Session>(std::move(socket));
    session->Start();
    return session;
}
