// The registration store's file, as a person may have edited it: any bytes are either refused
// with the reason, or read as a store that, written back and read again, is the same store and
// the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/posix/registration_file.h"

namespace {

using platform::posix::RegistrationKeys;

bool SameKeys(const RegistrationKeys& a, const RegistrationKeys& b) {
    if (a.keys.size() != b.keys.size()) {
        return false;
    }
    for (std::size_t k = 0; k < a.keys.size(); ++k) {
        const auto& left = a.keys[k];
        const auto& right = b.keys[k];
        if (left.path != right.path || left.values.size() != right.values.size()) {
            return false;
        }
        for (std::size_t v = 0; v < left.values.size(); ++v) {
            if (left.values[v].name != right.values[v].name ||
                left.values[v].text != right.values[v].text) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    RegistrationKeys keys;
    std::string problem;
    if (!platform::posix::ParseRegistrations(text, keys, problem)) {
        FuzzCheck(!problem.empty(), "a refused store says why");
        return 0;
    }
    for (const auto& key : keys.keys) {
        FuzzCheck(platform::posix::IsValidKeyPath(key.path), "every key read has a valid path");
    }
    const std::string written = platform::posix::FormatRegistrations(keys);
    RegistrationKeys again;
    FuzzCheck(platform::posix::ParseRegistrations(written, again, problem),
              "a store written back reads again");
    FuzzCheck(SameKeys(keys, again), "a store written back and read again is the same store");
    FuzzCheck(platform::posix::FormatRegistrations(again) == written,
              "a store written back twice is the same text");
    return 0;
}
