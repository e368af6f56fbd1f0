#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

// The relay configuration endpoint, played: an HTTP/1.1 server that answers POST requests for
// "/server/KS/queryDataInfo.html" as it is told (status, headers, body, delays, closing), answers
// everything else with 404, and keeps the raw bytes of every request it got. It runs on a thread
// of its own, so tests use it in-process; sim-configserver makes a program of it.
namespace sim {

struct ConfigAnswer {
    int status = 200;
    std::string reason = "OK";
    std::string contentType = "application/json;charset=UTF-8";  // empty: no Content-Type
    std::vector<std::string> extraHeaders;                       // whole header lines without CR LF
    std::string body;
    bool chunked = false;  // the body in one chunk and the last chunk instead of Content-Length
    std::chrono::milliseconds delay{0};  // before the answer goes out
    // The answer goes out in pieces of this many bytes, `pieceDelay` apart (0: in one piece).
    size_t pieceSize = 0;
    std::chrono::milliseconds pieceDelay{0};
    bool closeWithoutAnswer = false;  // read the request, then close the connection
    // Answer as soon as the request head is in (only the head is kept), then take and drop
    // whatever else comes on the connection.
    bool answerBeforeBody = false;
};

// A configuration answer naming one decoding server (an entry of type 4 in use).
std::string ConfigurationBody(const std::string& serverHost, int serverPort);

class ConfigServer {
  public:
    static constexpr const char* kPath = "/server/KS/queryDataInfo.html";

    // Listens on `address` and `port` (0: a free port, see Port()). Throws when it cannot.
    explicit ConfigServer(uint16_t port = 0, const std::string& address = "127.0.0.1");
    ~ConfigServer();
    ConfigServer(const ConfigServer&) = delete;
    ConfigServer& operator=(const ConfigServer&) = delete;

    uint16_t Port() const { return port_; }

    void SetAnswer(ConfigAnswer answer);

    // Called on the server's thread with the raw bytes of each request as it arrives.
    void SetObserver(std::function<void(const std::string&)> observer);

    // The raw bytes of every request so far (head and body), in order of arrival.
    std::vector<std::string> Requests() const;

    // Waits until at least `count` requests have arrived; false when `timeout` passed first.
    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;

    struct State {
        mutable std::mutex mutex;
        mutable std::condition_variable arrived;
        ConfigAnswer answer;
        std::function<void(const std::string&)> observer;
        std::vector<std::string> requests;
    };

  private:
    void Accept();

    State state_;
    boost::asio::io_context io_;
    boost::asio::ip::tcp::acceptor acceptor_;
    uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace sim
