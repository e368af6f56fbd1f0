#include "platform/read_only_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/code_page.h"
#include "platform/system_error.h"

namespace platform {
namespace {

uint32_t FromErrno(int code) {
    switch (code) {
        case ENOENT:
            return error::kFileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return error::kPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
            return error::kAccessDenied;
        case EMFILE:
        case ENFILE:
            return error::kTooManyOpenFiles;
        case ENOMEM:
            return error::kNotEnoughMemory;
        case EIO:
            return error::kReadFault;
        default:
            return error::kGeneralFailure;
    }
}

}  // namespace

ReadOnlyFile::~ReadOnlyFile() {
    close(descriptor_);
}

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::Open(std::u16string_view path, uint32_t& error) {
    const std::string name = codepage::Utf16ToUtf8(path);
    if (name.empty() || name.find('\0') != std::string::npos) {
        error = error::kInvalidParameter;
        return nullptr;
    }
    // Opening never waits, as it would on a FIFO that has no writer; reads wait as usual.
    const int descriptor = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        error = FromErrno(errno);
        return nullptr;
    }
    std::unique_ptr<ReadOnlyFile> file(new ReadOnlyFile(descriptor));
    struct stat info;
    const int flags = fcntl(descriptor, F_GETFL);
    if (fstat(descriptor, &info) != 0 || flags < 0 ||
        fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = FromErrno(errno);
        return nullptr;
    }
    if (S_ISDIR(info.st_mode)) {
        error = error::kAccessDenied;
        return nullptr;
    }
    error = error::kNone;
    return file;
}

uint32_t ReadOnlyFile::Size(uint64_t& size) const {
    struct stat info;
    if (fstat(descriptor_, &info) != 0) {
        return FromErrno(errno);
    }
    size = static_cast<uint64_t>(info.st_size);
    return error::kNone;
}

uint32_t ReadOnlyFile::Read(void* buffer, uint32_t capacity, uint32_t& read) {
    read = 0;
    while (true) {
        const ssize_t got = ::read(descriptor_, buffer, capacity);
        if (got >= 0) {
            read = static_cast<uint32_t>(got);
            return error::kNone;
        }
        if (errno != EINTR) {
            return FromErrno(errno);
        }
    }
}

}  // namespace platform
