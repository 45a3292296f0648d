#include "foundation/BinaryPropertyListWriter.h"

#include <bit>
#include <limits>

#include "foundation/PropertyListDate.h"
#include "foundation/PropertyListFormCheck.h"
#include "foundation/Utf8.h"

namespace foundation::plist {

namespace {

constexpr std::size_t kLargestSharedScalar = 256;

void appendBigEndian(Data& out, std::uint64_t value, unsigned width) {
    for (unsigned i = width; i > 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
}

// The width (1, 2, 4 or 8 bytes) that holds the value.
unsigned widthFor(std::uint64_t value) {
    if (value <= 0xFF) return 1;
    if (value <= 0xFFFF) return 2;
    if (value <= 0xFFFFFFFF) return 4;
    return 8;
}

void appendInteger(Data& out, std::uint64_t value) {
    const unsigned width = widthFor(value);
    out.push_back(static_cast<std::uint8_t>(0x10 | std::countr_zero(width)));
    appendBigEndian(out, value, width);
}

// A marker with its count: in the low nibble when small, else as a following integer.
void appendMarker(Data& out, std::uint8_t marker, std::uint64_t count) {
    if (count < 0xF) {
        out.push_back(static_cast<std::uint8_t>(marker | count));
        return;
    }
    out.push_back(static_cast<std::uint8_t>(marker | 0xF));
    appendInteger(out, count);
}

Data encodeString(const std::string& text) {
    Data out;
    bool ascii = true;
    for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        appendMarker(out, 0x50, text.size());
        out.insert(out.end(), text.begin(), text.end());
        return out;
    }
    const std::u16string units = utf8::toUtf16(text);
    appendMarker(out, 0x60, units.size());
    for (const char16_t unit : units) appendBigEndian(out, unit, 2);
    return out;
}

Data encodeScalar(const Value& value) {
    Data out;
    switch (value.kind()) {
        case Value::Kind::Boolean:
            out.push_back(*value.boolean() ? 0x09 : 0x08);
            break;
        case Value::Kind::Int64:
            if (*value.int64() < 0) {
                out.push_back(0x13);
                appendBigEndian(out, static_cast<std::uint64_t>(*value.int64()), 8);
            } else {
                appendInteger(out, static_cast<std::uint64_t>(*value.int64()));
            }
            break;
        case Value::Kind::UInt64:
            if (*value.uint64() >
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                out.push_back(0x14);
                appendBigEndian(out, 0, 8);
                appendBigEndian(out, *value.uint64(), 8);
            } else {
                appendInteger(out, *value.uint64());
            }
            break;
        case Value::Kind::Double:
            out.push_back(0x23);
            appendBigEndian(out, std::bit_cast<std::uint64_t>(*value.real()), 8);
            break;
        case Value::Kind::Date:
            out.push_back(0x33);
            appendBigEndian(out,
                            std::bit_cast<std::uint64_t>(value.date()->secondsSince1970 -
                                                         kSecondsFrom1970To2001),
                            8);
            break;
        case Value::Kind::Data:
            appendMarker(out, 0x40, value.data()->size());
            out.insert(out.end(), value.data()->begin(), value.data()->end());
            break;
        case Value::Kind::String:
            out = encodeString(*value.string());
            break;
        default:
            break;  // containers are not scalars; nil and null were refused before
    }
    return out;
}

}  // namespace

std::optional<Data> BinaryPropertyListWriter::write(const Value& value, std::string* error) {
    if (auto why = findUnwritable(value, Target::Binary)) {
        if (error) *error = *why;
        return std::nullopt;
    }
    objects_.clear();
    scalarRefs_.clear();
    add(value);
    return serialize();
}

std::uint64_t BinaryPropertyListWriter::addScalar(Data encoded) {
    // Repeats worth sharing are keys, short strings and numbers; big blobs are kept once.
    if (encoded.size() > kLargestSharedScalar) {
        objects_.push_back({std::move(encoded), 0, 0, {}});
        return objects_.size() - 1;
    }
    const auto [it, inserted] = scalarRefs_.try_emplace(std::move(encoded), objects_.size());
    if (inserted) objects_.push_back({it->first, 0, 0, {}});
    return it->second;
}

std::uint64_t BinaryPropertyListWriter::add(const Value& value) {
    if (const auto* items = value.array()) {
        const std::uint64_t ref = objects_.size();
        objects_.push_back({{}, 0xA0, items->size(), {}});
        std::vector<std::uint64_t> refs;
        refs.reserve(items->size());
        for (const auto& item : *items) refs.push_back(add(item));
        objects_[ref].refs = std::move(refs);
        return ref;
    }
    if (const auto* entries = value.dictionary()) {
        const std::uint64_t ref = objects_.size();
        objects_.push_back({{}, 0xD0, entries->size(), {}});
        std::vector<std::uint64_t> refs;
        refs.reserve(entries->size() * 2);
        for (const auto& entry : *entries) refs.push_back(addScalar(encodeString(entry.first)));
        for (const auto& entry : *entries) refs.push_back(add(entry.second));
        objects_[ref].refs = std::move(refs);
        return ref;
    }
    return addScalar(encodeScalar(value));
}

Data BinaryPropertyListWriter::serialize() const {
    const unsigned refSize = widthFor(objects_.size() - 1);
    Data out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<std::uint64_t> offsets;
    offsets.reserve(objects_.size());
    for (const Object& object : objects_) {
        offsets.push_back(out.size());
        if (object.containerMarker == 0) {
            out.insert(out.end(), object.encoded.begin(), object.encoded.end());
            continue;
        }
        appendMarker(out, object.containerMarker, object.count);
        for (const std::uint64_t ref : object.refs) appendBigEndian(out, ref, refSize);
    }

    const std::uint64_t offsetTableStart = out.size();
    const unsigned offsetSize = widthFor(offsets.back());
    for (const std::uint64_t offset : offsets) appendBigEndian(out, offset, offsetSize);

    out.insert(out.end(), 6, 0);  // unused, sort version
    out.push_back(static_cast<std::uint8_t>(offsetSize));
    out.push_back(static_cast<std::uint8_t>(refSize));
    appendBigEndian(out, objects_.size(), 8);
    appendBigEndian(out, 0, 8);  // the top object comes first
    appendBigEndian(out, offsetTableStart, 8);
    return out;
}

}  // namespace foundation::plist
