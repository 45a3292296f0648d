#pragma once

#include <memory>
#include <string>

#include "content/FetchDevice.h"
#include "device/iMobileDevice.h"

// A connected device as the "/fetch" responder reaches it: nodes of its file tree, reads of
// its files and, on phones, application icons.
class FetchDeviceAccess : public content::FetchDevice {
public:
    explicit FetchDeviceAccess(std::shared_ptr<iMobileDevice> device) : device_(std::move(device)) {}

    std::recursive_mutex& objectLock() override { return device_->objectLock(); }
    std::shared_ptr<content::FetchNode> fileNode(const std::string& path) override;
    std::shared_ptr<content::FetchNode> diskNode(const std::string& path) override;
    std::shared_ptr<content::FetchNode> appNode(const std::string& appId, const std::string& path,
                                                bool isDirectory) override;
    std::shared_ptr<content::FetchNode> appsRoot(bool refresh) override;
    void resetService() override { device_->resetService(); }
    std::optional<foundation::Data> readFile(const std::string& path, std::uint64_t offset,
                                             std::uint64_t length) override;
    bool isPhone() override;
    std::optional<foundation::Data> iconDataForApp(const std::string& appId) override;

    // The services the process entry gives the responder: devices found through the
    // device manager by identifier ignoring case, the icon cache of the settings, and track
    // artwork from the media loaders.
    static content::FetchServices services();

private:
    std::shared_ptr<iMobileDevice> device_;
};
