#pragma once

#include <any>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// One log record. It is made on the calling thread, so the thread and queue fields
// describe the caller.
class LgLogMessage {
public:
    using Clock = std::chrono::system_clock;

    // Options: 1 copy `file`, 2 copy `function`, 4 do not copy `message`. Strings are
    // always owned here, so the options are kept only for loggers that look at them.
    enum Options : std::int64_t {
        CopyFile = 1,
        CopyFunction = 2,
        DontCopyMessage = 4,
    };

    LgLogMessage(std::string message, std::uint64_t level, std::uint64_t flag, std::int64_t context,
                 std::string file, std::string function, std::uint64_t line, std::any tag,
                 std::int64_t options, std::optional<Clock::time_point> timestamp);

    // Where a log call stands in the source, as literals (__FILE__, __PRETTY_FUNCTION__)
    // that outlive every record: kept without a copy.
    struct SourceLiterals {
        const char* file;
        const char* function;
    };
    LgLogMessage(std::string message, std::uint64_t level, std::uint64_t flag, std::int64_t context,
                 SourceLiterals source, std::uint64_t line, std::any tag, std::int64_t options,
                 std::optional<Clock::time_point> timestamp);

    LgLogMessage(const LgLogMessage&) = default;
    LgLogMessage(LgLogMessage&&) noexcept = default;
    LgLogMessage& operator=(const LgLogMessage&) = default;
    LgLogMessage& operator=(LgLogMessage&&) noexcept = default;

    const std::string& message() const { return message_; }
    std::uint64_t level() const { return level_; }
    std::uint64_t flag() const { return flag_; }
    std::int64_t context() const { return context_; }
    std::string_view file() const { return file_; }
    std::string_view fileName() const;
    std::string_view function() const { return function_; }
    std::uint64_t line() const { return line_; }
    const std::any& representedObject() const { return representedObject_; }
    const std::any& tag() const { return representedObject_; }
    std::int64_t options() const { return options_; }
    Clock::time_point timestamp() const { return timestamp_; }
    const std::string& threadID() const { return threadID_; }
    const std::string& threadName() const { return threadName_; }
    const std::string& queueLabel() const { return queueLabel_; }
    std::uint64_t qos() const { return qos_; }

private:
    // Queued records are packed into chunks and unpacked into records kept for reuse.
    friend class LgRecordChunk;
    LgLogMessage() = default;

    LgLogMessage(std::string message, std::uint64_t level, std::uint64_t flag, std::int64_t context,
                 std::uint64_t line, std::any tag, std::int64_t options,
                 std::optional<Clock::time_point> timestamp);

    std::string message_;
    std::uint64_t level_ = 0;
    std::uint64_t flag_ = 0;
    std::int64_t context_ = 0;
    struct OwnedSource {
        std::string file;
        std::string function;
    };
    // Copies of a record share the source strings it owns (none for literals).
    std::shared_ptr<const OwnedSource> ownedSource_;
    std::string_view file_;      // a whole literal (ends in a null) or into ownedSource_
    std::string_view function_;  // likewise
    std::uint64_t line_ = 0;
    std::any representedObject_;
    std::int64_t options_ = 0;
    Clock::time_point timestamp_;
    std::string threadID_;
    std::string threadName_;
    std::string queueLabel_;
    std::uint64_t qos_ = 0;
};

// The last path component with everything from its last "." removed (whole when it has
// no dot). Empty for empty input.
std::string LgExtractFileNameWithoutExtension(std::string_view path);
