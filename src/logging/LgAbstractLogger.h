#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "foundation/SerialQueue.h"
#include "logging/LgLogger.h"

// The base of every logger: a serial queue of its own (labelled with the logger's name)
// and a formatter that is only touched on that queue.
class LgAbstractLogger : public LgLogger, public std::enable_shared_from_this<LgAbstractLogger> {
public:
    explicit LgAbstractLogger(std::string loggerName);

    void logMessage(const LgLogMessage& message) override;

    // Reading and setting go through the logging queue, then this logger's queue, so a
    // change takes effect after every record queued before it. Neither may be called from
    // those two queues (subclasses read `logFormatter_` directly there); reading is also
    // refused from the queue of any installed logger.
    std::shared_ptr<LgLogFormatter> logFormatter() override;
    void setLogFormatter(std::shared_ptr<LgLogFormatter> formatter) override;

    std::shared_ptr<foundation::SerialQueue> loggerQueue() override { return loggerQueue_; }
    std::string loggerName() const override { return loggerName_; }

    bool isOnGlobalLoggingQueue() const;
    bool isOnInternalLoggerQueue() const;

protected:
    // Runs a configuration job through the logging queue and then this logger's queue
    // (inline when already on the logger's queue): waiting for it, or returning at once.
    void runOnLoggerQueue(const std::function<void()>& job);
    void runOnLoggerQueueLater(std::function<void()> job);

    // On the logger's queue: the record's line through the formatter, or its plain text
    // without one; nullopt when the formatter drops the record.
    std::optional<std::string> formattedText(const LgLogMessage& message) const;
    // Records the system-log capture brought back in; the system loggers skip them so that
    // nothing goes round in a loop.
    static bool isFromLogCapture(const LgLogMessage& message);

    // Only on the logger's queue.
    std::shared_ptr<LgLogFormatter> logFormatter_;

private:
    void checkConfigurationAccess() const;

    const std::string loggerName_;
    const std::shared_ptr<foundation::SerialQueue> loggerQueue_;
};
