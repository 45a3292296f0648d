#include "data/RegexSupport/RGXRegexCache.h"

#include <unicode/utext.h>

#include <functional>

RGXRegexCache& RGXRegexCache::shared() {
    static RGXRegexCache cache;
    return cache;
}

RGXRegexCache::RGXRegexCache() = default;

RGXRegexCache::~RGXRegexCache() {
    clear();
}

void RGXRegexCache::touch(std::size_t set, std::size_t way) {
    std::uint16_t& ages = ages_[set];
    const unsigned own = (ages >> (4 * way)) & 0xF;
    for (std::size_t other = 0; other < kWays; ++other) {
        const unsigned age = (ages >> (4 * other)) & 0xF;
        if (other != way && age <= own && age < 0xF)
            ages += static_cast<std::uint16_t>(1u << (4 * other));
    }
    ages &= static_cast<std::uint16_t>(~(0xFu << (4 * way)));
}

std::size_t RGXRegexCache::oldestWay(std::size_t set) const {
    std::size_t oldest = 0;
    unsigned oldestAge = 0;
    for (std::size_t way = 0; way < kWays; ++way) {
        if (!sets_[set][way].regex) return way;
        const unsigned age = (ages_[set] >> (4 * way)) & 0xF;
        if (age >= oldestAge) {
            oldest = way;
            oldestAge = age;
        }
    }
    return oldest;
}

std::size_t RGXRegexCache::setOf(std::string_view pattern, std::uint32_t options) const {
    return (std::hash<std::string_view>{}(pattern) ^ options) % kSets;
}

RGXRegexCache::Entry* RGXRegexCache::find(std::string_view pattern, std::uint32_t options) {
    for (Entry& entry : sets_[setOf(pattern, options)]) {
        if (entry.regex && entry.options == options && entry.pattern == pattern) return &entry;
    }
    return nullptr;
}

std::optional<RGXRegexCache::FirstMatch> RGXRegexCache::rememberedFirstMatch(
    std::string_view pattern, std::uint32_t options, std::string_view text, RGXRange range) {
    if (text.size() >= kRememberedTextLimit) return std::nullopt;
    std::lock_guard lock(mutex_);
    const Entry* entry = find(pattern, options);
    if (!entry || !entry->text || *entry->text != text || entry->textRange != range)
        return std::nullopt;
    return FirstMatch{static_cast<std::size_t>(entry->captureCount), entry->firstMatch};
}

void RGXRegexCache::rememberFirstMatch(std::string_view pattern, std::uint32_t options,
                                       std::string_view text, RGXRange range,
                                       const FirstMatch& match) {
    if (text.size() >= kRememberedTextLimit) return;
    std::lock_guard lock(mutex_);
    Entry* entry = find(pattern, options);
    if (!entry) return;  // replaced meanwhile
    entry->text = std::string(text);
    entry->textRange = range;
    entry->firstMatch = match.ranges;
}

void RGXRegexCache::forgetText(std::string_view text) {
    std::lock_guard lock(mutex_);
    for (auto& set : sets_) {
        for (auto& entry : set) {
            if (entry.text && *entry.text == text) {
                entry.text.reset();
                entry.firstMatch.clear();
            }
        }
    }
}

bool RGXRegexCache::remembersText(std::string_view text) {
    std::lock_guard lock(mutex_);
    for (const auto& set : sets_) {
        for (const auto& entry : set) {
            if (entry.text && *entry.text == text) return true;
        }
    }
    return false;
}

URegularExpression* RGXRegexCache::acquire(std::string_view pattern, std::uint32_t options,
                                           int& captureCount, UErrorCode& status,
                                           UParseError& parseError) {
    const std::size_t set = setOf(pattern, options);
    std::lock_guard lock(mutex_);
    for (std::size_t way = 0; way < kWays; ++way) {
        Entry& entry = sets_[set][way];
        if (entry.regex && entry.options == options && entry.pattern == pattern) {
            touch(set, way);
            captureCount = entry.captureCount;
            return uregex_clone(entry.regex, &status);
        }
    }
    UText* patternText =
        utext_openUTF8(nullptr, pattern.data(), static_cast<int64_t>(pattern.size()), &status);
    URegularExpression* compiled = uregex_openUText(patternText, options, &parseError, &status);
    utext_close(patternText);
    if (U_FAILURE(status)) {
        if (compiled) uregex_close(compiled);
        return nullptr;
    }
    const std::size_t way = oldestWay(set);
    Entry& entry = sets_[set][way];
    if (entry.regex) uregex_close(entry.regex);
    entry = Entry{};
    entry.pattern = std::string(pattern);
    entry.options = options;
    entry.regex = compiled;
    entry.captureCount = uregex_groupCount(compiled, &status);
    touch(set, way);
    captureCount = entry.captureCount;
    return uregex_clone(compiled, &status);
}

void RGXRegexCache::clear() {
    std::lock_guard lock(mutex_);
    for (auto& set : sets_) {
        for (auto& entry : set) {
            if (entry.regex) uregex_close(entry.regex);
            entry = Entry{};
        }
    }
    ages_.fill(0);
}
