#pragma once

#include <memory>
#include <optional>
#include <string>

#include "logging/LgDateFormatter.h"
#include "logging/LgLogger.h"

// The line of a log file: the record's time in UTC as "yyyy/MM/dd HH:mm:ss:SSS", two
// spaces, then its text. Level, source and thread are not written; the level word, when a
// call has one, is already part of the text.
class LgLogFileFormatterDefault : public LgLogFormatter {
public:
    LgLogFileFormatterDefault();
    explicit LgLogFileFormatterDefault(std::shared_ptr<const LgDateFormatter> dateFormatter);

    // Without the line feed; nothing for a record without text.
    std::optional<std::string> formatLogMessage(const LgLogMessage& message) override;
    // The same line added to `out`, which saves a copy per line; false for no line.
    bool appendLine(const LgLogMessage& message, std::string& out) const;

private:
    std::shared_ptr<const LgDateFormatter> dateFormatter_;
};
