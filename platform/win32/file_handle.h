#pragma once

#include <windows.h>

namespace platform::win32 {

// An open file handle, closed when the object goes.
struct FileHandle {
    explicit FileHandle(HANDLE h) : handle(h) {}
    ~FileHandle() {
        if (IsOpen()) {
            CloseHandle(handle);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }

    HANDLE handle;
};

}  // namespace platform::win32
