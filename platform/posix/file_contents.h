#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

// Whole-file reads and writes for the files the system keeps for itself.
namespace platform::posix {

// Reads the whole file at path into contents. 0 or an errno.
int ReadFileContents(const std::string& path, std::string& contents);

// Replaces the file at path with contents so that every reader sees either the old file or the
// new one whole, even after a crash or a power cut: the bytes go to a temporary file beside it,
// are flushed to the disk, and the temporary file is renamed over the old one. 0 or an errno.
int ReplaceFileAtomically(const std::string& path, std::string_view contents, mode_t mode);

// Creates directory and every missing parent. 0 or an errno.
int MakeDirectories(const std::string& directory, mode_t mode);

// The directory part of path ("." for a bare name).
std::string DirectoryOf(const std::string& path);

// The absolute form of path with every link resolved; empty when it does not exist.
std::string RealPath(const std::string& path);

// The failure number (platform/system_error.h) of an errno of a file operation: access and a
// missing file have numbers of their own, every other errno becomes `otherwise`. The one map of
// the files' errors; what a caller knows more precisely it maps before asking this.
uint32_t FileError(int errnoValue, uint32_t otherwise);

}  // namespace platform::posix
