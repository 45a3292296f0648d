#include "device/DeviceCopyDelegate.h"

void DeviceCopyDelegate::transferBytesOfTotal(std::int64_t bytes, std::int64_t total) {
    // Called outside the lock: the block may wait for the main thread.
    if (const auto block = cb()) block(bytes, total);
}

DeviceCopyDelegate::ProgressBlock DeviceCopyDelegate::cb() const {
    std::lock_guard lock(mutex_);
    return cb_;
}

void DeviceCopyDelegate::setCb(ProgressBlock block) {
    std::lock_guard lock(mutex_);
    cb_ = std::move(block);
}

void DeviceCopyDelegate::abandon() {
    setStop(true);
    partialFiles_->withdraw();
}
