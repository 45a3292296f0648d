#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/Value.h"

// Turns dates into text and back with a date pattern ("yyyy-MM-dd HH:mm:ss"), in GMT and
// the "en_US" locale, so that stored dates do not depend on where the program runs.
class SqlDateFormatter {
public:
    // nullptr when the pattern is not usable.
    static std::shared_ptr<SqlDateFormatter> create(const std::string& pattern);
    ~SqlDateFormatter();
    SqlDateFormatter(const SqlDateFormatter&) = delete;
    SqlDateFormatter& operator=(const SqlDateFormatter&) = delete;

    std::optional<std::string> stringFromDate(foundation::Date date) const;
    // nullopt when the text does not match the pattern.
    std::optional<foundation::Date> dateFromString(std::string_view text) const;
    const std::string& pattern() const { return pattern_; }

private:
    SqlDateFormatter(void* format, std::string pattern);

    // The ICU formatter; ICU formatters are not safe to share between threads unguarded.
    void* format_;
    mutable std::mutex mutex_;
    std::string pattern_;
};
