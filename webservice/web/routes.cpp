#include "webservice/web/routes.h"

#include <json/value.h>

#include <cstring>
#include <iterator>
#include <memory>

#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/program_path.h"
#include "webservice/reader/ansi_text.h"
#include "webservice/reader/card_reader.h"
#include "webservice/reader/person_info.h"
#include "webservice/web/answer_json.h"
#include "webservice/web/page_file.h"

namespace {

constexpr int kUnknownRoute = -101;
constexpr char kStatusLine[] = "HTTP/1.1 200 OK\r\n";
constexpr char kChunked[] = "Transfer-Encoding: chunked\r\n";
constexpr char kLastChunk[] = "0\r\n\r\n";
constexpr char16_t kPageFileName[] = u"readcard.html";

std::string OperationAnswer(int code, const char* successText, const char* failureText) {
    return RenderAnswer(
        {AnswerMember::Text("errorMsg", code == ReaderResult::Success ? successText : failureText),
         AnswerMember::Number("resultFlag", code)});
}

std::string PageAnswer() {
    std::u16string file = GetModuleDirectory();
    file += platform::kPathSeparator;
    file += kPageFileName;
    return ReadPageFile(file);
}

std::string OpenDeviceAnswer() {
    return OperationAnswer(TheCardReader().Open(), "打开成功", "无法打开读卡器");
}

std::string DeviceStatusAnswer() {
    return OperationAnswer(TheCardReader().GetStatus(), "读卡器正常", "读卡器异常");
}

std::string CloseDeviceAnswer() {
    return OperationAnswer(TheCardReader().Close(), "关闭读卡器成功", "关闭读卡器失败");
}

std::string ReadCardAnswer() {
    struct PersonKey {
        const char* key;
        std::u16string Reader::PersonInfoEx::*field;
    };
    static const PersonKey kPersonKeys[] = {
        {"partyName", &Reader::PersonInfoEx::peopleName},
        {"gender", &Reader::PersonInfoEx::peopleSex},
        {"nation", &Reader::PersonInfoEx::peopleNation},
        {"nationCode", &Reader::PersonInfoEx::nationCode},
        {"bornDay", &Reader::PersonInfoEx::peopleBirthday},
        {"certAddress", &Reader::PersonInfoEx::peopleAddress},
        {"certNumber", &Reader::PersonInfoEx::peopleIdCode},
        {"certOrg", &Reader::PersonInfoEx::department},
        {"effDate", &Reader::PersonInfoEx::startDate},
        {"expDate", &Reader::PersonInfoEx::endDate},
        {"certType", &Reader::PersonInfoEx::certType},
    };
    const auto record = std::make_unique<Reader::PersonInfoEx>();
    const int code = TheCardReader().ReadCard(record.get());
    const bool read = code == ReaderResult::Success;

    Json::Value answer;
    answer["resultFlag"] = code;
    answer["errorMsg"] = read ? "读卡成功" : "读卡失败";
    // Card texts go straight from UTF-16 to UTF-8 so that no character of a name is lost.
    for (const PersonKey& person : kPersonKeys) {
        answer[person.key] =
            read ? platform::codepage::Utf16ToUtf8((*record).*person.field) : std::string();
    }
    answer["identityPic"] =
        read ? AnsiToUtf8(Reader::NarrowTextOf(record->base64JpgData)) : std::string();
    return RenderAnswer(answer);
}

std::string SamIdAnswer() {
    std::u16string samId;
    const int code = TheCardReader().GetSamId(samId);
    const bool read = code == ReaderResult::Success;
    Json::Value answer;
    answer["resultFlag"] = code;
    answer["errorMsg"] = read ? "获取安全模块号成功" : "获取安全模块号失败";
    answer["samid"] = read ? platform::codepage::Utf16ToUtf8(samId) : std::string();
    return RenderAnswer(answer);
}

std::string UnknownRouteAnswer() {
    return RenderAnswer({AnswerMember::Text("errorMsg", "不支持未知指令"),
                         AnswerMember::Number("resultFlag", kUnknownRoute)});
}

// The access-control field and the empty line that ends the head. An answer for one origin
// differs by origin, which caches must know.
void SendAccessFields(HttpConnection& connection, std::string_view allowOrigin) {
    connection.Send("Access-Control-Allow-Origin: ");
    connection.Send(allowOrigin);
    connection.Send(allowOrigin == "*" ? "\r\n\r\n" : "\r\nVary: Origin\r\n\r\n");
}

struct Route {
    std::string_view name;  // begins with a slash
    std::string (*answer)();
};

// Whether the route's name occurs in the path, letter case aside. A name begins with a slash, so
// it can only begin where the path has one.
bool Names(std::string_view path, const Route& route) {
    const std::size_t length = route.name.size();
    for (std::size_t at = path.find('/');
         at != std::string_view::npos && path.size() - at >= length; at = path.find('/', at + 1)) {
        if (platform::ascii::EqualsIgnoringCase(path.substr(at, length), route.name)) {
            return true;
        }
    }
    return false;
}

// Tested in this order; the first route whose name occurs in the path wins.
constexpr Route kRoutes[] = {
    {"/mainpage", PageAnswer},
    {"/opendevice", OpenDeviceAnswer},
    {"/getdevicestatus", DeviceStatusAnswer},
    {"/readcard", ReadCardAnswer},
    {"/closedevice", CloseDeviceAnswer},
    {"/getsamid", SamIdAnswer},
};

}  // namespace

void OnHttpEvent(HttpConnection& connection, int event, const HttpMessage* message) {
    if (event != HttpEvent::Request || message == nullptr) {
        return;
    }
    const std::string_view uri = message->uri.substr(0, message->uri.find('\0'));
    const std::string body = HandleRequest(uri);
    // A body after the head of a HEAD answer would break the framing of a keep-alive client.
    const bool head = message->method == "HEAD";
    if (message->version < 11) {
        SendWholeAnswer(connection, body, !head, message->allowOrigin);
    } else if (head) {
        SendAnswerHead(connection, message->allowOrigin);
    } else {
        SendChunkedAnswer(connection, body, message->allowOrigin);
    }
}

std::string HandleRequest(std::string_view path) {
    for (const Route& route : kRoutes) {
        if (Names(path, route)) {
            return route.answer();
        }
    }
    return UnknownRouteAnswer();
}

void SendAnswerHead(HttpConnection& connection, std::string_view allowOrigin) {
    connection.Send(kStatusLine);
    connection.Send(kChunked);
    SendAccessFields(connection, allowOrigin);
}

void SendChunkedAnswer(HttpConnection& connection, std::string_view body,
                       std::string_view allowOrigin) {
    // The head's fields and the chunk's framing are far below this.
    connection.Reserve(body.size() + 256);
    SendAnswerHead(connection, allowOrigin);
    if (!body.empty()) {
        // The chunk's length in upper-case hex digits, the most significant first.
        char length[2 * sizeof(std::size_t) + 2];
        char* start = std::end(length) - 2;
        std::memcpy(start, "\r\n", 2);
        std::size_t left = body.size();
        do {
            *--start = platform::ascii::kUpperHexDigits[left % 16];
            left /= 16;
        } while (left != 0);
        connection.Send(
            std::string_view(start, static_cast<std::size_t>(std::end(length) - start)));
        connection.Send(body);
        connection.Send("\r\n");
    }
    connection.Send(kLastChunk);
}

void SendWholeAnswer(HttpConnection& connection, std::string_view body, bool withBody,
                     std::string_view allowOrigin) {
    connection.Send(kStatusLine);
    connection.Send("Content-Length: " + std::to_string(body.size()) + "\r\n");
    SendAccessFields(connection, allowOrigin);
    if (withBody) {
        connection.Send(body);
    }
}
