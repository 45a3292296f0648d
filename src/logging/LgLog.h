#pragma once

#include <any>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <typeindex>
#include <vector>

#include <fmt/format.h>

#include "logging/LgCacheLine.h"
#include "logging/LgLogMessage.h"
#include "logging/LgLogger.h"

namespace foundation {
class SerialQueue;
}

// A logger as the hub installed it: its queue and the level it admits.
struct LgLoggerNode {
    std::shared_ptr<LgLogger> logger;
    std::shared_ptr<foundation::SerialQueue> loggerQueue;
    std::uint64_t level;
};

struct LgLoggerInformation {
    std::shared_ptr<LgLogger> logger;
    std::uint64_t level;
};

// The logging hub: every record goes through one serial logging queue and is handed to
// each installed logger whose level admits its flag, on that logger's own queue. Records
// queued back to back wait together for one delivery job. A run that only one logger queue
// takes goes to it in one call; where several take it, a record has reached all of them
// before the next is handed out.
class LgLog {
public:
    // Asynchronous records waiting for delivery beyond which a caller waits for room (never
    // a caller on the logging queue or a logger's queue, which the backlog waits for).
    static constexpr std::int64_t kMaxBacklog = 10000;

    // A hub with no loggers. The process uses sharedInstance(); tests may make their own.
    explicit LgLog(unsigned processorCount = defaultProcessorCount(),
                   std::int64_t maxBacklog = kMaxBacklog);
    ~LgLog();
    LgLog(const LgLog&) = delete;
    LgLog& operator=(const LgLog&) = delete;

    static LgLog& sharedInstance();
    // Serial, labelled "orvandel.logging"; the only place the logger lists are touched.
    static foundation::SerialQueue& loggingQueue();
    static unsigned defaultProcessorCount();
    // Whether the caller runs on the queue of a logger installed in any hub: there, waiting
    // for the logging queue can deadlock, since a delivery may be waiting for this queue.
    static bool isOnInstalledLoggerQueue();
    // Queues work on the logging queue that records logged after this call must follow
    // (installing loggers, changing their settings): later records start a new delivery job.
    static void asyncOnLoggingQueue(std::function<void()> job);
    // Runs work on the logging queue and waits for it (inline when already there), behind
    // the records queued before.
    static void syncOnLoggingQueue(const std::function<void()>& job);
    // Whether the caller is a logger taking records the hub hands over; the hub calls its
    // didCatchUp() once none are left waiting.
    static bool isDeliveringRecords();

    // Classes with a log level of their own. C++ keeps no list of a program's classes, so a
    // class registers itself, once, with one line, and the registry keeps its level:
    //   LgLog::registerClass<AppFetchHandler>("AppFetchHandler", 3);
    // A second registration of a class changes nothing. Levels of classes not registered
    // read as -1, and setting them does nothing.
    template <typename T>
    static void registerClass(std::string name, std::int32_t level) {
        registerClass(std::type_index(typeid(T)), std::move(name), level);
    }
    static void registerClass(std::type_index type, std::string name, std::int32_t level);
    static bool isRegisteredClass(std::type_index type);
    static std::vector<std::type_index> registeredClasses();  // in registration order
    static std::vector<std::string> registeredClassNames();
    static std::int32_t levelForClass(std::type_index type);
    static std::int32_t levelForClassWithName(std::string_view name);
    static void setLevelForClass(std::int32_t level, std::type_index type);
    static void setLevelForClassWithName(std::int32_t level, std::string_view name);

    // Formats and queues a record on the shared hub. Synchronous queueing (errors)
    // returns once every admitting logger has taken the record.
    template <typename... Args>
    static void log(bool asynchronous, std::uint64_t level, std::uint64_t flag,
                    std::int64_t context, const char* file, const char* function,
                    std::uint64_t line, std::any tag, fmt::format_string<Args...> format,
                    Args&&... args) {
        fmt::basic_memory_buffer<char, 256> text;
        fmt::format_to(fmt::appender(text), format, std::forward<Args>(args)...);
        sharedInstance().logMessage(asynchronous, std::string_view(text.data(), text.size()),
                                    level, flag, context, file, function, line, std::move(tag));
    }
    // `file` and `function` are literals, kept without a copy (see LgLogMessage::SourceLiterals).
    void logMessage(bool asynchronous, std::string_view message, std::uint64_t level, std::uint64_t flag,
                    std::int64_t context, const char* file, const char* function,
                    std::uint64_t line, std::any tag);
    void log(bool asynchronous, const LgLogMessage& message);
    void queueLogMessage(const LgLogMessage& message, bool asynchronous);

    void addLogger(std::shared_ptr<LgLogger> logger);
    void addLogger(std::shared_ptr<LgLogger> logger, std::uint64_t level);
    void removeLogger(const std::shared_ptr<LgLogger>& logger);
    void removeAllLoggers();
    std::vector<std::shared_ptr<LgLogger>> allLoggers();
    std::vector<LgLoggerInformation> allLoggersWithLevel();
    // Returns when every logger has flushed; records queued before are delivered first.
    // Loggers write out what they buffer; the file logger leaves the disk to the kernel.
    void flushLog();
    // The same, and every logger's flush waits for the disk: for the end of the process.
    void flushLogToDisk();

private:
    friend class LgPendingRecords;
    struct QueueGroup {
        foundation::SerialQueue* queue;
        std::vector<std::size_t> nodes;  // indexes into loggers_, in installation order
    };

    void queueSynchronously(const LgLogMessage& message);
    void deliver(std::span<const LgLogMessage> records);
    void catchUp();
    void addLoggerOnQueue(std::shared_ptr<LgLogger> logger, std::uint64_t level);
    void removeLoggerOnQueue(const std::shared_ptr<LgLogger>& logger);
    void removeAllLoggersOnQueue();
    void flushOnQueue(bool toDisk);
    void rememberLoggerQueues();
    static void requireLoggingQueue();
    // The backlog, for LgPendingRecords: checked and counted under its lock.
    bool hasRoomInBacklog() const;
    static bool mayWaitForRoomInBacklog();
    void countQueued();
    void waitForRoomInBacklog();
    // On the logging queue.
    void recordsLeftBacklog(std::int64_t count);

    const unsigned processorCount_;
    const std::int64_t maxBacklog_;
    std::vector<LgLoggerNode> loggers_;    // only on the logging queue
    std::vector<QueueGroup> queueGroups_;  // loggers_ by queue, only on the logging queue

    // Asynchronous records not yet delivered: queued_ - delivered_. Callers count theirs under
    // the pending records' lock, which spares a locked add for every record; delivery counts
    // what it has handed over. Each on a line of its own, apart from what delivery reads for
    // every record (loggers_).
    alignas(kLgCacheLine) std::atomic<std::int64_t> queued_{0};
    alignas(kLgCacheLine) std::atomic<std::int64_t> delivered_{0};
    alignas(kLgCacheLine) std::atomic<int> backlogWaiters_{0};
    std::mutex backlogMutex_;
    std::condition_variable backlogShrank_;

    // This hub's entries in the process-wide list of installed logger queues.
    std::vector<const foundation::SerialQueue*> loggerQueues_;
};
