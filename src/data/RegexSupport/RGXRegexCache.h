#pragma once

#include <unicode/uregex.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

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

private:
    static constexpr std::size_t kSets = 13;
    static constexpr std::size_t kWays = 4;

    struct Entry {
        std::string pattern;
        std::uint32_t options = 0;
        URegularExpression* regex = nullptr;
        int captureCount = 0;
    };

    RGXRegexCache();
    ~RGXRegexCache();
    void touch(std::size_t set, std::size_t way);
    std::size_t oldestWay(std::size_t set) const;

    std::mutex mutex_;
    std::array<std::array<Entry, kWays>, kSets> sets_;
    // Four 4-bit ages per set, one per way; 0 is the most recently used.
    std::array<std::uint16_t, kSets> ages_{};
};
