#include "sim/configserver/config_server.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include "platform/ascii.h"

namespace sim {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

constexpr size_t kMaxHead = 64 * 1024;
constexpr size_t kMaxBody = 16 * 1024 * 1024;

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           platform::ascii::EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// The body length a request head announces; 0 when it announces none.
size_t ContentLength(std::string_view head) {
    size_t start = 0;
    while (start < head.size()) {
        size_t end = head.find("\r\n", start);
        end = end == std::string_view::npos ? head.size() : end;
        const std::string_view line = head.substr(start, end - start);
        if (StartsWithIgnoringCase(line, "Content-Length:")) {
            return std::strtoull(std::string(line.substr(15)).c_str(), nullptr, 10);
        }
        start = end + 2;
    }
    return 0;
}

// The path of a request target, with a proxy's absolute form ("http://host/path") reduced.
std::string_view TargetPath(std::string_view target) {
    if (const size_t scheme = target.find("://"); scheme != std::string_view::npos) {
        const size_t slash = target.find('/', scheme + 3);
        target = slash == std::string_view::npos ? "/" : target.substr(slash);
    }
    return target.substr(0, target.find_first_of("?#"));
}

std::string Serialize(const ConfigAnswer& answer) {
    std::string out = "HTTP/1.1 " + std::to_string(answer.status) + " " + answer.reason + "\r\n";
    if (!answer.contentType.empty()) {
        out += "Content-Type: " + answer.contentType + "\r\n";
    }
    for (const std::string& line : answer.extraHeaders) {
        out += line + "\r\n";
    }
    if (answer.chunked) {
        out += "Transfer-Encoding: chunked\r\n\r\n";
        if (!answer.body.empty()) {
            char size[32];
            std::snprintf(size, sizeof size, "%zx\r\n", answer.body.size());
            out += size + answer.body + "\r\n";
        }
        out += "0\r\n\r\n";
    } else {
        out += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n\r\n" + answer.body;
    }
    return out;
}

ConfigAnswer NotFound() {
    ConfigAnswer answer;
    answer.status = 404;
    answer.reason = "Not Found";
    answer.contentType = "text/plain";
    answer.body = "Not Found\n";
    return answer;
}

// One connection: reads a request, records it, answers it as scripted, and reads the next.
class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, ConfigServer::State& state)
        : socket_(std::move(socket)),
          timer_(socket_.get_executor()),
          input_(kMaxHead),
          state_(state) {}

    void DoRead() {
        asio::async_read_until(socket_, input_, "\r\n\r\n",
                               [self = shared_from_this()](error_code ec, size_t headSize) {
                                   self->OnHead(ec, headSize);
                               });
    }

  private:
    void OnHead(error_code ec, size_t headSize) {
        if (ec) {
            return;
        }
        request_.assign(asio::buffers_begin(input_.data()),
                        asio::buffers_begin(input_.data()) + headSize);
        input_.consume(headSize);
        {
            std::lock_guard<std::mutex> lock(state_.mutex);
            draining_ = state_.answer.answerBeforeBody;
        }
        if (draining_) {
            OnRequest(ec);
            return;
        }
        const size_t length = ContentLength(request_);
        if (length > kMaxBody) {
            return;
        }
        // The head buffer's bound does not apply to the body.
        body_.resize(length);
        const size_t buffered = std::min(length, input_.size());
        asio::buffer_copy(asio::buffer(body_), input_.data(), buffered);
        input_.consume(buffered);
        asio::async_read(
            socket_, asio::buffer(body_.data() + buffered, length - buffered),
            [self = shared_from_this()](error_code ec, size_t) { self->OnRequest(ec); });
    }

    void OnRequest(error_code ec) {
        if (ec) {
            return;
        }
        request_ += body_;
        ConfigAnswer answer;
        {
            std::lock_guard<std::mutex> lock(state_.mutex);
            state_.requests.push_back(request_);
            if (state_.observer) {
                state_.observer(request_);
            }
            const std::string_view line(request_.data(), request_.find("\r\n"));
            const size_t blank = line.find(' ');
            const std::string_view method = line.substr(0, blank);
            const std::string_view target =
                blank == std::string_view::npos
                    ? std::string_view()
                    : line.substr(blank + 1, line.rfind(' ') - blank - 1);
            answer = method == "POST" && TargetPath(target) == ConfigServer::kPath ? state_.answer
                                                                                   : NotFound();
        }
        state_.arrived.notify_all();
        if (answer.closeWithoutAnswer) {
            error_code ignored;
            socket_.shutdown(tcp::socket::shutdown_both, ignored);
            return;
        }
        output_ = Serialize(answer);
        written_ = 0;
        pieceSize_ = answer.pieceSize == 0 ? output_.size() : answer.pieceSize;
        pieceDelay_ = answer.pieceDelay;
        Wait(answer.delay);
    }

    void Wait(std::chrono::milliseconds delay) {
        timer_.expires_after(delay);
        timer_.async_wait([self = shared_from_this()](error_code ec) {
            if (!ec) {
                self->WritePiece();
            }
        });
    }

    void WritePiece() {
        const size_t n = std::min(pieceSize_, output_.size() - written_);
        asio::async_write(socket_, asio::buffer(output_.data() + written_, n),
                          [self = shared_from_this()](error_code ec, size_t sent) {
                              if (ec) {
                                  return;
                              }
                              self->written_ += sent;
                              if (self->written_ < self->output_.size()) {
                                  self->Wait(self->pieceDelay_);
                              } else if (self->draining_) {
                                  self->Drain();
                              } else {
                                  self->DoRead();
                              }
                          });
    }

    void Drain() {
        input_.consume(input_.size());
        socket_.async_read_some(input_.prepare(kMaxHead),
                                [self = shared_from_this()](error_code ec, size_t) {
                                    if (!ec) {
                                        self->Drain();
                                    }
                                });
    }

    tcp::socket socket_;
    asio::steady_timer timer_;
    asio::streambuf input_;
    ConfigServer::State& state_;
    std::string request_;
    std::string body_;
    std::string output_;
    size_t written_ = 0;
    size_t pieceSize_ = 0;
    std::chrono::milliseconds pieceDelay_{0};
    bool draining_ = false;
};

}  // namespace

std::string ConfigurationBody(const std::string& serverHost, int serverPort) {
    return "{\"code\":0,\"data\":[{\"serverUrl\":\"" + serverHost +
           "\",\"serverPort\":" + std::to_string(serverPort) +
           ",\"isUsing\":1,\"type\":4,\"status\":1}]}";
}

ConfigServer::ConfigServer(uint16_t port, const std::string& address) : acceptor_(io_) {
    const tcp::endpoint endpoint(asio::ip::make_address(address), port);
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(tcp::acceptor::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen();
    port_ = acceptor_.local_endpoint().port();
    state_.answer.body = ConfigurationBody("127.0.0.1", 9977);
    Accept();
    thread_ = std::thread([this] { io_.run(); });
}

ConfigServer::~ConfigServer() {
    io_.stop();
    thread_.join();
}

void ConfigServer::Accept() {
    acceptor_.async_accept([this](error_code ec, tcp::socket socket) {
        if (!ec) {
            std::make_shared<Session>(std::move(socket), state_)->DoRead();
        }
        Accept();
    });
}

void ConfigServer::SetAnswer(ConfigAnswer answer) {
    std::lock_guard<std::mutex> lock(state_.mutex);
    state_.answer = std::move(answer);
}

void ConfigServer::SetObserver(std::function<void(const std::string&)> observer) {
    std::lock_guard<std::mutex> lock(state_.mutex);
    state_.observer = std::move(observer);
}

std::vector<std::string> ConfigServer::Requests() const {
    std::lock_guard<std::mutex> lock(state_.mutex);
    return state_.requests;
}

bool ConfigServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(state_.mutex);
    return state_.arrived.wait_for(lock, timeout, [&] { return state_.requests.size() >= count; });
}

}  // namespace sim
