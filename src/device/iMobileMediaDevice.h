#pragma once

#include <memory>

#include "device/PhoneServiceAccess.h"
#include "device/iMobileDevice.h"
#include "media/MediaDevice.h"

// A connected device as the media loader reads it. Everything the loader reads lies in a
// phone's media area: its calls go there even while the file tree has made an application's
// container the phone's current service.
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
        return inMediaArea(false, [&] { return device_->itemExistsAtPath(path); });
    }
    using media::MediaDevice::downloadFileTo;
    bool downloadFileTo(const std::string& devicePath, const std::string& computerPath,
                        const std::shared_ptr<foundation::PartialFiles>& partials) override {
        return inMediaArea(false, [&] {
            if (!partials) return device_->downloadFileTo(devicePath, computerPath);
            return device_->downloadFileTo(devicePath, computerPath,
                                           std::make_shared<WithdrawableCopy>(partials));
        });
    }
    std::uint64_t getSizeOfItemAtPath(const std::string& path) override {
        return inMediaArea(std::uint64_t{0}, [&] { return device_->getSizeOfItemAtPath(path); });
    }
    std::optional<std::vector<std::uint8_t>> readFileAtPathOffsetLength(
        const std::string& path, std::uint64_t offset, std::uint64_t length) override {
        return inMediaArea(std::optional<std::vector<std::uint8_t>>(), [&] {
            return device_->readFileAtPathOffsetLength(path, offset, length);
        });
    }
    std::vector<Entry> contentsOfDirectory(const std::string& path) override {
        return inMediaArea(std::vector<Entry>(), [&] {
            std::vector<Entry> entries;
            for (const auto& node :
                 device_->contentsOfDirectoryPathType(path, kPathTypeFoldersThenFiles))
                entries.push_back({node.name(), node.fullpath(), node.isDirectory()});
            return entries;
        });
    }

private:
    // `failed` when a phone has no media area to work on.
    template <class Result, class Call>
    Result inMediaArea(Result failed, Call&& call) {
        auto* phone = dynamic_cast<PhoneServiceAccess*>(device_.get());
        if (!phone) return call();
        Result result = std::move(failed);
        phone->performOnService(PhoneServiceAccess::kMediaService, false,
                                [&] { result = call(); });
        return result;
    }

    std::shared_ptr<iMobileDevice> device_;
};
