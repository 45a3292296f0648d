#include "logging/LgOSLogger.h"

#include <sys/uio.h>
#include <syslog.h>

#include <vector>

#include <fmt/format.h>

#include "foundation/Error.h"
#include "logging/LogLevel.h"

#ifdef ORVANDEL_HAVE_SYSTEMD
#include <systemd/sd-journal.h>
#endif

std::shared_ptr<LgOSLogger> LgOSLogger::sharedInstance() {
    // Kept for the life of the process: its queue must outlive every log call.
    static const auto* const shared =
        new std::shared_ptr<LgOSLogger>(std::make_shared<LgOSLogger>());
    return *shared;
}

LgOSLogger::LgOSLogger() : LgOSLogger(std::nullopt, std::nullopt) {}

LgOSLogger::LgOSLogger(std::optional<std::string> subsystem, std::optional<std::string> category)
    : LgAbstractLogger("orvandel.logging.osLogger"),
      subsystem_(std::move(subsystem)),
      category_(std::move(category)) {
    if (subsystem_.has_value() != category_.has_value()) {
        throw foundation::NamedException(
            "NSInternalInconsistencyException",
            "Either both subsystem and category or neither should be nil.");
    }
}

int LgOSLogger::priorityForFlag(std::uint64_t flag) {
    switch (flag) {
        case LgLogFlagError:
            return LOG_ERR;
        case LgLogFlagWarning:
        case LgLogFlagInfo:
            return LOG_INFO;
        default:
            return LOG_DEBUG;
    }
}

void LgOSLogger::logMessage(const LgLogMessage& message) {
    if (isFromLogCapture(message)) return;
    const auto formatted = formattedText(message);
    if (!formatted) return;
    const std::string& text = *formatted;
    const int priority = priorityForFlag(message.flag());
#ifdef ORVANDEL_HAVE_SYSTEMD
    // Fields are written whole (not through a format), so the text goes out as it is.
    std::vector<std::string> fields = {
        "MESSAGE=" + text,
        fmt::format("PRIORITY={}", priority),
        kSentByUsField,
        "CODE_FILE=" + std::string(message.file()),
        fmt::format("CODE_LINE={}", message.line()),
        "CODE_FUNC=" + std::string(message.function()),
    };
    if (subsystem_) {
        fields.push_back("ORVANDEL_SUBSYSTEM=" + *subsystem_);
        fields.push_back("ORVANDEL_CATEGORY=" + *category_);
    }
    std::vector<iovec> parts;
    for (auto& field : fields) parts.push_back({field.data(), field.size()});
    sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
#else
    ::syslog(LOG_USER | priority, "%s", text.c_str());
#endif
}
