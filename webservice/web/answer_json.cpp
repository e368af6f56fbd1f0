#include "webservice/web/answer_json.h"

#include <charconv>
#include <cstdio>
#include <iterator>
#include <string_view>

namespace {

// The escape of a byte that JSON does not take as it is.
void AppendEscape(std::string& out, unsigned char byte) {
    switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default: {
            // NUL included: a value holding one stays whole and the JSON stays valid.
            char escape[7];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        }
    }
}

// Bytes that need no escape go out in runs, not one by one: a photo's text is thousands of them.
void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte != '"' && byte != '\\') {
            continue;
        }
        out.append(text.substr(run, i - run));
        AppendEscape(out, byte);
        run = i + 1;
    }
    out.append(text.substr(run));
    out += '"';
}

void AppendNumber(std::string& out, long long number) {
    char digits[24];
    const std::to_chars_result end = std::to_chars(std::begin(digits), std::end(digits), number);
    out.append(digits, end.ptr);
}

void AppendValue(std::string& out, const Json::Value& value) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (value.getString(&begin, &end)) {
        AppendQuoted(out, std::string_view(begin, static_cast<std::size_t>(end - begin)));
    } else {
        AppendNumber(out, value.asLargestInt());
    }
}

void AppendValue(std::string& out, const AnswerMember& member) {
    if (member.isNumber) {
        AppendNumber(out, member.number);
    } else {
        AppendQuoted(out, member.text);
    }
}

// The object's lines around its members, taken as name and value in order, into a string that
// starts with room for size bytes.
template <typename Members, typename NameOf>
std::string Render(const Members& members, std::size_t count, NameOf nameOf, std::size_t size) {
    std::string out;
    out.reserve(size);
    out += "{\n";
    for (auto member = members.begin(); member != members.end(); ++member) {
        out += "   ";
        AppendQuoted(out, nameOf(member));
        out += " : ";
        AppendValue(out, *member);
        out += --count > 0 ? ",\n" : "\n";
    }
    out += "}\n";
    return out;
}

}  // namespace

std::string RenderAnswer(const Json::Value& answer) {
    // An object's members are kept, and so come out, in ascending byte order of their names.
    const auto nameOf = [](const Json::Value::const_iterator& member) {
        const char* end = nullptr;
        const char* name = member.memberName(&end);
        return std::string_view(name, static_cast<std::size_t>(end - name));
    };
    return Render(answer, answer.size(), nameOf, 0);
}

std::string RenderAnswer(std::initializer_list<AnswerMember> members) {
    // Room for every member's line as it stands when nothing in it needs an escape.
    std::size_t size = 4;
    for (const AnswerMember& member : members) {
        size += member.name.size() + member.text.size() + 32;
    }
    return Render(
        members, members.size(), [](const AnswerMember* member) { return member->name; }, size);
}
