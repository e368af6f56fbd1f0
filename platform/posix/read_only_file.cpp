#include "platform/read_only_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/code_page.h"
#include "platform/posix/descriptor.h"
#include "platform/posix/file_contents.h"
#include "platform/system_error.h"

namespace platform {
namespace {

// The errors of opening and reading a file, beyond those every file operation has.
uint32_t FromErrno(int code) {
    switch (code) {
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return error::kPathNotFound;
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
            return posix::FileError(code, error::kGeneralFailure);
    }
}

// The path as the system takes it; empty when it cannot stand for a file.
std::string NativePath(std::u16string_view path) {
    const std::string name = codepage::Utf16ToUtf8(path);
    return name.find('\0') == std::string::npos ? name : std::string();
}

FileKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) {
        return FileKind::RegularFile;
    }
    if (S_ISDIR(mode)) {
        return FileKind::Directory;
    }
    if (S_ISFIFO(mode)) {
        return FileKind::Pipe;
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return FileKind::Device;
    }
    return FileKind::Other;
}

}  // namespace

FileKind KindOfPath(std::u16string_view path) {
    const std::string name = NativePath(path);
    struct stat info;
    if (name.empty() || lstat(name.c_str(), &info) != 0) {
        return !name.empty() && (errno == ENOENT || errno == ENOTDIR) ? FileKind::Nothing
                                                                      : FileKind::Other;
    }
    if (!S_ISLNK(info.st_mode)) {
        return KindOfMode(info.st_mode);
    }
    if (stat(name.c_str(), &info) == 0) {
        return KindOfMode(info.st_mode);
    }
    switch (errno) {
        case ELOOP:
            return FileKind::LinkLoop;
        case ENOENT:
        case ENOTDIR:
            return FileKind::DanglingLink;
        default:
            return FileKind::Other;
    }
}

struct ReadOnlyFile::Handle {
    posix::Descriptor descriptor;
};

ReadOnlyFile::ReadOnlyFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}

ReadOnlyFile::~ReadOnlyFile() = default;

Result<std::unique_ptr<ReadOnlyFile>> ReadOnlyFile::Open(std::u16string_view path) {
    using Opened = Result<std::unique_ptr<ReadOnlyFile>>;
    const std::string name = NativePath(path);
    if (name.empty()) {
        return Opened::Failure(error::kInvalidParameter);
    }
    // Opening never waits, as it would on a FIFO that has no writer; reads wait as usual.
    posix::Descriptor descriptor(open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!descriptor.IsOpen()) {
        return Opened::Failure(FromErrno(errno));
    }
    struct stat info;
    const int flags = fcntl(descriptor.Get(), F_GETFL);
    if (fstat(descriptor.Get(), &info) != 0 || flags < 0 ||
        fcntl(descriptor.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return Opened::Failure(FromErrno(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        return Opened::Failure(error::kAccessDenied);
    }
    return std::unique_ptr<ReadOnlyFile>(
        new ReadOnlyFile(std::make_unique<Handle>(Handle{std::move(descriptor)})));
}

Result<uint64_t> ReadOnlyFile::Size() const {
    struct stat info;
    if (fstat(handle_->descriptor.Get(), &info) != 0) {
        return Result<uint64_t>::Failure(FromErrno(errno));
    }
    return static_cast<uint64_t>(info.st_size);
}

FileKind ReadOnlyFile::Kind() const {
    struct stat info;
    return fstat(handle_->descriptor.Get(), &info) == 0 ? KindOfMode(info.st_mode)
                                                        : FileKind::Other;
}

Result<uint32_t> ReadOnlyFile::Read(void* buffer, uint32_t capacity) {
    while (true) {
        const ssize_t got = ::read(handle_->descriptor.Get(), buffer, capacity);
        if (got >= 0) {
            return static_cast<uint32_t>(got);
        }
        if (errno != EINTR) {
            return Result<uint32_t>::Failure(FromErrno(errno));
        }
    }
}

Result<std::string> ReadWholeFile(std::u16string_view path) {
    const std::string name = NativePath(path);
    if (name.empty()) {
        return Result<std::string>::Failure(error::kInvalidParameter);
    }
    std::string contents;
    if (const int failure = posix::ReadFileContents(name, contents)) {
        return Result<std::string>::Failure(FromErrno(failure));
    }
    return contents;
}

}  // namespace platform
