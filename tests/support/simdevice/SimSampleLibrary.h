#pragma once

#include <string>

namespace simdevice {

// A small media library as a phone keeps it, for trying the device media section on the
// simulated phone: "iTunes_Control/iTunes/MediaLibrary.sqlitedb" under `root` with three
// short tones in "iTunes_Control/Music/F00" and a playlist of two of them. A library already
// there is left as it is. Gives "" when the library is in place, else why it is not.
std::string writeSampleMediaLibrary(const std::string& root);

}  // namespace simdevice
