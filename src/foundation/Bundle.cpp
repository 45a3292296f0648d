#include "foundation/Bundle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "foundation/AtomicFile.h"
#include "foundation/PropertyList.h"

namespace foundation {

namespace {

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string executableFolder() {
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : executable.parent_path().string();
}

}  // namespace

Bundle::Bundle(std::string path) : path_(std::move(path)) {
    if (auto bytes = readFile(path_ + "/Info.plist")) {
        if (auto info = plist::read(*bytes); info && info->isDictionary())
            info_ = std::move(*info->dictionary());
    }
}

std::string Bundle::mainBundlePath() {
    if (const char* configured = std::getenv("ORVANDEL_BUNDLE_DIR"); configured && *configured)
        return configured;
    if (std::string folder = executableFolder(); !folder.empty()) {
        std::string installed = folder + "/../share/orvandel";
        if (isDirectory(installed)) return std::filesystem::path(installed).lexically_normal();
    }
#ifdef ORVANDEL_BUILD_BUNDLE_DIR
    return ORVANDEL_BUILD_BUNDLE_DIR;
#else
    return {};
#endif
}

Bundle Bundle::mainBundle() {
    return Bundle(mainBundlePath());
}

Value Bundle::objectForInfoDictionaryKey(std::string_view key) const {
    auto found = info_.find(key);
    return found == info_.end() ? Value() : found->second;
}

std::optional<std::string> Bundle::pathForResource(std::string_view name,
                                                   std::string_view type) const {
    if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
    std::string path = path_ + "/" + std::string(name);
    if (!type.empty()) path += "." + std::string(type);
    if (!isRegularFile(path)) return std::nullopt;
    return path;
}

}  // namespace foundation
