// SIGINT and SIGTERM are blocked and waited for by one thread, which calls the handler in
// ordinary thread context, so the handler may take locks and call anything.
#include "platform/interrupt_handler.h"

#include <pthread.h>

#include <thread>

#include "platform/posix/blocked_signals.h"

namespace platform {

struct InterruptHandler::Watch {
    posix::BlockedSignals signals{SIGINT, SIGTERM, posix::WakeSignal()};
    std::thread thread;
};

InterruptHandler::InterruptHandler(std::function<void()> onInterrupt)
    : watch_(std::make_unique<Watch>()) {
    watch_->thread =
        std::thread([signals = &watch_->signals, onInterrupt = std::move(onInterrupt)] {
            while (signals->Wait() != posix::WakeSignal()) {
                onInterrupt();
            }
        });
}

InterruptHandler::~InterruptHandler() {
    pthread_kill(watch_->thread.native_handle(), posix::WakeSignal());
    watch_->thread.join();
}

}  // namespace platform
