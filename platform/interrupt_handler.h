#pragma once

#include <functional>
#include <memory>

namespace platform {

// For a program that runs outside the service manager: calls onInterrupt, on a thread of its own,
// each time the user interrupts the program (Ctrl+C) or the system asks it to end. Create it
// before starting any other thread. While it lives, those requests no longer end the program by
// themselves.
class InterruptHandler {
  public:
    explicit InterruptHandler(std::function<void()> onInterrupt);
    ~InterruptHandler();
    InterruptHandler(const InterruptHandler&) = delete;
    InterruptHandler& operator=(const InterruptHandler&) = delete;

  private:
    struct Watch;
    std::unique_ptr<Watch> watch_;
};

}  // namespace platform
