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

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::Open(std::u16string_view path, uint32_t& error) {
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
        error = error::kInvalidParameter;
        return nullptr;
    }
    auto handle = std::make_unique<Handle>(OpenForReading(path));
    if (!handle->file.IsOpen()) {
        error = GetLastError();
        return nullptr;
    }
    error = error::kNone;
    return std::unique_ptr<ReadOnlyFile>(new ReadOnlyFile(std::move(handle)));
}

uint32_t ReadOnlyFile::Size(uint64_t& size) const {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(handle_->file.handle, &value)) {
        return GetLastError();
    }
    size = static_cast<uint64_t>(value.QuadPart);
    return error::kNone;
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

uint32_t ReadOnlyFile::Read(void* buffer, uint32_t capacity, uint32_t& read) {
    DWORD got = 0;
    read = 0;
    if (!ReadFile(handle_->file.handle, buffer, capacity, &got, nullptr)) {
        const DWORD failure = GetLastError();
        // The write end of a pipe closed: the end of what there is to read.
        return failure == ERROR_BROKEN_PIPE ? error::kNone : failure;
    }
    read = got;
    return error::kNone;
}

uint32_t ReadWholeFile(std::u16string_view path, std::string& contents) {
    contents.clear();
    uint32_t failure = error::kNone;
    const std::unique_ptr<ReadOnlyFile> file = ReadOnlyFile::Open(path, failure);
    if (!file) {
        return failure;
    }
    char buffer[64 * 1024];
    for (;;) {
        uint32_t got = 0;
        if ((failure = file->Read(buffer, sizeof buffer, got)) != error::kNone) {
            contents.clear();
            return failure;
        }
        if (got == 0) {
            return error::kNone;
        }
        contents.append(buffer, got);
    }
}

}  // namespace platform
