#pragma once

#include <string>
#include <string_view>

#include "webservice/web/http_connection.h"

// The event callback of the web server. Acts on HttpEvent::Request alone: routes the request's
// path and queues the answer on the connection, chunked for HTTP/1.1 and whole with its length
// for HTTP/1.0; a HEAD request gets the status line and header fields only. Every other event is
// ignored. message is null for events that carry none.
void OnHttpEvent(HttpConnection& connection, int event, const HttpMessage* message);

// The answer body for a request path: the first route whose string occurs anywhere in the
// lower-cased path wins ("/mainpage", "/opendevice", "/getdevicestatus", "/readcard",
// "/closedevice", "/getsamid"); no match answers resultFlag -101. Every route but "/mainpage"
// answers a JSON answer object; "/mainpage" answers the page file beside the program, or nothing.
std::string HandleRequest(std::string_view path);

// Queues a complete 200 answer: status line and header fields, the body as one chunk unless it
// is empty, and the last chunk. allowOrigin is what Access-Control-Allow-Origin names.
void SendChunkedAnswer(HttpConnection& connection, std::string_view body,
                       std::string_view allowOrigin = "*");

// Queues the status line and header fields of a chunked answer alone, without any chunk.
void SendAnswerHead(HttpConnection& connection, std::string_view allowOrigin = "*");

// Queues a 200 answer for a client that reads no chunks: header fields with the body's length,
// then the body unless withBody is false (HEAD).
void SendWholeAnswer(HttpConnection& connection, std::string_view body, bool withBody,
                     std::string_view allowOrigin = "*");
