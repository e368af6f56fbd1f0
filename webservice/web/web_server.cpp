#include "webservice/web/web_server.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "webservice/reader/card_reader.h"
#include "webservice/web/http_session.h"

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

// One poll waits at most this long; a stop request also wakes it.
constexpr auto kPollWait = std::chrono::milliseconds(1000);
// After a stop, answers already queued get this long to go out.
constexpr auto kDrainWait = std::chrono::milliseconds(1000);
// An accept that fails (no descriptors left) is retried after this pause rather than at once.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(100);

std::atomic<bool> stopRequested{false};
std::atomic<unsigned short> listeningPort{0};
// The context of the running server, for StopWebServer on another thread to wake.
std::mutex runningMutex;
asio::io_context* runningContext = nullptr;

// A port is a decimal number from 0 to 65535 and nothing else.
std::optional<unsigned short> ParsePort(const char* text) {
    const std::size_t length = std::strlen(text);
    if (length == 0 || length > 5 || std::strspn(text, "0123456789") != length) {
        return std::nullopt;
    }
    const unsigned long value = std::strtoul(text, nullptr, 10);
    if (value > 65535) {
        return std::nullopt;
    }
    return static_cast<unsigned short>(value);
}

class Listener {
  public:
    explicit Listener(asio::io_context& context) : acceptor_(context), retryTimer_(context) {}

    bool Listen(unsigned short port) {
        error_code error;
        const tcp::endpoint endpoint(asio::ip::address_v4::any(), port);
        // Address reuse lets a restart bind while old connections linger; on this system it
        // still refuses a port another socket listens on.
        acceptor_.open(endpoint.protocol(), error);
        if (!error) {
            acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
        }
        if (!error) {
            acceptor_.bind(endpoint, error);
        }
        if (!error) {
            acceptor_.listen(asio::socket_base::max_listen_connections, error);
        }
        return !error;
    }

    unsigned short Port() const {
        error_code error;
        return acceptor_.local_endpoint(error).port();
    }

    void Accept() {
        acceptor_.async_accept([this](error_code error, tcp::socket socket) {
            if (error == asio::error::operation_aborted) {
                return;
            }
            if (error) {
                retryTimer_.expires_after(kAcceptRetryPause);
                retryTimer_.async_wait([this](error_code waitError) {
                    if (!waitError) {
                        Accept();
                    }
                });
                return;
            }
            Forget();
            sessions_.push_back(StartHttpSession(std::move(socket)));
            Accept();
        });
    }

    // Stops accepting and ends every connection once its answer in writing has gone out.
    void Stop() {
        error_code ignored;
        acceptor_.close(ignored);
        retryTimer_.cancel();
        ForEachSession(&HttpSession::Stop);
    }

    void CloseConnections() { ForEachSession(&HttpSession::Close); }

  private:
    // Drops the sessions that have ended.
    void Forget() {
        std::vector<std::weak_ptr<HttpSession>> alive;
        for (auto& session : sessions_) {
            if (!session.expired()) {
                alive.push_back(std::move(session));
            }
        }
        sessions_.swap(alive);
    }

    void ForEachSession(void (HttpSession::*action)()) {
        for (const auto& weak : sessions_) {
            if (const auto session = weak.lock()) {
                ((*session).*action)();
            }
        }
    }

    tcp::acceptor acceptor_;
    asio::steady_timer retryTimer_;
    std::vector<std::weak_ptr<HttpSession>> sessions_;
};

void SetRunningContext(asio::io_context* context) {
    const std::lock_guard<std::mutex> lock(runningMutex);
    runningContext = context;
}

}  // namespace

bool StartWebServer(const char* port) {
    TheCardReader().LoadSdk();  // without the SDK the server still answers, with error codes
    std::printf("Starting web server on port %s\n", port);
    std::fflush(stdout);

    asio::io_context context;
    Listener listener(context);
    const std::optional<unsigned short> number = ParsePort(port);
    if (!number || !listener.Listen(*number)) {
        std::printf("Failed to create listener\n");
        std::fflush(stdout);
        stopRequested = false;
        return false;
    }
    listeningPort = listener.Port();
    SetRunningContext(&context);
    listener.Accept();

    // Every handler runs inside run_for on this thread, so requests are handled one at a time.
    while (!stopRequested) {
        context.run_for(kPollWait);
        if (context.stopped()) {
            context.restart();
        }
    }

    SetRunningContext(nullptr);
    listeningPort = 0;
    context.restart();
    listener.Stop();
    context.run_for(kDrainWait);
    listener.CloseConnections();
    context.restart();
    context.poll();
    stopRequested = false;
    return true;
}

void StopWebServer() {
    stopRequested = true;
    const std::lock_guard<std::mutex> lock(runningMutex);
    if (runningContext != nullptr) {
        runningContext->stop();
    }
}

unsigned short WebServerPort() {
    return listeningPort;
}
