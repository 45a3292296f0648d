#include "logging/LgPendingRecords.h"

#include <algorithm>
#include <span>
#include <thread>

#include "foundation/SerialQueue.h"
#include "logging/LgLog.h"

namespace {

// Tells the processor that this is a spin-wait loop.
inline void pauseSpinning() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

}  // namespace

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
    if (deliveryWaiting_.load(std::memory_order_relaxed)) holdBackForDelivery();
    Lock lock(mutex_);
    // Room in the hub's backlog, waited for off the lock.
    while (counted && !hub.hasRoomInBacklog() && LgLog::mayWaitForRoomInBacklog()) {
        lock.unlock();
        hub.waitForRoomInBacklog();
        lock.lock();
    }
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
    if (counted) hub.countQueued();
    // Only changed under the lock: a plain store, not a locked add.
    added_.store(added_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    return true;
}

void LgPendingRecords::queueBehind(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        open_.reset();
        LgLog::loggingQueue().async(std::move(job));
    }
    wakeLingeringDelivery();
}

void LgPendingRecords::syncBehind(const std::function<void()>& job) {
    auto& queue = LgLog::loggingQueue();
    if (queue.isCurrent()) {
        job();
        return;
    }
    struct Coming {
        LgPendingRecords& pending;
        explicit Coming(LgPendingRecords& p) : pending(p) {
            pending.workComing_.fetch_add(1);
            pending.wakeLingeringDelivery();
        }
        ~Coming() { pending.workComing_.fetch_sub(1); }
        Coming(const Coming&) = delete;
        Coming& operator=(const Coming&) = delete;
    } coming(*this);
    queue.sync(job);
}

void LgPendingRecords::wakeLingeringDelivery() {
    std::lock_guard wait(lingerMutex_);
    if (lingering_) lingerWake_.notify_one();
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
    for (bool first = true, last = false; !last; first = false) {
        {
            Lock lock = lockForDelivery();
            if (!first && run->records < kBatch && open_ == run) {
                waitBrieflyForMore(lock, kBatch - run->records);
            }
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
        const Lock lock = lockForDelivery();
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
        if (run.holdsMore) LgRecordChunk::trimUnpacked(records);
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
// spares it the lock's passing to and fro between the two. The wait sleeps: looking for
// records again and again would take the lines the caller writes away from its core, and
// yielding would hand the processor to whatever else waits to run there, on a busy machine
// for a whole time slice. Work queued behind the delivery ends the wait (syncBehind).
void LgPendingRecords::waitBrieflyForMore(Lock& lock, std::size_t wanted) {
    const auto until = std::chrono::steady_clock::now() + kLinger;
    const auto seen = added_.load(std::memory_order_acquire);
    lock.unlock();
    auto workWaits = [this] {
        return workComing_.load() > 0 || LgLog::loggingQueue().hasQueuedJobs();
    };
    {
        std::unique_lock wait(lingerMutex_);
        lingering_ = true;
        while (added_.load(std::memory_order_acquire) - seen < wanted && !workWaits() &&
               lingerWake_.wait_until(wait, until) == std::cv_status::no_timeout) {
        }
        lingering_ = false;
    }
    lock = lockForDelivery();
}

// Callers hold the lock for moments and, seeing deliveryWaiting_, let go of it: delivery
// spins for it rather than sleeping, which would cost a wake-up by the next caller to unlock.
// A holder that is descheduled meanwhile is waited for like any other.
LgPendingRecords::Lock LgPendingRecords::lockForDelivery() {
    constexpr int kSpins = 2000;
    deliveryWaiting_.store(true, std::memory_order_relaxed);
    for (int spin = 0; !mutex_.try_lock(); ++spin) {
        if (spin == kSpins) {
            mutex_.lock();
            break;
        }
        pauseSpinning();
    }
    deliveryWaiting_.store(false, std::memory_order_relaxed);
    return Lock(mutex_, std::adopt_lock);
}

// Delivery holds the lock for moments: a caller waits on its own core, without touching the
// lock, for about as long as that takes, then queues for the lock like anyone else.
void LgPendingRecords::holdBackForDelivery() const {
    constexpr int kSpins = 300;
    for (int spin = 0; spin < kSpins && deliveryWaiting_.load(std::memory_order_relaxed); ++spin) {
        pauseSpinning();
    }
}
