#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/Value.h"

class NetCacheDelegate;

// The defaults every new request starts with: the idle time-out, the User-Agent and the
// download cache.
class NetRequestDefaults {
public:
    static NetRequestDefaults& shared();

    // Read and written without a lock, as a plain number.
    double defaultTimeOutSeconds() const { return defaultTimeOutSeconds_; }
    void setDefaultTimeOutSeconds(double seconds) { defaultTimeOutSeconds_ = seconds; }

    // Built once from the bundle's information, the system version and the locale;
    // nullopt while the bundle names no application.
    std::optional<std::string> defaultUserAgentString();
    void setDefaultUserAgentString(std::optional<std::string> userAgent);
    // The cache every new request starts with; none unless set.
    std::shared_ptr<NetCacheDelegate> defaultCache();
    void setDefaultCache(std::shared_ptr<NetCacheDelegate> cache);
    // Where the bundle's "Info.plist" is read from; set once at start-up.
    void setBundleInfoPath(std::string path);

    // "<name> <version> (X11; Linux <major.minor.patch>; <locale>)" from a bundle's
    // information; nullopt without a name or a system version.
    static std::optional<std::string> userAgentFromBundleInfo(
        const foundation::Dictionary& info, const std::optional<std::string>& systemVersion,
        const std::string& localeIdentifier);
    // The kernel's major, minor and patch numbers, "6.1.0"; nullopt when unknown.
    static std::optional<std::string> systemVersion();
    // The locale of the process's messages, "en_US"; "en_US_POSIX" for the C locale.
    static std::string currentLocaleIdentifier();

private:
    double defaultTimeOutSeconds_ = 10.0;
    std::mutex lock_;
    std::optional<std::string> userAgent_;
    std::string bundleInfoPath_;
    std::shared_ptr<NetCacheDelegate> defaultCache_;
};
