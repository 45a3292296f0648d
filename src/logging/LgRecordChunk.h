#pragma once

#include <any>
#include <cstddef>
#include <cstdint>
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
// queue into records kept there for reuse. A chunk passes between the threads that log and
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
    };
    Run unpackRun(std::size_t offset, std::size_t limit, std::vector<LgLogMessage>& into) const;
    // Once the records are delivered: lets go of their sources and tags, and of texts that
    // grew beyond the room usually needed, which the kept records would otherwise hold.
    static void trimUnpacked(std::span<LgLogMessage> records);
    std::size_t end() const { return used_; }

private:
    struct Header;
    // The source and tag of records that have them, which cannot live in plain bytes.
    struct Extra {
        std::shared_ptr<const LgLogMessage::OwnedSource> source;
        std::any tag;
    };
    struct Texts {
        std::string_view message;
        std::string_view threadID;
        std::string_view threadName;
        std::string_view queueLabel;
    };

    bool reserve(std::size_t bytes);
    // Fills in the header's sizes and extra.
    void write(Header header, const Texts& texts, std::size_t bytes, std::optional<Extra> extra);
    static std::size_t packedSize(const Texts& texts);
    // Returns the offset of the next record.
    std::size_t unpack(const Header& header, std::size_t offset, LgLogMessage& into) const;

    std::unique_ptr<std::byte[]> bytes_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    std::vector<Extra> extras_;
};
