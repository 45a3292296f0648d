#include "logging/LgAbstractLogger.h"

#include "foundation/Error.h"
#include "logging/LgLog.h"

namespace {
constexpr const char* kInconsistency = "NSInternalInconsistencyException";
}

LgAbstractLogger::LgAbstractLogger(std::string loggerName)
    : loggerName_(std::move(loggerName)),
      loggerQueue_(std::make_shared<foundation::SerialQueue>(loggerName_)) {}

void LgAbstractLogger::logMessage(const LgLogMessage&) {}

std::optional<std::string> LgAbstractLogger::formattedText(const LgLogMessage& message) const {
    if (logFormatter_) return logFormatter_->formatLogMessage(message);
    return message.message();
}

bool LgAbstractLogger::isFromLogCapture(const LgLogMessage& message) {
    return message.fileName() == "LgASLLogCapture";
}

bool LgAbstractLogger::isOnGlobalLoggingQueue() const {
    return LgLog::loggingQueue().isCurrent();
}

bool LgAbstractLogger::isOnInternalLoggerQueue() const {
    return loggerQueue_->isCurrent();
}

// Both queues wait on each other in the calls below: from either one they would deadlock.
void LgAbstractLogger::checkConfigurationAccess() const {
    if (isOnGlobalLoggingQueue()) {
        throw foundation::NamedException(kInconsistency, "Core architecture requirement failure");
    }
    if (isOnInternalLoggerQueue()) {
        throw foundation::NamedException(kInconsistency,
                                         "MUST access ivar directly, NOT via self.* syntax.");
    }
}

std::shared_ptr<LgLogFormatter> LgAbstractLogger::logFormatter() {
    checkConfigurationAccess();
    // Reading waits for the logging queue, which may itself be waiting for the logger
    // queue the caller runs on.
    if (LgLog::isOnInstalledLoggerQueue()) {
        throw foundation::NamedException(kInconsistency, "Core architecture requirement failure");
    }
    std::shared_ptr<LgLogFormatter> result;
    LgLog::syncOnLoggingQueue([&] { loggerQueue_->sync([&] { result = logFormatter_; }); });
    return result;
}

void LgAbstractLogger::setLogFormatter(std::shared_ptr<LgLogFormatter> formatter) {
    checkConfigurationAccess();
    auto self = shared_from_this();
    LgLog::asyncOnLoggingQueue([self, formatter = std::move(formatter)]() mutable {
        self->loggerQueue_->async([self, formatter = std::move(formatter)]() mutable {
            if (formatter == self->logFormatter_) return;
            if (self->logFormatter_) self->logFormatter_->willRemoveFromLogger(*self);
            self->logFormatter_ = std::move(formatter);
            if (self->logFormatter_) {
                self->logFormatter_->didAddToLoggerInQueue(*self, *self->loggerQueue_);
            }
        });
    });
}

void LgAbstractLogger::runOnLoggerQueue(const std::function<void()>& job) {
    if (isOnInternalLoggerQueue()) {
        job();
        return;
    }
    LgLog::syncOnLoggingQueue([&] { loggerQueue_->sync(job); });
}

void LgAbstractLogger::runOnLoggerQueueLater(std::function<void()> job) {
    if (isOnInternalLoggerQueue()) {
        job();
        return;
    }
    LgLog::asyncOnLoggingQueue(
        [queue = loggerQueue_, job = std::move(job)]() mutable { queue->async(std::move(job)); });
}
