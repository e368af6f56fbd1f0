#include "webservice/web/page_file.h"

#include <fstream>
#include <system_error>

std::string ReadPageFile(const std::filesystem::path& file) {
    // A directory or a pipe under the page's name must not be opened: neither has a size to read.
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return {};
    }
    std::ifstream in(file, std::ios::binary);
    if (!in.seekg(0, std::ios::end)) {
        return {};
    }
    const std::streamoff size = in.tellg();
    if (size <= 0 || !in.seekg(0)) {
        return {};
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    // The whole size in one read: a file that shrank meanwhile gives no page rather than part.
    if (!in.read(bytes.data(), size)) {
        return {};
    }
    bytes.resize(bytes.find('\0') == std::string::npos ? bytes.size() : bytes.find('\0'));
    return bytes;
}
