#include "platform/read_only_file.h"

#include <windows.h>

#include <string>

#include "platform/system_error.h"
#include "platform/win32/file_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

// A directory cannot be opened without backup semantics: it is refused as access denied, as
// the caller expects.
HANDLE OpenForReading(std::u16string_view path) {
    return CreateFileW(win32::ToWide(path).c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

FileKind KindOfPath(std::u16string_view path) {
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
        return FileKind::Other;
    }
    const std::wstring name = win32::ToWide(path);
    // The attributes are the link's own, not its target's.
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD failure = GetLastError();
        return failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND
                   ? FileKind::Nothing
                   : FileKind::Other;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return FileKind::Directory;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return FileKind::RegularFile;
    }
    // A link: what opening it reaches.
    const win32::FileHandle target(
        CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (target.IsOpen()) {
        return FileKind::RegularFile;
    }
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return FileKind::DanglingLink;
        case ERROR_CANT_RESOLVE_FILENAME:
            return FileKind::LinkLoop;
        default:
            return FileKind::Other;
    }
}

struct ReadOnlyFile::Handle {
    explicit Handle(HANDLE h) : file(h) {}
    win32::FileHandle file;
};

ReadOnlyFile::ReadOnlyFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}

ReadOnlyFile::~ReadOnlyFile() = default;

Result<std::unique_ptr<ReadOnlyFile>> ReadOnlyFile::Open(std::u16string_view path) {
    using Opened = Result<std::unique_ptr<ReadOnlyFile>>;
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
        return Opened::Failure(error::kInvalidParameter);
    }
    auto handle = std::make_unique<Handle>(OpenForReading(path));
    if (!handle->file.IsOpen()) {
        return Opened::Failure(GetLastError());
    }
    return std::unique_ptr<ReadOnlyFile>(new ReadOnlyFile(std::move(handle)));
}

Result<uint64_t> ReadOnlyFile::Size() const {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(handle_->file.handle, &value)) {
        return Result<uint64_t>::Failure(GetLastError());
    }
    return static_cast<uint64_t>(value.QuadPart);
}

FileKind ReadOnlyFile::Kind() const {
    switch (GetFileType(handle_->file.handle)) {
        case FILE_TYPE_DISK:
            return FileKind::RegularFile;
        case FILE_TYPE_CHAR:
            return FileKind::Device;
        case FILE_TYPE_PIPE:
            return FileKind::Pipe;
        default:
            return FileKind::Other;
    }
}

Result<uint32_t> ReadOnlyFile::Read(void* buffer, uint32_t capacity) {
    DWORD got = 0;
    if (!ReadFile(handle_->file.handle, buffer, capacity, &got, nullptr)) {
        const DWORD failure = GetLastError();
        // The write end of a pipe closed: the end of what there is to read.
        if (failure == ERROR_BROKEN_PIPE) {
            return 0u;
        }
        return Result<uint32_t>::Failure(failure);
    }
    return static_cast<uint32_t>(got);
}

Result<std::string> ReadWholeFile(std::u16string_view path) {
    const Result<std::unique_ptr<ReadOnlyFile>> file = ReadOnlyFile::Open(path);
    if (!file) {
        return Result<std::string>::Failure(file.Error());
    }
    std::string contents;
    char buffer[64 * 1024];
    for (;;) {
        const Result<uint32_t> got = (*file)->Read(buffer, sizeof buffer);
        if (!got) {
            return Result<std::string>::Failure(got.Error());
        }
        if (*got == 0) {
            return contents;
        }
        contents.append(buffer, *got);
    }
}

}  // namespace platform
