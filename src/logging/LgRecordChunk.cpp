#include "logging/LgRecordChunk.h"

#include <cstring>
#include <limits>
#include <type_traits>

#include "logging/LgThreadIdentity.h"

// The fixed part of a packed record; its texts follow it.
struct LgRecordChunk::Header {
    LgLog* hub = nullptr;
    // Literals, when the record has no owned source: measured on the logging queue, not by
    // the caller.
    const char* fileLiteral = nullptr;
    const char* functionLiteral = nullptr;
    std::uint64_t level = 0;
    std::uint64_t flag = 0;
    std::int64_t context = 0;
    std::uint64_t line = 0;
    std::int64_t options = 0;
    std::uint64_t qos = 0;
    LgLogMessage::Clock::rep timestamp = 0;
    std::size_t messageSize = 0;
    std::size_t threadIDSize = 0;
    std::size_t threadNameSize = 0;
    std::size_t queueLabelSize = 0;
    std::uint32_t extra = 0;  // index into extras_, or kNoExtra
    bool counted = false;
};

namespace {

constexpr std::uint32_t kNoExtra = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kAlignment = alignof(std::max_align_t);

// Texts of kept records are freed beyond this room.
constexpr std::size_t kKeptTextRoom = 4096;

constexpr std::size_t aligned(std::size_t size) {
    return (size + kAlignment - 1) & ~(kAlignment - 1);
}

}  // namespace

LgRecordChunk::LgRecordChunk() : bytes_(new std::byte[kBytes]), capacity_(kBytes) {}

std::size_t LgRecordChunk::packedSize(const Texts& texts) {
    static_assert(std::is_trivially_copyable_v<Header>);
    return aligned(sizeof(Header) + texts.message.size() + texts.threadID.size() +
                   texts.threadName.size() + texts.queueLabel.size());
}

bool LgRecordChunk::reserve(std::size_t bytes) {
    if (capacity_ - used_ >= bytes) return true;
    if (used_ != 0) return false;
    bytes_.reset(new std::byte[bytes]);
    capacity_ = bytes;
    return true;
}

void LgRecordChunk::write(Header header, const Texts& texts, std::size_t bytes,
                          std::optional<Extra> extra) {
    header.messageSize = texts.message.size();
    header.threadIDSize = texts.threadID.size();
    header.threadNameSize = texts.threadName.size();
    header.queueLabelSize = texts.queueLabel.size();
    header.extra = kNoExtra;
    if (extra) {
        header.extra = static_cast<std::uint32_t>(extras_.size());
        extras_.push_back(std::move(*extra));
    }
    std::byte* at = bytes_.get() + used_;
    std::memcpy(at, &header, sizeof header);
    at += sizeof header;
    for (const std::string_view text :
         {texts.message, texts.threadID, texts.threadName, texts.queueLabel}) {
        if (!text.empty()) std::memcpy(at, text.data(), text.size());
        at += text.size();
    }
    used_ += bytes;
}

bool LgRecordChunk::append(LgLog& hub, bool counted, const LgLogMessage& message) {
    const Texts texts{message.message_, message.threadID_, message.threadName_,
                      message.queueLabel_};
    const std::size_t bytes = packedSize(texts);
    if (!reserve(bytes)) return false;
    const bool owned = message.ownedSource_ != nullptr;
    write({.hub = &hub,
           .fileLiteral = owned ? nullptr : message.file_.data(),
           .functionLiteral = owned ? nullptr : message.function_.data(),
           .level = message.level_,
           .flag = message.flag_,
           .context = message.context_,
           .line = message.line_,
           .options = message.options_,
           .qos = message.qos_,
           .timestamp = message.timestamp_.time_since_epoch().count(),
           .counted = counted},
          texts, bytes,
          owned || message.representedObject_.has_value()
              ? std::optional<Extra>(Extra{message.ownedSource_, message.representedObject_})
              : std::nullopt);
    return true;
}

bool LgRecordChunk::append(LgLog& hub, bool counted, const LgCallRecord& call) {
    const Texts texts{call.message, call.thread->id, call.thread->name, call.queueLabel};
    const std::size_t bytes = packedSize(texts);
    if (!reserve(bytes)) return false;
    // Linux threads have no quality-of-service class: qos 0 is "unspecified".
    write({.hub = &hub,
           .fileLiteral = call.file,
           .functionLiteral = call.function,
           .level = call.level,
           .flag = call.flag,
           .context = call.context,
           .line = call.line,
           .timestamp = call.timestamp.time_since_epoch().count(),
           .counted = counted},
          texts, bytes,
          call.tag != nullptr && call.tag->has_value()
              ? std::optional<Extra>(Extra{nullptr, std::move(*call.tag)})
              : std::nullopt);
    return true;
}

void LgRecordChunk::clear() {
    used_ = 0;
    extras_.clear();
    // A chunk grown for one large record goes back to the usual room.
    if (capacity_ > kBytes) {
        bytes_.reset(new std::byte[kBytes]);
        capacity_ = kBytes;
    }
}

std::size_t LgRecordChunk::unpack(const Header& header, std::size_t offset,
                                  LgLogMessage& into) const {
    const char* text = reinterpret_cast<const char*>(bytes_.get() + offset + sizeof header);
    auto take = [&text](std::string& field, std::size_t size) {
        field.assign(text, size);
        text += size;
    };
    take(into.message_, header.messageSize);
    take(into.threadID_, header.threadIDSize);
    take(into.threadName_, header.threadNameSize);
    take(into.queueLabel_, header.queueLabelSize);
    into.level_ = header.level;
    into.flag_ = header.flag;
    into.context_ = header.context;
    into.line_ = header.line;
    into.options_ = header.options;
    into.qos_ = header.qos;
    into.timestamp_ = LgLogMessage::Clock::time_point(LgLogMessage::Clock::duration(header.timestamp));
    if (header.extra == kNoExtra) {
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
        into.file_ = header.fileLiteral ? std::string_view(header.fileLiteral) : std::string_view();
        into.function_ =
            header.functionLiteral ? std::string_view(header.functionLiteral) : std::string_view();
    }
    return offset + aligned(sizeof header + header.messageSize + header.threadIDSize +
                            header.threadNameSize + header.queueLabelSize);
}

LgRecordChunk::Run LgRecordChunk::unpackRun(std::size_t offset, std::size_t limit,
                                            std::vector<LgLogMessage>& into) const {
    Run run;
    while (offset < used_ && run.records < limit) {
        Header header;
        std::memcpy(&header, bytes_.get() + offset, sizeof header);
        if (run.records > 0 && header.hub != run.hub) break;
        run.hub = header.hub;
        if (into.size() == run.records) into.push_back(LgLogMessage());
        offset = unpack(header, offset, into[run.records]);
        ++run.records;
        run.counted += header.counted ? 1 : 0;
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
