#include "sim/servicemanager/spawn_attributes.h"

#include <signal.h>

namespace sim {

SpawnAttributes::SpawnAttributes(bool ownProcessGroup) {
    posix_spawnattr_init(&attributes_);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setsigdefault(&attributes_, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (ownProcessGroup) {
        posix_spawnattr_setpgroup(&attributes_, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attributes_, flags);
}

SpawnAttributes::~SpawnAttributes() {
    posix_spawnattr_destroy(&attributes_);
}

}  // namespace sim
