#include "tests/webservice/support/expected_answer.h"

#include <cstdio>

const Person kSampleCard = {"19900101",
                            "示例省示例市样例区测试路1号",
                            "990000199001010011",
                            "示例市公安局样例分局",
                            "身份证",
                            "20200101",
                            "20400101",
                            "男",
                            "",
                            "汉",
                            "01",
                            "样例人"};

std::string ChunkedAnswer(std::string_view body, std::string_view allowOrigin) {
    std::string answer = allowOrigin == "*"
                             ? std::string(kAnswerHead)
                             : "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                               "Access-Control-Allow-Origin: " +
                                   std::string(allowOrigin) + "\r\nVary: Origin\r\n\r\n";
    if (!body.empty()) {
        char length[24];
        std::snprintf(length, sizeof length, "%zX\r\n", body.size());
        answer += length;
        answer += body;
        answer += "\r\n";
    }
    return answer + "0\r\n\r\n";
}

std::string WholeAnswer(std::string_view body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nAccess-Control-Allow-Origin: *\r\n\r\n" + std::string(body);
}

std::string OperationBody(int resultFlag, std::string_view errorMsg) {
    return "{\n   \"errorMsg\" : \"" + std::string(errorMsg) +
           "\",\n   \"resultFlag\" : " + std::to_string(resultFlag) + "\n}\n";
}

std::string ReadCardBody(int resultFlag, const Person& p) {
    auto member = [](const char* key, const std::string& value) {
        return std::string("   \"") + key + "\" : \"" + value + "\",\n";
    };
    return "{\n" + member("bornDay", p.bornDay) + member("certAddress", p.certAddress) +
           member("certNumber", p.certNumber) + member("certOrg", p.certOrg) +
           member("certType", p.certType) + member("effDate", p.effDate) +
           member("errorMsg", resultFlag == 0 ? "读卡成功" : "读卡失败") +
           member("expDate", p.expDate) + member("gender", p.gender) +
           member("identityPic", p.identityPic) + member("nation", p.nation) +
           member("nationCode", p.nationCode) + member("partyName", p.partyName) +
           "   \"resultFlag\" : " + std::to_string(resultFlag) + "\n}\n";
}

std::string SamIdBody(int resultFlag, std::string_view errorMsg, std::string_view samid) {
    return "{\n   \"errorMsg\" : \"" + std::string(errorMsg) +
           "\",\n   \"resultFlag\" : " + std::to_string(resultFlag) + ",\n   \"samid\" : \"" +
           std::string(samid) + "\"\n}\n";
}

std::string SampleSamIdBody() {
    return SamIdBody(0, "获取安全模块号成功", "05.01-20240101-0123456789-9999999999");
}

std::string GetRequest(std::string_view target) {
    return "GET " + std::string(target) + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
}
