#include "data/db/SqlDateFormatter.h"

#include <unicode/udat.h>
#include <unicode/ustring.h>

#include <vector>

namespace {

std::u16string toUtf16(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return {};
    std::u16string out(static_cast<std::size_t>(length), u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8(out.data(), length, nullptr, text.data(), static_cast<int32_t>(text.size()),
                  &status);
    if (U_FAILURE(status)) return {};
    return out;
}

std::string toUtf8(std::u16string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return {};
    std::string out(static_cast<std::size_t>(length), '\0');
    status = U_ZERO_ERROR;
    u_strToUTF8(out.data(), length, nullptr, text.data(), static_cast<int32_t>(text.size()),
                &status);
    if (U_FAILURE(status)) return {};
    return out;
}

}  // namespace

std::shared_ptr<SqlDateFormatter> SqlDateFormatter::create(const std::string& pattern) {
    const std::u16string pattern16 = toUtf16(pattern);
    const std::u16string zone = u"GMT";
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format = udat_open(UDAT_PATTERN, UDAT_PATTERN, "en_US", zone.data(),
                                    static_cast<int32_t>(zone.size()), pattern16.data(),
                                    static_cast<int32_t>(pattern16.size()), &status);
    if (U_FAILURE(status) || format == nullptr) return nullptr;
    udat_setLenient(format, false);
    return std::shared_ptr<SqlDateFormatter>(new SqlDateFormatter(format, pattern));
}

SqlDateFormatter::SqlDateFormatter(void* format, std::string pattern)
    : format_(format), pattern_(std::move(pattern)) {}

SqlDateFormatter::~SqlDateFormatter() {
    udat_close(static_cast<UDateFormat*>(format_));
}

std::optional<std::string> SqlDateFormatter::stringFromDate(foundation::Date date) const {
    std::lock_guard lock(mutex_);
    auto* format = static_cast<UDateFormat*>(format_);
    const UDate millis = date.secondsSince1970 * 1000.0;
    UErrorCode status = U_ZERO_ERROR;
    std::vector<UChar> buffer(64);
    int32_t length = udat_format(format, millis, buffer.data(), static_cast<int32_t>(buffer.size()),
                                 nullptr, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        buffer.resize(static_cast<std::size_t>(length) + 1);
        length = udat_format(format, millis, buffer.data(), static_cast<int32_t>(buffer.size()),
                             nullptr, &status);
    }
    if (U_FAILURE(status)) return std::nullopt;
    return toUtf8(std::u16string_view(buffer.data(), static_cast<std::size_t>(length)));
}

std::optional<foundation::Date> SqlDateFormatter::dateFromString(std::string_view text) const {
    std::lock_guard lock(mutex_);
    const std::u16string text16 = toUtf16(text);
    UErrorCode status = U_ZERO_ERROR;
    int32_t position = 0;
    const UDate millis = udat_parse(static_cast<UDateFormat*>(format_), text16.data(),
                                    static_cast<int32_t>(text16.size()), &position, &status);
    if (U_FAILURE(status) || position != static_cast<int32_t>(text16.size())) return std::nullopt;
    return foundation::Date{millis / 1000.0};
}
