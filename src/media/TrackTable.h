#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "foundation/Value.h"

namespace media {

// The track records of a library walk by pid, in row order; a later row replaces the earlier
// record in place. Rows come in pid order as a rule: while they do, the pids are found by a
// binary search of their sorted list, and only a library out of order pays for a hash table.
class TrackTable {
public:
    // The record of the pid; nullptr for none or an unknown pid.
    foundation::Dictionary* find(std::optional<std::int64_t> key);
    void put(std::int64_t key, foundation::Value record);
    std::size_t size() const { return records_.size(); }
    foundation::Array take() { return std::move(records_); }
    // Room for about this many records, as the location rows suggest.
    void reserve(std::size_t count);

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    std::size_t indexOf(std::int64_t key) const;
    void startIndex();

    std::vector<std::int64_t> keys_;  // row order; ascending while inOrder_
    bool inOrder_ = true;
    std::unordered_map<std::int64_t, std::size_t> index_;  // only once out of order
    foundation::Array records_;
};

}  // namespace media
