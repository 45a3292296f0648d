#include "http/NetBandwidthThrottle.h"

#include <algorithm>
#include <numeric>

namespace {
constexpr std::size_t MaximumSamples = 6;
constexpr auto OneSecond = std::chrono::seconds(1);
}  // namespace

NetBandwidthThrottle::NetBandwidthThrottle(std::function<TimePoint()> now) : now_(std::move(now)) {}

NetBandwidthThrottle& NetBandwidthThrottle::shared() {
    static NetBandwidthThrottle instance;
    return instance;
}

bool NetBandwidthThrottle::isBandwidthThrottled() {
    std::lock_guard guard(lock_);
    return maxBandwidthPerSecond_ != 0;
}

std::uint64_t NetBandwidthThrottle::maxBandwidthPerSecond() {
    std::lock_guard guard(lock_);
    return maxBandwidthPerSecond_;
}

void NetBandwidthThrottle::setMaxBandwidthPerSecond(std::uint64_t bytes) {
    std::lock_guard guard(lock_);
    if (bytes == maxBandwidthPerSecond_) return;
    maxBandwidthPerSecond_ = bytes;
    // Bytes moved without a limit, or under another one, would otherwise pause every
    // transfer for as long as they are over the new one: hours after a fast download.
    bandwidthUsedInLastSecond_ = 0;
    throttleWakeUpTime_.reset();
}

void NetBandwidthThrottle::incrementBandwidthUsedInLastSecond(std::uint64_t bytes) {
    std::lock_guard guard(lock_);
    bandwidthUsedInLastSecond_ += bytes;
}

std::uint64_t NetBandwidthThrottle::averageBandwidthUsedPerSecond() {
    std::lock_guard guard(lock_);
    return averageBandwidthUsedPerSecond_;
}

void NetBandwidthThrottle::recordBandwidthUsage(TimePoint now) {
    if (bandwidthUsedInLastSecond_ == 0) {
        bandwidthUsageTracker_.clear();
    } else {
        // Age out one sample per whole second that passed without a measurement.
        double d = bandwidthMeasurementDate_
                       ? std::chrono::duration<double>(*bandwidthMeasurementDate_ - now).count()
                       : -1.0;
        while ((d < 0 || bandwidthUsageTracker_.size() >= MaximumSamples) &&
               !bandwidthUsageTracker_.empty()) {
            bandwidthUsageTracker_.pop_front();
            d += 1.0;
        }
    }
    bandwidthUsageTracker_.push_back(bandwidthUsedInLastSecond_);
    bandwidthMeasurementDate_ = now + OneSecond;
    bandwidthUsedInLastSecond_ = 0;
    std::uint64_t total = std::accumulate(bandwidthUsageTracker_.begin(),
                                          bandwidthUsageTracker_.end(), std::uint64_t{0});
    averageBandwidthUsedPerSecond_ = total / bandwidthUsageTracker_.size();
}

void NetBandwidthThrottle::measureBandwidthUsage() {
    std::lock_guard guard(lock_);
    TimePoint now = now_();
    if (!bandwidthMeasurementDate_ || *bandwidthMeasurementDate_ <= now) recordBandwidthUsage(now);
    if (maxBandwidthPerSecond_ > 0 && bandwidthUsedInLastSecond_ > maxBandwidthPerSecond_) {
        double over = static_cast<double>(bandwidthUsedInLastSecond_ - maxBandwidthPerSecond_) /
                      static_cast<double>(maxBandwidthPerSecond_);
        throttleWakeUpTime_ =
            *bandwidthMeasurementDate_ +
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(over));
    }
}

std::uint64_t NetBandwidthThrottle::maxUploadReadLength() {
    std::lock_guard guard(lock_);
    if (maxBandwidthPerSecond_ == 0) return 0;
    std::uint64_t allowance = maxBandwidthPerSecond_ / 4;
    if (bandwidthUsedInLastSecond_ + allowance > maxBandwidthPerSecond_) {
        allowance = bandwidthUsedInLastSecond_ >= maxBandwidthPerSecond_
                        ? 0
                        : maxBandwidthPerSecond_ - bandwidthUsedInLastSecond_;
    }
    TimePoint now = now_();
    if (bandwidthMeasurementDate_ && *bandwidthMeasurementDate_ > now && allowance != 0)
        return allowance;
    // Nothing left in this second: the next read waits until it ends.
    throttleWakeUpTime_ = bandwidthMeasurementDate_;
    return allowance;
}

std::uint64_t NetBandwidthThrottle::maxDownloadReadLength(std::uint64_t buffer) {
    std::lock_guard guard(lock_);
    if (maxBandwidthPerSecond_ == 0) return buffer;
    if (bandwidthUsedInLastSecond_ >= maxBandwidthPerSecond_) return 1;
    std::uint64_t quarter =
        std::max<std::uint64_t>(1, (maxBandwidthPerSecond_ - bandwidthUsedInLastSecond_) / 4);
    return std::min(buffer, quarter);
}

void NetBandwidthThrottle::performThrottling(NetThrottleTarget& target) {
    measureBandwidthUsage();
    // Decided under the lock, done without it: scheduling a stream may read a body,
    // which asks the throttle again.
    bool waiting = false;
    {
        std::lock_guard guard(lock_);
        if (maxBandwidthPerSecond_ != 0) {
            if (!throttleWakeUpTime_) return;
            waiting = *throttleWakeUpTime_ > now_();
        }
    }
    if (waiting && target.readStreamIsScheduled()) {
        target.unscheduleReadStream();
    } else if (!waiting && !target.readStreamIsScheduled()) {
        target.scheduleReadStream();
    }
}

std::optional<NetBandwidthThrottle::TimePoint> NetBandwidthThrottle::throttleWakeUpTime() {
    std::lock_guard guard(lock_);
    return throttleWakeUpTime_;
}

bool NetBandwidthThrottle::isPaused() {
    std::lock_guard guard(lock_);
    return maxBandwidthPerSecond_ != 0 && throttleWakeUpTime_ && *throttleWakeUpTime_ > now_();
}
