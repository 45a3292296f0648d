#pragma once

#include <memory>

#include "logging/LgAbstractLogger.h"

// Sends each record to the system log through syslog(3): errors as critical, warnings as
// errors, infos as warnings, everything else as notices. Records that the system-log
// capture made from the system log are not sent back to it.
class LgASLLogger : public LgAbstractLogger {
public:
    static std::shared_ptr<LgASLLogger> sharedInstance();
    LgASLLogger();

    void logMessage(const LgLogMessage& message) override;

    // The syslog(3) priority of a record's flag.
    static int priorityForFlag(std::uint64_t flag);
};
