#include "http/NetRequestDefaults.h"

#include <fmt/format.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "foundation/AtomicFile.h"
#include "foundation/PropertyList.h"

namespace {

const foundation::Value* entry(const foundation::Dictionary& info, std::string_view key) {
    auto found = info.find(key);
    return found != info.end() && found->second.isString() ? &found->second : nullptr;
}

}  // namespace

NetRequestDefaults& NetRequestDefaults::shared() {
    static NetRequestDefaults instance;
    return instance;
}

std::shared_ptr<NetCacheDelegate> NetRequestDefaults::defaultCache() {
    std::lock_guard guard(lock_);
    return defaultCache_;
}

void NetRequestDefaults::setDefaultCache(std::shared_ptr<NetCacheDelegate> cache) {
    std::lock_guard guard(lock_);
    defaultCache_ = std::move(cache);
}

std::optional<std::string> NetRequestDefaults::defaultUserAgentString() {
    std::lock_guard guard(lock_);
    if (userAgent_) return userAgent_;
    if (bundleInfoPath_.empty()) return std::nullopt;
    auto bytes = foundation::readFile(bundleInfoPath_);
    if (!bytes) return std::nullopt;
    auto info = foundation::plist::read(*bytes);
    if (!info || !info->isDictionary()) return std::nullopt;
    userAgent_ =
        userAgentFromBundleInfo(*info->dictionary(), systemVersion(), currentLocaleIdentifier());
    return userAgent_;
}

void NetRequestDefaults::setDefaultUserAgentString(std::optional<std::string> userAgent) {
    std::lock_guard guard(lock_);
    userAgent_ = std::move(userAgent);
}

void NetRequestDefaults::setBundleInfoPath(std::string path) {
    std::lock_guard guard(lock_);
    bundleInfoPath_ = std::move(path);
}

std::optional<std::string> NetRequestDefaults::userAgentFromBundleInfo(
    const foundation::Dictionary& info, const std::optional<std::string>& systemVersion,
    const std::string& localeIdentifier) {
    const foundation::Value* name = entry(info, "CFBundleDisplayName");
    if (name == nullptr) name = entry(info, "CFBundleName");
    if (name == nullptr || !systemVersion) return std::nullopt;
    const foundation::Value* shortVersion = entry(info, "CFBundleShortVersionString");
    const foundation::Value* buildVersion = entry(info, "CFBundleVersion");
    std::string version;
    if (shortVersion != nullptr && buildVersion != nullptr) {
        version = *shortVersion->string() == *buildVersion->string()
                      ? *shortVersion->string()
                      : fmt::format("{} rv:{}", *shortVersion->string(), *buildVersion->string());
    } else if (shortVersion != nullptr) {
        version = *shortVersion->string();
    } else if (buildVersion != nullptr) {
        version = *buildVersion->string();
    }
    return fmt::format("{} {} ({}; {} {}; {})", *name->string(), version, "X11", "Linux",
                       *systemVersion, localeIdentifier);
}

std::optional<std::string> NetRequestDefaults::systemVersion() {
    utsname names{};
    if (uname(&names) != 0) return std::nullopt;
    unsigned major = 0, minor = 0, patch = 0;
    // "6.1.0-13-amd64": the leading numbers; a missing patch number counts as 0.
    int found = std::sscanf(names.release, "%u.%u.%u", &major, &minor, &patch);
    if (found < 2) return std::nullopt;
    return fmt::format("{}.{}.{}", major, minor, patch);
}

std::string NetRequestDefaults::currentLocaleIdentifier() {
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        value = std::getenv(name);
        if (value != nullptr && *value != '\0') break;
        value = nullptr;
    }
    std::string identifier = value != nullptr ? value : "";
    identifier = identifier.substr(0, identifier.find_first_of(".@"));
    if (identifier.empty() || identifier == "C" || identifier == "POSIX") return "en_US_POSIX";
    return identifier;
}
