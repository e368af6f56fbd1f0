#pragma once

#include <condition_variable>
#include <mutex>

namespace platform {

// The quit message of a thread that waits for its end: posted from any thread, once or more; a
// wait after it returns at once.
class QuitSignal {
  public:
    void Post() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            posted_ = true;
        }
        posted_changed_.notify_all();
    }

    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        posted_changed_.wait(lock, [this] { return posted_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable posted_changed_;
    bool posted_ = false;
};

}  // namespace platform
