#pragma once

#include <boost/asio/ip/tcp.hpp>

#include <memory>

// One accepted connection. It answers its requests in order, one at a time, and lives while it
// has a read or a write pending: until the peer closes, an error, or Stop.
class HttpSession {
  public:
    virtual ~HttpSession() = default;

    // Ends the connection: at once when it is waiting for a request, after the answer being
    // written has gone out otherwise.
    virtual void Stop() = 0;

    // Ends the connection at once.
    virtual void Close() = 0;
};

std::shared_ptr<HttpSession> StartHttpSession(boost::asio::ip::tcp::socket socket);
