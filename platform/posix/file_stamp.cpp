#include "platform/file_stamp.h"

#include <errno.h>
#include <sys/stat.h>

#include <string>

#include "platform/code_page.h"
#include "platform/posix/file_contents.h"

namespace platform {
namespace {

std::chrono::system_clock::time_point TimeOf(const timespec& time) {
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec)));
}

}  // namespace

Result<FileStamp> StampOfFile(std::u16string_view path) {
    const std::string native = codepage::Utf16ToUtf8(path);
    if (native.empty() || native.find('\0') != std::string::npos) {
        return Result<FileStamp>::Failure(error::kInvalidParameter);
    }
    struct stat info;
    if (stat(native.c_str(), &info) != 0) {
        return Result<FileStamp>::Failure(posix::FileError(errno, error::kGeneralFailure));
    }
    FileStamp stamp;
    stamp.volume = static_cast<std::uint64_t>(info.st_dev);
    stamp.file = static_cast<std::uint64_t>(info.st_ino);
    stamp.size = static_cast<std::uint64_t>(info.st_size);
    stamp.modified = TimeOf(info.st_mtim);
    stamp.changed = TimeOf(info.st_ctim);
    return stamp;
}

}  // namespace platform
