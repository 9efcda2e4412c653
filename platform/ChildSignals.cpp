#include "ChildSignals.h"

#include <signal.h>

namespace platform {

void setChildSignals(posix_spawnattr_t* attr, bool unblockAll) {
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(attr, &defaults);
    short flags = POSIX_SPAWN_SETSIGDEF;
    if (unblockAll) {
        sigset_t empty;
        sigemptyset(&empty);
        posix_spawnattr_setsigmask(attr, &empty);
        flags |= POSIX_SPAWN_SETSIGMASK;
    }
    posix_spawnattr_setflags(attr, flags);
}

}  // namespace platform
