#include "media/PhotoDBReader.h"

#include <optional>

#include "foundation/Utf8.h"
#include "logging/LogCall.h"
#include "media/ByteCursor.h"
#include "media/MappedFile.h"
#include "media/iTunesDBReader.h"

namespace media {

namespace {

using foundation::Value;
using Bytes = ByteCursor::Bytes;

#define PHOTODB_READ_FAILED() \
    LogInfo("Failed to read in {} of {} [{}]", __LINE__, __FILE__, __func__)

// Fixed leading parts of the records.
constexpr std::size_t kFileFixed = 32;       // MHFD
constexpr std::size_t kSectionFixed = 16;    // MHSD
constexpr std::size_t kListFixed = 12;       // MHLI, MHLA, MHLF
constexpr std::size_t kImageFixed = 56;      // MHII
constexpr std::size_t kDataFixed = 24;       // MHOD
constexpr std::size_t kStringFixed = 12;     // string body up to its bytes
constexpr std::size_t kNameFixed = 44;       // MHNI
constexpr std::size_t kAlbumFixed = 32;      // MHBA
constexpr std::size_t kAlbumItemFixed = 20;  // MHIA
constexpr std::size_t kFileEntryFixed = 24;  // MHIF
constexpr std::size_t kTaggedFixed = 12;     // MHAF: tag, header length, one word

// Takes a record's fixed part and steps over its whole header; nullopt (and the cursor left
// where it was) when the header length is below the fixed part or past the parent.
std::optional<Bytes> readHeader(ByteCursor& cursor, std::size_t fixedPart) {
    auto head = cursor.peek(fixedPart);
    if (!head) return std::nullopt;
    const std::size_t headerLength = ByteCursor::u32(*head, 4);
    if (headerLength < fixedPart || headerLength > cursor.remaining()) return std::nullopt;
    cursor.skip(headerLength);
    return head;
}

// A record with a total length: its fixed part, and a cursor over the rest of the record
// after its header, which the parent steps over. Nullopt (logged, the parent left as it was)
// when the header length is below the fixed part, or the total length below the header
// length or past the parent.
struct WholeRecord {
    Bytes head;
    ByteCursor body;
};
std::optional<WholeRecord> takeWholeRecord(ByteCursor& parent, std::size_t fixedPart) {
    auto head = parent.peek(fixedPart);
    const std::size_t headerLength = head ? ByteCursor::u32(*head, 4) : 0;
    const std::size_t totalLength = head ? ByteCursor::u32(*head, 8) : 0;
    if (!head || headerLength < fixedPart || totalLength < headerLength ||
        totalLength > parent.remaining()) {
        PHOTODB_READ_FAILED();
        return std::nullopt;
    }
    WholeRecord record{*head, *parent.child(totalLength)};
    record.body.skip(headerLength);
    return record;
}

std::optional<std::string> decodeString(std::uint16_t type, Bytes text) {
    switch (type) {
        case 1:
        case 2:
        case 6: {
            std::string_view view(reinterpret_cast<const char*>(text.data()), text.size());
            if (!foundation::utf8::isValid(view)) return std::nullopt;
            return std::string(view);
        }
        case 3:
            return decodeUtf16LE(text);
        default:
            return std::nullopt;
    }
}

std::optional<Value> readNameRecord(ByteCursor& cursor, int depth);

// A data record's body by the record's type: an image name, or a string; an empty
// dictionary when it holds no text. The body's cursor bounds everything read.
Value readDataBody(std::uint16_t type, ByteCursor& record, int depth) {
    auto tag = record.peek(4);
    if (tag && (ByteCursor::hasTag(*tag, "mhni") || ByteCursor::hasTag(*tag, "mhaf"))) {
        if (depth >= PhotoDBReader::kMaxDepth) {
            LogWarn("Photo database: image-name records nested too deeply");
            return Value(foundation::Dictionary{});
        }
        auto name = readNameRecord(record, depth + 1);
        return name ? std::move(*name) : Value(foundation::Dictionary{});
    }
    Value result{foundation::Dictionary{}};
    auto body = record.peek(kStringFixed);
    if (!body) return result;
    const std::size_t length = ByteCursor::u32(*body, 0);
    if (length > record.remaining() - kStringFixed) {
        PHOTODB_READ_FAILED();
        return result;
    }
    record.skip(kStringFixed);
    if (auto text = decodeString(type, *record.read(length))) result.set("mhodString", *text);
    return result;
}

// A data record; its total length bounds everything read from it.
std::optional<Value> readDataRecord(ByteCursor& cursor, int depth) {
    auto whole = takeWholeRecord(cursor, kDataFixed);
    if (!whole) return std::nullopt;
    return readDataBody(ByteCursor::u16(whole->head, 12), whole->body, depth);
}

std::optional<Value> readNameRecord(ByteCursor& cursor, int depth) {
    auto head = readHeader(cursor, kNameFixed);
    if (!head) {
        PHOTODB_READ_FAILED();
        return std::nullopt;
    }
    const Bytes h = *head;
    Value name = Value::dict({
        {"correlationID", ByteCursor::u32(h, 16)},
        {"iThumbOffSet", ByteCursor::u32(h, 20)},
        {"imageSize", ByteCursor::u32(h, 24)},
        {"verticalPadding", ByteCursor::u16(h, 28)},
        {"horizontalPadding", ByteCursor::u16(h, 30)},
        {"imageHeight", ByteCursor::u16(h, 32)},
        {"imageWidth", ByteCursor::u16(h, 34)},
        {"imageSize2", ByteCursor::u32(h, 40)},
    });
    const std::uint32_t children = ByteCursor::u32(h, 12);
    if (children >= 2) LogWarn("Unexpected Number of MHNI child nodes!! {}", children);
    for (std::uint32_t i = 0; i < children && !cursor.atEnd(); ++i) {
        auto child = readDataRecord(cursor, depth);
        if (!child) break;
        for (const auto& [key, value] : *child->dictionary()) name.set(key, value);
    }
    return name;
}

// Reads a list header and its entries; stops at the first entry that cannot be read.
template <typename ReadEntry, typename Keep>
bool readList(ByteCursor& section, ReadEntry readEntry, Keep keep) {
    auto head = readHeader(section, kListFixed);
    if (!head) {
        PHOTODB_READ_FAILED();
        return false;
    }
    const std::uint32_t count = ByteCursor::u32(*head, 8);
    for (std::uint32_t i = 0; i < count && !section.atEnd(); ++i) {
        auto entry = readEntry(section);
        if (!entry) break;
        keep(std::move(*entry));
    }
    return true;
}

}  // namespace

std::optional<Value> PhotoDBReader::readMHOD(ByteCursor& cursor) {
    return readDataRecord(cursor, 0);
}

Value PhotoDBReader::readMHODDataFileHandle(std::uint16_t type, ByteCursor& body) {
    return readDataBody(type, body, 0);
}

std::optional<Value> PhotoDBReader::readMHNI(ByteCursor& cursor) {
    return readNameRecord(cursor, 0);
}

std::optional<Value> PhotoDBReader::readMHII(ByteCursor& cursor) {
    auto head = readHeader(cursor, kImageFixed);
    if (!head) {
        PHOTODB_READ_FAILED();
        return std::nullopt;
    }
    const Bytes h = *head;
    // The song id is 64 bits wide; the dates are the picture's creation and digitizing
    // dates as the file stores them.
    const std::uint64_t songID =
        ByteCursor::u32(h, 20) | (std::uint64_t{ByteCursor::u32(h, 24)} << 32);
    Value image = Value::dict({
        {"iid", ByteCursor::u32(h, 16)},
        {"songID", songID},
        {"rating", ByteCursor::u32(h, 32)},
        {"tempDate", foundation::Date{static_cast<double>(ByteCursor::u32(h, 40))}},
        {"digitizedDate", foundation::Date{static_cast<double>(ByteCursor::u32(h, 44))}},
        {"sourceImageSize", ByteCursor::u32(h, 48)},
    });
    Value subImages{foundation::Dictionary{}};
    const std::uint32_t children = ByteCursor::u32(h, 12);
    for (std::uint32_t i = 0; i < children && !cursor.atEnd(); ++i) {
        auto child = readDataRecord(cursor, 0);
        if (!child) break;
        if (auto id = (*child)["correlationID"].toUInt64()) {
            subImages.set(std::to_string(*id), std::move(*child));
        }
    }
    image.set("subImages", std::move(subImages));
    return image;
}

std::optional<Value> PhotoDBReader::readMHIA(ByteCursor& cursor) {
    auto item = readHeader(cursor, kAlbumItemFixed);
    if (!item) {
        PHOTODB_READ_FAILED();
        return std::nullopt;
    }
    return Value(ByteCursor::u32(*item, 16));
}

std::optional<Value> PhotoDBReader::readMHBA(ByteCursor& cursor) {
    auto head = readHeader(cursor, kAlbumFixed);
    if (!head) {
        PHOTODB_READ_FAILED();
        return std::nullopt;
    }
    Value album{foundation::Dictionary{}};
    const std::uint32_t dataCount = ByteCursor::u32(*head, 12);
    const std::uint32_t itemCount = ByteCursor::u32(*head, 16);
    bool intact = true;
    for (std::uint32_t i = 0; i < dataCount && !cursor.atEnd(); ++i) {
        auto child = readDataRecord(cursor, 0);
        if (!child) {
            intact = false;
            break;
        }
        const Value& text = (*child)["mhodString"];
        if (!text.isNil()) album.set("name", text);
    }
    Value items{foundation::Array{}};
    for (std::uint32_t i = 0; intact && i < itemCount && !cursor.atEnd(); ++i) {
        auto item = readMHIA(cursor);
        if (!item) break;
        items.append(std::move(*item));
    }
    album.set("items", std::move(items));
    return album;
}

std::optional<Value> PhotoDBReader::readMHIF(ByteCursor& cursor) {
    auto head = readHeader(cursor, kFileEntryFixed);
    if (!head) {
        PHOTODB_READ_FAILED();
        return std::nullopt;
    }
    return Value::dict(
        {{"correlationID", ByteCursor::u32(*head, 16)}, {"imageSize", ByteCursor::u32(*head, 20)}});
}

std::optional<Value> PhotoDBReader::readMHLI(ByteCursor& section) {
    Value images{foundation::Dictionary{}};
    if (!readList(section, readMHII, [&](Value image) {
            const auto id = image["iid"].toUInt64().value_or(0);
            images.set(std::to_string(id), std::move(image));
        })) {
        return std::nullopt;
    }
    return images;
}

std::optional<Value> PhotoDBReader::readMHLA(ByteCursor& section) {
    Value albums{foundation::Array{}};
    if (!readList(section, readMHBA, [&](Value album) { albums.append(std::move(album)); })) {
        return std::nullopt;
    }
    return albums;
}

std::optional<Value> PhotoDBReader::readMHLF(ByteCursor& section) {
    Value files{foundation::Array{}};
    if (!readList(section, readMHIF, [&](Value file) { files.append(std::move(file)); })) {
        return std::nullopt;
    }
    return files;
}

std::optional<std::int32_t> PhotoDBReader::readMHFD(ByteCursor& file) {
    auto head = readHeader(file, kFileFixed);
    if (!head) {
        PHOTODB_READ_FAILED();
        return std::nullopt;
    }
    return static_cast<std::int32_t>(ByteCursor::u32(*head, 20));
}

std::optional<std::uint32_t> PhotoDBReader::readMHSDIndexType(ByteCursor& file,
                                                              ByteCursor& section) {
    // Read inside its own total length, so that a section of an unknown type is stepped
    // over whole.
    auto whole = takeWholeRecord(file, kSectionFixed);
    if (!whole) return std::nullopt;
    section = whole->body;
    return ByteCursor::u32(whole->head, 12);
}

std::optional<Value> PhotoDBReader::readMHAF(ByteCursor& cursor) {
    if (!readHeader(cursor, kTaggedFixed)) {
        PHOTODB_READ_FAILED();
        return std::nullopt;
    }
    return Value(foundation::Dictionary{});
}

std::optional<std::string> PhotoDBReader::readMHODString(ByteCursor& cursor) {
    auto whole = takeWholeRecord(cursor, kDataFixed);
    if (!whole || ByteCursor::u16(whole->head, 12) != 3) return std::nullopt;
    ByteCursor& record = whole->body;
    // The body: the string's length, its encoding, a word not used, then the string.
    auto body = record.read(kStringFixed);
    const std::size_t length = body ? ByteCursor::u32(*body, 0) : 0;
    if (!body || length > record.remaining()) {
        PHOTODB_READ_FAILED();
        return std::nullopt;
    }
    const Bytes text = *record.read(length);
    switch (ByteCursor::u32(*body, 4)) {
        case 0:
        case 1:
            return decodeString(1, text);
        case 2:
            return decodeString(3, text);
        default:
            LogInfo("Wrong encoding");
            return std::nullopt;
    }
}

PhotoDBReader::PhotoDBReader(std::string dbPath)
    : dbPath_(std::move(dbPath)), photos_(foundation::Dictionary{}) {}

void PhotoDBReader::load() {
    photos_ = Value(foundation::Dictionary{});
    // The copy is mapped, not read into memory: the device decides how large it is.
    const MappedFile file(dbPath_);
    if (!file.isOpen()) {
        PHOTODB_READ_FAILED();
        return;
    }
    loadBytes(file.bytes());
}

void PhotoDBReader::loadBytes(std::span<const std::uint8_t> bytes) {
    photos_ = Value(foundation::Dictionary{});
    ByteCursor file(bytes);
    const auto count = readMHFD(file);
    if (!count) return;
    for (std::int32_t i = 0; i < *count && !file.atEnd(); ++i) {
        ByteCursor section;
        const auto type = readMHSDIndexType(file, section);
        if (!type) break;
        // A later section of the same type replaces the earlier one's list.
        std::optional<Value> list;
        const char* key = nullptr;
        switch (*type) {
            case 1:
                list = readMHLI(section);
                key = "ImageList";
                break;
            case 2:
                list = readMHLA(section);
                key = "AlbumList";
                break;
            case 3:
                list = readMHLF(section);
                key = "CorrelationInfo";
                break;
            default:
                break;
        }
        if (list) photos_.set(key, std::move(*list));
    }
}

}  // namespace media
