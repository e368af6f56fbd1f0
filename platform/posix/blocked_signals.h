#pragma once

#include <signal.h>

#include <initializer_list>

namespace platform::posix {

// The signal one thread of the system sends another that waits for signals, to wake it.
int WakeSignal();

// Signals taken out of asynchronous delivery so that one thread can wait for them: blocked in
// the calling thread, and so in every thread it starts while the object lives. When the object
// goes, signals of the set still pending are discarded and the previous mask comes back.
class BlockedSignals {
  public:
    explicit BlockedSignals(std::initializer_list<int> signals);
    ~BlockedSignals();
    BlockedSignals(const BlockedSignals&) = delete;
    BlockedSignals& operator=(const BlockedSignals&) = delete;

    // Waits for one signal of the set and answers its number.
    int Wait() const;

  private:
    sigset_t set_;
    sigset_t previous_;
};

}  // namespace platform::posix
