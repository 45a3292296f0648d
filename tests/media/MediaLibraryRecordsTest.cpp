#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MediaLibraryFixtures.h"
#include "foundation/ScratchFolder.h"
#include "media/MediaLibraryReader.h"

using foundation::Value;
using media::MediaLibraryFlags;
using media::MediaLibraryReader;
using mediatest::LadderForm;

namespace {

std::vector<std::string> keysOf(const Value& record) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : *record.dictionary()) keys.push_back(key);
    return keys;
}

std::vector<std::int64_t> pidsOf(const foundation::Array& tracks) {
    std::vector<std::int64_t> pids;
    for (const Value& track : tracks) pids.push_back(*track["pid"].int64());
    return pids;
}

foundation::Array loadMediaLibrary(const std::string& path) {
    MediaLibraryFlags flags;
    MediaLibraryReader reader(MediaLibraryReader::Source::MediaLibrary, {path}, flags);
    reader.loadPlaylists();
    return reader.loadTracks();
}

}  // namespace

// Each record holds the row's entries, what the other tables join to it, and a movie flag
// only once something marks the track as one.
TEST(MediaLibraryRecords, HoldTheRowsEntriesAndTheJoinedOnes) {
    foundationtest::ScratchFolder folder;
    mediatest::writeDatabase(folder / "lib.sqlite",
                             mediatest::mediaLibrarySql({LadderForm::First}));
    const auto tracks = loadMediaLibrary(folder / "lib.sqlite");
    ASSERT_EQ(tracks.size(), 2u);
    const std::vector<std::string> song = {"album",
                                           "album_artist",
                                           "artist",
                                           "artwork_cache_id",
                                           "artwork_relative_path",
                                           "bitRate",
                                           "category_id",
                                           "comment",
                                           "composer",
                                           "content_rating",
                                           "content_rating_level",
                                           "description",
                                           "description_long",
                                           "disc_count",
                                           "disc_number",
                                           "fileType",
                                           "filename",
                                           "genre",
                                           "is_audio_book",
                                           "is_compilation",
                                           "is_itunes_u",
                                           "is_podcast",
                                           "is_song",
                                           "length",
                                           "location",
                                           "media_kind",
                                           "media_type",
                                           "pid",
                                           "pidstr",
                                           "playCount",
                                           "sampleRate",
                                           "size",
                                           "stars",
                                           "title",
                                           "totalTracks",
                                           "trackNumber",
                                           "year"};
    EXPECT_EQ(keysOf(tracks[0]), song);
    // The podcast's genre makes it a movie too; it has no artwork and no kind text.
    std::vector<std::string> podcast = song;
    std::erase(podcast, "artwork_relative_path");
    std::erase(podcast, "fileType");
    podcast.insert(std::find(podcast.begin(), podcast.end(), "is_podcast"), "is_movie");
    EXPECT_EQ(keysOf(tracks[1]), podcast);
    EXPECT_EQ(tracks[1]["pidstr"], Value("66"));
    EXPECT_EQ(tracks[1]["media_type"], Value(0));
}

// An artwork path is read per track; a path that is NULL or not UTF-8 is left out, and a
// lookup that cannot be compiled leaves every track without one but still read.
TEST(MediaLibraryRecords, ArtworkPathsAreLeftOutWhereTheyCannotBeRead) {
    foundationtest::ScratchFolder folder;
    const std::string library = mediatest::mediaLibrarySql({LadderForm::First});
    mediatest::writeDatabase(folder / "bad.sqlite",
                             library +
                                 "INSERT INTO artwork VALUES (56, CAST(X'C328' AS TEXT)), (57, "
                                 "NULL);\nINSERT INTO artwork_token VALUES (56, 102);\n");
    auto tracks = loadMediaLibrary(folder / "bad.sqlite");
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0]["artwork_relative_path"], Value("aa/bb.jpg"));
    EXPECT_EQ(tracks[1]["artwork_relative_path"], Value());

    mediatest::writeDatabase(folder / "null.sqlite",
                             library + "UPDATE artwork SET relative_path = NULL;\n");
    tracks = loadMediaLibrary(folder / "null.sqlite");
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0]["artwork_relative_path"], Value());

    mediatest::writeDatabase(folder / "notoken.sqlite", library + "DROP TABLE artwork_token;\n");
    tracks = loadMediaLibrary(folder / "notoken.sqlite");
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0]["artwork_relative_path"], Value());
    EXPECT_EQ(tracks[0]["genre"], Value("Rock"));
}

// Rows come in pid order as a rule, but need not: a repeated pid replaces the earlier record
// in its place whatever the order, and the statistics read afterwards find every record.
TEST(MediaLibraryRecords, RepeatedPidsReplaceInPlaceInOrAgainstPidOrder) {
    const std::pair<const char*, std::vector<std::int64_t>> orders[] = {
        {"(1, 'a'), (2, 'b'), (2, 'B'), (3, 'c')", {1, 2, 3}},
        {"(30, 'c'), (10, 'a'), (30, 'C'), (20, 'b'), (10, 'A')", {30, 10, 20}},
    };
    for (const auto& [rows, pids] : orders) {
        SCOPED_TRACE(rows);
        foundationtest::ScratchFolder folder;
        mediatest::writeDatabase(folder / "Library.itdb",
                                 std::string("CREATE TABLE item (pid INTEGER, title TEXT);\n"
                                             "INSERT INTO item VALUES ") +
                                     rows +
                                     ";\nCREATE TABLE avformat_info (item_pid INTEGER, "
                                     "sample_rate INTEGER, bit_rate INTEGER);\n"
                                     "INSERT INTO avformat_info VALUES (1, 1, 0), (2, 2, 0), "
                                     "(3, 3, 0), (10, 10, 0), (20, 20, 0), (30, 30, 0);\n");
        mediatest::writeDatabase(folder / "Locations.itdb", mediatest::kLocationsItdbSql);
        mediatest::writeDatabase(folder / "Dynamic.itdb",
                                 "CREATE TABLE item_stats (item_pid INTEGER, user_rating "
                                 "INTEGER, play_count_user INTEGER);\n"
                                 "INSERT INTO item_stats VALUES (2, 5, 0), (10, 5, 0);\n");
        MediaLibraryFlags flags;
        MediaLibraryReader reader(
            MediaLibraryReader::Source::LibraryGroup,
            {folder / "Library.itdb", folder / "Locations.itdb", folder / "Dynamic.itdb"}, flags);
        const auto tracks = reader.loadTracks();
        ASSERT_EQ(pidsOf(tracks), pids);
        for (const Value& track : tracks) {
            const std::int64_t pid = *track["pid"].int64();
            EXPECT_EQ(track["sampleRate"], Value(pid)) << pid;
            // The later row's title: upper case where a pid came twice.
            const std::string title = *track["title"].string();
            EXPECT_EQ(title == "B" || title == "C" || title == "A",
                      pid == 2 || pid == 30 || pid == 10)
                << pid;
            EXPECT_EQ(track["stars"], (pid == 2 || pid == 10) ? Value(5) : Value()) << pid;
        }
    }
}
