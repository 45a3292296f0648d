#include "platform/music/LibraryAccess.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace music {
namespace {

bool usable(const std::filesystem::path& path, int mode) {
    std::error_code error;
    if (std::filesystem::exists(path, error)) return ::access(path.c_str(), mode) == 0;
    const auto parent = path.parent_path();
    if (parent.empty() || parent == path) return false;
    return usable(parent, W_OK | X_OK);
}

}  // namespace

bool canReadAndWrite(const MusicLibraryLocation& location) {
    if (location.mediaFolder.empty() || location.indexPath.empty()) return false;
    return usable(location.mediaFolder, R_OK | W_OK | X_OK) &&
           usable(location.indexPath, R_OK | W_OK);
}

}  // namespace music
