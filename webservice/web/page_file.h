#pragma once

#include <string>
#include <string_view>

// The bytes of a page file up to its first NUL, read anew on every call. Empty when the file is
// missing, is a directory, is empty, or cannot be read whole in one read.
std::string ReadPageFile(std::u16string_view file);
