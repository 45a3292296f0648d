#pragma once

#include <sys/types.h>

namespace foundation {

// The process's file-creation mask, read without changing it. Setting the mask to read
// it back would leave it at 0 for every thread that creates a file in between, and for
// good when two such readers interleave.
mode_t processUmask();

// The mode an ordinary create with `requested` gives a new file under the process's mask.
mode_t modeForNewFile(mode_t requested);

}  // namespace foundation
