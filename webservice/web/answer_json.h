#pragma once

#include <json/value.h>

#include <initializer_list>
#include <string>
#include <string_view>

// The bytes of an answer object: "{", one line per member in ascending byte order of the keys
// (three spaces, the quoted key, " : ", the value, a comma on all but the last), "}" and a final
// line feed. Member values are strings or integers. Strings keep every byte at or above 0x20 as
// it is (UTF-8 and the slash included); only the quote, the backslash and control bytes are
// escaped.
std::string RenderAnswer(const Json::Value& answer);

// A member of an answer given directly: a string, or an integer.
struct AnswerMember {
    static AnswerMember Text(std::string_view name, std::string_view text) {
        return {name, text, 0, false};
    }
    static AnswerMember Number(std::string_view name, long long number) {
        return {name, {}, number, true};
    }

    std::string_view name;
    std::string_view text;
    long long number;
    bool isNumber;
};

// The same bytes from members given in ascending byte order of their names, without an object
// built for them: the answers of few fixed members are rendered at every request.
std::string RenderAnswer(std::initializer_list<AnswerMember> members);
