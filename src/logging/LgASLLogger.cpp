#include "logging/LgASLLogger.h"

#include <syslog.h>

#include "logging/LogLevel.h"

std::shared_ptr<LgASLLogger> LgASLLogger::sharedInstance() {
    // Kept for the life of the process: its queue must outlive every log call.
    static const auto* const shared =
        new std::shared_ptr<LgASLLogger>(std::make_shared<LgASLLogger>());
    return *shared;
}

LgASLLogger::LgASLLogger() : LgAbstractLogger("orvandel.logging.aslLogger") {}

int LgASLLogger::priorityForFlag(std::uint64_t flag) {
    switch (flag) {
        case LgLogFlagError:
            return LOG_CRIT;
        case LgLogFlagWarning:
            return LOG_ERR;
        case LgLogFlagInfo:
            return LOG_WARNING;
        default:
            return LOG_NOTICE;
    }
}

void LgASLLogger::logMessage(const LgLogMessage& message) {
    if (isFromLogCapture(message)) return;
    const auto formatted = formattedText(message);
    if (!formatted) return;
    const std::string& text = *formatted;
    // No openlog(): the identifier and options of the process are not ours to change.
    ::syslog(LOG_USER | priorityForFlag(message.flag()), "%s", text.c_str());
}
