#pragma once

#include <memory>

#include "device/iMobileDevice.h"
#include "media/MediaDevice.h"

// A connected device as the media loader reads it.
class iMobileMediaDevice : public media::MediaDevice {
    // A copy that ends between pieces once its partial files are withdrawn.
    class WithdrawableCopy : public iMobileDeviceCopyDelegate {
    public:
        explicit WithdrawableCopy(std::shared_ptr<foundation::PartialFiles> partials)
            : partials_(std::move(partials)) {}
        bool shouldContinue() override { return !partials_->withdrawn(); }
        std::shared_ptr<foundation::PartialFiles> partialFiles() override { return partials_; }

    private:
        std::shared_ptr<foundation::PartialFiles> partials_;
    };

public:
    explicit iMobileMediaDevice(std::shared_ptr<iMobileDevice> device)
        : device_(std::move(device)) {}

    const std::shared_ptr<iMobileDevice>& device() const { return device_; }

    std::string uuid() const override { return device_->uuid(); }
    std::string iTunesControlPath() const override { return device_->iTunesControlPath(); }
    bool itemExistsAtPath(const std::string& path) override {
        return device_->itemExistsAtPath(path);
    }
    using media::MediaDevice::downloadFileTo;
    bool downloadFileTo(const std::string& devicePath, const std::string& computerPath,
                        const std::shared_ptr<foundation::PartialFiles>& partials) override {
        if (!partials) return device_->downloadFileTo(devicePath, computerPath);
        return device_->downloadFileTo(devicePath, computerPath,
                                       std::make_shared<WithdrawableCopy>(partials));
    }
    std::uint64_t getSizeOfItemAtPath(const std::string& path) override {
        return device_->getSizeOfItemAtPath(path);
    }
    std::optional<std::vector<std::uint8_t>> readFileAtPathOffsetLength(
        const std::string& path, std::uint64_t offset, std::uint64_t length) override {
        return device_->readFileAtPathOffsetLength(path, offset, length);
    }
    std::vector<Entry> contentsOfDirectory(const std::string& path) override {
        std::vector<Entry> entries;
        for (const auto& node :
             device_->contentsOfDirectoryPathType(path, kPathTypeFoldersThenFiles))
            entries.push_back({node.name(), node.fullpath(), node.isDirectory()});
        return entries;
    }

private:
    std::shared_ptr<iMobileDevice> device_;
};
