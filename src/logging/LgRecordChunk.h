#pragma once

#include <any>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "logging/LgLogMessage.h"

class LgLog;
struct LgThreadIdentity;

// A log call's record as its caller has it, before anything is copied.
struct LgCallRecord {
    std::string_view message;
    std::uint64_t level = 0;
    std::uint64_t flag = 0;
    std::int64_t context = 0;
    const char* file = nullptr;  // literals (__FILE__, __PRETTY_FUNCTION__), kept uncopied
    const char* function = nullptr;
    std::uint64_t line = 0;
    std::any* tag = nullptr;  // moved from when it holds something
    LgLogMessage::Clock::time_point timestamp;
    const LgThreadIdentity* thread = nullptr;
    std::string_view queueLabel;
};

// Queued records packed side by side into one block of memory: a record's fields and its
// texts are copied in once, with no allocation of their own, and read out on the logging
// queue into records kept there for reuse. Records that follow each other from one thread
// share their thread's texts, which the first of them holds. A chunk passes between the threads that log and
// the logging queue, and only whole chunks do, under the lock of whoever keeps them.
class LgRecordChunk {
public:
    // Room of a chunk; a chunk with no records takes a larger record by growing for it.
    static constexpr std::size_t kBytes = 64 * 1024;

    LgRecordChunk();

    // Whether the record fit (always true for an empty chunk).
    bool append(LgLog& hub, bool counted, const LgLogMessage& message);
    bool append(LgLog& hub, bool counted, const LgCallRecord& call);

    // Drops the records, keeping the room.
    void clear();

    // The records of one hub that follow each other from `offset`, at most `limit` of them,
    // unpacked into `into[0..records)`. `into` keeps its records between calls, so that
    // their texts reuse their room.
    struct Run {
        LgLog* hub = nullptr;
        std::size_t records = 0;
        std::int64_t counted = 0;  // how many of them are in their hub's backlog
        std::size_t next = 0;      // the offset after the run; end() when none is left
        // Whether the records hold sources, tags or large texts for trimUnpacked to let go.
        bool holdsMore = false;
    };
    Run unpackRun(std::size_t offset, std::size_t limit, std::vector<LgLogMessage>& into) const;
    // Once the records are delivered: lets go of their sources and tags, and of texts that
    // grew beyond the room usually needed, which the kept records would otherwise hold.
    static void trimUnpacked(std::span<LgLogMessage> records);
    std::size_t end() const { return used_; }

private:
    struct Header;
    struct More;
    struct ThreadTexts;
    // The source and tag of records that have them, which cannot live in plain bytes.
    struct Extra {
        std::shared_ptr<const LgLogMessage::OwnedSource> source;
        std::any tag;
    };
    // What a record says about the thread that made it.
    struct Thread {
        std::string_view id;
        std::string_view name;
        std::string_view queueLabel;
    };
    struct Fields {
        std::uint64_t level = 0;
        std::uint64_t flag = 0;
        std::int64_t context = 0;
        std::uint64_t line = 0;
        std::int64_t options = 0;
        std::uint64_t qos = 0;
        LgLogMessage::Clock::rep timestamp = 0;
        const char* fileLiteral = nullptr;
        const char* functionLiteral = nullptr;
    };

    bool reserve(std::size_t bytes);
    // Packs a record at the end (false when it does not fit); its extra is set apart.
    Header* put(LgLog& hub, bool counted, const Fields& fields, std::string_view message,
                const Thread& thread);
    bool sameThreadAsLast(const Thread& thread) const;
    std::uint32_t addExtra(Extra extra);
    std::uint32_t sourceExtra(const std::shared_ptr<const LgLogMessage::OwnedSource>& source);
    // Returns the offset of the next record.
    std::size_t unpack(std::size_t offset, LgLogMessage& into, const LgLogMessage* before) const;

    std::unique_ptr<std::byte[]> bytes_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    std::vector<Extra> extras_;
    static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t lastSourceExtra_ = kNone;
    std::uint32_t lastThread_ = kNone;  // offset of the thread texts written last
};
