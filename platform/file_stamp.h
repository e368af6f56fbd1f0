#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>
#include "platform/result.h"

namespace platform {

// What tells one state of a file from another without reading it: which file it is, its size,
// and when its content and its record last changed. A file written to, or replaced by another,
// gets another stamp, unless the change falls within one tick of the file system's clock.
struct FileStamp {
    std::uint64_t volume = 0;  // the device or volume that holds the file
    std::uint64_t file = 0;    // the file's number on its volume
    std::uint64_t size = 0;
    std::chrono::system_clock::time_point modified;  // the content
    std::chrono::system_clock::time_point changed;   // the content or the record (name, rights)

    bool operator==(const FileStamp& other) const {
        return volume == other.volume && file == other.file && size == other.size &&
               modified == other.modified && changed == other.changed;
    }
};

// The stamp of the file at path; kFileNotFound when there is no file there.
Result<FileStamp> StampOfFile(std::u16string_view path);

}  // namespace platform
