#include "media/MediaLoadFolder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "data/helpers/NSStringHelpers.h"
#include "foundation/Paths.h"
#include "logging/LogCall.h"

namespace media {

MediaLoadFolder::MediaLoadFolder() {
    std::string pattern = foundation::Paths::tempDir() + "/orvandel-media-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
        path_ = std::move(pattern);
    } else {
        LogError("Cannot make a temporary folder for the device's databases under {}",
                 foundation::Paths::tempDir());
    }
}

MediaLoadFolder::~MediaLoadFolder() {
    if (path_.empty()) return;
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    if (error) LogError("Cannot remove {}: {}", path_, error.message());
}

std::string MediaLoadFolder::localTempFilePathTo(MediaDevice& device, const std::string& devicePath,
                                                 const std::string& name) {
    const std::string local = path_.empty() ? std::string() : path_ + "/" + name;
    if (local.empty() || !device.downloadFileTo(devicePath, local)) {
        LogInfo("Failed to copy file [{}] to [{}]", devicePath, local);
    }
    if (!local.empty()) paths_.push_back(local);
    return local;
}

std::string MediaLoadFolder::localTempFilePath(MediaDevice& device, const std::string& devicePath) {
    return localTempFilePathTo(device, devicePath, NSString::guid());
}

}  // namespace media
