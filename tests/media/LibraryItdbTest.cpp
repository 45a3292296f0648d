#include <gtest/gtest.h>

#include <filesystem>

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

class LibraryItdbTest : public mediatest::MediaLoaderFixture {
protected:
    // The group in a phone's media area; the path of its folder.
    std::string writeGroup(const std::string& id) {
        const std::string itlp = root(id) + "/iTunes_Control/iTunes/iTunes Library.itlp";
        std::filesystem::create_directories(itlp);
        mediatest::writeDatabase(itlp + "/Library.itdb", kFourSongs);
        mediatest::writeDatabase(itlp + "/Locations.itdb", kLocationsWithTextSizes);
        return itlp;
    }
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

}  // namespace
