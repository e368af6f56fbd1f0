// The console's control handler, which the system calls on a thread of its own for Ctrl+C,
// Ctrl+Break, a closed console window, a logoff and a shutdown.
#include "platform/interrupt_handler.h"

#include <windows.h>

#include <mutex>

namespace platform {
namespace {

// The one handler of the process; the mutex lets the destructor wait for a call in progress.
std::mutex gMutex;
std::function<void()>* gOnInterrupt = nullptr;

BOOL WINAPI OnControl(DWORD) {
    const std::lock_guard<std::mutex> lock(gMutex);
    if (gOnInterrupt == nullptr) {
        return FALSE;
    }
    (*gOnInterrupt)();
    return TRUE;
}

}  // namespace

struct InterruptHandler::Watch {
    std::function<void()> onInterrupt;
};

InterruptHandler::InterruptHandler(std::function<void()> onInterrupt)
    : watch_(std::make_unique<Watch>(Watch{std::move(onInterrupt)})) {
    {
        const std::lock_guard<std::mutex> lock(gMutex);
        gOnInterrupt = &watch_->onInterrupt;
    }
    SetConsoleCtrlHandler(OnControl, TRUE);
}

InterruptHandler::~InterruptHandler() {
    SetConsoleCtrlHandler(OnControl, FALSE);
    const std::lock_guard<std::mutex> lock(gMutex);
    gOnInterrupt = nullptr;
}

}  // namespace platform
