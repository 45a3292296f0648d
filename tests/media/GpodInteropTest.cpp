#ifdef ORVANDEL_HAVE_GPOD

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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

// The kinds a track of each media type is read as, by the file type and path it is given.
struct TrackKind {
    const char* fileType;
    const char* extension;
    guint32 mediaType;
    std::vector<const char*> flags;
};

Value expectedRecord(const Itdb_Track& track, const TrackKind& kind) {
    foundation::Dictionary fields = {
        {"pid", Value(track.id)},
        {"size", Value(track.size)},
        {"length", Value(static_cast<unsigned>(track.tracklen))},
        {"stars", Value(track.rating)},
        {"year", Value(track.year)},
        {"playCount", Value(track.playcount)},
        {"trackNumber", Value(track.track_nr)},
        {"totalTracks", Value(track.tracks)},
    };
    const auto text = [&](const char* key, const gchar* value, bool unknown) {
        if (value) {
            fields.emplace(key, std::string(value));
        } else if (unknown) {
            fields.emplace(key, "Unknown");
        }
    };
    text("title", track.title, true);
    text("album", track.album, true);
    text("artist", track.artist, true);
    text("genre", track.genre, true);
    text("fileType", track.filetype, false);
    text("comment", track.comment, false);
    std::string location = track.ipod_path;
    std::replace(location.begin(), location.end(), ':', '/');
    fields.emplace("location", location);
    for (const char* flag : kind.flags) fields.emplace(flag, true);
    return Value(std::move(fields));
}

// Every record and playlist we read from a varied libgpod-written database matches what
// libgpod itself reads back from the same file.
TEST(GpodInteropTest, EveryRecordMatchesWhatGpodReadsBack) {
    const TrackKind kinds[] = {
        {"MPEG audio file", "MP3", ITDB_MEDIATYPE_AUDIO, {"is_song"}},
        {"MPEG-4 video file", "m4v", ITDB_MEDIATYPE_MOVIE, {"is_music_video", "is_movie"}},
        {"AAC audio file", "m4b", ITDB_MEDIATYPE_AUDIOBOOK, {"is_audio_book"}},
        {"MPEG audio file", "mp3", ITDB_MEDIATYPE_PODCAST, {"is_podcast", "is_song"}},
        {"MPEG-4 video file", "m4v", ITDB_MEDIATYPE_TVSHOW, {"is_music_video", "is_tv_show"}},
    };
    const char* titles[] = {"Song", "Chanson d'été", "日本の歌", "Notes \U0001F3B5 and more",
                            "A title long enough to cross several four-unit steps of ASCII"};
    foundationtest::ScratchFolder folder;
    auto itdb = makeGpodDatabase(0);
    Itdb_Playlist* master = itdb_playlist_mpl(itdb.get());
    Itdb_Playlist* road = itdb_playlist_by_name(itdb.get(), const_cast<gchar*>("Road"));
    constexpr int kTracks = 400;
    for (int i = 0; i < kTracks; ++i) {
        const TrackKind& kind = kinds[i % 5];
        const std::string title = std::string(titles[i % 7 % 5]) + " " + std::to_string(i);
        const std::string path = ":iPod_Control:Music:F" + std::to_string(i % 20) + ":T" +
                                 std::to_string(i) + "." + kind.extension;
        Itdb_Track* track =
            addGpodTrack(itdb.get(), title.c_str(), path.c_str(), kind.fileType, kind.mediaType);
        track->movie_flag = kind.mediaType == ITDB_MEDIATYPE_MOVIE ||
                            kind.mediaType == ITDB_MEDIATYPE_TVSHOW;
        // Missing texts, other numbers and comments on some tracks.
        if (i % 3 == 0) g_clear_pointer(&track->album, g_free);
        if (i % 4 == 0) g_clear_pointer(&track->artist, g_free);
        if (i % 6 == 0) g_clear_pointer(&track->genre, g_free);
        if (i % 7 == 0) track->comment = g_strdup("Ünïcödé comment");
        track->size = 1000u * static_cast<guint32>(i);
        track->tracklen = 1000 + i;
        track->year = 1950 + i % 70;
        track->track_nr = i % 17;
        track->tracks = 17;
        track->playcount = static_cast<guint32>(i % 9);
        track->rating = static_cast<guint32>(i % 6 * 20);
        itdb_playlist_add_track(master, track, -1);
        if (i % 3 == 1) itdb_playlist_add_track(road, track, -1);
    }
    const std::string path = folder / "iTunesDB";
    ASSERT_TRUE(writeGpodDatabase(itdb.get(), path));
    ItdbPtr reread(itdb_parse_file(path.c_str(), nullptr));
    ASSERT_TRUE(reread);

    const auto contents = iTunesDBReader::readFile(path);
    ASSERT_EQ(contents.tracks.size(), static_cast<std::size_t>(kTracks));
    int index = 0;
    for (GList* node = reread->tracks; node; node = node->next, ++index) {
        const auto* track = static_cast<const Itdb_Track*>(node->data);
        const int written = std::stoi(std::string(track->title).substr(
            std::string(track->title).rfind(' ') + 1));
        ASSERT_LT(index, kTracks);
        EXPECT_EQ(contents.tracks[index], expectedRecord(*track, kinds[written % 5]))
            << "track " << index;
    }

    std::vector<const Itdb_Playlist*> playlists;
    for (GList* node = reread->playlists; node; node = node->next)
        playlists.push_back(static_cast<const Itdb_Playlist*>(node->data));
    ASSERT_EQ(contents.playlists.size(), playlists.size());
    for (std::size_t i = 0; i < playlists.size(); ++i) {
        const auto& ours = *contents.playlists[i];
        EXPECT_EQ(ours.name(), playlists[i]->name);
        EXPECT_EQ(ours.isMaster(), itdb_playlist_is_mpl(const_cast<Itdb_Playlist*>(playlists[i])));
        EXPECT_EQ(ours.type(), playlists[i]->is_spl ? 2 : 0);
        std::vector<Value> members;
        for (GList* node = playlists[i]->members; node; node = node->next)
            members.emplace_back(std::to_string(static_cast<Itdb_Track*>(node->data)->id));
        EXPECT_EQ(ours.trackIDs(), members) << ours.name();
    }
    EXPECT_EQ(iTunesDBReader::masterPlaylistNameOfFile(path), "Gpod iPod");
}

}  // namespace

#endif
