// Legacy code pages through glibc's iconv. The ANSI code page of this system is GBK (CP936),
// the code page the suite's peers on Windows desktops use.
#include <errno.h>
#include <iconv.h>

#include <cstring>

#include "platform/code_page.h"
#include "platform/system_error.h"

namespace platform::codepage {
namespace {

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr const char* kUtf16Name = "UTF-16LE";
#else
constexpr const char* kUtf16Name = "UTF-16BE";
#endif

const char* IconvName(unsigned codePage) {
    switch (codePage) {
        case kAnsi:
        case kGbk:
            return "CP936";
        case kUtf7:
            return "UTF-7";
        default:
            return nullptr;
    }
}

// One iconv conversion descriptor, closed when the object goes.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (IsOpen()) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool IsOpen() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts input whole. At a sequence the target cannot take, or the source does not define,
    // writes the replacement bytes and skips `unit` bytes of input (or a surrogate pair's four
    // bytes when `pairs` and the unit starts one).
    std::string Run(const char* input, size_t size, std::string_view replacement, size_t unit,
                    bool pairs) {
        std::string out;
        char buffer[1024];
        char* in = const_cast<char*>(input);
        size_t inLeft = size;
        while (true) {
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t rc = inLeft > 0 ? iconv(cd_, &in, &inLeft, &outPtr, &outLeft)
                                         : iconv(cd_, nullptr, nullptr, &outPtr, &outLeft);
            out.append(buffer, outPtr - buffer);
            if (rc != static_cast<size_t>(-1)) {
                if (inLeft == 0) {
                    break;
                }
                continue;
            }
            if (errno == E2BIG) {
                continue;
            }
            // EILSEQ, or EINVAL for a sequence cut off at the end of the input.
            out.append(replacement);
            size_t skip = unit;
            if (pairs && inLeft >= 4) {
                char16_t u;
                std::memcpy(&u, in, 2);
                if (u >= 0xD800 && u <= 0xDBFF) {
                    skip = 4;
                }
            }
            skip = skip < inLeft ? skip : inLeft;
            in += skip;
            inLeft -= skip;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

  private:
    iconv_t cd_;
};

}  // namespace

Result<std::u16string> ToUtf16(unsigned codePage, std::string_view text) {
    if (codePage == kUtf8) {
        return Utf8ToUtf16(text);
    }
    const char* name = IconvName(codePage);
    if (name == nullptr) {
        return Result<std::u16string>::Failure(error::kInvalidParameter);
    }
    Converter converter(kUtf16Name, name);
    if (!converter.IsOpen()) {
        return Result<std::u16string>::Failure(error::kInvalidParameter);
    }
    static const char16_t kReplacement = 0xFFFD;
    const std::string bytes =
        converter.Run(text.data(), text.size(),
                      std::string_view(reinterpret_cast<const char*>(&kReplacement), 2), 1, false);
    std::u16string out(bytes.size() / 2, u'\0');
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

Result<std::string> FromUtf16(unsigned codePage, std::u16string_view text) {
    if (codePage == kUtf8) {
        return Utf16ToUtf8(text);
    }
    const char* name = IconvName(codePage);
    if (name == nullptr) {
        return Result<std::string>::Failure(error::kInvalidParameter);
    }
    Converter converter(name, kUtf16Name);
    if (!converter.IsOpen()) {
        return Result<std::string>::Failure(error::kInvalidParameter);
    }
    return converter.Run(reinterpret_cast<const char*>(text.data()), text.size() * 2, "?", 2, true);
}

}  // namespace platform::codepage
