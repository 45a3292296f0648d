#include "logging/LgASLLogger.h"

#include <sys/uio.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>

#include <fmt/format.h>

#include "foundation/Error.h"
#include "logging/LogLevel.h"

#ifdef ORVANDEL_HAVE_SYSTEMD
#include <systemd/sd-journal.h>
#endif

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

std::vector<std::string> LgASLLogger::journalFields(const std::string& text, std::uint64_t flag) {
    const std::string readUid = fmt::format("{}", ::geteuid());
    if (readUid.size() >= 16) {
        throw foundation::NamedException("NSInternalInconsistencyException",
                                         "Formatted euid is too long.");
    }
    return {"MESSAGE=" + text, fmt::format("PRIORITY={}", priorityForFlag(flag)),
            "READUID=" + readUid, kSentByUsField,
            std::string("SYSLOG_IDENTIFIER=") + program_invocation_short_name};
}

void LgASLLogger::logMessage(const LgLogMessage& message) {
    if (isFromLogCapture(message)) return;
    const auto formatted = formattedText(message);
    if (!formatted) return;
    const std::string& text = *formatted;
#ifdef ORVANDEL_HAVE_SYSTEMD
    auto fields = journalFields(text, message.flag());
    std::vector<iovec> parts;
    for (auto& field : fields) parts.push_back({field.data(), field.size()});
    sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
#else
    // No openlog(): the identifier and options of the process are not ours to change.
    ::syslog(LOG_USER | priorityForFlag(message.flag()), "%s", text.c_str());
#endif
}
