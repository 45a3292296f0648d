#include "data/RegexSupport/RGXBlockEnumerationHelper.h"

#include <fmt/format.h>
#include <unicode/utypes.h>

#include "foundation/Error.h"
#include "logging/LogCall.h"

namespace {

void check(UErrorCode status) {
    if (U_FAILURE(status)) {
        throw foundation::NamedException(
            RGXICURegexException, fmt::format("ICU regular expression error #{}, {}.",
                                              static_cast<int>(status), u_errorName(status)));
    }
}

}  // namespace

RGXBlockEnumerationHelper::RGXBlockEnumerationHelper(URegularExpression* clone, int captureCount,
                                                     std::string_view text, RGXRange range,
                                                     std::string_view pattern)
    : regex_(clone),
      captureCount_(captureCount),
      text_(text),
      range_(range),
      pattern_(pattern),
      deadline_(std::chrono::steady_clock::now() + kWallTimeLimit) {
    UErrorCode status = U_ZERO_ERROR;
    // A clone starts without the limits of the expression it was cloned from.
    uregex_setTimeLimit(regex_, kTimeLimit, &status);
    uregex_setMatchCallback(regex_, &RGXBlockEnumerationHelper::onTick, this, &status);
    utext_ = utext_openUTF8(nullptr, text_.data(), static_cast<int64_t>(text_.size()), &status);
    uregex_setUText(regex_, utext_, &status);
    uregex_setRegion64(regex_, static_cast<int64_t>(range.location),
                       static_cast<int64_t>(range.location + range.length), &status);
    if (U_FAILURE(status)) {
        uregex_close(regex_);
        if (utext_) utext_close(utext_);
        check(status);
    }
}

RGXBlockEnumerationHelper::~RGXBlockEnumerationHelper() {
    uregex_close(regex_);
    utext_close(utext_);
}

UBool RGXBlockEnumerationHelper::onTick(const void* context, int32_t) {
    // ICU hands back the pointer it was given, which is the walk itself.
    auto* self = const_cast<RGXBlockEnumerationHelper*>(
        static_cast<const RGXBlockEnumerationHelper*>(context));
    return std::chrono::steady_clock::now() < self->deadline_;
}

bool RGXBlockEnumerationHelper::findNext() {
    if (gaveUp_) return false;
    UErrorCode status = U_ZERO_ERROR;
    // Many quick finds count against the walk's time as one slow find does.
    const bool found = std::chrono::steady_clock::now() < deadline_
                           ? uregex_findNext(regex_, &status)
                           : (status = U_REGEX_STOPPED_BY_CALLER, false);
    if (status == U_REGEX_TIME_OUT || status == U_REGEX_STOPPED_BY_CALLER ||
        status == U_REGEX_STACK_OVERFLOW) {
        gaveUp_ = true;
        LogWarn("Regular expression \"{}\" gave up ({}); answered as no match", pattern_,
                status == U_REGEX_STOPPED_BY_CALLER ? "U_REGEX_TIME_OUT" : u_errorName(status));
        return false;
    }
    check(status);
    return found;
}

RGXRange RGXBlockEnumerationHelper::rangeOf(std::size_t capture) const {
    UErrorCode status = U_ZERO_ERROR;
    const auto group = static_cast<int32_t>(capture);
    const int64_t start = uregex_start64(regex_, group, &status);
    const int64_t end = uregex_end64(regex_, group, &status);
    check(status);
    if (start < 0) return {RGXNotFound, 0};
    return {static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)};
}

std::string RGXBlockEnumerationHelper::stringOf(std::size_t capture) const {
    const RGXRange range = rangeOf(capture);
    if (range.location == RGXNotFound) return {};
    return text_.substr(range.location, range.length);
}
