#pragma once

#include <memory>
#include <optional>
#include <string>

#include "logging/LgLogMessage.h"

namespace foundation {
class SerialQueue;
}

class LgLogger;

// Turns a record into the text a logger writes; nullopt drops the record.
class LgLogFormatter {
public:
    virtual ~LgLogFormatter() = default;
    virtual std::optional<std::string> formatLogMessage(const LgLogMessage& message) = 0;
    virtual void didAddToLogger(LgLogger& /*logger*/) {}
    // Formatters that care about the logger's queue override this one instead.
    virtual void didAddToLoggerInQueue(LgLogger& logger, foundation::SerialQueue& /*queue*/) {
        didAddToLogger(logger);
    }
    virtual void willRemoveFromLogger(LgLogger& /*logger*/) {}
};

// A destination of log records. Every call below runs on the logger's own serial queue.
class LgLogger {
public:
    virtual ~LgLogger() = default;

    virtual void logMessage(const LgLogMessage& message) = 0;
    virtual std::shared_ptr<LgLogFormatter> logFormatter() = 0;
    virtual void setLogFormatter(std::shared_ptr<LgLogFormatter> formatter) = 0;

    virtual void didAddLogger() {}
    // Loggers that care about their queue override this one instead.
    virtual void didAddLoggerInQueue(foundation::SerialQueue& /*queue*/) { didAddLogger(); }
    virtual void willRemoveLogger() {}
    virtual void flush() {}
    // What the hub's everyday flush calls: write out what is buffered. A logger whose
    // flush also waits for the disk leaves that wait out here.
    virtual void flushBuffered() { flush(); }
    // The hub has handed over every record that was waiting for this logger: a logger that
    // gathers lines while records keep coming writes them now.
    virtual void didCatchUp() {}
    // The queue the hub runs this logger's calls on; nullptr lets the hub make one.
    virtual std::shared_ptr<foundation::SerialQueue> loggerQueue() { return nullptr; }
    // Empty when the logger has no name.
    virtual std::string loggerName() const { return {}; }
};
