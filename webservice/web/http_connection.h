#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

// What the web server hands to the routes, in the shape of an embedded server library's event
// callback: events on a connection, a parsed request, and an output queue.

// Events the server reports to OnHttpEvent.
namespace HttpEvent {
constexpr int Request = 100;                 // a complete request has arrived; data: HttpMessage
constexpr int WebSocketHandshakeDone = 112;  // the server answered a WebSocket upgrade; no data
}  // namespace HttpEvent

// A complete request. uri is the request target before its first '?', not percent-decoded.
struct HttpMessage {
    std::string_view method;
    std::string_view uri;
    int version = 11;  // HTTP/1.1 as 11, HTTP/1.0 as 10
    // What the answer's Access-Control-Allow-Origin names: "*", or the one origin allowed to
    // read it (the answer then also varies by origin).
    std::string_view allowOrigin = "*";
};

// The output side of one connection: bytes queued here go out in order, written by the server
// after the event has been handled.
class HttpConnection {
  public:
    void Send(std::string_view bytes) { output_.append(bytes); }

    // Makes room for bytes still to be queued, so that an answer grows in one allocation.
    void Reserve(std::size_t bytes) { output_.reserve(output_.size() + bytes); }

    // Hands over everything queued so far; the queue goes on, empty, in room's storage, so that
    // the answers of a connection can take turns in two buffers instead of allocating anew.
    std::string TakeOutput(std::string room = {}) {
        room.clear();
        return std::exchange(output_, std::move(room));
    }

  private:
    std::string output_;
};
