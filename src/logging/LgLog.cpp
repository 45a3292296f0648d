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

#include "foundation/ConsolePrint.h"
#include "foundation/DispatchGroup.h"
#include "foundation/Error.h"
#include "foundation/QueueLabel.h"
#include "foundation/SerialQueue.h"
#include "logging/LgPendingRecords.h"
#include "logging/LgThreadIdentity.h"

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
        foundation::printToConsole("logging: logger \"{}\" failed: {}\n", logger.loggerName(), e.what());
    } catch (...) {
        foundation::printToConsole("logging: logger \"{}\" failed\n", logger.loggerName());
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

}  // namespace

LgLog::LgLog(unsigned processorCount, std::int64_t maxBacklog)
    : processorCount_(std::max(1u, processorCount)),
      maxBacklog_(std::max<std::int64_t>(1, maxBacklog)) {
    loggers_.reserve(4);
}

LgLog::~LgLog() {
    // Jobs for this hub still on the shared logging queue hold `this`: they run first.
    auto forget = [this] { InstalledLoggerQueues::shared().replace(loggerQueues_, {}); };
    syncOnLoggingQueue(forget);
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

void LgLog::logMessage(bool asynchronous, std::string_view message, std::uint64_t level,
                       std::uint64_t flag, std::int64_t context, const char* file,
                       const char* function, std::uint64_t line, std::any tag) {
    const auto timestamp = LgLogMessage::Clock::now();
    if (!asynchronous && !isOnInstalledLoggerQueue()) {
        queueSynchronously(LgLogMessage(std::string(message), level, flag, context,
                                        {file, function}, line, std::move(tag), 0, timestamp));
        return;
    }
    // Packed straight from the caller's text: no record is made on this thread.
    const LgCallRecord call{message,   level, flag,      context,
                            file,      function, line,  &tag,
                            timestamp, &LgThreadIdentity::current(),
                            foundation::QueueLabel::current()};
    LgPendingRecords::shared().add(*this, call, true, true);
}

void LgLog::log(bool asynchronous, const LgLogMessage& message) {
    queueLogMessage(message, asynchronous);
}

void LgLog::queueLogMessage(const LgLogMessage& message, bool asynchronous) {
    if (asynchronous || isOnInstalledLoggerQueue()) {
        LgPendingRecords::shared().add(*this, message, true, true);
    } else {
        queueSynchronously(message);
    }
}

void LgLog::asyncOnLoggingQueue(std::function<void()> job) {
    LgPendingRecords::shared().queueBehind(std::move(job));
}

void LgLog::syncOnLoggingQueue(const std::function<void()>& job) {
    LgPendingRecords::shared().syncBehind(job);
}

// Returns once every admitting logger has taken the record.
void LgLog::queueSynchronously(const LgLogMessage& message) {
    auto& queue = loggingQueue();
    if (queue.isCurrent()) {
        deliver(std::span(&message, 1));
        catchUp();
        return;
    }
    // Behind the records waiting for delivery: the job that takes them takes this one too.
    if (LgPendingRecords::shared().add(*this, message, false, false)) {
        syncOnLoggingQueue([] {});
        return;
    }
    // Otherwise on this thread while the queue is idle.
    syncOnLoggingQueue([&] {
        deliver(std::span(&message, 1));
        catchUp();
    });
}

bool LgLog::hasRoomInBacklog() const {
    return queued_.load(std::memory_order_relaxed) - delivered_.load(std::memory_order_acquire) <
           maxBacklog_;
}

bool LgLog::mayWaitForRoomInBacklog() {
    // Those the backlog waits for must not wait for it.
    return !loggingQueue().isCurrent() && !isOnInstalledLoggerQueue();
}

void LgLog::countQueued() {
    queued_.store(queued_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

void LgLog::waitForRoomInBacklog() {
    std::unique_lock lock(backlogMutex_);
    ++backlogWaiters_;
    backlogShrank_.wait(lock, [this] {
        return queued_.load() - delivered_.load() < maxBacklog_;
    });
    --backlogWaiters_;
}

void LgLog::recordsLeftBacklog(std::int64_t count) {
    delivered_.store(delivered_.load(std::memory_order_relaxed) + count);
    if (backlogWaiters_.load() > 0) {
        std::lock_guard lock(backlogMutex_);
        backlogShrank_.notify_all();
    }
}

void LgLog::deliver(std::span<const LgLogMessage> records) {
    requireLoggingQueue();
    // Loggers sharing a queue see every record in turn, as they would one record at a time.
    auto deliverTo = [this](const QueueGroup& group, std::span<const LgLogMessage> some) {
        const DeliveringRecords delivering;
        for (const auto& message : some) {
            for (const std::size_t index : group.nodes) {
                const auto& node = loggers_[index];
                if (node.level & message.flag()) callLogger(*node.logger, message);
            }
        }
    };
    auto admitsAny = [this](const QueueGroup& group, std::span<const LgLogMessage> some) {
        for (const std::size_t index : group.nodes) {
            for (const auto& message : some) {
                if (loggers_[index].level & message.flag()) return true;
            }
        }
        return false;
    };
    // One queue, or one processor: the calls go on this thread holding the logger's queue
    // when that is idle, which spares two thread hand-offs. Otherwise loggers work in
    // parallel, and the records reach all of them before the next are taken.
    auto deliverToEach = [&](const std::vector<const QueueGroup*>& groups,
                             std::span<const LgLogMessage> some) {
        if (processorCount_ == 1 || groups.size() == 1) {
            for (const auto* group : groups) group->queue->sync([&] { deliverTo(*group, some); });
            return;
        }
        foundation::DispatchGroup dispatch;
        for (const auto* group : groups) {
            dispatch.async(*group->queue, [&deliverTo, group, some] { deliverTo(*group, some); });
        }
        dispatch.wait();
    };

    std::vector<const QueueGroup*> picked;
    for (const auto& group : queueGroups_) {
        if (admitsAny(group, records)) picked.push_back(&group);
    }
    // The usual case, one logger for the whole run: it takes the run in one call.
    if (picked.size() <= 1) {
        if (!picked.empty()) deliverToEach(picked, records);
        return;
    }
    // Several: a record reaches every logger it is for before the next is taken, so that
    // no logger runs ahead of another.
    std::vector<const QueueGroup*> admitting;
    for (std::size_t at = 0; at < records.size(); ++at) {
        const auto one = records.subspan(at, 1);
        admitting.clear();
        for (const auto* group : picked) {
            if (admitsAny(*group, one)) admitting.push_back(group);
        }
        if (!admitting.empty()) deliverToEach(admitting, one);
    }
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
                    foundation::printToConsole("logging: logger \"{}\" failed: {}\n", logger.loggerName(),
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
    syncOnLoggingQueue([&] {
        for (const auto& node : loggers_) result.push_back(node.logger);
    });
    return result;
}

std::vector<LgLoggerInformation> LgLog::allLoggersWithLevel() {
    std::vector<LgLoggerInformation> result;
    syncOnLoggingQueue([&] {
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
    syncOnLoggingQueue([this] { flushOnQueue(false); });
}

void LgLog::flushLogToDisk() {
    if (loggingQueue().isCurrent()) {
        throw foundation::NamedException(
            kInconsistency,
            "This method shouldn't be run on the logging thread/queue that make flush fast enough");
    }
    syncOnLoggingQueue([this] { flushOnQueue(true); });
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
            foundation::printToConsole("logging: flush of \"{}\" failed: {}\n", logger.loggerName(),
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
