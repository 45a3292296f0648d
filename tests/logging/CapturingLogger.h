#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "logging/LgAbstractLogger.h"
#include "logging/LgLog.h"
#include "logging/LogLevel.h"

// Keeps what it is given, in order, with "flush" entries where flushes happened.
class CapturingLogger : public LgAbstractLogger {
public:
    explicit CapturingLogger(std::string name = "capture") : LgAbstractLogger(std::move(name)) {}

    void logMessage(const LgLogMessage& message) override {
        if (onMessage) onMessage(message);
        std::lock_guard lock(mutex_);
        records_.push_back(message);
        events_.push_back(message.message());
    }
    void flush() override {
        std::lock_guard lock(mutex_);
        events_.push_back("flush");
    }

    std::vector<LgLogMessage> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const auto& record : records()) result.push_back(record.message());
        return result;
    }

    // Called on the logger's queue before the record is kept.
    std::function<void(const LgLogMessage&)> onMessage;

private:
    mutable std::mutex mutex_;
    std::vector<LgLogMessage> records_;
    std::vector<std::string> events_;
};

// A fixture for tests that log through the shared hub, as the call sites do: a capturing
// logger installed for the test, the program-wide level restored afterwards.
class SharedHubTest : public testing::Test {
protected:
    void SetUp() override {
        savedLevel_ = lgLogLevel.load();
        LgLog::sharedInstance().addLogger(logger);
    }
    void TearDown() override {
        LgLog::sharedInstance().removeAllLoggers();
        LgLog::sharedInstance().flushLog();
        lgLogLevel.store(savedLevel_);
    }

    std::shared_ptr<CapturingLogger> logger = std::make_shared<CapturingLogger>();

private:
    std::uint64_t savedLevel_ = 3;
};
