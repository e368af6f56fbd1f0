#include "webservice/web/page_file.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/read_only_file.h"

std::string ReadPageFile(std::u16string_view file) {
    const auto page = platform::ReadOnlyFile::Open(file);
    // Anything but a regular file (a FIFO, a device) has no size and gives no page.
    const std::uint64_t size = page ? (*page)->Size().value_or(0) : 0;
    if (size == 0 || size > std::numeric_limits<std::uint32_t>::max()) {
        return {};
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    // The whole size in one read: a file that shrank meanwhile gives no page rather than part.
    if ((*page)->Read(bytes.data(), static_cast<std::uint32_t>(size)).value_or(0) != size) {
        return {};
    }
    bytes.resize(std::min(bytes.find('\0'), bytes.size()));
    return bytes;
}
