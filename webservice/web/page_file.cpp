#include "webservice/web/page_file.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/read_only_file.h"
#include "platform/system_error.h"

std::string ReadPageFile(std::u16string_view file) {
    std::uint32_t failure = platform::error::kNone;
    const auto page = platform::ReadOnlyFile::Open(file, failure);
    std::uint64_t size = 0;
    // Anything but a regular file (a FIFO, a device) has no size and gives no page.
    if (!page || page->Size(size) != platform::error::kNone || size == 0 ||
        size > std::numeric_limits<std::uint32_t>::max()) {
        return {};
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    // The whole size in one read: a file that shrank meanwhile gives no page rather than part.
    std::uint32_t read = 0;
    if (page->Read(bytes.data(), static_cast<std::uint32_t>(size), read) !=
            platform::error::kNone ||
        read != size) {
        return {};
    }
    bytes.resize(std::min(bytes.find('\0'), bytes.size()));
    return bytes;
}
