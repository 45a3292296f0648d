#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/Value.h"

namespace media {

// The device's ringtone list ("Ringtones.plist" of the media library): one record per entry
// of its "Ringtones" dictionary, in key order, with "pid" as decimal text, "title", "artist",
// "album", "genre" (empty text when missing), "length", "is_ringtone", "location" (the folder
// joined with the file name) and "size" from the device. A missing or unreadable list gives
// no records.
class RingtoneList {
public:
    using SizeOfItem = std::function<std::uint64_t(const std::string& devicePath)>;
    static foundation::Array readFile(const std::string& path, const std::string& folder,
                                      const SizeOfItem& sizeOf);
};

}  // namespace media
