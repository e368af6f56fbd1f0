#include "webservice/web/answer_json.h"

#include <cstdio>
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

void AppendValue(std::string& out, const Json::Value& value) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (value.getString(&begin, &end)) {
        AppendQuoted(out, std::string_view(begin, static_cast<std::size_t>(end - begin)));
    } else {
        out += std::to_string(value.asLargestInt());
    }
}

void AppendValue(std::string& out, const AnswerMember& member) {
    if (member.isNumber) {
        out += std::to_string(member.number);
    } else {
        AppendQuoted(out, member.text);
    }
}

// The object's lines around its members, taken as name and value in order.
template <typename Members, typename NameOf>
std::string Render(const Members& members, std::size_t count, NameOf nameOf) {
    std::string out = "{\n";
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
    return Render(answer, answer.size(), [](const Json::Value::const_iterator& member) {
        const char* end = nullptr;
        const char* name = member.memberName(&end);
        return std::string_view(name, static_cast<std::size_t>(end - name));
    });
}

std::string RenderAnswer(std::initializer_list<AnswerMember> members) {
    return Render(members, members.size(), [](const AnswerMember* member) { return member->name; });
}
