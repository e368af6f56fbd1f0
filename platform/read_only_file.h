#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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

    // Opens an existing file; a directory is refused as access denied. Null with `error` set
    // when that fails.
    static std::unique_ptr<ReadOnlyFile> Open(std::u16string_view path, uint32_t& error);

    uint32_t Size(uint64_t& size) const;

    // What was opened: a file with contents of a known size, or a pipe, a device and the like.
    FileKind Kind() const;

    // Reads up to `capacity` bytes; `read` is 0 at the end of the file.
    uint32_t Read(void* buffer, uint32_t capacity, uint32_t& read);

  private:
    struct Handle;
    explicit ReadOnlyFile(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

// Reads the whole file at path, to its end, into contents. 0 or a failure number.
uint32_t ReadWholeFile(std::u16string_view path, std::string& contents);

}  // namespace platform
