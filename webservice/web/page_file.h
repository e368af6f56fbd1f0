#pragma once

#include <filesystem>
#include <string>

// The bytes of a page file up to its first NUL, read anew on every call. Empty when the file is
// missing, is no regular file, is empty, or cannot be read whole.
std::string ReadPageFile(const std::filesystem::path& file);
