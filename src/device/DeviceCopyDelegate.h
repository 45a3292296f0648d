#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "device/iMobileDeviceCopyDelegate.h"

// Carries a copy's progress out through a block and a stop request in. Serves one copy:
// the stop flag only ever turns from false to true. Safe to use from any thread.
class DeviceCopyDelegate : public iMobileDeviceCopyDelegate {
public:
    using ProgressBlock = std::function<void(std::int64_t bytes, std::int64_t total)>;

    void transferBytesOfTotal(std::int64_t bytes, std::int64_t total) override;
    bool shouldContinue() override { return !stop(); }
    std::shared_ptr<foundation::PartialFiles> partialFiles() override { return partialFiles_; }
    // Stops the copy and removes its partial file on the computer now, without waiting for
    // the copy to see the stop (it may be waiting for a device that does not answer); the
    // copy then puts nothing in place.
    void abandon();

    ProgressBlock cb() const;
    void setCb(ProgressBlock block);
    bool stop() const { return stop_.load(); }
    void setStop(bool stop) { stop_.store(stop); }

private:
    mutable std::mutex mutex_;
    ProgressBlock cb_;
    std::atomic<bool> stop_{false};
    const std::shared_ptr<foundation::PartialFiles> partialFiles_ =
        std::make_shared<foundation::PartialFiles>();
};
