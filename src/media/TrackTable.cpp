#include "media/TrackTable.h"

#include <algorithm>

namespace media {

foundation::Dictionary* TrackTable::find(std::optional<std::int64_t> key) {
    const std::size_t at = key ? indexOf(*key) : kNone;
    return at == kNone ? nullptr : records_[at].dictionary();
}

void TrackTable::put(std::int64_t key, foundation::Value record) {
    if (const std::size_t at = indexOf(key); at != kNone) {
        records_[at] = std::move(record);
        return;
    }
    if (inOrder_ && !keys_.empty() && key < keys_.back()) startIndex();
    if (!inOrder_) index_.emplace(key, keys_.size());
    keys_.push_back(key);
    records_.push_back(std::move(record));
}

void TrackTable::reserve(std::size_t count) {
    keys_.reserve(count);
    records_.reserve(count);
}

std::size_t TrackTable::indexOf(std::int64_t key) const {
    if (!inOrder_) {
        const auto found = index_.find(key);
        return found == index_.end() ? kNone : found->second;
    }
    if (keys_.empty() || key > keys_.back()) return kNone;
    const auto found = std::lower_bound(keys_.begin(), keys_.end(), key);
    return found != keys_.end() && *found == key ? static_cast<std::size_t>(found - keys_.begin())
                                                 : kNone;
}

void TrackTable::startIndex() {
    inOrder_ = false;
    index_.reserve(keys_.capacity());
    for (std::size_t i = 0; i < keys_.size(); ++i) index_.emplace(keys_[i], i);
}

}  // namespace media
