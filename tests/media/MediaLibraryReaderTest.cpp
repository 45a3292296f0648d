#include <gtest/gtest.h>

#include <fstream>

#include "MediaLibraryFixtures.h"
#include "foundation/ScratchFolder.h"
#include "media/MediaLibraryReader.h"
#include "media/RingtoneList.h"

using foundation::Value;
using media::MediaLibraryFlags;
using media::MediaLibraryReader;
using mediatest::LadderForm;

namespace {

const Value* trackWithPid(const foundation::Array& tracks, std::int64_t pid) {
    for (const Value& track : tracks) {
        if (track["pid"] == Value(pid)) return &track;
    }
    return nullptr;
}

std::vector<std::string> names(const std::vector<std::shared_ptr<media::iPodPlaylist>>& lists) {
    std::vector<std::string> out;
    for (const auto& playlist : lists) out.push_back(playlist->name());
    return out;
}

struct LadderCase {
    LadderForm form;
    bool mediaType;
    std::int32_t libraryVersion;
    bool iOS8;
    bool iOS7;
    std::size_t tracks;
};

class MediaLibraryLadder : public testing::TestWithParam<LadderCase> {};

TEST_P(MediaLibraryLadder, EachFormReadsItsShapeAndLeavesItsFlags) {
    const LadderCase& c = GetParam();
    foundationtest::ScratchFolder folder;
    mediatest::writeDatabase(folder / "lib.sqlite",
                             mediatest::mediaLibrarySql({c.form, c.mediaType}));
    MediaLibraryFlags flags;
    MediaLibraryReader reader(MediaLibraryReader::Source::MediaLibrary, {folder / "lib.sqlite"},
                              flags);
    ASSERT_TRUE(reader.loadPlaylists());
    EXPECT_EQ(names(reader.playlists()), (std::vector<std::string>{"Road", "Smart", "Genius"}));
    const foundation::Array tracks = reader.loadTracks();
    EXPECT_EQ(flags.libraryVersion, c.libraryVersion);
    EXPECT_EQ(flags.iOS8, c.iOS8);
    EXPECT_EQ(flags.iOS7, c.iOS7);
    ASSERT_EQ(tracks.size(), c.tracks);
    // Membership is read whatever the track query did.
    EXPECT_EQ(reader.playlists()[0]->trackIDs(), (std::vector<Value>{Value(101), Value(102)}));
    if (c.tracks == 0) return;
    const Value& song = *trackWithPid(tracks, 101);
    // Artwork is found by pid after the first form, else by the artwork id of the row.
    EXPECT_EQ(song["artwork_relative_path"], Value("aa/bb.jpg"));
    EXPECT_EQ(song["location"], Value("iTunes_Control/Music/F01/a.mp3"));
    EXPECT_EQ(song["size"], Value(std::int64_t{5000000000}));
    EXPECT_EQ(song["sampleRate"], Value(44100));
    // Only the first form selects media_type; the others read it as 0.
    const Value mediaType = c.form == LadderForm::First ? Value(1) : Value(0);
    EXPECT_EQ(song["media_type"], c.mediaType ? mediaType : Value());
}

INSTANTIATE_TEST_SUITE_P(Forms, MediaLibraryLadder,
                         testing::Values(LadderCase{LadderForm::First, true, 9, false, false, 2},
                                         LadderCase{LadderForm::First, false, 9, false, false, 2},
                                         LadderCase{LadderForm::Second, true, 0, false, false, 3},
                                         LadderCase{LadderForm::Third, true, 0, true, false, 3},
                                         LadderCase{LadderForm::Fourth, true, 0, true, true, 3},
                                         LadderCase{LadderForm::None, true, 0, true, true, 0}));

TEST(MediaLibraryReader, RecordsCarryTheMapsKindsAndMembershipOfRowsOrBlobs) {
    for (bool blob : {false, true}) {
        SCOPED_TRACE(blob ? "blob membership" : "row membership");
        foundationtest::ScratchFolder folder;
        mediatest::writeDatabase(folder / "lib.sqlite",
                                 mediatest::mediaLibrarySql({LadderForm::Second, true, blob}));
        MediaLibraryFlags flags;
        MediaLibraryReader reader(MediaLibraryReader::Source::MediaLibrary, {folder / "lib.sqlite"},
                                  flags);
        ASSERT_TRUE(reader.loadPlaylists());
        const auto tracks = reader.loadTracks();
        const auto& playlists = reader.playlists();
        EXPECT_EQ(playlists[0]->trackIDs(), (std::vector<Value>{Value(101), Value(102)}));
        EXPECT_EQ(playlists[1]->trackIDs(), (std::vector<Value>{Value(102)}));
        EXPECT_EQ(playlists[1]->type(), 2);
        EXPECT_TRUE(playlists[1]->isSmart());
        EXPECT_EQ(playlists[2]->type(), 12);
        EXPECT_EQ(playlists[2]->tag(), 102);

        const Value& song = *trackWithPid(tracks, 101);
        EXPECT_EQ(song["pidstr"], Value("65"));
        EXPECT_EQ(song["title"], Value("Alpha"));
        EXPECT_EQ(song["artist"], Value("Ann"));
        EXPECT_EQ(song["album"], Value("First"));
        EXPECT_EQ(song["album_artist"], Value("Various"));
        EXPECT_EQ(song["composer"], Value(""));  // NULL reads as empty text
        EXPECT_EQ(song["genre"], Value("Rock"));
        EXPECT_EQ(song["fileType"], Value("MPEG audio file"));
        EXPECT_EQ(song["is_song"], Value(true));
        EXPECT_EQ(song["length"], Value(180000));
        EXPECT_EQ(song["stars"], Value(80));
        EXPECT_EQ(song["filename"], Value("F01/a.mp3"));
        // A podcast by its kind; its genre's words make it a video as well.
        const Value& podcast = *trackWithPid(tracks, 102);
        EXPECT_EQ(podcast["is_podcast"], Value(true));
        EXPECT_EQ(podcast["is_movie"], Value(true));
        EXPECT_EQ(podcast["is_song"], Value(false));
        EXPECT_EQ(podcast["location"], Value("/abs/b.m4v"));  // base location 0: as stored
        EXPECT_EQ(podcast["fileType"], Value());
        // "Audiobook" is not audio to be sung; a track with no location row keeps "".
        const Value& book = *trackWithPid(tracks, 103);
        EXPECT_EQ(book["is_song"], Value(false));
        EXPECT_EQ(book["is_audio_book"], Value(true));
        EXPECT_EQ(book["location"], Value(""));
    }
}

TEST(MediaLibraryReader, BlobIdsAreWholeLittleEndianGroups) {
    const std::uint8_t bytes[24] = {1,    0,    0,    0,    0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 2, 1, 0, 0, 0,    0,    0,    0};
    EXPECT_EQ(media::persistentIdsOfBlob(bytes, 24), (std::vector<std::int64_t>{1, -1, 258}));
    EXPECT_EQ(media::persistentIdsOfBlob(bytes, 20), (std::vector<std::int64_t>{1, -1}));
    EXPECT_TRUE(media::persistentIdsOfBlob(bytes, 7).empty());
}

// Ids are matched as the numbers their text spells; a text no number is written as (a
// leading zero, a sign, a fraction) matches no track.
TEST(MediaLibraryReader, IdsStoredAsTextMatchOnlyANumbersOwnSpelling) {
    EXPECT_EQ(media::integerKey("12"), 12);
    EXPECT_EQ(media::integerKey("-7"), -7);
    EXPECT_EQ(media::integerKey("0"), 0);
    EXPECT_EQ(media::integerKey("-9223372036854775808"), INT64_MIN);
    for (const char* text : {"", "-", "012", "+12", "-0", "12.0", " 12", "12 ", "1e3",
                             "9223372036854775808", "12abc"}) {
        EXPECT_EQ(media::integerKey(text), std::nullopt) << text;
    }

    foundationtest::ScratchFolder folder;
    // Columns without a type keep text as text.
    mediatest::writeDatabase(
        folder / "lib.sqlite",
        mediatest::mediaLibrarySql({LadderForm::First, true, false}) +
            "DROP TABLE genre; CREATE TABLE genre (genre_id, genre TEXT);\n"
            "INSERT INTO genre VALUES ('1', 'Rock'), ('02', 'Podcast VIDEO'), (2.0, 'Video');\n");
    MediaLibraryFlags flags;
    MediaLibraryReader reader(MediaLibraryReader::Source::MediaLibrary, {folder / "lib.sqlite"},
                              flags);
    const auto tracks = reader.loadTracks();
    ASSERT_EQ(tracks.size(), 2u);  // the first form leaves out 103, which has no location
    EXPECT_EQ((*trackWithPid(tracks, 101))["genre"], Value("Rock"));
    EXPECT_EQ((*trackWithPid(tracks, 102))["genre"], Value());
    EXPECT_EQ((*trackWithPid(tracks, 102))["is_movie"], Value());
    EXPECT_EQ((*trackWithPid(tracks, 101))["location"], Value("iTunes_Control/Music/F01/a.mp3"));
}

TEST(MediaLibraryReader, TheLibraryItdbGroupJoinsLocationsFormatsAndStatistics) {
    foundationtest::ScratchFolder folder;
    mediatest::writeDatabase(folder / "Library.itdb", mediatest::kLibraryItdbSql);
    mediatest::writeDatabase(folder / "Locations.itdb", mediatest::kLocationsItdbSql);
    mediatest::writeDatabase(folder / "Dynamic.itdb", mediatest::kDynamicItdbSql);
    MediaLibraryFlags flags;
    MediaLibraryReader reader(
        MediaLibraryReader::Source::LibraryGroup,
        {folder / "Library.itdb", folder / "Locations.itdb", folder / "Dynamic.itdb"}, flags);
    ASSERT_TRUE(reader.loadPlaylists());
    ASSERT_EQ(names(reader.playlists()), std::vector<std::string>{"Mix"});
    EXPECT_EQ(reader.playlists()[0]->pid(), 77);
    const auto tracks = reader.loadTracks();
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_EQ(reader.playlists()[0]->trackIDs(), (std::vector<Value>{Value(201), Value(203)}));

    const Value& one = tracks[0];
    EXPECT_EQ(one["pidstr"], Value("C9"));
    EXPECT_EQ(one["length"], Value(std::int64_t{6000000000}));
    EXPECT_EQ(one["location"], Value("F00/one.m4a"));
    EXPECT_EQ(one["size"], Value("6000000000"));  // the text Locations.itdb holds
    EXPECT_EQ(one["genre"], Value("Jazz"));
    EXPECT_EQ(one["fileType"], Value("AAC audio file"));
    EXPECT_EQ(one["grouping"], Value("grp"));
    EXPECT_EQ(one["sampleRate"], Value(48000));
    EXPECT_EQ(one["stars"], Value(100));
    EXPECT_EQ(one["playCount"], Value(12));
    EXPECT_EQ(one["artwork_relative_path"], Value("cc/dd.jpg"));
    EXPECT_EQ(one["is_voice_memo"], Value(false));
    // A base location without its folder row joins to an empty folder.
    EXPECT_EQ(tracks[1]["location"], Value("F01/two.m4v"));
    EXPECT_EQ(tracks[1]["artist"], Value(""));
    EXPECT_EQ(tracks[1]["is_ringtone"], Value(true));
    EXPECT_EQ(tracks[1]["is_movie"], Value(true));  // media type 2
    EXPECT_EQ(tracks[1]["stars"], Value());
    // No location row: empty location, no size.
    EXPECT_EQ(tracks[2]["location"], Value(""));
    EXPECT_EQ(tracks[2]["size"], Value());
}

TEST(MediaLibraryReader, DamagedOrMissingDatabasesGiveNothing) {
    foundationtest::ScratchFolder folder;
    std::ofstream(folder / "junk.sqlite") << std::string(4096, 'x');
    for (const std::string& path : {folder / "junk.sqlite", folder / "missing.sqlite"}) {
        MediaLibraryFlags flags;
        MediaLibraryReader reader(MediaLibraryReader::Source::MediaLibrary, {path}, flags);
        reader.loadPlaylists();
        EXPECT_TRUE(reader.playlists().empty());
        EXPECT_TRUE(reader.loadTracks().empty());
        MediaLibraryReader group(MediaLibraryReader::Source::LibraryGroup, {path, path, path},
                                 flags);
        group.loadPlaylists();
        EXPECT_TRUE(group.loadTracks().empty());
    }
}

// The device's database is untrusted: a schema that makes the readers' queries run for ever
// is refused, and whatever work is left is bounded.
TEST(MediaLibraryReader, HostileSchemasAndEndlessWorkGiveAnEmptyLibrary) {
    foundationtest::ScratchFolder folder;
    const std::string good = mediatest::mediaLibrarySql({LadderForm::First});
    const std::string endless =
        "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT n AS ";
    const std::pair<const char*, std::string> hostile[] = {
        {"container.sqlite",
         "DROP TABLE container; CREATE VIEW container AS " + endless +
             "container_pid, 'x' AS name, 0 AS is_hidden, 0 AS smart_is_dynamic, "
             "0 AS smart_is_genius FROM r;\n"},
        {"genre.sqlite",
         "DROP TABLE genre; CREATE VIEW Genre AS " + endless + "genre_id, 'x' AS genre FROM r;\n"},
        // Columns computed when they are read, or stored as computed when written: neither
        // is a library's own data.
        {"computed.sqlite",
         "ALTER TABLE item_extra ADD COLUMN sort_title TEXT GENERATED ALWAYS AS "
         "(upper(title)) VIRTUAL;\n"},
        {"stored.sqlite",
         "DROP TABLE genre; CREATE TABLE genre (genre_id INTEGER, genre TEXT GENERATED ALWAYS "
         "AS ('Rock') STORED);\n"},
    };
    for (const auto& [name, change] : hostile) {
        SCOPED_TRACE(name);
        mediatest::writeDatabase(folder / name, good + change);
        MediaLibraryFlags flags;
        MediaLibraryReader reader(MediaLibraryReader::Source::MediaLibrary, {folder / name}, flags);
        reader.loadPlaylists();
        EXPECT_TRUE(reader.playlists().empty());
        EXPECT_TRUE(reader.loadTracks().empty());
        EXPECT_NE(reader.failure(), "");
    }

    // A plain library read with almost no work left stops early instead of running on.
    mediatest::writeDatabase(folder / "plain.sqlite", good);
    MediaLibraryFlags flags;
    MediaLibraryReader starved(MediaLibraryReader::Source::MediaLibrary, {folder / "plain.sqlite"},
                               flags, [] {
                                   media::LibraryWorkBudget budget;
                                   budget.instructionsLeft = 3000;
                                   return budget;
                               }());
    starved.loadPlaylists();
    EXPECT_TRUE(starved.loadTracks().empty());
    EXPECT_EQ(starved.failure(), "it needs more work than a media library can");
    MediaLibraryReader fed(MediaLibraryReader::Source::MediaLibrary, {folder / "plain.sqlite"},
                           flags);
    ASSERT_TRUE(fed.loadPlaylists());
    EXPECT_EQ(fed.loadTracks().size(), 2u);
    EXPECT_EQ(fed.failure(), "");
}

TEST(RingtoneList, EntriesBecomeRingtoneRecordsWithDeviceSizes) {
    foundationtest::ScratchFolder folder;
    std::ofstream(folder / "Ringtones.plist") << mediatest::kRingtonesPlist;
    std::vector<std::string> asked;
    const auto records = media::RingtoneList::readFile(
        folder / "Ringtones.plist", "iTunes_Control/Ringtones", [&](const std::string& path) {
            asked.push_back(path);
            return std::uint64_t{5000000000};
        });
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], Value::dict({{"pid", "-42"},
                                       {"title", "Bell"},
                                       {"artist", "Me"},
                                       {"album", ""},
                                       {"genre", ""},
                                       {"length", 30000},
                                       {"is_ringtone", true},
                                       {"location", "iTunes_Control/Ringtones/AAAA.m4r"},
                                       {"size", std::uint64_t{5000000000}}}));
    EXPECT_EQ(records[1]["pid"], Value("0"));
    EXPECT_EQ(records[1]["title"], Value(""));
    EXPECT_EQ(records[1]["genre"], Value("Tone"));
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_TRUE(media::RingtoneList::readFile(folder / "none.plist", "x", nullptr).empty());
}

}  // namespace
