#pragma once

#include <atomic>
#include <cstdint>

// Flags of a log record, one bit each; a level is a mask of them.
enum LgLogFlag : std::uint64_t {
    LgLogFlagError = 1,
    LgLogFlagWarning = 2,
    LgLogFlagInfo = 4,
    LgLogFlagDebug = 8,
    LgLogFlagVerbose = 16,
};

inline constexpr std::uint64_t LgLogLevelAll = ~std::uint64_t{0};

// The program-wide level mask (initially errors and warnings). It is read at every log
// call site on every thread; relaxed loads keep a disabled call at one load and one test.
extern std::atomic<std::uint64_t> lgLogLevel;

// Stores the level sign-extended into the mask and returns it.
std::int32_t SetLogLevel(std::int32_t level);
// The mask's low 32 bits.
std::int32_t GetLogLevel();
