#include "logging/LgLog.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include "foundation/DispatchGroup.h"
#include "foundation/Error.h"
#include "foundation/SerialQueue.h"

namespace {

constexpr const char* kInconsistency = "NSInternalInconsistencyException";

void flushSharedHubAtExit() {
    LgLog::sharedInstance().flushLog();
}

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

}  // namespace

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
    queueLogMessage(LgLogMessage(std::move(message), level, flag, context, file ? file : "",
                                 function ? function : "", line, std::move(tag), 0, std::nullopt),
                    asynchronous);
}

void LgLog::log(bool asynchronous, LgLogMessage message) {
    queueLogMessage(std::move(message), asynchronous);
}

void LgLog::queueLogMessage(LgLogMessage message, bool asynchronous) {
    auto shared = std::make_shared<const LgLogMessage>(std::move(message));
    auto& queue = loggingQueue();
    if (asynchronous || isOnInstalledLoggerQueue()) {
        waitForRoomInBacklog();
        queue.async([this, shared] {
            deliver(shared);
            recordLeftBacklog();
        });
    } else {
        // Inline when already on the logging queue; run by this thread when it is idle.
        queue.sync([this, shared] { deliver(shared); });
    }
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

void LgLog::recordLeftBacklog() {
    backlog_.fetch_sub(1);
    if (backlogWaiters_.load() > 0) {
        std::lock_guard lock(backlogMutex_);
        backlogShrank_.notify_all();
    }
}

void LgLog::deliver(const std::shared_ptr<const LgLogMessage>& message) {
    requireLoggingQueue();
    std::vector<const LgLoggerNode*> picked;
    for (const auto& node : loggers_) {
        if (node.level & message->flag()) picked.push_back(&node);
    }
    if (picked.empty()) return;
    // One logger, or one processor: each call runs on this thread holding the logger's
    // queue when that is idle, which spares two thread hand-offs per record.
    if (processorCount_ == 1 || picked.size() == 1) {
        for (const auto* node : picked) {
            node->loggerQueue->sync([&] { callLogger(*node->logger, *message); });
        }
        return;
    }
    // Loggers work in parallel, but a record reaches all of them before the next is taken.
    foundation::DispatchGroup group;
    for (const auto* node : picked) {
        group.async(*node->loggerQueue,
                    [logger = node->logger, message] { callLogger(*logger, *message); });
    }
    group.wait();
}

void LgLog::addLogger(std::shared_ptr<LgLogger> logger) {
    addLogger(std::move(logger), ~std::uint64_t{0});
}

void LgLog::addLogger(std::shared_ptr<LgLogger> logger, std::uint64_t level) {
    if (!logger) return;
    loggingQueue().async([this, logger = std::move(logger), level]() mutable {
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
    loggingQueue().async([this, logger] { removeLoggerOnQueue(logger); });
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
    loggingQueue().async([this] { removeAllLoggersOnQueue(); });
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
    loggingQueue().sync([this] { flushOnQueue(); });
}

void LgLog::flushOnQueue() {
    requireLoggingQueue();
    foundation::DispatchGroup group;
    for (const auto& node : loggers_) {
        group.async(*node.loggerQueue, [logger = node.logger] {
            try {
                logger->flush();
            } catch (const std::exception& e) {
                fmt::print(stderr, "logging: flush of \"{}\" failed: {}\n", logger->loggerName(),
                           e.what());
            }
        });
    }
    group.wait();
}

void LgLog::rememberLoggerQueues() {
    std::vector<const foundation::SerialQueue*> now;
    for (const auto& node : loggers_) now.push_back(node.loggerQueue.get());
    InstalledLoggerQueues::shared().replace(loggerQueues_, now);
    loggerQueues_ = std::move(now);
}
