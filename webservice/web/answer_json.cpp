#include "webservice/web/answer_json.h"

#include <array>
#include <charconv>
#include <cstring>
#include <iterator>
#include <string_view>

#include "platform/ascii.h"

namespace {

// An answer is laid out twice: once to count its bytes, then into a string of exactly that many,
// so that it takes one allocation and is never copied as it grows.
class ByteCount {
  public:
    void Put(std::string_view bytes) { size_ += bytes.size(); }
    std::size_t Size() const { return size_; }

  private:
    std::size_t size_ = 0;
};

class ByteWriter {
  public:
    explicit ByteWriter(char* at) : at_(at) {}
    void Put(std::string_view bytes) {
        if (!bytes.empty()) {
            std::memcpy(at_, bytes.data(), bytes.size());
            at_ += bytes.size();
        }
    }

  private:
    char* at_;
};

// The escape of a byte that JSON does not take as it is: a quote, a backslash or a control byte.
template <typename Out>
void PutEscape(Out& out, unsigned char byte) {
    switch (byte) {
        case '"':
            return out.Put("\\\"");
        case '\\':
            return out.Put("\\\\");
        case '\b':
            return out.Put("\\b");
        case '\f':
            return out.Put("\\f");
        case '\n':
            return out.Put("\\n");
        case '\r':
            return out.Put("\\r");
        case '\t':
            return out.Put("\\t");
        default: {
            // NUL included: a value holding one stays whole and the JSON stays valid.
            const char escape[] = {'\\',
                                   'u',
                                   '0',
                                   '0',
                                   platform::ascii::kUpperHexDigits[byte >> 4],
                                   platform::ascii::kUpperHexDigits[byte & 0xF]};
            return out.Put(std::string_view(escape, sizeof escape));
        }
    }
}

// Which bytes JSON takes only escaped.
constexpr std::array<bool, 256> kEscaped = [] {
    std::array<bool, 256> escaped{};
    for (unsigned char byte = 0; byte < 0x20; ++byte) {
        escaped[byte] = true;
    }
    escaped['"'] = true;
    escaped['\\'] = true;
    return escaped;
}();

// Bytes that need no escape go out in runs, not one by one: a photo's text is thousands of them.
template <typename Out>
void PutQuoted(Out& out, std::string_view text) {
    out.Put("\"");
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (!kEscaped[byte]) {
            continue;
        }
        out.Put(text.substr(run, i - run));
        PutEscape(out, byte);
        run = i + 1;
    }
    out.Put(text.substr(run));
    out.Put("\"");
}

template <typename Out>
void PutNumber(Out& out, long long number) {
    char digits[24];
    const std::to_chars_result end = std::to_chars(std::begin(digits), std::end(digits), number);
    out.Put(std::string_view(digits, static_cast<std::size_t>(end.ptr - digits)));
}

template <typename Out>
void PutValue(Out& out, const Json::Value& value) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (value.getString(&begin, &end)) {
        PutQuoted(out, std::string_view(begin, static_cast<std::size_t>(end - begin)));
    } else {
        PutNumber(out, value.asLargestInt());
    }
}

template <typename Out>
void PutValue(Out& out, const AnswerMember& member) {
    if (member.isNumber) {
        PutNumber(out, member.number);
    } else {
        PutQuoted(out, member.text);
    }
}

// The object's lines around its members, taken as name and value in order.
template <typename Out, typename Members, typename NameOf>
void PutObject(Out& out, const Members& members, NameOf nameOf) {
    out.Put("{\n");
    for (auto member = members.begin(); member != members.end(); ++member) {
        out.Put("   ");
        PutQuoted(out, nameOf(member));
        out.Put(" : ");
        PutValue(out, *member);
        out.Put(std::next(member) != members.end() ? ",\n" : "\n");
    }
    out.Put("}\n");
}

template <typename Members, typename NameOf>
std::string Render(const Members& members, NameOf nameOf) {
    ByteCount size;
    PutObject(size, members, nameOf);
    std::string out(size.Size(), '\0');
    ByteWriter writer(out.data());
    PutObject(writer, members, nameOf);
    return out;
}

}  // namespace

std::string RenderAnswer(const Json::Value& answer) {
    // An object's members are kept, and so come out, in ascending byte order of their names.
    return Render(answer, [](const Json::Value::const_iterator& member) {
        const char* end = nullptr;
        const char* name = member.memberName(&end);
        return std::string_view(name, static_cast<std::size_t>(end - name));
    });
}

std::string RenderAnswer(std::initializer_list<AnswerMember> members) {
    return Render(members, [](const AnswerMember* member) { return member->name; });
}
