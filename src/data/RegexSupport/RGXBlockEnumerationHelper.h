#pragma once

#include <unicode/uregex.h>
#include <unicode/utext.h>

#include <chrono>
#include <string>
#include <string_view>

#include "data/RegexSupport/RegexSupport.h"

// One walk over the matches of an expression in a text: its own clone of the compiled
// expression and its own copy of the text, so that nothing shared is touched while it runs
// and the caller's blocks run without any lock.
class RGXBlockEnumerationHelper {
public:
    // Takes ownership of the clone. The pattern is only named in the log.
    RGXBlockEnumerationHelper(URegularExpression* clone, int captureCount, std::string_view text,
                              RGXRange range, std::string_view pattern = {});
    ~RGXBlockEnumerationHelper();
    RGXBlockEnumerationHelper(const RGXBlockEnumerationHelper&) = delete;
    RGXBlockEnumerationHelper& operator=(const RGXBlockEnumerationHelper&) = delete;

    // The next match inside the range; false when there is none, and also (logged) when the
    // walk runs past its time limits or ICU's backtracking stack; once it has given up,
    // every later call answers false too. Throws on other ICU failures.
    bool findNext();

    // In ICU's match-engine ticks (a fixed count of match steps): patterns such as "(a+)+b"
    // backtrack for minutes, and some never end, without it.
    static constexpr int32_t kTimeLimit = 10000;
    // Wall time for the whole walk, every find together: some steps (a back-reference
    // compared against a long capture) take far longer than others, so that a walk within
    // kTimeLimit could still run for minutes.
    static constexpr std::chrono::milliseconds kWallTimeLimit{1000};

    std::size_t captureCount() const { return static_cast<std::size_t>(captureCount_); }
    // Whether a search ran past its limits (its "no match" is then no answer).
    bool gaveUp() const { return gaveUp_; }
    // (RGXNotFound, 0) for a capture that took no part in the match.
    RGXRange rangeOf(std::size_t capture) const;
    std::string stringOf(std::size_t capture) const;
    const std::string& text() const { return text_; }
    RGXRange searchRange() const { return range_; }
    URegularExpression* regex() const { return regex_; }

private:
    URegularExpression* regex_;
    int captureCount_;
    std::string text_;
    RGXRange range_;
    std::string pattern_;
    UText* utext_ = nullptr;
    std::chrono::steady_clock::time_point deadline_;
    bool gaveUp_ = false;

    // Called by ICU once per tick of a find; false stops the find.

    static UBool onTick(const void* context, int32_t steps);
};
