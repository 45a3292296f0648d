#pragma once

// The log calls every component uses. The level mask is tested before anything else:
// when the call's flag is off, neither the format nor its arguments are evaluated.
//   LogError("could not open {}: {}", path, reason);
// Formats are {fmt} formats, string literals compiled with the call (checked at compile
// time, and formatted without reading the format at run time). Errors wait until every
// logger has the record; the other calls return at once.

#include <string_view>

#include <fmt/compile.h>
#include <fmt/format.h>

#include "logging/LgLog.h"
#include "logging/LogLevel.h"

namespace logcall {

template <typename CompiledFormat, typename... Args>
void emit(bool asynchronous, std::uint64_t level, std::uint64_t flag, std::string_view word,
          const char* file, const char* function, std::uint64_t line,
          const CompiledFormat& format, Args&&... args) {
    // Formatted on the stack; the hub copies the text once, into the queued record.
    fmt::basic_memory_buffer<char, 256> formatted;
    if (!word.empty()) {
        formatted.push_back('[');
        formatted.append(word);
        formatted.append(std::string_view("] "));
    }
    fmt::format_to(fmt::appender(formatted), format, std::forward<Args>(args)...);
    LgLog::sharedInstance().logMessage(asynchronous,
                                       std::string_view(formatted.data(), formatted.size()), level,
                                       flag, 0, file, function, line, {});
}

}  // namespace logcall

#define LG_LOG_CALL(asynchronous, flag, word, format, ...)                               \
    do {                                                                                 \
        const std::uint64_t lgCallLevel_ = ::lgLogLevel.load(std::memory_order_relaxed); \
        if (lgCallLevel_ & (flag)) {                                                     \
            ::logcall::emit((asynchronous), lgCallLevel_, (flag), (word), __FILE__,      \
                            __PRETTY_FUNCTION__, __LINE__,                               \
                            FMT_COMPILE(format) __VA_OPT__(, ) __VA_ARGS__);             \
        }                                                                                \
    } while (0)

#define LogError(...) LG_LOG_CALL(false, ::LgLogFlagError, "ERROR", __VA_ARGS__)
#define LogWarn(...) LG_LOG_CALL(true, ::LgLogFlagWarning, "WARN", __VA_ARGS__)
#define LogInfo(...) LG_LOG_CALL(true, ::LgLogFlagInfo, "", __VA_ARGS__)
#define LogDebug(...) LG_LOG_CALL(true, ::LgLogFlagVerbose, "DEBUG", __VA_ARGS__)
