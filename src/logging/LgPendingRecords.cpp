#include "logging/LgPendingRecords.h"

#include <algorithm>
#include <span>
#include <thread>

#include "foundation/SerialQueue.h"
#include "logging/LgLog.h"

LgPendingRecords& LgPendingRecords::shared() {
    static auto* const pending = new LgPendingRecords;
    return *pending;
}

bool LgPendingRecords::add(LgLog& hub, const LgLogMessage& message, bool counted, bool openRun) {
    return addRecord(hub, message, counted, openRun);
}

bool LgPendingRecords::add(LgLog& hub, const LgCallRecord& call, bool counted, bool openRun) {
    return addRecord(hub, call, counted, openRun);
}

template <typename Record>
bool LgPendingRecords::addRecord(LgLog& hub, const Record& record, bool counted, bool openRun) {
    std::lock_guard lock(mutex_);
    if (!open_) {
        if (!openRun) return false;
        open_ = std::make_shared<Run>();
        LgLog::loggingQueue().async([run = open_] { shared().deliver(run); });
    }
    auto& chunks = open_->chunks;
    if (chunks.empty() || !chunks.back().append(hub, counted, record)) {
        chunks.push_back(takeSpareChunk());
        chunks.back().append(hub, counted, record);
    }
    ++open_->records;
    added_.fetch_add(1, std::memory_order_release);
    return true;
}

void LgPendingRecords::queueBehind(std::function<void()> job) {
    std::lock_guard lock(mutex_);
    open_.reset();
    LgLog::loggingQueue().async(std::move(job));
}

// Under the lock.
LgRecordChunk LgPendingRecords::takeSpareChunk() {
    if (spareChunks_.empty()) return LgRecordChunk();
    LgRecordChunk chunk = std::move(spareChunks_.back());
    spareChunks_.pop_back();
    return chunk;
}

// The run stays open while its job delivers: records that come meanwhile are taken by the
// same job, with no new job and no wake-up. Nothing queued behind the job is passed over:
// queueing work behind records closes the run, and so does any job found waiting (a flush,
// a synchronous caller), which must not wait for a caller that keeps logging.
void LgPendingRecords::deliver(const std::shared_ptr<Run>& run) {
    std::vector<LgRecordChunk> taken;
    std::vector<LgLog*> hubs;  // those that got records
    for (bool last = false; !last;) {
        {
            Lock lock(mutex_);
            if (run->records < kBatch && open_ == run) waitBrieflyForMore(lock, kBatch - run->records);
            if (open_ == run && (run->chunks.empty() || LgLog::loggingQueue().hasQueuedJobs())) {
                open_.reset();
            }
            last = open_ != run;
            keepSpares();
            taken.swap(run->chunks);
            run->records = 0;
        }
        for (const auto& chunk : taken) deliverRecords(chunk, hubs);
        // Off the lock, which callers are waiting for meanwhile.
        salvage(taken);
    }
    {
        std::lock_guard lock(mutex_);
        keepSpares();
    }
    salvagedChunks_.clear();
    for (auto* hub : hubs) hub->catchUp();
}

void LgPendingRecords::deliverRecords(const LgRecordChunk& chunk, std::vector<LgLog*>& hubs) {
    // Each hub's records side by side, as its loggers take them.
    for (std::size_t offset = 0; offset < chunk.end();) {
        const auto run = chunk.unpackRun(offset, kUnpackedRecords, unpacked_);
        const std::span<LgLogMessage> records(unpacked_.data(), run.records);
        run.hub->deliver(records);
        LgRecordChunk::trimUnpacked(records);
        if (run.counted > 0) run.hub->recordsLeftBacklog(run.counted);
        if (std::find(hubs.begin(), hubs.end(), run.hub) == hubs.end()) hubs.push_back(run.hub);
        offset = run.next;
    }
}

// The delivered chunks, emptied, for the callers' next records (only on the logging
// queue); emptying them frees what their records held here rather than on the callers.
void LgPendingRecords::salvage(std::vector<LgRecordChunk>& taken) {
    salvagedChunks_.clear();  // what found no room last time
    for (auto& chunk : taken) {
        if (salvagedChunks_.size() == kSpareChunksKept) break;
        chunk.clear();
        salvagedChunks_.push_back(std::move(chunk));
    }
    taken.clear();
}

// Under the lock, which callers wait for: only moves of whole chunks.
void LgPendingRecords::keepSpares() {
    while (!salvagedChunks_.empty() && spareChunks_.size() < kSpareChunksKept) {
        spareChunks_.push_back(std::move(salvagedChunks_.back()));
        salvagedChunks_.pop_back();
    }
}

// A caller logging a burst is usually a little slower than delivery: waiting a moment here
// spares it waking this queue for every record, and taking its records a batch at a time
// spares it the lock's passing to and fro between the two for every record.
void LgPendingRecords::waitBrieflyForMore(Lock& lock, std::size_t wanted) {
    const auto until = std::chrono::steady_clock::now() + kLinger;
    const auto seen = added_.load(std::memory_order_acquire);
    lock.unlock();
    // Watching the counter, not the lock, leaves the lock to the callers.
    while (added_.load(std::memory_order_acquire) - seen < wanted &&
           !LgLog::loggingQueue().hasQueuedJobs() && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
    }
    lock.lock();
}
