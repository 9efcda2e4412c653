// The signal state a started program begins with.
#pragma once

#include <spawn.h>

namespace platform {

// Sets `attr` so the child starts as a shell would start it: SIGPIPE at its
// default (this program ignores it, and an ignored signal is inherited) and,
// with `unblockAll`, no blocked signals either. Replaces the flags of `attr`.
void setChildSignals(posix_spawnattr_t* attr, bool unblockAll);

}  // namespace platform
