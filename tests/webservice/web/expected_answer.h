#pragma once

#include <string>
#include <string_view>

// Answers as the web front must send them, for comparing with the bytes on the wire.

// The whole answer the server sends for a body: the 200 head, the body as one chunk unless it is
// empty, and the last chunk.
std::string ChunkedAnswer(std::string_view body);

// The answer object of an operation route: errorMsg and resultFlag.
std::string OperationBody(int resultFlag, std::string_view errorMsg);

// A GET request for target, HTTP/1.1, with a Host field.
std::string GetRequest(std::string_view target);

constexpr char kAnswerHead[] =
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nAccess-Control-Allow-Origin: *\r\n\r\n";
