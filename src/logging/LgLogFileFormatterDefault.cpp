#include "logging/LgLogFileFormatterDefault.h"

LgLogFileFormatterDefault::LgLogFileFormatterDefault() : LgLogFileFormatterDefault(nullptr) {}

LgLogFileFormatterDefault::LgLogFileFormatterDefault(
    std::shared_ptr<const LgDateFormatter> dateFormatter)
    : dateFormatter_(dateFormatter ? std::move(dateFormatter)
                                   : std::make_shared<LgDateFormatter>("yyyy/MM/dd HH:mm:ss:SSS")) {
}

std::optional<std::string> LgLogFileFormatterDefault::formatLogMessage(
    const LgLogMessage& message) {
    std::string line;
    if (!appendLine(message, line)) return std::nullopt;
    return line;
}

bool LgLogFileFormatterDefault::appendLine(const LgLogMessage& message, std::string& out) const {
    if (message.message().empty()) return false;  // nothing to say: no line at all
    dateFormatter_->appendTo(out, message.timestamp());
    out += "  ";
    out += message.message();
    return true;
}
