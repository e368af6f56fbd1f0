#include "webservice/web/web_server.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/console.h"
#include "platform/port_number.h"
#include "webservice/reader/card_reader.h"
#include "webservice/web/http_session.h"

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

// One poll waits at most this long; a stop request also wakes it. The connections' deadlines are
// looked at after each poll, so a time-out ends its connection up to this much late.
constexpr auto kPollWait = std::chrono::milliseconds(1000);
// An accept that fails with no connection to give up for it is retried after this pause rather
// than at once.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(100);

std::atomic<bool> stopRequested{false};
std::atomic<unsigned short> listeningPort{0};
// The context of the running server, for StopWebServer on another thread to wake.
std::mutex runningMutex;
asio::io_context* runningContext = nullptr;

bool OutOfDescriptors(const error_code& error) {
    return error == asio::error::no_descriptors || error == asio::error::no_buffer_space ||
           error == boost::system::errc::too_many_files_open_in_system;
}

class Listener {
  public:
    Listener(asio::io_context& context, std::shared_ptr<const SessionRules> rules,
             std::size_t maxConnections)
        : acceptor_(context),
          retryTimer_(context),
          rules_(std::move(rules)),
          maxConnections_(maxConnections) {}

    bool Listen(const std::string& address, unsigned short port) {
        error_code error;
        const tcp::endpoint endpoint(asio::ip::make_address_v4(address, error), port);
        if (error) {
            return false;
        }
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
        if (!error) {
            acceptor_.non_blocking(true, error);
        }
        return !error;
    }

    unsigned short Port() const {
        error_code error;
        return acceptor_.local_endpoint(error).port();
    }

    // Waits for connections to arrive. The accept itself comes only once one waits: without a
    // descriptor to give it, the system refuses an accept whether or not anyone waits.
    void Accept() {
        acceptor_.async_wait(tcp::acceptor::wait_read, [this](error_code error) {
            if (error == asio::error::operation_aborted) {
                return;
            }
            if (error) {
                RetryLater();
                return;
            }
            AcceptWaiting();
        });
    }

    // Takes the connection that waits. Out of descriptors, the connection idle the longest gives
    // its own up for it.
    void AcceptWaiting() {
        for (;;) {
            error_code error;
            tcp::socket socket(acceptor_.get_executor());
            acceptor_.accept(socket, error);
            if (error == asio::error::would_block || error == asio::error::try_again) {
                Accept();
                return;
            }
            if (error) {
                if (OutOfDescriptors(error) && CloseLongestIdle()) {
                    continue;
                }
                RetryLater();
                return;
            }
            Forget();
            if (sessions_.size() >= maxConnections_) {
                CloseLongestIdle();
            }
            sessions_.push_back(StartHttpSession(std::move(socket), rules_));
            Accept();
            return;
        }
    }

    void RetryLater() {
        retryTimer_.expires_after(kAcceptRetryPause);
        retryTimer_.async_wait([this](error_code waitError) {
            if (!waitError) {
                Accept();
            }
        });
    }

    // Stops accepting and ends every connection once its answer in writing has gone out.
    void Stop() {
        error_code ignored;
        acceptor_.close(ignored);
        retryTimer_.cancel();
        ForEachSession([](HttpSession& session) { session.Stop(); });
    }

    void CloseConnections() {
        ForEachSession([](HttpSession& session) { session.Close(); });
    }

    void CloseOverdue() {
        const auto now = std::chrono::steady_clock::now();
        ForEachSession([now](HttpSession& session) { session.CloseIfOverdue(now); });
    }

    bool HasConnections() {
        Forget();
        return !sessions_.empty();
    }

  private:
    // Drops the sessions that have ended.
    void Forget() {
        sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(),
                                       [](const std::weak_ptr<HttpSession>& weak) {
                                           const auto session = weak.lock();
                                           return !session || !session->IsOpen();
                                       }),
                        sessions_.end());
    }

    // False when there is no open connection to close.
    bool CloseLongestIdle() {
        std::shared_ptr<HttpSession> oldest;
        for (const auto& weak : sessions_) {
            const auto session = weak.lock();
            if (session && session->IsOpen() &&
                (!oldest || session->ActiveAt() < oldest->ActiveAt())) {
                oldest = session;
            }
        }
        if (!oldest) {
            return false;
        }
        oldest->Close();
        Forget();
        return true;
    }

    template <class Action>
    void ForEachSession(Action action) {
        for (const auto& weak : sessions_) {
            if (const auto session = weak.lock()) {
                action(*session);
            }
        }
    }

    tcp::acceptor acceptor_;
    asio::steady_timer retryTimer_;
    std::shared_ptr<const SessionRules> rules_;
    std::size_t maxConnections_;
    std::vector<std::weak_ptr<HttpSession>> sessions_;
};

void SetRunningContext(asio::io_context* context) {
    const std::lock_guard<std::mutex> lock(runningMutex);
    runningContext = context;
}

}  // namespace

bool StartWebServer(const char* port, const ServerSettings& settings) {
    TheCardReader().LoadSdk();  // without the SDK the server still answers, with error codes
    platform::WriteOutputLine(u"Starting web server on port " +
                              platform::codepage::Utf8ToUtf16(port));

    // One thread runs the context: handlers it queues for itself need no lock.
    asio::io_context context(1);
    Listener listener(context,
                      std::make_shared<const SessionRules>(SessionRules{
                          RequestPolicy(settings, MachineHostName()), settings.idleTimeout}),
                      settings.maxConnections);
    const std::optional<std::uint16_t> number = platform::ParsePortNumber(std::string_view(port));
    if (!number || !listener.Listen(settings.listenAddress, *number)) {
        platform::WriteOutputLine(u"Failed to create listener");
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
        listener.CloseOverdue();
    }

    SetRunningContext(nullptr);
    listeningPort = 0;
    context.restart();
    listener.Stop();
    // Answers in writing go out whole; a write that makes no progress ends at its deadline.
    const auto drained = std::chrono::steady_clock::now() + settings.idleTimeout;
    while (listener.HasConnections() && std::chrono::steady_clock::now() < drained) {
        context.run_for(kPollWait);
        listener.CloseOverdue();
    }
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
