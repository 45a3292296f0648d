#pragma once

#include <optional>
#include <string>

#include "foundation/Value.h"
#include "platform/mobiledevice/FileService.h"

namespace AFCFileInfo {

// The service's pairs as a dictionary: digit-only values (and the empty text) become
// signed 64-bit numbers, others stay text; a digit run too long for 64 bits stays text.
foundation::Value dictionaryFromPairs(const mobiledevice::AFCKeyValues& pairs);
// File information: the pairs converted, "path" added, "st_birthtime" and "st_mtime" (in
// nanoseconds) turned into dates of whole seconds since 1970.
foundation::Value fileInfoFromPairs(const mobiledevice::AFCKeyValues& pairs,
                                    const std::string& path);

}  // namespace AFCFileInfo

// Readings of a file-information dictionary.
namespace NSDictionary {

bool isDirectory(const foundation::Value& info);
bool isRegularFile(const foundation::Value& info);
bool isSymLink(const foundation::Value& info);
foundation::Value modification(const foundation::Value& info);
foundation::Value creation(const foundation::Value& info);
// nil for a folder.
foundation::Value fileSize(const foundation::Value& info);
// nil unless a symbolic link.
foundation::Value symLinkTarget(const foundation::Value& info);

}  // namespace NSDictionary
