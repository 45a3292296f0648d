#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

// A request whose read stream the throttle takes off its run loop and puts back.
class NetThrottleTarget {
public:
    virtual ~NetThrottleTarget() = default;
    virtual bool readStreamIsScheduled() const = 0;
    virtual void scheduleReadStream() = 0;
    virtual void unscheduleReadStream() = 0;
};

// The bandwidth accounting shared by every transfer of the process: bytes moved in the
// current second, a short history of per-second samples, and the pause that keeps all
// streams within the limit.
class NetBandwidthThrottle {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    explicit NetBandwidthThrottle(std::function<TimePoint()> now = Clock::now);

    // The instance every request of the process uses.
    static NetBandwidthThrottle& shared();

    bool isBandwidthThrottled();
    std::uint64_t maxBandwidthPerSecond();
    // A new limit starts afresh: no pause, and nothing used yet in this second.
    void setMaxBandwidthPerSecond(std::uint64_t bytes);
    void incrementBandwidthUsedInLastSecond(std::uint64_t bytes);
    std::uint64_t averageBandwidthUsedPerSecond();

    // Closes the current second when it has passed, and sets the wake-up time when more
    // than the limit was used.
    void measureBandwidthUsage();
    // How many bytes an upload may read now; 0 without a limit.
    std::uint64_t maxUploadReadLength();
    // How many bytes a download may read now, at most `buffer`: a quarter of what is left
    // of this second's allowance (at least 1); `buffer` without a limit.
    std::uint64_t maxDownloadReadLength(std::uint64_t buffer);
    // Takes the target's stream off its run loop while the pause lasts, and back after.
    // The target is called without the throttle's lock held.
    void performThrottling(NetThrottleTarget& target);

    std::optional<TimePoint> throttleWakeUpTime();
    // Whether a pause is in force at this moment.
    bool isPaused();

private:
    void recordBandwidthUsage(TimePoint now);  // lock held

    std::function<TimePoint()> now_;
    std::mutex lock_;  // not recursive: measuring records without taking it again
    std::uint64_t maxBandwidthPerSecond_ = 0;
    std::uint64_t bandwidthUsedInLastSecond_ = 0;
    std::optional<TimePoint> bandwidthMeasurementDate_;
    std::deque<std::uint64_t> bandwidthUsageTracker_;
    std::uint64_t averageBandwidthUsedPerSecond_ = 0;
    std::optional<TimePoint> throttleWakeUpTime_;
};
