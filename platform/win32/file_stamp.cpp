#include "platform/file_stamp.h"

#include <windows.h>

#include <string>

#include "platform/system_error.h"
#include "platform/win32/file_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

// File times count 100-nanosecond ticks from 1601; the system clock counts from 1970.
std::chrono::system_clock::time_point TimeOf(std::int64_t ticks) {
    constexpr std::int64_t kTicksFrom1601To1970 = 116444736000000000;
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            Ticks(ticks - kTicksFrom1601To1970)));
}

}  // namespace

Result<FileStamp> StampOfFile(std::u16string_view path) {
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
        return Result<FileStamp>::Failure(error::kInvalidParameter);
    }
    // Asking for the attributes alone neither disturbs a writer nor is refused by one.
    const win32::FileHandle file(CreateFileW(win32::ToWide(path).c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                             nullptr));
    if (!file.IsOpen()) {
        return Result<FileStamp>::Failure(GetLastError());
    }
    BY_HANDLE_FILE_INFORMATION identity;
    FILE_BASIC_INFO times;
    if (!GetFileInformationByHandle(file.handle, &identity) ||
        !GetFileInformationByHandleEx(file.handle, FileBasicInfo, &times, sizeof times)) {
        return Result<FileStamp>::Failure(GetLastError());
    }
    FileStamp stamp;
    stamp.volume = identity.dwVolumeSerialNumber;
    stamp.file = static_cast<std::uint64_t>(identity.nFileIndexHigh) << 32 | identity.nFileIndexLow;
    stamp.size = static_cast<std::uint64_t>(identity.nFileSizeHigh) << 32 | identity.nFileSizeLow;
    stamp.modified = TimeOf(times.LastWriteTime.QuadPart);
    stamp.changed = TimeOf(times.ChangeTime.QuadPart);
    return stamp;
}

}  // namespace platform
