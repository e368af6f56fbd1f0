#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace platform {

// What a name in the file system stands for, as far as reading a file goes.
enum class FileKind {
    Nothing,  // no entry has that name
    RegularFile,
    Directory,
    DanglingLink,  // a symbolic link to a name where nothing is
    LinkLoop,      // symbolic links that lead to each other
    Pipe,
    Device,
    Other,  // a socket, or what the system cannot say
};

// What stands at path, symbolic links followed.
FileKind KindOfPath(std::u16string_view path);

// A file opened for reading; closed when the object goes. Failures are reported with the
// numbers of platform/system_error.h.
class ReadOnlyFile {
  public:
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Opens an existing file; a directory is refused as access denied.
    static Result<std::unique_ptr<ReadOnlyFile>> Open(std::u16string_view path);

    Result<uint64_t> Size() const;

    // What was opened: a file with contents of a known size, or a pipe, a device and the like.
    FileKind Kind() const;

    // Reads up to `capacity` bytes: how many, 0 at the end of the file.
    Result<uint32_t> Read(void* buffer, uint32_t capacity);

  private:
    struct Handle;
    explicit ReadOnlyFile(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

// The whole file at path, read to its end.
Result<std::string> ReadWholeFile(std::u16string_view path);

}  // namespace platform
