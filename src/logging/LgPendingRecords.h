#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/AdaptiveMutex.h"
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

    static constexpr std::chrono::microseconds kLinger{20};
    // Records a delivery waits for (for kLinger at most) before it takes them.
    static constexpr std::size_t kBatch = 64;
    // Kept for callers: enough for a burst, without holding on to much memory after it.
    static constexpr std::size_t kSpareChunksKept = 8;
    // Records unpacked at a time and handed to a hub's loggers together.
    static constexpr std::size_t kUnpackedRecords = 256;

    // Short hold times by callers on other cores: a waiter spins rather than sleeps.
    foundation::AdaptiveMutex mutex_;
    std::shared_ptr<Run> open_;
    std::atomic<std::uint64_t> added_{0};  // records ever added
    std::vector<LgRecordChunk> spareChunks_;  // under mutex_
    // Only on the logging queue.
    std::vector<LgRecordChunk> salvagedChunks_;
    std::vector<LgLogMessage> unpacked_;
};
