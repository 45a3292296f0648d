#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace testsupport {

// A count-down latch on a mutex and condition variable. libstdc++ 12's std::latch can
// miss its wake-up (it waits on a different word than it notifies), which hangs tests.
class Latch {
public:
    explicit Latch(std::ptrdiff_t count) : count_(count) {}
    Latch(const Latch&) = delete;
    Latch& operator=(const Latch&) = delete;

    void count_down(std::ptrdiff_t n = 1) {
        std::lock_guard lock(mutex_);
        count_ -= n;
        if (count_ <= 0) reached_.notify_all();
    }
    void wait() const {
        std::unique_lock lock(mutex_);
        reached_.wait(lock, [this] { return count_ <= 0; });
    }
    void arrive_and_wait(std::ptrdiff_t n = 1) {
        count_down(n);
        wait();
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable reached_;
    std::ptrdiff_t count_;
};

}  // namespace testsupport
