// Legacy code pages through glibc's iconv. The ANSI code page of this system is GBK (CP936),
// the code page the suite's peers on Windows desktops use.
#include <errno.h>
#include <iconv.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

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
    Converter(const char* to, const char* from) : to_(to), from_(from), cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (IsOpen()) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool IsOpen() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    bool Converts(const char* to, const char* from) const {
        return std::strcmp(to, to_) == 0 && std::strcmp(from, from_) == 0;
    }

    // Converts input whole. At a sequence the target cannot take, or the source does not define,
    // writes the replacement bytes and skips `unit` bytes of input (or a surrogate pair's four
    // bytes when `pairs` and the unit starts one).
    std::string Run(const char* input, size_t size, std::string_view replacement, size_t unit,
                    bool pairs) {
        std::string out;
        char buffer[1024];
        char* in = const_cast<char*>(input);
        size_t inLeft = size;
        // From the initial state, whatever the converter did before.
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
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
    const char* to_;
    const char* from_;
    iconv_t cd_;
};

// Converters once opened, kept for the next conversion between the same encodings: opening one
// costs far more than a short conversion. A descriptor serves one conversion at a time, so each
// is taken out while it converts, and two threads converting at once each have one. (Kept for the
// process, not per thread: a library with thread-local objects to destroy could not be unloaded.)
class ConverterPool {
  public:
    // The converter between the encodings, taken out of the pool; null when iconv does not
    // know them.
    std::unique_ptr<Converter> Take(const char* to, const char* from) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            for (auto it = idle_.begin(); it != idle_.end(); ++it) {
                if ((*it)->Converts(to, from)) {
                    std::unique_ptr<Converter> converter = std::move(*it);
                    idle_.erase(it);
                    return converter;
                }
            }
        }
        auto converter = std::make_unique<Converter>(to, from);
        return converter->IsOpen() ? std::move(converter) : nullptr;
    }

    void Give(std::unique_ptr<Converter> converter) {
        const std::lock_guard<std::mutex> lock(mutex_);
        idle_.push_back(std::move(converter));
    }

  private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<Converter>> idle_;
};

ConverterPool& Pool() {
    static ConverterPool pool;
    return pool;
}

// Converts with a converter of the pool, which goes back to it afterwards; fails when iconv does
// not know the encodings.
Result<std::string> Convert(const char* to, const char* from, const char* input, size_t size,
                            std::string_view replacement, size_t unit, bool pairs) {
    std::unique_ptr<Converter> converter = Pool().Take(to, from);
    if (!converter) {
        return Result<std::string>::Failure(error::kInvalidParameter);
    }
    std::string out = converter->Run(input, size, replacement, unit, pairs);
    Pool().Give(std::move(converter));
    return out;
}

}  // namespace

Result<std::u16string> ToUtf16(unsigned codePage, std::string_view text) {
    if (codePage == kUtf8) {
        return Utf8ToUtf16(text);
    }
    const char* name = IconvName(codePage);
    if (name == nullptr) {
        return Result<std::u16string>::Failure(error::kInvalidParameter);
    }
    static const char16_t kReplacement = 0xFFFD;
    const Result<std::string> bytes =
        Convert(kUtf16Name, name, text.data(), text.size(),
                std::string_view(reinterpret_cast<const char*>(&kReplacement), 2), 1, false);
    if (!bytes) {
        return Result<std::u16string>::Failure(bytes.Error());
    }
    std::u16string out(bytes->size() / 2, u'\0');
    std::memcpy(out.data(), bytes->data(), out.size() * 2);
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
    return Convert(name, kUtf16Name, reinterpret_cast<const char*>(text.data()), text.size() * 2,
                   "?", 2, true);
}

}  // namespace platform::codepage
