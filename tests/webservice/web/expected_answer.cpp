#include "tests/webservice/web/expected_answer.h"

#include <cstdio>

std::string ChunkedAnswer(std::string_view body) {
    std::string answer = kAnswerHead;
    if (!body.empty()) {
        char length[24];
        std::snprintf(length, sizeof length, "%zX\r\n", body.size());
        answer += length;
        answer += body;
        answer += "\r\n";
    }
    return answer + "0\r\n\r\n";
}

std::string OperationBody(int resultFlag, std::string_view errorMsg) {
    return "{\n   \"errorMsg\" : \"" + std::string(errorMsg) +
           "\",\n   \"resultFlag\" : " + std::to_string(resultFlag) + "\n}\n";
}

std::string GetRequest(std::string_view target) {
    return "GET " + std::string(target) + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
}
