#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "logging/CapturingLogger.h"
#include "logging/LogLevel.h"

namespace apptest {

// Every log line, whatever the program-wide level, while it lives; the level and the hub's
// loggers are put back afterwards.
class LogCapture {
public:
    LogCapture() : savedLevel_(lgLogLevel.load()) {
        lgLogLevel.store(~std::uint64_t(0));
        LgLog::sharedInstance().addLogger(logger_);
    }
    ~LogCapture() {
        LgLog::sharedInstance().removeAllLoggers();
        LgLog::sharedInstance().flushLog();
        lgLogLevel.store(savedLevel_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Whether a line written so far begins with the text.
    bool has(const std::string& start) const {
        LgLog::sharedInstance().flushLog();
        const auto texts = logger_->texts();
        return std::any_of(texts.begin(), texts.end(),
                           [&](const std::string& text) { return text.rfind(start, 0) == 0; });
    }

    // Whether a line written so far is exactly the text.
    bool hasLine(const std::string& line) const {
        LgLog::sharedInstance().flushLog();
        const auto texts = logger_->texts();
        return std::find(texts.begin(), texts.end(), line) != texts.end();
    }

private:
    std::shared_ptr<CapturingLogger> logger_ = std::make_shared<CapturingLogger>();
    std::uint64_t savedLevel_;
};

}  // namespace apptest
