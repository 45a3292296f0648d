#pragma once

#include <memory>
#include <string>
#include <vector>

#include "logging/LgAbstractLogger.h"

// Sends each record to the system log: errors as critical, warnings as errors, infos as
// warnings, everything else as notices. Each message carries the mark kSentByUsField and
// the reading user id, so that the system-log capture leaves it out; records that the
// capture made are not sent back. Without the journal the records go through syslog(3).
class LgASLLogger : public LgAbstractLogger {
public:
    static constexpr const char* kSentByUsField = "LGLOG=1";

    static std::shared_ptr<LgASLLogger> sharedInstance();
    LgASLLogger();

    void logMessage(const LgLogMessage& message) override;

    // The syslog(3) priority of a record's flag.
    static int priorityForFlag(std::uint64_t flag);
    // The journal fields of one message ("NAME=value").
    static std::vector<std::string> journalFields(const std::string& text, std::uint64_t flag);
};
