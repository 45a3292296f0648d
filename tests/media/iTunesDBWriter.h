#pragma once

// A small writer of binary iTunesDB files for the reader's tests, laid out as devices and
// desktop software store them (long headers, total lengths covering the nested records).

#include <map>
#include <string>

#include "RecordWriter.h"

namespace mediatest {

struct TrackSpec {
    std::uint32_t id = 0;
    std::map<std::uint32_t, std::u16string> strings;  // object type -> text
    std::uint32_t mediaType = 0;
    std::uint8_t movieFlag = 0;
    std::uint32_t size = 0, length = 0, trackNumber = 0, totalTracks = 0, year = 0;
    std::uint32_t playCount = 0;
    std::uint8_t rating = 0;
};

struct PlaylistSpec {
    std::u16string name;
    bool master = false;
    bool smart = false;
    std::vector<std::uint32_t> trackIDs;
    bool named = true;  // false: no name object at all
};

struct DatabaseSpec {
    std::vector<TrackSpec> tracks;
    std::vector<PlaylistSpec> playlists;
    bool otherSetBetween = false;  // a type-3 set between the track and playlist sets
};

inline Bytes stringObject(std::uint32_t type, std::u16string_view text) {
    Bytes object = header("mhod", 24);
    put32(object, 12, type);
    Bytes body(16, 0);
    put32(body, 0, 1);  // position
    put32(body, 4, static_cast<std::uint32_t>(text.size() * 2));
    append(object, body);
    append(object, utf16le(text));
    put32(object, 8, static_cast<std::uint32_t>(object.size()));
    return object;
}

inline Bytes trackRecord(const TrackSpec& spec) {
    Bytes head = header("mhit", 388);
    put32(head, 12, static_cast<std::uint32_t>(spec.strings.size()));
    put32(head, 16, spec.id);
    head[31] = spec.rating;
    put32(head, 36, spec.size);
    put32(head, 40, spec.length);
    put32(head, 44, spec.trackNumber);
    put32(head, 48, spec.totalTracks);
    put32(head, 52, spec.year);
    put32(head, 80, spec.playCount);
    head[177] = spec.movieFlag;
    put32(head, 208, spec.mediaType);
    Bytes objects;
    for (const auto& [type, text] : spec.strings) append(objects, stringObject(type, text));
    return withTotal(head, objects);
}

inline Bytes playlistRecord(const PlaylistSpec& spec) {
    Bytes head = header("mhyp", 108);
    std::uint32_t objectCount = spec.named ? 1 : 0;
    Bytes objects = spec.named ? stringObject(1, spec.name) : Bytes();
    if (spec.smart) {
        Bytes rules = header("mhod", 24);
        put32(rules, 12, 50);
        rules.resize(24 + 8, 1);
        put32(rules, 8, static_cast<std::uint32_t>(rules.size()));
        append(objects, rules);
        ++objectCount;
    }
    put32(head, 12, objectCount);
    put32(head, 16, static_cast<std::uint32_t>(spec.trackIDs.size()));
    head[20] = spec.master ? 1 : 0;
    for (std::uint32_t id : spec.trackIDs) {
        Bytes item = header("mhip", 76);
        put32(item, 24, id);
        // The item's own position object, as desktop software writes it.
        Bytes position = header("mhod", 24);
        put32(position, 12, 100);
        position.resize(44, 0);
        put32(position, 8, 44);
        append(objects, withTotal(item, position));
    }
    return withTotal(head, objects);
}

inline Bytes writeITunesDB(const DatabaseSpec& spec) {
    Bytes tracks;
    for (const auto& track : spec.tracks) append(tracks, trackRecord(track));
    Bytes playlists;
    for (const auto& playlist : spec.playlists) append(playlists, playlistRecord(playlist));
    Bytes sets = listSet(1, "mhlt", spec.tracks.size(), tracks);
    if (spec.otherSetBetween) {
        append(sets, listSet(3, "mhlp", 1, playlistRecord({u"Podcasts", false, false, {1, 2}})));
    }
    append(sets, listSet(2, "mhlp", spec.playlists.size(), playlists));
    return fileOf("mhbd", 104, spec.otherSetBetween ? 3 : 2, sets);
}

}  // namespace mediatest
