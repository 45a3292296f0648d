#include "fakedevice/TransferGate.h"

namespace testsupport {

void TransferGate::pass(std::int64_t bytesDone) {
    std::unique_lock lock(mutex_);
    ++arrivals_;
    lastBytes_ = bytesDone;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_ || permits_ > 0; });
    if (!open_) --permits_;
}

std::int64_t TransferGate::waitForPause() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return arrivals_ > seen_; });
    ++seen_;
    return lastBytes_;
}

void TransferGate::step() {
    std::lock_guard lock(mutex_);
    ++permits_;
    changed_.notify_all();
}

void TransferGate::open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
}

}  // namespace testsupport
