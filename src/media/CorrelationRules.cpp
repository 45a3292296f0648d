#include "media/CorrelationRules.h"

#include <optional>

namespace media {

namespace {

struct Entry {
    std::uint32_t id;
    std::int32_t size;
};

std::optional<Entry> entryOf(const foundation::Value& value) {
    if (!value.isDictionary()) return std::nullopt;
    return Entry{static_cast<std::uint32_t>(value["correlationID"].toUInt64().value_or(0)),
                 static_cast<std::int32_t>(value["imageSize"].toUInt64().value_or(0))};
}

}  // namespace

std::uint32_t CorrelationRules::correlationIDForThumbnail(const foundation::Value& fileList) {
    const foundation::Array* entries = fileList.array();
    if (entries == nullptr) return 0;
    std::optional<Entry> smallest;
    std::optional<Entry> previous;
    for (const auto& value : *entries) {
        auto entry = entryOf(value);
        if (!entry) continue;
        if (entry->id == kSmallThumbnailID) return entry->id;
        if (entry->size > 20000 && entry->id != kExcludedID) return entry->id;
        if (!smallest || smallest->size == 0 || entry->size < smallest->size) {
            previous = smallest;
            smallest = entry;
        }
    }
    if (!smallest) return 0;
    if (smallest->id == kExcludedID) return previous ? previous->id : 0;
    return smallest->id;
}

std::uint32_t CorrelationRules::fullsizeCorrelationIDForPhoto(const foundation::Value& image) {
    const foundation::Dictionary* subImages = image["subImages"].dictionary();
    if (subImages == nullptr) return 0;
    std::uint64_t bestSize = 0;
    std::uint32_t bestID = 0;
    for (const auto& [key, subImage] : *subImages) {
        const std::uint64_t size = subImage["imageSize"].toUInt64().value_or(0);
        if (size > bestSize) {
            bestSize = size;
            bestID = static_cast<std::uint32_t>(subImage["correlationID"].toUInt64().value_or(0));
        }
    }
    return bestID;
}

std::uint32_t CorrelationRules::correlationIDForFullsize(const foundation::Value& fileList,
                                                         std::uint32_t fallback) {
    std::optional<Entry> largest;
    if (const foundation::Array* entries = fileList.array()) {
        for (const auto& value : *entries) {
            auto entry = entryOf(value);
            if (entry && (!largest || entry->size > largest->size)) largest = entry;
        }
    }
    if (!largest || largest->id == 0) return fallback;
    return largest->id;
}

}  // namespace media
