#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/AdaptiveMutex.h"
#include "logging/LgCacheLine.h"
#include "logging/LgRecordChunk.h"

class LgLog;

// The records waiting for the delivery job queued last on the logging queue, from every
// hub (hubs share the queue). A record joins that job's run while the run is open (no
// other work was queued behind it); otherwise it starts a new run with a job of its own.
class LgPendingRecords {
public:
    static LgPendingRecords& shared();

    // Whether the record joined a run (false: no run is open and `openRun` was false, so
    // nothing was queued).
    bool add(LgLog& hub, const LgLogMessage& message, bool counted, bool openRun);
    bool add(LgLog& hub, const LgCallRecord& call, bool counted, bool openRun);

    // Queues `job` behind every record added so far; later records start a new run.
    void queueBehind(std::function<void()> job);

    // Runs `job` on the logging queue and waits for it. A delivery waiting for more records
    // stops waiting: the job would otherwise wait behind it.
    void syncBehind(const std::function<void()>& job);

private:
    using Lock = std::unique_lock<foundation::AdaptiveMutex>;
    struct Run {
        std::vector<LgRecordChunk> chunks;
        std::size_t records = 0;  // in chunks
    };

    LgPendingRecords() = default;
    template <typename Record>
    bool addRecord(LgLog& hub, const Record& record, bool counted, bool openRun);
    LgRecordChunk takeSpareChunk();
    void deliver(const std::shared_ptr<Run>& run);
    void deliverRecords(const LgRecordChunk& chunk, std::vector<LgLog*>& hubs);
    void salvage(std::vector<LgRecordChunk>& taken);
    void keepSpares();
    void waitBrieflyForMore(Lock& lock, std::size_t wanted);
    // Delivery's hold of the lock, which callers let it have first.
    Lock lockForDelivery();
    void holdBackForDelivery() const;

    void wakeLingeringDelivery();

    // How long a delivery that has caught up waits for more before it takes what came.
    static constexpr std::chrono::microseconds kLinger{20};
    // Records a delivery waits for (for kLinger at most) before it takes them, once it has
    // taken what it found when it started.
    static constexpr std::size_t kBatch = 256;
    // Kept for callers: enough for a burst, without holding on to much memory after it.
    static constexpr std::size_t kSpareChunksKept = 8;
    // Records unpacked at a time and handed to a hub's loggers together.
    static constexpr std::size_t kUnpackedRecords = 256;

    // Short hold times by callers on other cores: a waiter spins rather than sleeps.
    // Callers take it for every record, delivery once a batch.
    alignas(kLgCacheLine) foundation::AdaptiveMutex mutex_;
    std::shared_ptr<Run> open_;
    std::vector<LgRecordChunk> spareChunks_;  // under mutex_
    // Records ever added; written under mutex_. Delivery watches it while it waits for
    // more, which must not take the lock's line away from the callers at every look.
    alignas(kLgCacheLine) std::atomic<std::uint64_t> added_{0};
    // Set while delivery waits for the lock. A caller logging in a loop would otherwise take
    // the lock again before delivery's request for it reached the caller's core, time after
    // time, until delivery went to sleep and had to be woken.
    alignas(kLgCacheLine) std::atomic<bool> deliveryWaiting_{false};
    // Only on the logging queue.
    alignas(kLgCacheLine) std::vector<LgRecordChunk> salvagedChunks_;
    std::vector<LgLogMessage> unpacked_;
    // A delivery waiting for more sleeps on this; work about to be queued behind it (while
    // workComing_ is above 0) wakes it.
    alignas(kLgCacheLine) std::mutex lingerMutex_;
    std::condition_variable lingerWake_;
    std::atomic<int> workComing_{0};
    bool lingering_ = false;  // under lingerMutex_
};
