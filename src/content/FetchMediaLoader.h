#pragma once

#include <cstdint>
#include <memory>

#include "foundation/Value.h"

namespace content {

// What the "/fetch" responder reads of a device's media loader, which lives in a layer above
// this one: the playlists and tracks as the page receives them, and the stop of its matching
// when the device leaves.
class FetchMediaLoader {
public:
    virtual ~FetchMediaLoader() = default;
    // {"public": [...], "user": [...]}: playlist objects with "name", "type", "tag", "pid" and
    // the track ids as decimal text, "hidden", "smart", "genius", "master", "tracks".
    virtual foundation::Value playlistsAnswer() const = 0;
    // {"records": [...], "total": n}: the track records with "pid" as decimal text.
    virtual foundation::Value tracksAnswer() const = 0;
    // The loader's own record of one track, found by its index without copying the list;
    // null when no track has this pid.
    virtual std::shared_ptr<const foundation::Value> trackWithPid(std::int64_t pid) const = 0;
    virtual void cancelMatching() = 0;
};

}  // namespace content
