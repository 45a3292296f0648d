#include "logging/LogLevel.h"

std::atomic<std::uint64_t> lgLogLevel{3};

std::int32_t SetLogLevel(std::int32_t level) {
    lgLogLevel.store(static_cast<std::uint64_t>(static_cast<std::int64_t>(level)),
                     std::memory_order_relaxed);
    return level;
}

std::int32_t GetLogLevel() {
    return static_cast<std::int32_t>(lgLogLevel.load(std::memory_order_relaxed) & 0xffffffffu);
}
