// The camera roll: the pictures a device keeps under "DCIM".
#include <algorithm>
#include <cctype>

#include "logging/LogCall.h"
#include "media/MediaLoader.h"

namespace media {

namespace {

// Deeper than any camera folder; a mounted disk whose links lead back up ends here.
constexpr int kMaxFolderDepth = 32;

// The lower-case text after the name's last dot; "" without one.
std::string lowerCaseExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    std::string extension = name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

void searchFolder(MediaDevice& device, const std::vector<std::string>& formats,
                  const std::string& folder, std::vector<std::string>& photos, int depth) {
    if (depth > kMaxFolderDepth) {
        LogWarn("Not searching {} for pictures: folders nest too deep", folder);
        return;
    }
    for (const MediaDevice::Entry& entry : device.contentsOfDirectory(folder)) {
        if (entry.name.empty() || entry.name[0] == '_' || entry.name[0] == '.') continue;
        if (entry.isDirectory) {
            searchFolder(device, formats, entry.path, photos, depth + 1);
        } else if (std::find(formats.begin(), formats.end(), lowerCaseExtension(entry.name)) !=
                   formats.end()) {
            photos.push_back(entry.path);
        }
    }
}

}  // namespace

std::shared_ptr<const std::vector<std::string>> MediaLoader::allDCIMPhotos() const {
    std::lock_guard lock(lock_);
    return allDCIMPhotos_;
}

std::vector<std::string> MediaLoader::supportImageFormats() const {
    std::lock_guard lock(lock_);
    return supportImageFormats_;
}

void MediaLoader::setSupportImageFormats(std::vector<std::string> formats) {
    std::lock_guard lock(lock_);
    supportImageFormats_ = std::move(formats);
}

void MediaLoader::loadDCIMPhotos() {
    {
        std::lock_guard lock(lock_);
        allDCIMPhotos_ = std::make_shared<const std::vector<std::string>>();
    }
    std::vector<std::string> photos;
    recurseSearchInFolderPhotos("DCIM", photos);
    std::lock_guard lock(lock_);
    allDCIMPhotos_ = std::make_shared<const std::vector<std::string>>(std::move(photos));
}

void MediaLoader::recurseSearchInFolderPhotos(const std::string& folder,
                                              std::vector<std::string>& photos) {
    if (const auto device = myDevice())
        searchFolder(*device, supportImageFormats(), folder, photos, 0);
}

}  // namespace media
