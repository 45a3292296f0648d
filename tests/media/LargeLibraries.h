#pragma once

// Libraries of a real library's size, and ones of as many records as a few megabytes hold.

#include <filesystem>
#include <string>

#include "HostileLibraries.h"
#include "MediaLibraryFixtures.h"

namespace mediatest {

// A Library.itdb group whose `count` items are each a pid, an empty title and a song flag,
// with a Locations.itdb of no rows: every item still makes a whole record.
inline void writeBareItemsGroup(const std::string& folder, int count) {
    std::filesystem::create_directories(folder);
    writeDatabase(folder + "/Library.itdb",
                  "CREATE TABLE item (pid INTEGER PRIMARY KEY, title TEXT, is_song INTEGER);\n" +
                      rowsOf(count, "item SELECT i, '', 1 FROM c"));
    writeDatabase(folder + "/Locations.itdb",
                  "CREATE TABLE base_location (id INTEGER, path TEXT);\n"
                  "CREATE TABLE location (item_pid INTEGER, location TEXT, base_location_id "
                  "INTEGER, file_size INTEGER);\n");
}

// A media library of `count` tracks (pids from 1001) with the texts of a large real one:
// 300-byte comments, a 60-byte composer, 40-byte groupings, and every fourth track a podcast
// episode with a 2,000-byte description; 2,000 artists and 500 albums; and three playlists
// ("All 1" to "All 3") that hold every track.
inline void writeRealSizedLibrary(const std::string& path, int count) {
    std::string sql = mediaLibrarySql({LadderForm::First});
    sql +=
        "DELETE FROM item; DELETE FROM item_extra; DELETE FROM container_item;\n"
        "DELETE FROM composer; DELETE FROM item_artist; DELETE FROM album;\n";
    // item: pid, media_type, in_my_library, media_kind, base location, album artist, artist,
    // album, composer, genre, track number and count, disc number and count, compilation, year.
    sql += rowsOf(count,
                  "item SELECT 1000 + i, 1, 1, CASE WHEN i % 4 = 0 THEN 6 ELSE 1 END, 3, 1, "
                  "1 + i % 2000, 1 + i % 500, 1, 1 + i % 3, 1 + i % 12, 12, 1, 1, 0, "
                  "1990 + i % 30 FROM c");
    // item_extra: pid, title, length, location, size, ratings, category, comment, grouping,
    // description, long description, audio book, artwork id.
    sql += rowsOf(count,
                  "item_extra SELECT 1000 + i, 'Title of track ' || i, 180000, "
                  "'F' || (i % 50) || '/track' || i || '.m4a', 5000000, 0, 0, 0, "
                  "printf('%.*c', 300, 'c'), printf('%.*c', 40, 'g'), "
                  "CASE WHEN i % 4 = 0 THEN printf('%.*c', 2000, 'd') ELSE '' END, '', 0, i "
                  "FROM c");
    sql += rowsOf(2000, "item_artist SELECT i, 'Artist number ' || i FROM c");
    sql += rowsOf(500, "album SELECT i, 'Album called ' || i FROM c");
    sql += "INSERT INTO composer VALUES (1, printf('%.*c', 60, 'p'));\n";
    sql += "INSERT INTO container VALUES (11, 'All 1', 0, 0, 0), (12, 'All 2', 0, 0, 0), "
           "(13, 'All 3', 0, 0, 0);\n";
    for (int list = 11; list <= 13; ++list) {
        sql += rowsOf(count, "container_item SELECT " + std::to_string(list) + ", 1000 + i FROM c");
    }
    // The indexes a device keeps, without which the joins of the track query take minutes.
    sql +=
        "CREATE INDEX item_artist_by_pid ON item_artist (item_artist_pid);\n"
        "CREATE INDEX album_by_pid ON album (album_pid);\n"
        "CREATE INDEX composer_by_pid ON composer (composer_pid);\n"
        "CREATE INDEX album_artist_by_pid ON album_artist (album_artist_pid);\n"
        "CREATE INDEX item_stats_by_pid ON item_stats (item_pid);\n"
        "CREATE INDEX item_playback_by_pid ON item_playback (item_pid);\n";
    writeDatabase(path, sql);
}

}  // namespace mediatest
