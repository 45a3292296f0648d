#ifdef ORVANDEL_HAVE_GPOD

#include <gtest/gtest.h>

#include "GpodFixtures.h"
#include "foundation/ScratchFolder.h"
#include "media/iTunesDBReader.h"

namespace {

using foundation::Value;
using media::iTunesDBReader;
using namespace mediatest;

TEST(GpodInteropTest, DatabaseWrittenByGpodReadsBackItsTracksAndPlaylists) {
    foundationtest::ScratchFolder folder;
    auto itdb = makeGpodDatabase(3);
    Itdb_Track* video = addGpodTrack(itdb.get(), "Clip", ":iPod_Control:Music:F01:C.m4v",
                                     "MPEG-4 video file", ITDB_MEDIATYPE_MOVIE);
    video->movie_flag = 1;
    Itdb_Track* book = addGpodTrack(itdb.get(), "Book", ":iPod_Control:Music:F01:B.m4b",
                                    "AAC audio file", ITDB_MEDIATYPE_AUDIOBOOK);
    itdb_playlist_add_track(itdb_playlist_mpl(itdb.get()), video, -1);
    itdb_playlist_add_track(itdb_playlist_mpl(itdb.get()), book, -1);
    const std::string path = folder / "iTunesDB";
    ASSERT_TRUE(writeGpodDatabase(itdb.get(), path));

    auto contents = iTunesDBReader::readFile(path);
    ASSERT_TRUE(contents.isDatabase);
    ASSERT_EQ(contents.tracks.size(), 5u);
    const Value& first = contents.tracks[0];
    Itdb_Track* gpodFirst = static_cast<Itdb_Track*>(itdb->tracks->data);
    EXPECT_EQ(first["pid"], Value(gpodFirst->id));
    EXPECT_EQ(first["title"], Value("Song 0"));
    EXPECT_EQ(first["artist"], Value("Gpod Artist"));
    EXPECT_EQ(first["album"], Value("Gpod Album"));
    EXPECT_EQ(first["genre"], Value("Rock"));
    EXPECT_EQ(first["fileType"], Value("MPEG audio file"));
    EXPECT_EQ(first["location"], Value("/iPod_Control/Music/F00/S0.mp3"));
    EXPECT_EQ(first["size"], Value(1234567u));
    EXPECT_EQ(first["length"], Value(180000u));
    EXPECT_EQ(first["trackNumber"], Value(4));
    EXPECT_EQ(first["totalTracks"], Value(10));
    EXPECT_EQ(first["year"], Value(2007));
    EXPECT_EQ(first["playCount"], Value(3u));
    EXPECT_EQ(first["stars"], Value(60u));
    EXPECT_EQ(first["is_song"], Value(true));
    EXPECT_EQ(contents.tracks[3]["is_movie"], Value(true));
    EXPECT_EQ(contents.tracks[3]["is_music_video"], Value(true));
    EXPECT_EQ(contents.tracks[4]["is_audio_book"], Value(true));
    EXPECT_EQ(contents.tracks[4]["pid"], Value(book->id));

    ASSERT_GE(contents.playlists.size(), 3u);
    const auto& master = *contents.playlists[0];
    EXPECT_TRUE(master.isMaster());
    EXPECT_EQ(master.name(), "Gpod iPod");
    EXPECT_EQ(master.trackIDs().size(), 5u);
    bool sawRoad = false, sawSmart = false;
    for (const auto& playlist : contents.playlists) {
        if (playlist->name() == "Road") {
            sawRoad = true;
            EXPECT_EQ(playlist->type(), 0);
            ASSERT_EQ(playlist->trackIDs().size(), 2u);
            EXPECT_EQ(playlist->trackIDs()[0], Value(std::to_string(gpodFirst->id)));
        }
        if (playlist->name() == "Smart") {
            sawSmart = true;
            EXPECT_EQ(playlist->type(), 2);
            EXPECT_FALSE(playlist->isMaster());
        }
    }
    EXPECT_TRUE(sawRoad);
    EXPECT_TRUE(sawSmart);
    EXPECT_EQ(iTunesDBReader::masterPlaylistNameOfFile(path), "Gpod iPod");
}

}  // namespace

#endif
