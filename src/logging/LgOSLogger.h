#pragma once

#include <memory>
#include <optional>
#include <string>

#include "logging/LgAbstractLogger.h"

// Sends each record to the systemd journal, tagged with its subsystem and category; where
// the program is built without libsystemd, to syslog(3). Errors go out as errors, warnings
// and infos as infos, the rest as debug messages. Records that the system-log capture made
// are not sent back.
class LgOSLogger : public LgAbstractLogger {
public:
    static std::shared_ptr<LgOSLogger> sharedInstance();
    LgOSLogger();
    // Both or neither: one alone throws foundation::NamedException.
    LgOSLogger(std::optional<std::string> subsystem, std::optional<std::string> category);

    void logMessage(const LgLogMessage& message) override;

    // The syslog(3) priority of a record's flag.
    static int priorityForFlag(std::uint64_t flag);
    // Set on every entry this logger sends, so that the capture can leave them out.
    static constexpr const char* kSentByUsField = "ORVANDEL_LGLOG=1";

private:
    const std::optional<std::string> subsystem_;
    const std::optional<std::string> category_;
};
