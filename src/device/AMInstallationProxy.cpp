#include "device/AMInstallationProxy.h"

#include "logging/LogCall.h"

using foundation::Value;

std::shared_ptr<AMInstallationProxy> AMInstallationProxy::create(
    const std::shared_ptr<AMDevice>& device) {
    auto service = std::make_shared<AMInstallationProxy>();
    if (!service->startOnDevice(kServiceName, device)) return nullptr;
    return service;
}

std::optional<std::vector<AMApplication>> AMInstallationProxy::browseFiltered(
    const Predicate& predicate) {
    const Value request = Value::dict(
        {{"Command", "Browse"}, {"ClientOptions", Value::dict({{"ApplicationType", "Any"}})}});
    auto listener = delegate();
    if (listener) listener->operationStarted(request);
    // Only a reply makes the list: a browse the device never answers is no answer, not
    // "no applications".
    std::optional<std::vector<AMApplication>> found;
    if (sendXMLRequest(request)) {
        for (;;) {
            Value reply = readXMLReply();
            if (reply.isNil()) break;
            if (listener) listener->operationContinues(reply);
            if (!found) {
                found.emplace();
                // The total is the device's word, not ours to trust for memory.
                const auto total = reply["Total"].toInt64().value_or(0);
                if (total > 0)
                    found->reserve(static_cast<std::size_t>(std::min<std::int64_t>(total, 4096)));
            }
            if (const auto* list = reply["CurrentList"].array()) {
                for (const auto& record : *list) {
                    if (found->size() == kMostApplications) break;
                    AMApplication app(record);
                    if (!predicate || predicate(app)) found->push_back(std::move(app));
                }
            }
            if (found->size() == kMostApplications) {
                LogWarn("The device lists more than {} applications; the rest are not read",
                        kMostApplications);
                break;
            }
            if (reply["Status"].stringOr() != "BrowsingApplications") break;
        }
    }
    if (listener) listener->operationCompleted(request);
    return found;
}

std::optional<std::vector<AMApplication>> AMInstallationProxy::browse() {
    return browseFiltered(nullptr);
}

std::optional<std::map<std::string, AMApplication>> AMInstallationProxy::lookupTypeWithAttribute(
    const std::string& type, const Value& attribute) {
    Value options = Value::dict({{"ApplicationType", type.empty() ? "Any" : type}});
    options.set("Attribute", attribute);
    const Value request = Value::dict({{"Command", "Lookup"}, {"ClientOptions", options}});
    auto listener = delegate();
    if (listener) listener->operationStarted(request);
    Value reply = sendRequestAndWaitForSingleReply(request);
    if (listener) {
        listener->operationContinues(reply);
        listener->operationCompleted(request);
    }
    const auto* result = reply["LookupResult"].dictionary();
    if (!result) return std::nullopt;
    std::map<std::string, AMApplication> applications;
    for (const auto& [bundleId, record] : *result)
        applications.emplace(bundleId, AMApplication(record));
    return applications;
}

bool AMInstallationProxy::archiveContainerPayloadUninstall(const std::string& bundleId,
                                                           bool container, bool payload,
                                                           bool uninstall) {
    if (!container && !payload) return false;
    const char* type = container && payload ? "All"
                       : container          ? "DocumentsOnly"
                                            : "ApplicationOnly";
    return sendRequestAndWaitUntilDone(Value::dict(
        {{"Command", "Archive"},
         {"ApplicationIdentifier", bundleId},
         {"ClientOptions", Value::dict({{"ArchiveType", type}, {"SkipUninstall", !uninstall}})}}));
}

bool AMInstallationProxy::restore(const std::string& bundleId) {
    return sendRequestAndWaitUntilDone(
        Value::dict({{"Command", "Restore"}, {"ApplicationIdentifier", bundleId}}));
}

bool AMInstallationProxy::removeArchive(const std::string& bundleId) {
    return sendRequestAndWaitUntilDone(
        Value::dict({{"Command", "RemoveArchive"}, {"ApplicationIdentifier", bundleId}}));
}

bool AMInstallationProxy::install(const std::string& packagePath) {
    return sendRequestAndWaitUntilDone(
        Value::dict({{"Command", "Install"},
                     {"PackagePath", packagePath},
                     {"ClientOptions", Value::dict({{"PackageType", "Developer"}})}}));
}

bool AMInstallationProxy::upgradeFrom(const std::string& bundleId, const std::string& packagePath) {
    return sendRequestAndWaitUntilDone(
        Value::dict({{"Command", "Upgrade"},
                     {"PackagePath", packagePath},
                     {"ApplicationIdentifier", bundleId},
                     {"ClientOptions", Value::dict({{"PackageType", "Developer"}})}}));
}

Value AMInstallationProxy::archivedAppInfo() {
    return sendRequestAndWaitForSingleReply(
        Value::dict({{"Command", "LookupArchives"}}))["LookupResult"];
}

std::vector<std::string> AMInstallationProxy::archivedAppBundleIds() {
    std::vector<std::string> ids;
    const Value info = archivedAppInfo();
    if (const auto* archives = info.dictionary()) {
        for (const auto& entry : *archives) ids.push_back(entry.first);
    }
    return ids;
}
