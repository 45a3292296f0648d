// Single device files taken to the computer: a picture, or a copy in the temporary folder.
#include <filesystem>
#include <system_error>

#include "data/helpers/NSStringHelpers.h"
#include "foundation/AtomicFile.h"
#include "foundation/PathComponents.h"
#include "foundation/Paths.h"
#include "logging/Console.h"
#include "logging/LogCall.h"
#include "media/MediaLoadFolder.h"
#include "media/MediaLoader.h"
#include "media/PictureCodec.h"

namespace media {

namespace {

// A name that stays inside the folder it is joined to.
bool isPlainFileName(const std::string& name) {
    return name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string extensionOf(const std::string& path) {
    const std::string name = foundation::lastPathComponent(path);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

}  // namespace

std::optional<RgbaImage> MediaLoader::photoAtPath(const std::string& devicePath) {
    const auto device = myDevice();
    if (!device) return std::nullopt;
    MediaLoadFolder folder;  // the copy goes with it
    const std::string copy = folder.localTempFilePath(*device, devicePath);
    // Larger files hold no picture the codec would decode.
    std::error_code error;
    const auto size = std::filesystem::file_size(copy, error);
    if (error || size > std::uint64_t(PictureCodec::kMaxPixels) * 4) return std::nullopt;
    const auto bytes = foundation::readFile(copy);
    if (!bytes) return std::nullopt;
    return PictureCodec::decode(*bytes);
}

std::string MediaLoader::localTempFromDevicePathDefaultName(
    const std::string& devicePath, const std::optional<std::string>& name) {
    std::string file = name && !name->empty() ? *name : NSString::guid();
    if (!isPlainFileName(file)) {
        LogError("Not copying {}: {} is no file name", devicePath, file);
        return {};
    }
    if (const std::string extension = extensionOf(devicePath); !extension.empty()) {
        file += "." + extension;
    }
    const std::string local =
        foundation::appendingPathComponent(foundation::Paths::tempDir(), file);
    std::error_code error;
    std::filesystem::remove(local, error);
    if (error) ConsoleLog(error.message());
    const auto device = myDevice();
    if (!device || !device->downloadFileTo(devicePath, local)) {
        LogInfo("Failed to copy [file] {} to [{}]", devicePath, local);
    }
    return local;
}

}  // namespace media
