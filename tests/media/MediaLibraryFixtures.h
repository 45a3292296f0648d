#pragma once

// SQLite libraries of the shapes devices keep, written with SQLite directly.

#include <filesystem>
#include <string>

#include "data/db/DbFixtures.h"

namespace mediatest {

// A database file from the script, written in one transaction.
inline void writeDatabase(const std::string& path, const std::string& sql) {
    dbtest::runScript(path, "PRAGMA synchronous=OFF; BEGIN;\n" + sql + "COMMIT;\n");
}

// Which track query of the media library's ladder the tables fit: the first (in_my_library
// and item_playback), the second (is_rental; rates in item_stats), the third (item_artwork),
// the fourth, or none (no item_extra at all).
enum class LadderForm { First, Second, Third, Fourth, None };

struct MediaLibraryShape {
    LadderForm form = LadderForm::First;
    bool mediaType = true;        // the item table has media_type
    bool blobMembership = false;  // container_items with id blobs instead of container_item
};

// Three tracks: 101 a song of 5 GB at base location 3; 102 a podcast by its kind, at an
// absolute location, whose genre names a video podcast; 103 with no location. Playlists
// "Road" (101, 102), the smart "Smart" (102), the genius "Genius", and a hidden one.
inline std::string mediaLibrarySql(const MediaLibraryShape& shape) {
    const bool first = shape.form == LadderForm::First;
    const bool second = shape.form == LadderForm::Second;
    std::string sql;
    sql += "CREATE TABLE item (item_pid INTEGER PRIMARY KEY, ";
    if (shape.mediaType) sql += "media_type INTEGER, ";
    if (first) sql += "in_my_library INTEGER, ";
    if (second) sql += "is_rental INTEGER, is_itunes_u INTEGER, is_podcast INTEGER, ";
    sql +=
        "media_kind INTEGER, base_location_id INTEGER, album_artist_pid INTEGER, "
        "item_artist_pid INTEGER, album_pid INTEGER, composer_pid INTEGER, genre_id INTEGER, "
        "track_number INTEGER, track_count INTEGER, disc_number INTEGER, disc_count INTEGER, "
        "is_compilation INTEGER, year INTEGER);\n";
    if (shape.form != LadderForm::None) {
        sql +=
            "CREATE TABLE item_extra (item_pid INTEGER PRIMARY KEY, title TEXT, total_time_ms "
            "INTEGER, location TEXT, file_size INTEGER, content_rating INTEGER, "
            "content_rating_level INTEGER, category_id INTEGER, comment TEXT, grouping TEXT, "
            "description TEXT, description_long TEXT, is_audible_audio_book INTEGER, "
            "artwork_cache_id INTEGER);\n";
    }
    sql +=
        "CREATE TABLE album_artist (album_artist_pid INTEGER, album_artist TEXT);\n"
        "CREATE TABLE item_artist (item_artist_pid INTEGER, item_artist TEXT);\n"
        "CREATE TABLE album (album_pid INTEGER, album TEXT);\n"
        "CREATE TABLE composer (composer_pid INTEGER, composer TEXT);\n";
    sql += second ? "CREATE TABLE item_stats (item_pid INTEGER, user_rating INTEGER, "
                    "play_count_user INTEGER, sample_rate INTEGER, bit_rate INTEGER);\n"
                  : "CREATE TABLE item_stats (item_pid INTEGER, user_rating INTEGER, "
                    "play_count_user INTEGER);\n"
                    "CREATE TABLE item_playback (item_pid INTEGER, sample_rate INTEGER, "
                    "bit_rate INTEGER);\n"
                    "INSERT INTO item_playback VALUES (101, 44100, 256);\n";
    if (shape.form == LadderForm::Third) {
        sql +=
            "CREATE TABLE item_artwork (item_pid INTEGER, best_artwork_token INTEGER);\n"
            "INSERT INTO item_artwork VALUES (101, 55);\n";
    }
    sql +=
        "CREATE TABLE base_location (base_location_id INTEGER, path TEXT);\n"
        "INSERT INTO base_location VALUES (3, 'iTunes_Control/Music');\n"
        "CREATE TABLE genre (genre_id INTEGER, genre TEXT);\n"
        "INSERT INTO genre VALUES (1, 'Rock'), (2, 'Podcast VIDEO'), (3, 'Audiobook');\n"
        "CREATE TABLE location_kind (location_kind_id INTEGER, kind TEXT);\n"
        "INSERT INTO location_kind VALUES (3, 'MPEG audio file');\n"
        "CREATE TABLE container (container_pid INTEGER, name TEXT, is_hidden INTEGER, "
        "smart_is_dynamic INTEGER, smart_is_genius INTEGER);\n"
        "INSERT INTO container VALUES (1, 'Road', 0, 0, 0), (2, 'Smart', 0, 1, 0), "
        "(3, 'Genius', 0, 0, 1), (4, 'Hidden', 1, 0, 0);\n"
        "CREATE TABLE artwork (artwork_token INTEGER, relative_path TEXT);\n"
        "INSERT INTO artwork VALUES (55, 'aa/bb.jpg');\n"
        "CREATE TABLE artwork_token (artwork_token INTEGER, entity_pid INTEGER);\n"
        "INSERT INTO artwork_token VALUES (55, 101);\n"
        "INSERT INTO album_artist VALUES (1, 'Various');\n"
        "INSERT INTO item_artist VALUES (1, 'Ann'), (2, 'Bob');\n"
        "INSERT INTO album VALUES (1, 'First');\n"
        "INSERT INTO item_stats VALUES (101, 80, 7" +
        std::string(second ? ", 44100, 256" : "") + ");\n";
    sql += shape.blobMembership
               ? "CREATE TABLE container_items (container_pid INTEGER, item_pid_data BLOB);\n"
                 // 101 and 102 little-endian, then four bytes that make no whole id.
                 "INSERT INTO container_items VALUES (1, "
                 "X'65000000000000006600000000000000FFFFFFFF'), (2, X'6600000000000000');\n"
               : "CREATE TABLE container_item (container_pid INTEGER, item_pid INTEGER);\n"
                 "INSERT INTO container_item VALUES (1, 101), (1, 102), (2, 102), (9, 101);\n";
    auto item = [&](const char* pid, int mediaType, int kind, int base, int genre) {
        std::string row = "INSERT INTO item VALUES (" + std::string(pid) + ", ";
        if (shape.mediaType) row += std::to_string(mediaType) + ", ";
        if (first) row += "1, ";
        if (second) row += "0, 1, 0, ";
        return row + std::to_string(kind) + ", " + std::to_string(base) + ", 1, " +
               (std::string(pid) == "101" ? "1" : "2") + ", 1, NULL, " + std::to_string(genre) +
               ", 4, 10, 1, 2, 0, 2007);\n";
    };
    sql += item("101", 1, 1, 3, 1) + item("102", 0, 6, 0, 2) + item("103", 4, 8, 3, 3);
    if (shape.form != LadderForm::None) {
        sql +=
            "INSERT INTO item_extra VALUES (101, 'Alpha', 180000, 'F01/a.mp3', 5000000000, 1, "
            "2, 3, 'c', 'g', 'd', 'dl', 0, 55), "
            "(102, 'Beta', 60000, '/abs/b.m4v', 1000, 0, 0, 0, NULL, NULL, NULL, NULL, 0, 0), "
            "(103, 'Gamma', 1000, '', 10, 0, 0, 0, '', '', '', '', 1, 0);\n";
    }
    return sql;
}

// The Library.itdb group: item 201 at base location 0 (location as stored), item 202 at a
// base location with no folder row, item 203 with no location row; playlist "Mix" (201, 203).
inline const char* kLibraryItdbSql =
    "CREATE TABLE item (pid INTEGER, media_type INTEGER, title TEXT, artist TEXT, album TEXT, "
    "genre_id INTEGER, total_time_ms INTEGER, track_number INTEGER, year INTEGER, is_song "
    "INTEGER, is_movie INTEGER, is_ringtone INTEGER, artwork_cache_id INTEGER, grouping TEXT);\n"
    "INSERT INTO item VALUES (201, 1, 'One', 'Ann', 'Al', 1, 6000000000, 1, 2001, 1, 0, 0, 55, "
    "'grp'), (202, 2, 'Two', NULL, NULL, 9, 2, 2, 2002, 0, 0, 1, 0, NULL), "
    "(203, 0, 'Three', 'C', 'D', 1, 3, 3, 2003, 0, 1, 0, 0, NULL);\n"
    "CREATE TABLE genre_map (id INTEGER, genre TEXT);\n"
    "INSERT INTO genre_map VALUES (1, 'Jazz');\n"
    "CREATE TABLE location_kind_map (id INTEGER, kind TEXT);\n"
    "INSERT INTO location_kind_map VALUES (0, 'AAC audio file');\n"
    "CREATE TABLE container (pid INTEGER, name TEXT, is_hidden INTEGER, smart_is_dynamic "
    "INTEGER, smart_is_genius INTEGER);\n"
    "INSERT INTO container VALUES (77, 'Mix', 0, 0, 0);\n"
    "CREATE TABLE item_to_container (container_pid INTEGER, item_pid INTEGER);\n"
    "INSERT INTO item_to_container VALUES (77, 201), (77, 203);\n"
    "CREATE TABLE avformat_info (item_pid INTEGER, sample_rate INTEGER, bit_rate INTEGER);\n"
    "INSERT INTO avformat_info VALUES (201, 48000, 320);\n"
    "CREATE TABLE artwork (artwork_token INTEGER, relative_path TEXT);\n"
    "INSERT INTO artwork VALUES (55, 'cc/dd.jpg');\n";
inline const char* kLocationsItdbSql =
    "CREATE TABLE base_location (id INTEGER, path TEXT);\n"
    "INSERT INTO base_location VALUES (5, 'iTunes_Control/Music');\n"
    "CREATE TABLE location (item_pid INTEGER, location TEXT, base_location_id INTEGER, "
    "file_size INTEGER);\n"
    "INSERT INTO location VALUES (201, 'F00/one.m4a', 0, 6000000000), (202, 'F01/two.m4v', 9, "
    "12);\n";
inline const char* kDynamicItdbSql =
    "CREATE TABLE item_stats (item_pid INTEGER, user_rating INTEGER, play_count_user INTEGER);\n"
    "INSERT INTO item_stats VALUES (201, 100, 12);\n";

// A ringtone list: one whole entry, one with neither "PID" nor "Name".
inline const char* kRingtonesPlist =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Ringtones</key>"
    "<dict><key>AAAA.m4r</key><dict><key>PID</key><integer>-42</integer><key>Name</key>"
    "<string>Bell</string><key>Artist</key><string>Me</string><key>Total Time</key>"
    "<integer>30000</integer></dict><key>BBBB.m4r</key><dict><key>Genre</key><string>Tone"
    "</string></dict></dict></dict></plist>\n";

// A phone's media folder at `media` holding the library of the second ladder form.
inline void writePhoneMediaLibrary(const std::string& media) {
    std::filesystem::create_directories(media + "/iTunes_Control/iTunes");
    writeDatabase(media + "/iTunes_Control/iTunes/MediaLibrary.sqlitedb",
                  mediaLibrarySql({LadderForm::Second}));
}

}  // namespace mediatest
