#pragma once

#include <spawn.h>

namespace sim {

// Attributes for posix_spawn that start a program afresh: every signal at its default and none
// blocked, whatever the parent has set; and, when asked, leading a process group of its own.
class SpawnAttributes {
  public:
    explicit SpawnAttributes(bool ownProcessGroup = false);
    ~SpawnAttributes();
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    const posix_spawnattr_t* Get() const { return &attributes_; }

  private:
    posix_spawnattr_t attributes_;
};

}  // namespace sim
