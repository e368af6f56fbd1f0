#pragma once

#include <windows.h>
#include <winsvc.h>

#include <memory>
#include <type_traits>

namespace platform::win32 {

struct ServiceHandleCloser {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};

// A handle of the service manager or of one service, closed when the owner goes.
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

}  // namespace platform::win32
