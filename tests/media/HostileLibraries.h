#pragma once

// Media libraries a device could hand over to make the reader work or grow without end,
// written with SQLite directly and, where SQLite would never write it so, patched byte by
// byte. Each fits the second form of the track query in pages of 512 bytes.

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MediaLibraryFixtures.h"

namespace mediatest {

// `n` rows of the form "INSERT INTO <rest>" with i counting from 1 in the SELECT.
inline std::string rowsOf(int n, const std::string& rest) {
    return "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
           std::to_string(n) + ") INSERT INTO " + rest + ";\n";
}

// The tables of the second track query with as few bytes a row as they can: the item's own
// columns sit in item_stats, which stays empty. `itemExtra` ends item_extra's columns.
inline std::string compactLibrarySql(const std::string& itemExtra) {
    return "PRAGMA page_size=512;\n"
           "CREATE TABLE item (item_pid INTEGER PRIMARY KEY, album_artist_pid, item_artist_pid, "
           "album_pid, composer_pid);\n"
           "CREATE TABLE item_extra (item_pid INTEGER PRIMARY KEY, artwork_cache_id" +
           itemExtra +
           ");\n"
           "CREATE TABLE item_stats (item_pid, user_rating, play_count_user, sample_rate, "
           "bit_rate, media_kind, base_location_id, genre_id, track_number, track_count, "
           "disc_number, disc_count, is_compilation, year, is_rental, is_itunes_u, is_podcast, "
           "total_time_ms, file_size, content_rating, content_rating_level, category_id, "
           "is_audible_audio_book, comment, grouping, description, description_long);\n"
           "CREATE TABLE album_artist (album_artist_pid, album_artist);\n"
           "CREATE TABLE item_artist (item_artist_pid, item_artist);\n"
           "CREATE TABLE album (album_pid, album);\n"
           "CREATE TABLE composer (composer_pid, composer);\n"
           "CREATE TABLE container (container_pid, name, is_hidden, smart_is_dynamic, "
           "smart_is_genius);\n"
           "INSERT INTO container VALUES (1, 'All', 0, 0, 0);\n"
           "CREATE TABLE container_item (container_pid, item_pid);\n";
}

// Every title computed on each read, five million characters each time: the file is a few
// kilobytes, each read costs SQLite one instruction or two.
inline void writeComputedColumnsLibrary(const std::string& path) {
    writeDatabase(path, compactLibrarySql(", location TEXT, title TEXT GENERATED ALWAYS AS "
                                          "(printf('%.*c', 5000000, 'x')) VIRTUAL") +
                            rowsOf(1500, "item (item_pid) SELECT i FROM c") +
                            rowsOf(1500, "item_extra (item_pid, location) SELECT i, 'a' FROM c"));
}

// The 512-byte page `number` (from 1) of a database file.
inline std::uint8_t* pageOf(std::vector<std::uint8_t>& file, std::uint32_t number) {
    return file.data() + std::size_t{number - 1} * 512;
}

inline void putBigEndian(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, value >>= 8) at[i] = static_cast<std::uint8_t>(value);
}

// A table interior page whose every child, the right-most too, is the page `child`.
inline void writeInteriorPage(std::uint8_t* page, std::uint32_t child) {
    constexpr int kCells = 70;  // 5 bytes a cell and 2 of pointer, in 500 bytes
    std::fill(page, page + 512, std::uint8_t{0});
    page[0] = 0x05;
    putBigEndian(page + 3, kCells, 2);
    const int content = 512 - kCells * 5;
    putBigEndian(page + 5, static_cast<std::uint32_t>(content), 2);
    putBigEndian(page + 8, child, 4);
    for (int i = 0; i < kCells; ++i) {
        const int cell = content + i * 5;
        putBigEndian(page + 12 + 2 * i, static_cast<std::uint32_t>(cell), 2);
        putBigEndian(page + cell, child, 4);
        page[cell + 4] = 0x01;  // the key, which a scan never reads
    }
}

// Makes the table's rows, which must fit its one (root) page, come some three hundred
// thousand times over: the root becomes an interior page above two more, each of whose
// child pointers names the same page below, down to the rows. SQLite finds no fault in that
// when it scans the table.
inline void repeatRowsOf(const std::string& path, const std::string& table) {
    std::uint32_t leaf = 0;
    {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* statement = nullptr;
        const std::string query = "SELECT rootpage FROM sqlite_master WHERE name='" + table + "'";
        sqlite3_prepare_v2(db, query.c_str(), -1, &statement, nullptr);
        if (sqlite3_step(statement) == SQLITE_ROW) {
            leaf = static_cast<std::uint32_t>(sqlite3_column_int(statement, 0));
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    in.close();
    ASSERT_NE(leaf, 0u) << table;
    ASSERT_EQ(file.size() % 512, 0u);
    ASSERT_EQ(pageOf(file, leaf)[0], 0x0D) << table << " needs more than its root page";
    // The rows move to a new last page; their old page becomes the root, above two more.
    const auto pages = static_cast<std::uint32_t>(file.size() / 512);
    file.resize(file.size() + 3 * 512);
    std::copy(pageOf(file, leaf), pageOf(file, leaf) + 512, pageOf(file, pages + 3));
    writeInteriorPage(pageOf(file, leaf), pages + 1);
    writeInteriorPage(pageOf(file, pages + 1), pages + 2);
    writeInteriorPage(pageOf(file, pages + 2), pages + 3);
    putBigEndian(file.data() + 28, pages + 3, 4);  // the page count in the header
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
}

// Playlist membership of forty rows that a scan yields without end.
inline void writeRepeatedMembershipLibrary(const std::string& path) {
    writeDatabase(path, compactLibrarySql(", location TEXT, title") +
                            rowsOf(3, "item (item_pid) SELECT i FROM c") +
                            rowsOf(3, "item_extra (item_pid, location) SELECT i, 'a' FROM c") +
                            rowsOf(40, "container_item SELECT 1, i FROM c"));
    repeatRowsOf(path, "container_item");
}

// One track with a title of 20,000 characters, whose row a scan yields without end: every
// row the track query gives holds a copy of the title.
inline void writeRepeatedTrackLibrary(const std::string& path) {
    writeDatabase(path, compactLibrarySql(", location TEXT, title") +
                            "INSERT INTO item VALUES (1, 1, 1, 1, 1);\n"
                            "INSERT INTO item_extra (item_pid, location, title) "
                            "VALUES (1, 'a', printf('%.*c', 20000, 't'));\n");
    repeatRowsOf(path, "item_extra");
}

// One track whose album id is a text of 20,000 characters, joined through 3,000 album
// artists and 3,000 artists of that track: SQLite compares the long id nine million times,
// each comparison a single instruction.
inline void writeLongKeyJoinLibrary(const std::string& path) {
    writeDatabase(path, compactLibrarySql(", location TEXT, title") +
                            "INSERT INTO item VALUES (1, 1, 1, printf('%.*c', 20000, 'k'), 1);\n"
                            "INSERT INTO item_extra (item_pid, location) VALUES (1, 'a');\n"
                            "INSERT INTO album VALUES (printf('%.*c', 20000, 'k'), 'A');\n" +
                            rowsOf(3000, "album_artist SELECT 1, NULL FROM c") +
                            rowsOf(3000, "item_artist SELECT 1, NULL FROM c"));
}

}  // namespace mediatest
