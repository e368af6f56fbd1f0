#include "platform/posix/blocked_signals.h"

#include <pthread.h>

#include <ctime>

namespace platform::posix {

int WakeSignal() {
    return SIGRTMIN;
}

BlockedSignals::BlockedSignals(std::initializer_list<int> signals) {
    sigemptyset(&set_);
    for (const int signal : signals) {
        sigaddset(&set_, signal);
    }
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
}

BlockedSignals::~BlockedSignals() {
    const timespec now = {0, 0};
    while (sigtimedwait(&set_, nullptr, &now) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int BlockedSignals::Wait() const {
    int signal = 0;
    while (sigwait(&set_, &signal) != 0) {
    }
    return signal;
}

}  // namespace platform::posix
