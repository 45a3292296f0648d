#include "logging/LgLog.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "foundation/DispatchGroup.h"
#include "foundation/Error.h"
#include "foundation/SerialQueue.h"

namespace {

constexpr const char* kInconsistency = "NSInternalInconsistencyException";

void flushSharedHubAtExit() {
    LgLog::sharedInstance().flushLogToDisk();
}

// Set while a logger queue runs records handed over by a hub.
thread_local bool deliveringRecords = false;

struct DeliveringRecords {
    DeliveringRecords() { deliveringRecords = true; }
    ~DeliveringRecords() { deliveringRecords = false; }
    DeliveringRecords(const DeliveringRecords&) = delete;
    DeliveringRecords& operator=(const DeliveringRecords&) = delete;
};

// A logger that throws must not take the logging queue down with it.
void callLogger(LgLogger& logger, const LgLogMessage& message) {
    try {
        logger.logMessage(message);
    } catch (const std::exception& e) {
        fmt::print(stderr, "logging: logger \"{}\" failed: {}\n", logger.loggerName(), e.what());
    } catch (...) {
        fmt::print(stderr, "logging: logger \"{}\" failed\n", logger.loggerName());
    }
}

// The queues of the loggers installed in every hub (a queue once per node), readable
// from any thread: hubs share the logging queue, so any of them can block it.
class InstalledLoggerQueues {
public:
    static InstalledLoggerQueues& shared() {
        static auto* const queues = new InstalledLoggerQueues;
        return *queues;
    }
    void replace(const std::vector<const foundation::SerialQueue*>& old,
                 const std::vector<const foundation::SerialQueue*>& now) {
        std::lock_guard lock(mutex_);
        for (const auto* queue : old) queues_.erase(queues_.find(queue));
        queues_.insert(now.begin(), now.end());
    }
    bool contains(const foundation::SerialQueue* queue) const {
        std::lock_guard lock(mutex_);
        return queues_.contains(queue);
    }

private:
    mutable std::mutex mutex_;
    std::multiset<const foundation::SerialQueue*> queues_;
};

// A delivered record's text buffer, handed back to this thread for its next record.
thread_local std::string spareText;
constexpr std::size_t kTextBufferSize = 128;

}  // namespace

// The records waiting for the delivery job queued last on the logging queue, from every
// hub (hubs share the queue). A record joins that job's run while the run is open (no
// other work was queued behind it); otherwise it starts a new run with a job of its own.
class LgPendingRecords {
public:
    static LgPendingRecords& shared() {
        static auto* const pending = new LgPendingRecords;
        return *pending;
    }

    // Whether the record joined a run (false: no run is open and nothing was queued).
    bool add(LgLog& hub, LgLogMessage&& message, bool counted, bool openRun) {
        std::lock_guard lock(mutex_);
        if (!open_) {
            if (!openRun) return false;
            open_ = std::make_shared<Run>();
            LgLog::loggingQueue().async([run = open_] { shared().deliver(run); });
        }
        auto& chunks = open_->chunks;
        if (chunks.empty() || chunks.back().messages.size() == kChunkSize) {
            chunks.push_back(takeSpareChunk());
        }
        chunks.back().messages.push_back(std::move(message));
        chunks.back().owners.push_back({&hub, counted});
        added_.fetch_add(1, std::memory_order_release);
        if (!spareTexts_.empty() && spareText.capacity() < kSmallestSpareText) {
            spareText = std::move(spareTexts_.back());
            spareTexts_.pop_back();
        }
        return true;
    }

    void queueBehind(std::function<void()> job) {
        std::lock_guard lock(mutex_);
        open_.reset();
        LgLog::loggingQueue().async(std::move(job));
    }

private:
    struct Owner {
        LgLog* hub;
        bool counted;  // in the hub's backlog
    };
    // Records of a run in chunks of a fixed room: a queued record is never moved again, and
    // emptied chunks serve later runs. Messages stand apart from their owners, so that a
    // hub's share is handed over in place.
    struct Chunk {
        std::vector<LgLogMessage> messages;
        std::vector<Owner> owners;
    };
    struct Run {
        std::vector<Chunk> chunks;
    };

    // Under the lock.
    Chunk takeSpareChunk() {
        if (!spareChunks_.empty()) {
            Chunk chunk = std::move(spareChunks_.back());
            spareChunks_.pop_back();
            return chunk;
        }
        Chunk chunk;
        chunk.messages.reserve(kChunkSize);
        chunk.owners.reserve(kChunkSize);
        return chunk;
    }

    // The run stays open while its job delivers: records that come meanwhile are taken
    // by the same job, with no new job and no wake-up. Nothing queued behind the job is
    // passed over: queueing work behind records closes the run, and so does any job
    // found waiting (a flush, a synchronous caller), which must not wait for a caller
    // that keeps logging.
    void deliver(const std::shared_ptr<Run>& run) {
        Run taken;
        std::vector<LgLog*> hubs;  // those that got records
        for (bool last = false; !last;) {
            {
                std::unique_lock lock(mutex_);
                if (run->chunks.empty() && open_ == run) waitBrieflyForMore(lock);
                if (open_ == run &&
                    (run->chunks.empty() || LgLog::loggingQueue().hasQueuedJobs())) {
                    open_.reset();
                }
                last = open_ != run;
                keepSpares();
                taken.chunks.swap(run->chunks);
            }
            for (auto& chunk : taken.chunks) deliverRecords(chunk, hubs);
            // Off the lock, which callers are waiting for meanwhile.
            salvage(taken);
        }
        {
            std::lock_guard lock(mutex_);
            keepSpares();
        }
        salvaged_.clear();
        salvagedChunks_.clear();
        for (auto* hub : hubs) hub->catchUp();
    }

    // The delivered records' text buffers and their emptied chunks, for the callers' next
    // records (only on the logging queue). The rest of each record is freed here.
    void salvage(Run& taken) {
        salvaged_.clear();  // what found no room last time
        salvagedChunks_.clear();
        for (auto& chunk : taken.chunks) {
            for (auto& message : chunk.messages) {
                if (salvaged_.size() == kSpareTextsKept) break;
                std::string text = message.releaseMessage();
                if (text.capacity() >= kSmallestSpareText && text.capacity() <= kLargestSpareText) {
                    salvaged_.push_back(std::move(text));
                }
            }
            chunk.messages.clear();
            chunk.owners.clear();
            if (salvagedChunks_.size() < kSpareChunksKept) {
                salvagedChunks_.push_back(std::move(chunk));
            }
        }
        taken.chunks.clear();
    }

    // Under the lock, which callers wait for: the longer list is kept whole, and only the
    // shorter one is moved over.
    void keepSpares() {
        if (salvaged_.size() > spareTexts_.size()) spareTexts_.swap(salvaged_);
        while (!salvaged_.empty() && spareTexts_.size() < kSpareTextsKept) {
            spareTexts_.push_back(std::move(salvaged_.back()));
            salvaged_.pop_back();
        }
        while (!salvagedChunks_.empty() && spareChunks_.size() < kSpareChunksKept) {
            spareChunks_.push_back(std::move(salvagedChunks_.back()));
            salvagedChunks_.pop_back();
        }
    }

    // A caller logging a burst is usually a little slower than delivery: waiting a moment
    // here spares it waking this queue for every record.
    void waitBrieflyForMore(std::unique_lock<std::mutex>& lock) {
        const auto until = std::chrono::steady_clock::now() + kLinger;
        const auto seen = added_.load(std::memory_order_acquire);
        lock.unlock();
        // Watching the counter, not the lock, leaves the lock to the callers.
        while (added_.load(std::memory_order_acquire) == seen &&
               !LgLog::loggingQueue().hasQueuedJobs() && std::chrono::steady_clock::now() < until) {
            std::this_thread::yield();
        }
        lock.lock();
    }

    static void deliverRecords(Chunk& chunk, std::vector<LgLog*>& hubs) {
        // Each hub's messages side by side, as its loggers take them.
        const std::span<const LgLogMessage> messages(chunk.messages);
        std::size_t begin = 0;
        while (begin < messages.size()) {
            LgLog* hub = chunk.owners[begin].hub;
            std::size_t end = begin;
            std::int64_t counted = 0;
            for (; end < messages.size() && chunk.owners[end].hub == hub; ++end) {
                counted += chunk.owners[end].counted ? 1 : 0;
            }
            hub->deliver(messages.subspan(begin, end - begin));
            if (counted > 0) hub->recordsLeftBacklog(counted);
            if (std::find(hubs.begin(), hubs.end(), hub) == hubs.end()) hubs.push_back(hub);
            begin = end;
        }
    }

    static constexpr std::chrono::microseconds kLinger{20};
    static constexpr std::size_t kChunkSize = 256;
    // Kept for callers: enough for a burst, without holding on to much memory after it.
    static constexpr std::size_t kSpareChunksKept = 8;
    static constexpr std::size_t kSpareTextsKept = 4096;
    static constexpr std::size_t kSmallestSpareText = kTextBufferSize;
    static constexpr std::size_t kLargestSpareText = 512;

    std::mutex mutex_;
    std::shared_ptr<Run> open_;
    std::atomic<std::uint64_t> added_{0};  // records ever added
    std::vector<Chunk> spareChunks_;       // under mutex_
    std::vector<std::string> spareTexts_;  // under mutex_
    // Only on the logging queue.
    std::vector<Chunk> salvagedChunks_;
    std::vector<std::string> salvaged_;
};

std::string LgLog::takeTextBuffer() {
    std::string text = std::exchange(spareText, {});
    text.clear();
    // Most lines fit, and the buffer is large enough to be handed back.
    if (text.capacity() < kTextBufferSize) text.reserve(kTextBufferSize);
    return text;
}

LgLog::LgLog(unsigned processorCount, std::int64_t maxBacklog)
    : processorCount_(std::max(1u, processorCount)),
      maxBacklog_(std::max<std::int64_t>(1, maxBacklog)) {
    loggers_.reserve(4);
}

LgLog::~LgLog() {
    // Jobs for this hub still on the shared logging queue hold `this`: they run first.
    auto forget = [this] { InstalledLoggerQueues::shared().replace(loggerQueues_, {}); };
    if (loggingQueue().isCurrent()) {
        forget();
    } else {
        loggingQueue().sync(forget);
    }
}

bool LgLog::isOnInstalledLoggerQueue() {
    const foundation::SerialQueue* current = foundation::SerialQueue::current();
    return current != nullptr && current != &loggingQueue() &&
           InstalledLoggerQueues::shared().contains(current);
}

LgLog& LgLog::sharedInstance() {
    // Made once and kept for the life of the process; the exit handler flushes it.
    static LgLog* const hub = [] {
        auto* made = new LgLog();
        std::atexit(flushSharedHubAtExit);
        return made;
    }();
    return *hub;
}

foundation::SerialQueue& LgLog::loggingQueue() {
    static auto* const queue = new foundation::SerialQueue("orvandel.logging");
    return *queue;
}

unsigned LgLog::defaultProcessorCount() {
    static const unsigned count = std::max(1u, std::thread::hardware_concurrency());
    return count;
}

void LgLog::requireLoggingQueue() {
    if (!loggingQueue().isCurrent()) {
        throw foundation::NamedException(
            kInconsistency, "This method should only be run on the logging thread/queue");
    }
}

void LgLog::logMessage(bool asynchronous, std::string message, std::uint64_t level,
                       std::uint64_t flag, std::int64_t context, const char* file,
                       const char* function, std::uint64_t line, std::any tag) {
    queueLogMessage(LgLogMessage(std::move(message), level, flag, context, {file, function}, line,
                                 std::move(tag), 0, std::nullopt),
                    asynchronous);
}

void LgLog::log(bool asynchronous, LgLogMessage message) {
    queueLogMessage(std::move(message), asynchronous);
}

void LgLog::queueLogMessage(LgLogMessage message, bool asynchronous) {
    if (asynchronous || isOnInstalledLoggerQueue()) {
        waitForRoomInBacklog();
        LgPendingRecords::shared().add(*this, std::move(message), true, true);
    } else {
        queueSynchronously(std::move(message));
    }
}

void LgLog::asyncOnLoggingQueue(std::function<void()> job) {
    LgPendingRecords::shared().queueBehind(std::move(job));
}

// Returns once every admitting logger has taken the record.
void LgLog::queueSynchronously(LgLogMessage message) {
    auto& queue = loggingQueue();
    if (queue.isCurrent()) {
        deliver(std::span(&message, 1));
        catchUp();
        return;
    }
    // Behind the records waiting for delivery: the job that takes them takes this one too.
    if (LgPendingRecords::shared().add(*this, std::move(message), false, false)) {
        queue.sync([] {});
        return;
    }
    // Otherwise on this thread while the queue is idle.
    queue.sync([&] {
        deliver(std::span(&message, 1));
        catchUp();
    });
}

void LgLog::waitForRoomInBacklog() {
    if (backlog_.fetch_add(1) < maxBacklog_) return;
    // Those the backlog waits for must not wait for it.
    if (loggingQueue().isCurrent() || isOnInstalledLoggerQueue()) return;
    backlog_.fetch_sub(1);
    std::unique_lock lock(backlogMutex_);
    ++backlogWaiters_;
    backlogShrank_.wait(lock, [this] { return backlog_.load() < maxBacklog_; });
    --backlogWaiters_;
    backlog_.fetch_add(1);
}

void LgLog::recordsLeftBacklog(std::int64_t count) {
    backlog_.fetch_sub(count);
    if (backlogWaiters_.load() > 0) {
        std::lock_guard lock(backlogMutex_);
        backlogShrank_.notify_all();
    }
}

void LgLog::deliver(std::span<const LgLogMessage> records) {
    requireLoggingQueue();
    // Each logger queue takes the whole run in one call; loggers sharing a queue see every
    // record in turn, as they would one record at a time.
    auto deliverTo = [this, records](const QueueGroup& group) {
        const DeliveringRecords delivering;
        for (const auto& message : records) {
            for (const std::size_t index : group.nodes) {
                const auto& node = loggers_[index];
                if (node.level & message.flag()) callLogger(*node.logger, message);
            }
        }
    };
    auto admitsAny = [this, records](const QueueGroup& group) {
        for (const std::size_t index : group.nodes) {
            for (const auto& message : records) {
                if (loggers_[index].level & message.flag()) return true;
            }
        }
        return false;
    };
    std::vector<const QueueGroup*> picked;
    for (const auto& group : queueGroups_) {
        if (admitsAny(group)) picked.push_back(&group);
    }
    if (picked.empty()) return;
    // One queue, or one processor: each run goes on this thread holding the logger's queue
    // when that is idle, which spares two thread hand-offs.
    if (processorCount_ == 1 || picked.size() == 1) {
        for (const auto* group : picked) group->queue->sync([&] { deliverTo(*group); });
        return;
    }
    // Loggers work in parallel, but a run reaches all of them before the next is taken.
    foundation::DispatchGroup dispatch;
    for (const auto* group : picked) {
        dispatch.async(*group->queue, [&deliverTo, group] { deliverTo(*group); });
    }
    dispatch.wait();
}

bool LgLog::isDeliveringRecords() {
    return deliveringRecords;
}

void LgLog::catchUp() {
    requireLoggingQueue();
    for (const auto& group : queueGroups_) {
        group.queue->sync([&] {
            for (const std::size_t index : group.nodes) {
                auto& logger = *loggers_[index].logger;
                try {
                    logger.didCatchUp();
                } catch (const std::exception& e) {
                    fmt::print(stderr, "logging: logger \"{}\" failed: {}\n", logger.loggerName(),
                               e.what());
                }
            }
        });
    }
}

void LgLog::addLogger(std::shared_ptr<LgLogger> logger) {
    addLogger(std::move(logger), ~std::uint64_t{0});
}

void LgLog::addLogger(std::shared_ptr<LgLogger> logger, std::uint64_t level) {
    if (!logger) return;
    asyncOnLoggingQueue([this, logger = std::move(logger), level]() mutable {
        addLoggerOnQueue(std::move(logger), level);
    });
}

void LgLog::addLoggerOnQueue(std::shared_ptr<LgLogger> logger, std::uint64_t level) {
    requireLoggingQueue();
    for (const auto& node : loggers_) {
        if (node.logger == logger && node.level == level) return;
    }
    auto queue = logger->loggerQueue();
    if (!queue) queue = std::make_shared<foundation::SerialQueue>(logger->loggerName());
    loggers_.push_back(LgLoggerNode{logger, queue, level});
    rememberLoggerQueues();
    queue->async([logger, queue] { logger->didAddLoggerInQueue(*queue); });
}

void LgLog::removeLogger(const std::shared_ptr<LgLogger>& logger) {
    if (!logger) return;
    asyncOnLoggingQueue([this, logger] { removeLoggerOnQueue(logger); });
}

void LgLog::removeLoggerOnQueue(const std::shared_ptr<LgLogger>& logger) {
    requireLoggingQueue();
    auto found = std::find_if(loggers_.begin(), loggers_.end(),
                              [&](const LgLoggerNode& node) { return node.logger == logger; });
    if (found == loggers_.end()) return;
    found->loggerQueue->async([logger] { logger->willRemoveLogger(); });
    loggers_.erase(found);
    rememberLoggerQueues();
}

void LgLog::removeAllLoggers() {
    asyncOnLoggingQueue([this] { removeAllLoggersOnQueue(); });
}

void LgLog::removeAllLoggersOnQueue() {
    requireLoggingQueue();
    for (const auto& node : loggers_) {
        node.loggerQueue->async([logger = node.logger] { logger->willRemoveLogger(); });
    }
    loggers_.clear();
    rememberLoggerQueues();
}

std::vector<std::shared_ptr<LgLogger>> LgLog::allLoggers() {
    std::vector<std::shared_ptr<LgLogger>> result;
    loggingQueue().sync([&] {
        for (const auto& node : loggers_) result.push_back(node.logger);
    });
    return result;
}

std::vector<LgLoggerInformation> LgLog::allLoggersWithLevel() {
    std::vector<LgLoggerInformation> result;
    loggingQueue().sync([&] {
        for (const auto& node : loggers_) result.push_back({node.logger, node.level});
    });
    return result;
}

void LgLog::flushLog() {
    if (loggingQueue().isCurrent()) {
        throw foundation::NamedException(
            kInconsistency,
            "This method shouldn't be run on the logging thread/queue that make flush fast enough");
    }
    loggingQueue().sync([this] { flushOnQueue(false); });
}

void LgLog::flushLogToDisk() {
    if (loggingQueue().isCurrent()) {
        throw foundation::NamedException(
            kInconsistency,
            "This method shouldn't be run on the logging thread/queue that make flush fast enough");
    }
    loggingQueue().sync([this] { flushOnQueue(true); });
}

void LgLog::flushOnQueue(bool toDisk) {
    requireLoggingQueue();
    auto flushOne = [toDisk](LgLogger& logger) {
        try {
            if (toDisk) {
                logger.flush();
            } else {
                logger.flushBuffered();
            }
        } catch (const std::exception& e) {
            fmt::print(stderr, "logging: flush of \"{}\" failed: {}\n", logger.loggerName(),
                       e.what());
        }
    };
    // As in delivery: one logger, or one processor, is flushed from here.
    if (processorCount_ == 1 || loggers_.size() == 1) {
        for (const auto& node : loggers_) node.loggerQueue->sync([&] { flushOne(*node.logger); });
        return;
    }
    foundation::DispatchGroup group;
    for (const auto& node : loggers_) {
        group.async(*node.loggerQueue, [logger = node.logger, flushOne] { flushOne(*logger); });
    }
    group.wait();
}

void LgLog::rememberLoggerQueues() {
    std::vector<const foundation::SerialQueue*> now;
    for (const auto& node : loggers_) now.push_back(node.loggerQueue.get());
    InstalledLoggerQueues::shared().replace(loggerQueues_, now);
    loggerQueues_ = std::move(now);
    queueGroups_.clear();
    for (std::size_t index = 0; index < loggers_.size(); ++index) {
        auto* queue = loggers_[index].loggerQueue.get();
        auto group = std::find_if(queueGroups_.begin(), queueGroups_.end(),
                                  [queue](const QueueGroup& g) { return g.queue == queue; });
        if (group == queueGroups_.end()) {
            queueGroups_.push_back({queue, {}});
            group = std::prev(queueGroups_.end());
        }
        group->nodes.push_back(index);
    }
}
