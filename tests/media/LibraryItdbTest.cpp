#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "MediaLoaderFixture.h"
#include "media/MediaLibraryReader.h"

using foundation::Value;
using media::MediaLibraryFlags;
using media::MediaLibraryReader;

namespace {

// Locations.itdb with a size of each storage kind: a whole number (201), a text that reads
// as a number only in part (202), none at all (203); item 204 has no location row.
constexpr const char* kLocationsWithTextSizes =
    "CREATE TABLE base_location (id INTEGER, path TEXT);\n"
    "CREATE TABLE location (item_pid INTEGER, location TEXT, base_location_id INTEGER, "
    "file_size);\n"
    "INSERT INTO location VALUES (201, 'a.m4a', 0, 6000000000), (202, 'b.m4a', 0, '0012 B'), "
    "(203, 'c.m4a', 0, NULL);\n";
constexpr const char* kFourSongs =
    "CREATE TABLE item (pid INTEGER, title TEXT, is_song INTEGER);\n"
    "INSERT INTO item VALUES (201, 'a', 1), (202, 'b', 1), (203, 'c', 1), (204, 'd', 1);\n";

// Format rows by item_pid: 201 as a number, 202 as text with rates past 32 bits and below
// zero, 204 as a text no pid is written as, 999 of no item; 203 has none.
constexpr const char* kFormatInfo =
    "CREATE TABLE avformat_info (item_pid, sample_rate INTEGER, bit_rate INTEGER);\n"
    "INSERT INTO avformat_info VALUES (201, 44100, 256), ('202', 4295015296, -1), "
    "('0204', 22050, 64), (999, 8000, 8);\n"
    "CREATE TABLE container (pid INTEGER, name TEXT, is_hidden INTEGER, smart_is_dynamic "
    "INTEGER, smart_is_genius INTEGER);\n"
    "INSERT INTO container VALUES (77, 'Mix', 0, 0, 0);\n"
    "CREATE TABLE item_to_container (container_pid INTEGER, item_pid INTEGER);\n"
    "INSERT INTO item_to_container VALUES (77, 203), (77, 201);\n";
// Statistics rows by item_pid: 201 as a number, 203 as text with a rating past 32 bits,
// 999 of no item; 202 and 204 have none.
constexpr const char* kPlayStatistics =
    "CREATE TABLE item_stats (item_pid, user_rating INTEGER, play_count_user INTEGER);\n"
    "INSERT INTO item_stats VALUES (201, 80, 7), ('203', 4294967396, 3), (999, 1, 1);\n";

class LibraryItdbTest : public mediatest::MediaLoaderFixture {
protected:
    // The group in a phone's media area; the path of its folder.
    std::string writeGroup(const std::string& id, const std::string& library = kFourSongs) {
        const std::string itlp = root(id) + "/iTunes_Control/iTunes/iTunes Library.itlp";
        std::filesystem::create_directories(itlp);
        mediatest::writeDatabase(itlp + "/Library.itdb", library);
        mediatest::writeDatabase(itlp + "/Locations.itdb", kLocationsWithTextSizes);
        return itlp;
    }
    // The records of a whole load of the phone, by pid.
    std::map<std::int64_t, Value> loadedTracks(const std::string& id) {
        auto loader = loaderOf(phone(id));
        loadAndMatch(*loader);
        std::map<std::int64_t, Value> byPid;
        for (const auto& track : *loader->allTracks()) byPid[*(*track)["pid"].int64()] = *track;
        for (const auto& playlist : *loader->allPlaylists()) {
            if (playlist->name() == "Mix") mixTracks = playlist->trackIDs();
        }
        return byPid;
    }
    std::vector<Value> mixTracks;
};

TEST_F(LibraryItdbTest, ASizeIsTheTextOfItsLocationRowAndNoRowGivesNoSize) {
    const std::string itlp = writeGroup("TEXTSIZES");
    MediaLibraryFlags flags;
    MediaLibraryReader reader(MediaLibraryReader::Source::LibraryGroup,
                              {itlp + "/Library.itdb", itlp + "/Locations.itdb", ""}, flags);
    const auto tracks = reader.loadTracks();
    ASSERT_EQ(tracks.size(), 4u);
    EXPECT_EQ(tracks[0]["size"], Value("6000000000"));
    EXPECT_EQ(tracks[1]["size"], Value("0012 B"));
    EXPECT_EQ(tracks[2]["size"], Value(""));  // a NULL reads as empty text
    EXPECT_EQ(tracks[3]["size"], Value());
    EXPECT_EQ(tracks[3]["location"], Value(""));
}

TEST_F(LibraryItdbTest, SongSizesGivenAsTextStillAddUp) {
    writeGroup("COUNTED");
    auto loader = loaderOf(phone("COUNTED"));
    loadAndMatch(*loader);
    ASSERT_EQ(loader->allTracks()->size(), 4u);
    EXPECT_EQ((*loader->lookupTrackWithPid(Value(201)))["size"], Value("6000000000"));
    std::uint64_t songs = 0;
    std::int32_t count = 0;
    loader->numOfSongsVideos(&count, nullptr);
    loader->sizeOfSongsVideos(&songs, nullptr);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(songs, 6000000000u + 12u);
}

// The load reads the playlists' members, then the format rows from Library.itdb, then the
// statistics rows from Dynamic.itdb, each onto the record its item_pid text names.
TEST_F(LibraryItdbTest, FormatInfoAndPlayStatisticsReachTheRecordsTheirPidTextNames) {
    const std::string itlp = writeGroup("STATS", std::string(kFourSongs) + kFormatInfo);
    mediatest::writeDatabase(itlp + "/Dynamic.itdb", kPlayStatistics);
    auto tracks = loadedTracks("STATS");
    ASSERT_EQ(tracks.size(), 4u);
    EXPECT_EQ(mixTracks, (std::vector<Value>{Value(std::int64_t{203}), Value(std::int64_t{201})}));

    EXPECT_EQ(tracks[201]["sampleRate"], Value(44100));
    EXPECT_EQ(tracks[201]["bitRate"], Value(256));
    // Signed 32-bit numbers: the low 32 bits of a larger one, a negative one kept.
    EXPECT_EQ(tracks[202]["sampleRate"], Value(48000));
    EXPECT_EQ(tracks[202]["bitRate"], Value(-1));
    EXPECT_EQ(tracks[203]["sampleRate"], Value());
    EXPECT_EQ(tracks[204]["sampleRate"], Value());  // "0204" is not the text of 204
    EXPECT_EQ(tracks[204]["bitRate"], Value());

    EXPECT_EQ(tracks[201]["stars"], Value(80));
    EXPECT_EQ(tracks[201]["playCount"], Value(7));
    EXPECT_EQ(tracks[203]["stars"], Value(100));
    EXPECT_EQ(tracks[203]["playCount"], Value(3));
    EXPECT_EQ(tracks[202]["stars"], Value());
    EXPECT_EQ(tracks[202]["playCount"], Value());
    EXPECT_EQ(tracks.count(999), 0u);
}

// Without the format table, or without a Dynamic.itdb that opens, the tracks load all the
// same, only without the entries those would have given.
TEST_F(LibraryItdbTest, AMissingFormatTableOrStatisticsDatabaseLeavesOnlyItsEntriesOut) {
    const std::string noFormat = writeGroup("NOFORMAT");
    mediatest::writeDatabase(noFormat + "/Dynamic.itdb", kPlayStatistics);
    auto tracks = loadedTracks("NOFORMAT");
    ASSERT_EQ(tracks.size(), 4u);
    EXPECT_EQ(tracks[201]["sampleRate"], Value());
    EXPECT_EQ(tracks[201]["bitRate"], Value());
    EXPECT_EQ(tracks[201]["stars"], Value(80));

    writeGroup("NODYNAMIC", std::string(kFourSongs) + kFormatInfo);
    const std::string junk = writeGroup("JUNKDYNAMIC", std::string(kFourSongs) + kFormatInfo);
    std::ofstream(junk + "/Dynamic.itdb") << std::string(4096, 'x');
    for (const char* id : {"NODYNAMIC", "JUNKDYNAMIC"}) {
        SCOPED_TRACE(id);
        tracks = loadedTracks(id);
        ASSERT_EQ(tracks.size(), 4u);
        EXPECT_EQ(tracks[201]["sampleRate"], Value(44100));
        for (const auto& [pid, track] : tracks) {
            EXPECT_EQ(track["stars"], Value()) << pid;
            EXPECT_EQ(track["playCount"], Value()) << pid;
        }
    }
}

}  // namespace
