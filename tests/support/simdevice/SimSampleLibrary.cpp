#include "simdevice/SimSampleLibrary.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace simdevice {

namespace {

namespace fs = std::filesystem;

constexpr int kRate = 8000;
constexpr int kSeconds = 2;

struct Tone {
    int pid;
    const char* title;
    const char* file;
    double hertz;
};
constexpr Tone kTones[] = {{1001, "Morning Tone", "morning.wav", 440.0},
                           {1002, "Evening Tone", "evening.wav", 330.0},
                           {1003, "Night Tone", "night.wav", 262.0}};

void put16(std::vector<char>& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xff));
    out.push_back(static_cast<char>(value >> 8));
}
void put32(std::vector<char>& out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value & 0xffff));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

// A mono 16-bit WAV file of a quiet sine tone.
std::vector<char> waveOf(double hertz) {
    const std::uint32_t samples = kRate * kSeconds;
    std::vector<char> out;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put32(out, 36 + samples * 2);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(out, 16);
    put16(out, 1);  // PCM
    put16(out, 1);  // mono
    put32(out, kRate);
    put32(out, kRate * 2);
    put16(out, 2);
    put16(out, 16);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put32(out, samples * 2);
    for (std::uint32_t i = 0; i < samples; ++i) {
        const double value = 6000.0 * std::sin(2.0 * M_PI * hertz * i / kRate);
        put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(value)));
    }
    return out;
}

bool writeFile(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

// The tables of the media library's newest shape, as far as the reader asks for them.
std::string librarySql(std::size_t fileSize) {
    std::string sql =
        "CREATE TABLE item (item_pid INTEGER PRIMARY KEY, media_type INTEGER, in_my_library "
        "INTEGER, media_kind INTEGER, base_location_id INTEGER, album_artist_pid INTEGER, "
        "item_artist_pid INTEGER, album_pid INTEGER, composer_pid INTEGER, genre_id INTEGER, "
        "track_number INTEGER, track_count INTEGER, disc_number INTEGER, disc_count INTEGER, "
        "is_compilation INTEGER, year INTEGER);\n"
        "CREATE TABLE item_extra (item_pid INTEGER PRIMARY KEY, title TEXT, total_time_ms "
        "INTEGER, location TEXT, file_size INTEGER, content_rating INTEGER, "
        "content_rating_level INTEGER, category_id INTEGER, comment TEXT, grouping TEXT, "
        "description TEXT, description_long TEXT, is_audible_audio_book INTEGER, "
        "artwork_cache_id INTEGER);\n"
        "CREATE TABLE album_artist (album_artist_pid INTEGER, album_artist TEXT);\n"
        "CREATE TABLE item_artist (item_artist_pid INTEGER, item_artist TEXT);\n"
        "CREATE TABLE album (album_pid INTEGER, album TEXT);\n"
        "CREATE TABLE composer (composer_pid INTEGER, composer TEXT);\n"
        "CREATE TABLE item_stats (item_pid INTEGER, user_rating INTEGER, play_count_user "
        "INTEGER);\n"
        "CREATE TABLE item_playback (item_pid INTEGER, sample_rate INTEGER, bit_rate INTEGER);\n"
        "CREATE TABLE base_location (base_location_id INTEGER, path TEXT);\n"
        "CREATE TABLE genre (genre_id INTEGER, genre TEXT);\n"
        "CREATE TABLE location_kind (location_kind_id INTEGER, kind TEXT);\n"
        "CREATE TABLE container (container_pid INTEGER, name TEXT, is_hidden INTEGER, "
        "smart_is_dynamic INTEGER, smart_is_genius INTEGER);\n"
        "CREATE TABLE container_item (container_pid INTEGER, item_pid INTEGER);\n"
        "INSERT INTO base_location VALUES (1, 'iTunes_Control/Music');\n"
        "INSERT INTO genre VALUES (1, 'Ambient');\n"
        "INSERT INTO location_kind VALUES (1, 'WAV audio file');\n"
        "INSERT INTO album_artist VALUES (1, 'Orvandel');\n"
        "INSERT INTO item_artist VALUES (1, 'Orvandel');\n"
        "INSERT INTO album VALUES (1, 'Sample Tones');\n"
        "INSERT INTO container VALUES (1, 'Evening Mix', 0, 0, 0);\n"
        "INSERT INTO container_item VALUES (1, 1002), (1, 1003);\n";
    int number = 1;
    for (const Tone& tone : kTones) {
        const std::string pid = std::to_string(tone.pid);
        sql += "INSERT INTO item VALUES (" + pid + ", 1, 1, 1, 1, 1, 1, 1, NULL, 1, " +
               std::to_string(number) + ", 3, 1, 1, 0, 2026);\n";
        sql += "INSERT INTO item_extra VALUES (" + pid + ", '" + tone.title + "', " +
               std::to_string(kSeconds * 1000) + ", 'F00/" + tone.file + "', " +
               std::to_string(fileSize) + ", 0, 0, 0, '', '', '', '', 0, 0);\n";
        sql += "INSERT INTO item_stats VALUES (" + pid + ", 0, 0);\n";
        sql += "INSERT INTO item_playback VALUES (" + pid + ", " + std::to_string(kRate) +
               ", 128);\n";
        ++number;
    }
    return sql;
}

}  // namespace

std::string writeSampleMediaLibrary(const std::string& root) {
    const fs::path control = fs::path(root) / "iTunes_Control";
    const fs::path database = control / "iTunes" / "MediaLibrary.sqlitedb";
    std::error_code error;
    if (fs::exists(database, error)) return {};
    fs::create_directories(control / "iTunes", error);
    if (!error) fs::create_directories(control / "Music" / "F00", error);
    if (error) return "cannot make " + control.string() + ": " + error.message();
    std::size_t fileSize = 0;
    for (const Tone& tone : kTones) {
        const fs::path file = control / "Music" / "F00" / tone.file;
        const std::vector<char> bytes = waveOf(tone.hertz);
        fileSize = bytes.size();
        if (!fs::exists(file, error) && !writeFile(file, bytes))
            return "cannot write " + file.string();
    }
    // Written beside its place and moved there whole, so that no half-made library is left.
    const fs::path partial = database.string() + ".partial";
    fs::remove(partial, error);
    sqlite3* db = nullptr;
    std::string failure;
    if (sqlite3_open(partial.c_str(), &db) != SQLITE_OK) {
        failure = sqlite3_errmsg(db);
    } else {
        char* message = nullptr;
        const std::string sql = "BEGIN;\n" + librarySql(fileSize) + "COMMIT;\n";
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK)
            failure = message != nullptr ? message : "the library could not be written";
        sqlite3_free(message);
    }
    sqlite3_close(db);
    if (failure.empty()) {
        fs::rename(partial, database, error);
        if (error) failure = error.message();
    }
    if (!failure.empty()) {
        fs::remove(partial, error);
        return "cannot write " + database.string() + ": " + failure;
    }
    return {};
}

}  // namespace simdevice
