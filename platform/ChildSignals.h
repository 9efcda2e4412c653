// The signal state a started program begins with.
#pragma once

#include <spawn.h>

namespace platform {

// Sets `attr` so the child starts as a shell would start it: SIGPIPE at its
// default (this program ignores it, and an ignored signal is inherited) and,
// with `unblockAll`, no blocked signals either. Replaces the flags of `attr`.
void setChildSignals(posix_spawnattr_t* attr, bool unblockAll);

// For a child made with fork rather than posix_spawn: gives the calling
// process the signal defaults and mask that `attr` asks for, as posix_spawn
// would before the exec. Only async-signal-safe calls.
void applySpawnSignals(const posix_spawnattr_t* attr);

}  // namespace platform
