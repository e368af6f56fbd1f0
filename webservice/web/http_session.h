#pragma once

#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <memory>

#include "webservice/web/request_policy.h"

// What every connection of a server obeys.
struct SessionRules {
    RequestPolicy policy;
    // Longest wait for a request to complete, for a write to make progress, and for a peer to
    // close after the last answer; an upgraded WebSocket connection lives this long.
    std::chrono::steady_clock::duration idleTimeout;
};

// One accepted connection. It answers its requests in order, one at a time, and lives while it
// has a read or a write pending: until the peer closes, an error, its deadline, or Stop. A request
// the rules refuse gets 403 and ends the connection; so does the answer to a request that asks
// for the end (Connection: close, HTTP/1.0).
class HttpSession {
  public:
    virtual ~HttpSession() = default;

    // Ends the connection: at once when it is waiting for a request, after the answer being
    // written has gone out otherwise.
    virtual void Stop() = 0;

    // Ends the connection at once.
    virtual void Close() = 0;

    virtual bool IsOpen() const = 0;

    // When the connection last did something for its client: accepted, a request completed,
    // upgraded. The server closes the one idle the longest to admit a new connection.
    virtual std::chrono::steady_clock::time_point ActiveAt() const = 0;

    // Ends the connection when it has waited past its deadline by `now`: for a request to
    // complete, a write to make progress, or the peer to close. The server calls it on its poll.
    virtual void CloseIfOverdue(std::chrono::steady_clock::time_point now) = 0;
};

std::shared_ptr<HttpSession> StartHttpSession(boost::asio::ip::tcp::socket socket,
                                              std::shared_ptr<const SessionRules> rules);
