#include "media/RecordMemory.h"

#include <map>
#include <vector>

namespace media::RecordMemory {

namespace {

// A red-black tree node holds its colour and three links before the entry.
constexpr std::size_t kTreeNodeLinks = 4 * sizeof(void*);

}  // namespace

std::uint64_t textBytes(const std::string& text) {
    // A string's own buffer holds 15 characters; longer ones live in a block of their own.
    const std::string empty;
    return text.capacity() > empty.capacity() ? heapBlock(text.capacity() + 1) : 0;
}

std::uint64_t entryBytes(const std::string& key) {
    return heapBlock(kTreeNodeLinks + sizeof(foundation::Dictionary::value_type)) + textBytes(key);
}

std::uint64_t ownedBytes(const foundation::Value& value) {
    std::uint64_t bytes = 0;
    // A work list rather than recursion: a value may nest deeply.
    std::vector<const foundation::Value*> pending{&value};
    while (!pending.empty()) {
        const foundation::Value* current = pending.back();
        pending.pop_back();
        if (const std::string* text = current->string()) {
            bytes += textBytes(*text);
        } else if (const foundation::Data* data = current->data()) {
            bytes += heapBlock(data->capacity());
        } else if (const foundation::Array* items = current->array()) {
            bytes += heapBlock(sizeof(foundation::Array)) +
                     heapBlock(items->capacity() * sizeof(foundation::Value));
            for (const auto& item : *items) pending.push_back(&item);
        } else if (const foundation::Dictionary* entries = current->dictionary()) {
            bytes += heapBlock(sizeof(foundation::Dictionary));
            for (const auto& entry : *entries) {
                bytes += entryBytes(entry.first);
                pending.push_back(&entry.second);
            }
        }
    }
    return bytes;
}

}  // namespace media::RecordMemory
