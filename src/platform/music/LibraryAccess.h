#pragma once

#include "platform/music/MusicLibrary.h"

namespace music {

// Whether this process may read and write the library's folder and index. What does not
// exist yet counts as usable when the nearest existing folder above it may be written,
// since the library makes it on first use.
bool canReadAndWrite(const MusicLibraryLocation& location);

}  // namespace music
