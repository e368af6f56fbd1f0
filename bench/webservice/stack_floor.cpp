// The least a server built the way Zembra is costs per answer: one thread running an Asio
// io_context in polls of a second, handlers inline, a Beast request parser per request, the head
// collected in reads of 4 KiB and the answer written raw. It checks nothing and asks nothing of a
// reader: every request gets the same chunked answer of a given size. zembra_cost.sh runs it
// beside Zembra and nginx, so that what Zembra's own work adds, and what the server model itself
// costs against nginx, can be told apart.
//
// Usage: stack_floor PORT SIZE
//   listens on 127.0.0.1:PORT and answers every request with SIZE bytes, head and framing
//   included, until it is killed.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/port_number.h"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;
using boost::system::error_code;

// As Zembra's: a head of at most 8 KiB, read 4 KiB at a time, the parser bounded at twice that.
constexpr std::size_t kHeadLimit = 8192;
constexpr std::size_t kReadPiece = 4096;

// A chunked answer of exactly size bytes: one chunk of 'x's, its length in as few hex digits as
// fit (a leading zero where no shorter length comes out even). Nothing when size is too small to
// hold the head and framing.
std::string AnswerOfSize(std::size_t size) {
    const std::string head =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nAccess-Control-Allow-Origin: *\r\n\r\n";
    for (int digits = 1; digits <= 8; ++digits) {
        const std::size_t framing = head.size() + digits + 2 + 2 + 5;  // length, CR LF, CR LF, last
        if (size <= framing) {
            return {};
        }
        const std::size_t body = size - framing;
        if (body >> (4 * digits) == 0) {
            char length[2 * sizeof(std::size_t) + 1];
            std::snprintf(length, sizeof length, "%0*zX", digits, body);
            return head + length + "\r\n" + std::string(body, 'x') + "\r\n0\r\n\r\n";
        }
    }
    return {};
}

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, const std::string& answer)
        : socket_(std::move(socket)), answer_(answer) {}

    void ReadRequest() {
        parser_.emplace();
        parser_->header_limit(2 * kHeadLimit);
        ReadHead();
    }

  private:
    void ReadHead() {
        const auto data = buffer_.data();
        const std::string_view received(static_cast<const char*>(data.data()), data.size());
        const std::size_t end = received.find("\r\n\r\n");
        if (end != std::string_view::npos) {
            error_code error;
            parser_->put(asio::buffer(received.substr(0, end + 4)), error);
            buffer_.consume(end + 4);
            if (!error && parser_->is_header_done()) {
                WriteSome(0);
            }
            return;
        }
        if (buffer_.size() >= kHeadLimit) {
            return;
        }
        socket_.async_read_some(buffer_.prepare(kReadPiece),
                                [self = shared_from_this()](error_code error, std::size_t read) {
                                    if (!error) {
                                        self->buffer_.commit(read);
                                        self->ReadHead();
                                    }
                                });
    }

    void WriteSome(std::size_t written) {
        socket_.async_write_some(
            asio::buffer(answer_) + written,
            [self = shared_from_this(), written](error_code error, std::size_t wrote) {
                if (error) {
                    return;
                }
                if (written + wrote < self->answer_.size()) {
                    self->WriteSome(written + wrote);
                } else {
                    self->ReadRequest();
                }
            });
    }

    tcp::socket socket_;
    const std::string& answer_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::empty_body>> parser_;
};

void Accept(tcp::acceptor& acceptor, const std::string& answer) {
    acceptor.async_accept([&acceptor, &answer](error_code error, tcp::socket socket) {
        if (!error) {
            std::make_shared<Session>(std::move(socket), answer)->ReadRequest();
        }
        Accept(acceptor, answer);
    });
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<std::uint16_t> port =
        argc == 3 ? platform::ParsePortNumber(std::string_view(argv[1])) : std::nullopt;
    char* end = nullptr;
    const unsigned long long size = argc == 3 ? std::strtoull(argv[2], &end, 10) : 0;
    const std::string answer = end != nullptr && *end == '\0' ? AnswerOfSize(size) : std::string();
    if (!port || *port == 0 || answer.empty()) {
        std::fprintf(stderr,
                     "usage: stack_floor PORT SIZE (a port of 1 to 65535; SIZE large enough for "
                     "the answer's head and framing)\n");
        return 2;
    }
    asio::io_context context(1);
    tcp::acceptor acceptor(context);
    error_code error;
    const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), *port);
    acceptor.open(endpoint.protocol(), error);
    if (!error) {
        acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    }
    if (!error) {
        acceptor.bind(endpoint, error);
    }
    if (!error) {
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    }
    if (error) {
        std::fprintf(stderr, "stack_floor: cannot listen on 127.0.0.1:%u: %s\n", unsigned{*port},
                     error.message().c_str());
        return 1;
    }
    Accept(acceptor, answer);
    for (;;) {
        context.run_for(std::chrono::milliseconds(1000));
    }
}
