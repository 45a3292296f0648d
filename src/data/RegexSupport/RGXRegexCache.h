#pragma once

#include <unicode/uregex.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/RegexSupport/RegexSupport.h"

// The process-wide cache of compiled expressions: 13 sets of 4, the set chosen by the
// pattern's hash and the options, the least recently used entry of a set replaced. Callers
// get their own clone, which shares the compiled pattern and runs without the lock.
class RGXRegexCache {
public:
    static RGXRegexCache& shared();

    // A clone for the caller to close; nullptr with the ICU status and parse position when
    // the pattern does not compile.
    URegularExpression* acquire(std::string_view pattern, std::uint32_t options, int& captureCount,
                                UErrorCode& status, UParseError& parseError);
    void clear();

    // Each expression remembers its first match in the text it last searched (texts shorter
    // than kRememberedTextLimit), so that asking again of the same text needs no search.
    struct FirstMatch {
        std::size_t captureCount = 0;
        std::vector<RGXRange> ranges;  // captures 0 to n; empty when nothing matched
    };
    static constexpr std::size_t kRememberedTextLimit = 2048;
    std::optional<FirstMatch> rememberedFirstMatch(std::string_view pattern, std::uint32_t options,
                                                   std::string_view text, RGXRange range);
    void rememberFirstMatch(std::string_view pattern, std::uint32_t options,
                            std::string_view text, RGXRange range, const FirstMatch& match);
    // Forgets what any expression remembers of this text.
    void forgetText(std::string_view text);
    bool remembersText(std::string_view text);

private:
    static constexpr std::size_t kSets = 13;
    static constexpr std::size_t kWays = 4;

    struct Entry {
        std::string pattern;
        std::uint32_t options = 0;
        URegularExpression* regex = nullptr;
        int captureCount = 0;
        // The text last searched from the start of its range, and what was found there.
        std::optional<std::string> text;
        RGXRange textRange;
        std::vector<RGXRange> firstMatch;
    };

    RGXRegexCache();
    ~RGXRegexCache();
    std::size_t setOf(std::string_view pattern, std::uint32_t options) const;
    // Under the lock; nullptr when the expression is not kept.
    Entry* find(std::string_view pattern, std::uint32_t options);
    void touch(std::size_t set, std::size_t way);
    std::size_t oldestWay(std::size_t set) const;

    std::mutex mutex_;
    std::array<std::array<Entry, kWays>, kSets> sets_;
    // Four 4-bit ages per set, one per way; 0 is the most recently used.
    std::array<std::uint16_t, kSets> ages_{};
};
