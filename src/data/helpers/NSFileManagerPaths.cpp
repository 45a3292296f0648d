#include "data/helpers/NSFileManagerPaths.h"

#include "foundation/Paths.h"

namespace NSFileManager {

std::optional<std::string> findSystemFolderTypeForDomain(std::uint32_t folderType,
                                                         std::int16_t domain) {
    if (domain != kUserDomain) return std::nullopt;
    std::string path;
    switch (folderType) {
        case kPreferencesFolderType:
            path = foundation::Paths::configHome();
            break;
        case kApplicationSupportFolderType:
            path = foundation::Paths::dataHome();
            break;
        case kCachesFolderType:
            path = foundation::Paths::cacheHome();
            break;
        case kTemporaryFolderType:
            path = foundation::Paths::tempDir();
            break;
        default:
            return std::nullopt;
    }
    // No home folder to be found gives a relative path: no answer.
    if (path.empty() || path.front() != '/') return std::nullopt;
    return path;
}

std::optional<std::string> GetPreferencesDirectory() {
    return findSystemFolderTypeForDomain(kPreferencesFolderType, kUserDomain);
}

}  // namespace NSFileManager
