#include "logging/LgRecordChunk.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>

#include "logging/LgCacheLine.h"
#include "logging/LgThreadIdentity.h"

// The fixed part of a packed record. A More follows when context, options or qos are not 0;
// then the thread's texts when this record is the first of its thread's in a row; then the
// message. Records start on 8-byte boundaries.
struct LgRecordChunk::Header {
    LgLog* hub;
    // Literals, when the record has no owned source: measured on the logging queue, not by
    // the caller.
    const char* fileLiteral;
    const char* functionLiteral;
    std::uint64_t level;
    std::uint64_t flag;
    std::uint64_t line;
    LgLogMessage::Clock::rep timestamp;
    std::size_t messageSize;
    std::uint32_t thread;  // offset of the thread's texts in the chunk
    std::uint32_t extra;   // index into extras_, or kNone
    bool counted;
    bool more;
};

struct LgRecordChunk::More {
    std::int64_t context;
    std::int64_t options;
    std::uint64_t qos;
};

// Sizes of the texts that follow: id, name, queue label.
struct LgRecordChunk::ThreadTexts {
    std::uint32_t idSize;
    std::uint32_t nameSize;
    std::uint32_t queueLabelSize;
};

namespace {

constexpr std::size_t kAlignment = 8;

// Texts of kept records are freed beyond this room.
constexpr std::size_t kKeptTextRoom = 4096;

constexpr std::size_t aligned(std::size_t size) {
    return (size + kAlignment - 1) & ~(kAlignment - 1);
}

// A chunk passes between cores: records are written into room that the logging queue's core
// read last, and read there from the caller's core. Both fetch the lines they are about to
// use this far ahead, so that waiting for another core's cache overlaps with the records
// before rather than holding up each one.
constexpr std::size_t kFetchAhead = 2048;
constexpr std::size_t kLine = kLgCacheLine;

void fetchForReading(const std::byte* from, const std::byte* to) {
    for (const std::byte* at = from; at < to; at += kLine) __builtin_prefetch(at, 0, 3);
}

// For writing, a line is asked for as its only holder (x86's prefetchw, which processors
// without it take for a no-op; the compiler would leave it out for them); a plain prefetch
// would still leave the store to take the line away from the other core.
void fetchForWriting(const std::byte* from, const std::byte* to) {
    for (const std::byte* at = from; at < to; at += kLine) {
#if defined(__x86_64__)
        asm volatile("prefetchw %0" : : "m"(*reinterpret_cast<const char*>(at)));
#else
        __builtin_prefetch(at, 1, 3);
#endif
    }
}

std::byte* copyText(std::byte* at, std::string_view text) {
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

// Kept records mostly get the same thread texts again: compared, they need no copy.
void assignText(std::string& field, std::string_view text) {
    if (std::string_view(field) != text) field.assign(text);
}

// A literal's view; the record before, when it came from the same call site, already has
// its length (a burst usually comes from one place), which spares measuring it again.
std::string_view literalView(const char* literal, std::string_view before) {
    if (literal == nullptr) return {};
    if (before.data() == literal) return before;
    return literal;
}

}  // namespace

LgRecordChunk::LgRecordChunk() : bytes_(new std::byte[kBytes]), capacity_(kBytes) {}

bool LgRecordChunk::reserve(std::size_t bytes) {
    if (capacity_ - used_ >= bytes) return true;
    if (used_ != 0) return false;
    bytes_.reset(new std::byte[bytes]);
    capacity_ = bytes;
    return true;
}

bool LgRecordChunk::sameThreadAsLast(const Thread& thread) const {
    if (lastThread_ == kNone) return false;
    const std::byte* at = bytes_.get() + lastThread_;
    ThreadTexts sizes;
    std::memcpy(&sizes, at, sizeof sizes);
    const char* texts = reinterpret_cast<const char*>(at + sizeof sizes);
    return std::string_view(texts, sizes.idSize) == thread.id &&
           std::string_view(texts + sizes.idSize, sizes.nameSize) == thread.name &&
           std::string_view(texts + sizes.idSize + sizes.nameSize, sizes.queueLabelSize) ==
               thread.queueLabel;
}

// The header is made where it stands in the chunk, field by field: a header made aside and
// copied in is read back while its fields are still being stored, which stalls.
LgRecordChunk::Header* LgRecordChunk::put(LgLog& hub, bool counted, const Fields& fields,
                                          std::string_view message, const Thread& thread) {
    static_assert(std::is_trivially_copyable_v<Header> && alignof(Header) <= kAlignment);
    const bool more = fields.context != 0 || fields.options != 0 || fields.qos != 0;
    const bool sameThread = sameThreadAsLast(thread);
    const std::size_t threadBytes =
        sameThread ? 0
                   : sizeof(ThreadTexts) + thread.id.size() + thread.name.size() +
                         thread.queueLabel.size();
    const std::size_t bytes = aligned(sizeof(Header) + (more ? sizeof(More) : 0) + threadBytes +
                                      message.size());
    if (!reserve(bytes)) return nullptr;

    std::byte* const start = bytes_.get() + used_;
    std::byte* const end = bytes_.get() + capacity_;
    if (used_ == 0) fetchForWriting(start, std::min(start + kFetchAhead, end));
    fetchForWriting(std::min(start + kFetchAhead, end), std::min(start + kFetchAhead + bytes, end));

    auto* header = new (start) Header;
    header->hub = &hub;
    header->fileLiteral = fields.fileLiteral;
    header->functionLiteral = fields.functionLiteral;
    header->level = fields.level;
    header->flag = fields.flag;
    header->line = fields.line;
    header->timestamp = fields.timestamp;
    header->messageSize = message.size();
    header->extra = kNone;
    header->counted = counted;
    header->more = more;
    std::byte* at = start + sizeof(Header);
    if (more) {
        new (at) More{fields.context, fields.options, fields.qos};
        at += sizeof(More);
    }
    if (!sameThread) {
        lastThread_ = static_cast<std::uint32_t>(at - bytes_.get());
        new (at) ThreadTexts{static_cast<std::uint32_t>(thread.id.size()),
                             static_cast<std::uint32_t>(thread.name.size()),
                             static_cast<std::uint32_t>(thread.queueLabel.size())};
        at = copyText(at + sizeof(ThreadTexts), thread.id);
        at = copyText(at, thread.name);
        at = copyText(at, thread.queueLabel);
    }
    header->thread = lastThread_;
    copyText(at, message);
    used_ += bytes;
    return header;
}

std::uint32_t LgRecordChunk::addExtra(Extra extra) {
    extras_.push_back(std::move(extra));
    return static_cast<std::uint32_t>(extras_.size() - 1);
}

bool LgRecordChunk::append(LgLog& hub, bool counted, const LgLogMessage& message) {
    const bool owned = message.ownedSource_ != nullptr;
    Header* header = put(hub, counted,
                         {.level = message.level_,
                          .flag = message.flag_,
                          .context = message.context_,
                          .line = message.line_,
                          .options = message.options_,
                          .qos = message.qos_,
                          .timestamp = message.timestamp_.time_since_epoch().count(),
                          .fileLiteral = owned ? nullptr : message.file_.data(),
                          .functionLiteral = owned ? nullptr : message.function_.data()},
                         message.message_,
                         {message.threadID_, message.threadName_, message.queueLabel_});
    if (header == nullptr) return false;
    if (message.representedObject_.has_value()) {
        header->extra = addExtra({message.ownedSource_, message.representedObject_});
    } else if (owned) {
        header->extra = sourceExtra(message.ownedSource_);
    }
    return true;
}

// Records of a burst usually come from one place, each with a copy of its own of the same
// source strings: they share the first one's. The chunk then holds one reference for them
// all, not one a record, each taken here and let go on the logging queue, where the
// reference count's line would travel to and fro between the two cores for every record.
std::uint32_t LgRecordChunk::sourceExtra(
    const std::shared_ptr<const LgLogMessage::OwnedSource>& source) {
    if (lastSourceExtra_ != kNone) {
        const auto& kept = extras_[lastSourceExtra_].source;
        if (kept == source || (kept->file == source->file && kept->function == source->function)) {
            return lastSourceExtra_;
        }
    }
    lastSourceExtra_ = addExtra({source, {}});
    return lastSourceExtra_;
}

bool LgRecordChunk::append(LgLog& hub, bool counted, const LgCallRecord& call) {
    // Linux threads have no quality-of-service class: qos 0 is "unspecified".
    Header* header = put(hub, counted,
                         {.level = call.level,
                          .flag = call.flag,
                          .context = call.context,
                          .line = call.line,
                          .timestamp = call.timestamp.time_since_epoch().count(),
                          .fileLiteral = call.file,
                          .functionLiteral = call.function},
                         call.message, {call.thread->id, call.thread->name, call.queueLabel});
    if (header == nullptr) return false;
    if (call.tag != nullptr && call.tag->has_value()) {
        header->extra = addExtra({nullptr, std::move(*call.tag)});
    }
    return true;
}

void LgRecordChunk::clear() {
    used_ = 0;
    extras_.clear();
    lastSourceExtra_ = kNone;
    lastThread_ = kNone;
    // A chunk grown for one large record goes back to the usual room.
    if (capacity_ > kBytes) {
        bytes_.reset(new std::byte[kBytes]);
        capacity_ = kBytes;
    }
}

std::size_t LgRecordChunk::unpack(std::size_t offset, LgLogMessage& into,
                                  const LgLogMessage* before) const {
    const std::byte* const base = bytes_.get();
    const auto& header = *std::launder(reinterpret_cast<const Header*>(base + offset));
    const std::byte* at = base + offset + sizeof(Header);
    More more{0, 0, 0};
    if (header.more) {
        std::memcpy(&more, at, sizeof more);
        at += sizeof(More);
    }
    ThreadTexts sizes;
    std::memcpy(&sizes, base + header.thread, sizeof sizes);
    const char* thread = reinterpret_cast<const char*>(base + header.thread + sizeof sizes);
    // The thread's texts stand here when this record is the first of its thread's.
    if (base + header.thread == at) {
        at += sizeof sizes + sizes.idSize + sizes.nameSize + sizes.queueLabelSize;
    }
    into.message_.assign(reinterpret_cast<const char*>(at), header.messageSize);
    assignText(into.threadID_, std::string_view(thread, sizes.idSize));
    assignText(into.threadName_, std::string_view(thread + sizes.idSize, sizes.nameSize));
    assignText(into.queueLabel_,
               std::string_view(thread + sizes.idSize + sizes.nameSize, sizes.queueLabelSize));
    into.level_ = header.level;
    into.flag_ = header.flag;
    into.context_ = more.context;
    into.line_ = header.line;
    into.options_ = more.options;
    into.qos_ = more.qos;
    into.timestamp_ = LgLogMessage::Clock::time_point(LgLogMessage::Clock::duration(header.timestamp));
    if (header.extra == kNone) {
        // Records without one leave nothing behind to let go of (see trimUnpacked).
        into.ownedSource_.reset();
        into.representedObject_.reset();
    } else {
        const Extra& extra = extras_[header.extra];
        into.ownedSource_ = extra.source;
        into.representedObject_ = extra.tag;
    }
    if (into.ownedSource_) {
        into.file_ = into.ownedSource_->file;
        into.function_ = into.ownedSource_->function;
    } else {
        into.file_ = literalView(header.fileLiteral, before ? before->file_ : std::string_view());
        into.function_ =
            literalView(header.functionLiteral, before ? before->function_ : std::string_view());
    }
    return offset + aligned(static_cast<std::size_t>(at - (base + offset)) + header.messageSize);
}

LgRecordChunk::Run LgRecordChunk::unpackRun(std::size_t offset, std::size_t limit,
                                            std::vector<LgLogMessage>& into) const {
    Run run;
    const std::byte* const base = bytes_.get();
    const std::byte* const end = base + used_;
    fetchForReading(base + offset, std::min(base + offset + kFetchAhead, end));
    while (offset < used_ && run.records < limit) {
        const std::byte* const ahead = std::min(base + offset + kFetchAhead, end);
        const auto& header = *std::launder(reinterpret_cast<const Header*>(base + offset));
        if (run.records > 0 && header.hub != run.hub) break;
        run.hub = header.hub;
        run.holdsMore = run.holdsMore || header.extra != kNone;
        run.counted += header.counted ? 1 : 0;
        if (into.size() == run.records) into.push_back(LgLogMessage());
        LgLogMessage& record = into[run.records];
        offset = unpack(offset, record, run.records > 0 ? &into[run.records - 1] : nullptr);
        // What the texts hold on to after the copy, not only what they hold now, is let go.
        run.holdsMore = run.holdsMore || record.message_.capacity() > kKeptTextRoom ||
                        record.queueLabel_.capacity() > kKeptTextRoom ||
                        record.threadName_.capacity() > kKeptTextRoom ||
                        record.threadID_.capacity() > kKeptTextRoom;
        fetchForReading(ahead, std::min(base + offset + kFetchAhead, end));
        ++run.records;
    }
    run.next = offset;
    return run;
}

void LgRecordChunk::trimUnpacked(std::span<LgLogMessage> records) {
    for (auto& record : records) {
        for (std::string* text :
             {&record.message_, &record.threadID_, &record.threadName_, &record.queueLabel_}) {
            if (text->capacity() > kKeptTextRoom) std::string().swap(*text);
        }
        // Nor do they keep the records' sources and tags alive.
        record.ownedSource_.reset();
        record.representedObject_.reset();
        record.file_ = {};
        record.function_ = {};
    }
}
