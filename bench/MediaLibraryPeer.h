#pragma once

// The fair peer of the media-library reader: the same queries, each prepared once and
// stepped through SQLite's C calls, building the same track records in the same order. It
// knows only the newest library shape (the first track query, with media types, artwork by
// track), which is what the benchmark's library has.

#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>

#include <fmt/format.h>

#include "foundation/PathComponents.h"
#include "foundation/Value.h"
#include "media/MediaLibraryQueries.h"

namespace bench {

class MediaLibraryPeer {
public:
    explicit MediaLibraryPeer(const std::string& path) {
        // Opened as the reader opens its copies: read-only, and used by one thread, so without
        // SQLite's lock around every call.
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK)
            std::abort();
    }
    ~MediaLibraryPeer() { sqlite3_close(db_); }
    MediaLibraryPeer(const MediaLibraryPeer&) = delete;
    MediaLibraryPeer& operator=(const MediaLibraryPeer&) = delete;

    // The visible playlists' ids, names and member ids, as the reader gathers them.
    std::size_t playlistMembers() {
        std::unordered_map<std::int64_t, std::pair<std::string, std::vector<std::int64_t>>> lists;
        Statement playlists(db_, "SELECT * FROM container WHERE is_hidden=0;");
        while (playlists.step()) lists[playlists.int64(0)].first = playlists.text(1);
        Statement members(db_, "SELECT * FROM container_item;");
        std::size_t count = 0;
        while (members.step()) {
            if (auto found = lists.find(members.int64(0)); found != lists.end()) {
                found->second.second.push_back(members.int64(1));
                ++count;
            }
        }
        return count;
    }

    foundation::Array tracks() {
        std::unordered_map<std::int64_t, std::string> base, genre, kind;
        Statement bases(db_, "SELECT * FROM base_location;");
        while (bases.step()) base[bases.int64(0)] = bases.text(1);
        std::unordered_map<std::int64_t, std::pair<std::string, std::int64_t>> location;
        Statement locations(db_,
                            "SELECT item.item_pid, item_extra.location, item_extra.file_size, "
                            "item.base_location_id FROM item, item_extra WHERE "
                            "item.item_pid=item_extra.item_pid ;");
        while (locations.step()) {
            const std::int64_t baseId = locations.int64(3);
            auto& [path, kindKey] = location[locations.int64(0)];
            kindKey = baseId;
            path = baseId == 0
                       ? locations.text(1)
                       : foundation::appendingPathComponent(base[baseId], locations.text(1));
        }
        Statement genres(db_, "SELECT * FROM genre;");
        while (genres.step()) genre[genres.int64(0)] = genres.text(1);
        Statement kinds(db_, "SELECT * FROM location_kind");
        while (kinds.step()) kind[kinds.int64(0)] = kinds.text(1);

        foundation::Array records;
        Statement rows(db_, media::firstTrackQuery(true));
        Statement artwork(db_, std::string(media::kArtworkByEntityQuery));
        while (rows.step()) {
            const std::int64_t pid = rows.int64(1);
            const std::int64_t mediaKind = rows.int64(30);
            const std::int64_t mediaType = rows.int64(0);
            foundation::Dictionary record;
            record["pid"] = pid;
            record["pidstr"] = fmt::format("{:X}", static_cast<std::uint64_t>(pid));
            // Column positions of the first track query.
            for (auto [at, key] : {std::pair{2, "title"},
                                   {3, "artist"},
                                   {4, "album"},
                                   {16, "album_artist"},
                                   {17, "composer"},
                                   {18, "comment"},
                                   {20, "description"},
                                   {21, "description_long"},
                                   {23, "filename"}})
                record[key] = rows.text(at);
            for (auto [at, key] : {std::pair{5, "length"},
                                   {6, "trackNumber"},
                                   {7, "totalTracks"},
                                   {8, "year"},
                                   {10, "content_rating"},
                                   {11, "content_rating_level"},
                                   {13, "disc_number"},
                                   {14, "disc_count"},
                                   {15, "category_id"},
                                   {25, "sampleRate"},
                                   {26, "bitRate"},
                                   {27, "stars"},
                                   {28, "playCount"}})
                record[key] = rows.int32(at);
            record["media_kind"] = static_cast<std::int32_t>(mediaKind);
            record["artwork_cache_id"] = 0;
            record["size"] = rows.int64(24);
            record["is_audio_book"] = rows.int32(9) != 0;
            record["is_compilation"] = rows.int32(12) != 0;
            record["is_itunes_u"] = false;
            record["is_song"] = mediaKind == 1 || mediaType == 1;
            record["is_podcast"] = mediaKind == 6 || mediaType == 4;
            record["media_type"] = mediaType;
            const auto place = location.find(pid);
            record["location"] = place == location.end() ? std::string() : place->second.first;
            if (auto name = genre.find(rows.int64(29)); name != genre.end()) {
                record["genre"] = name->second;
                classifyByGenre(record, name->second);
            }
            if (place != location.end()) {
                if (auto text = kind.find(place->second.second); text != kind.end())
                    record["fileType"] = text->second;
            }
            if (mediaType == 2) record["is_movie"] = true;
            artwork.bind(pid);
            if (artwork.step()) record["artwork_relative_path"] = artwork.text(0);
            artwork.reset();
            records.emplace_back(std::move(record));
        }
        return records;
    }

private:
    class Statement {
    public:
        Statement(sqlite3* db, const std::string& sql) {
            if (sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &statement_, nullptr) !=
                SQLITE_OK)
                std::abort();
        }
        ~Statement() { sqlite3_finalize(statement_); }
        Statement(const Statement&) = delete;
        Statement& operator=(const Statement&) = delete;

        bool step() { return sqlite3_step(statement_) == SQLITE_ROW; }
        void reset() { sqlite3_reset(statement_); }
        void bind(std::int64_t value) { sqlite3_bind_int64(statement_, 1, value); }
        std::int64_t int64(int at) const { return sqlite3_column_int64(statement_, at); }
        std::int32_t int32(int at) const { return sqlite3_column_int(statement_, at); }
        std::string text(int at) const {
            const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, at));
            return bytes ? std::string(bytes, std::size_t(sqlite3_column_bytes(statement_, at)))
                         : std::string();
        }

    private:
        sqlite3_stmt* statement_ = nullptr;
    };

    static void classifyByGenre(foundation::Dictionary& record, std::string lower) {
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        auto has = [&](std::string_view word) { return lower.find(word) != std::string::npos; };
        if (has("podcast")) record["is_podcast"] = true;
        if (has("audio") && !has("book")) record["is_song"] = true;
        if (has("mpeg-4") || has("video")) record["is_movie"] = true;
    }

    sqlite3* db_ = nullptr;
};

}  // namespace bench
