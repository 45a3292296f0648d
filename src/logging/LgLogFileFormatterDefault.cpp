#include "logging/LgLogFileFormatterDefault.h"

LgLogFileFormatterDefault::LgLogFileFormatterDefault() : LgLogFileFormatterDefault(nullptr) {}

LgLogFileFormatterDefault::LgLogFileFormatterDefault(
    std::shared_ptr<const LgDateFormatter> dateFormatter)
    : dateFormatter_(dateFormatter ? std::move(dateFormatter)
                                   : std::make_shared<LgDateFormatter>("yyyy/MM/dd HH:mm:ss:SSS")) {
}

std::optional<std::string> LgLogFileFormatterDefault::formatLogMessage(
    const LgLogMessage& message) {
    if (message.message().empty()) return std::nullopt;  // nothing to say: no line at all
    std::string line = dateFormatter_->format(message.timestamp());
    line.reserve(line.size() + 2 + message.message().size() + 1);
    line += "  ";
    line += message.message();
    return line;
}
