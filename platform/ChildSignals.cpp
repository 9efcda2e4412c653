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

void applySpawnSignals(const posix_spawnattr_t* attr) {
    short flags = 0;
    posix_spawnattr_getflags(attr, &flags);
    if (flags & POSIX_SPAWN_SETSIGDEF) {
        sigset_t defaults;
        posix_spawnattr_getsigdefault(attr, &defaults);
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sigismember(&defaults, sig) == 1) sigaction(sig, &action, nullptr);
        }
    }
    if (flags & POSIX_SPAWN_SETSIGMASK) {
        sigset_t mask;
        posix_spawnattr_getsigmask(attr, &mask);
        sigprocmask(SIG_SETMASK, &mask, nullptr);
    }
}

}  // namespace platform
