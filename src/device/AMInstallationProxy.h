#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/AMApplication.h"
#include "device/AMService.h"

// The device's installation proxy: browsing and looking up applications, installing,
// upgrading, archiving and restoring them. Progress of the long operations goes to the
// service's delegate; each gives true once the device reports "Complete".
class AMInstallationProxy : public AMService {
public:
    static constexpr const char* kServiceName = "com.apple.mobile.installation_proxy";
    using Predicate = std::function<bool(const AMApplication&)>;

    static std::shared_ptr<AMInstallationProxy> create(const std::shared_ptr<AMDevice>& device);

    // Far more than a phone holds: a device that keeps listing past it is not read further.
    static constexpr std::size_t kMostApplications = 10000;

    // Every application the device lists, those the predicate accepts (all without one);
    // nullopt when the device sent no reply at all.
    std::optional<std::vector<AMApplication>> browseFiltered(const Predicate& predicate);
    std::optional<std::vector<AMApplication>> browse();
    // Applications by bundle identifier; nullopt when the lookup fails. An empty type
    // means "Any".
    std::optional<std::map<std::string, AMApplication>> lookupTypeWithAttribute(
        const std::string& type, const foundation::Value& attribute);

    bool archiveContainerPayloadUninstall(const std::string& bundleId, bool container, bool payload,
                                          bool uninstall);
    bool restore(const std::string& bundleId);
    bool removeArchive(const std::string& bundleId);
    bool install(const std::string& packagePath);
    bool upgradeFrom(const std::string& bundleId, const std::string& packagePath);
    // The device's archives keyed by bundle identifier, or nil.
    foundation::Value archivedAppInfo();
    std::vector<std::string> archivedAppBundleIds();
};
