#include "webservice/web/answer_json.h"

#include <cstdio>

namespace {

void AppendQuoted(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
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
            default:
                // NUL included: a value holding one stays whole and the JSON stays valid.
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[7];
                    std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned char>(c));
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void AppendValue(std::string& out, const Json::Value& value) {
    if (value.isString()) {
        AppendQuoted(out, value.asString());
    } else {
        out += std::to_string(value.asLargestInt());
    }
}

}  // namespace

std::string RenderAnswer(const Json::Value& answer) {
    std::string out = "{\n";
    // Member names come back sorted in ascending byte order.
    const Json::Value::Members keys = answer.getMemberNames();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        out += "   ";
        AppendQuoted(out, keys[i]);
        out += " : ";
        AppendValue(out, answer[keys[i]]);
        out += i + 1 < keys.size() ? ",\n" : "\n";
    }
    out += "}\n";
    return out;
}
