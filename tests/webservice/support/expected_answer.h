#pragma once

#include <string>
#include <string_view>

// Answers as the web front must send them, for comparing with the bytes on the wire.

constexpr char kAnswerHead[] =
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nAccess-Control-Allow-Origin: *\r\n\r\n";

// The whole answer to a request that Host or Origin rules out.
constexpr char kRefusal[] =
    "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

// The whole answer the server sends for a body: the 200 head, the body as one chunk unless it is
// empty, and the last chunk. A head naming one origin varies by origin.
std::string ChunkedAnswer(std::string_view body, std::string_view allowOrigin = "*");

// The answer to an HTTP/1.0 request: no chunks, the body's length instead.
std::string WholeAnswer(std::string_view body);

// The answer object of an operation route: errorMsg and resultFlag.
std::string OperationBody(int resultFlag, std::string_view errorMsg);

// The person keys of a "/readcard" answer object.
struct Person {
    std::string bornDay, certAddress, certNumber, certOrg, certType, effDate, expDate, gender,
        identityPic, nation, nationCode, partyName;
};

// The made-up sample card of the simulated reader, without its photo.
extern const Person kSampleCard;

// The "/readcard" answer object with every key; errorMsg follows resultFlag.
std::string ReadCardBody(int resultFlag, const Person& person);

// The "/getsamid" answer object.
std::string SamIdBody(int resultFlag, std::string_view errorMsg, std::string_view samid);

// The simulated reader's sample security-module number, read successfully.
std::string SampleSamIdBody();

// A GET request for target, HTTP/1.1, with a Host field.
std::string GetRequest(std::string_view target);
