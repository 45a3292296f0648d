#include <gtest/gtest.h>

#include "MusicLibraryFixture.h"
#include "logging/CapturingLogger.h"
#include "media/iTunesLibrary.h"
#include "media/iTunesWrapper.h"

using foundation::Value;
using mediatest::MusicLibraryFixture;

class iTunesLibraryTest : public MusicLibraryFixture {
protected:
    media::iTunesLibrary library{wrapper};

    std::string importTagged(const std::string& title, const std::string& artist,
                             const std::string& album) {
        Value track = Value::dict({{"macpath", sourceFile(title + ".mp3")},
                                   {"title", title},
                                   {"artist", artist},
                                   {"album", album}});
        EXPECT_TRUE(wrapper.importToItunesError(track, nullptr));
        return track["persistentID"].stringOr();
    }
};

TEST_F(iTunesLibraryTest, MatchingMarksFoundTracksUnmarksOthersAndStopsWhenAsked) {
    const std::string id = importTagged("Song", "Band", "Record");
    const Value stale = Value::dict({{"title", "Gone"},
                                     {"status", "copied"},
                                     {"macpath", "/old"},
                                     {"persistentID", "0000000000000001"}});
    foundation::Array tracks = {
        Value::dict({{"title", "Song"}, {"artist", "Band"}, {"album", "Record"}}), stale,
        Value::dict({}), stale};
    std::vector<Value> reported;
    library.isTracksInITunesCallback(tracks, [&](const Value& track) {
        reported.push_back(track);
        return reported.size() < 3;  // the user cancels after the third
    });
    ASSERT_EQ(reported.size(), 3u);
    EXPECT_EQ(tracks[0]["status"], Value("copied"));
    EXPECT_EQ(tracks[0]["persistentID"], Value(id));
    EXPECT_EQ(tracks[0]["macpath"], Value(folder / "Music/Band/Record/Song.mp3"));
    EXPECT_EQ(tracks[1], Value::dict({{"title", "Gone"}}));
    EXPECT_EQ(tracks[2], Value::dict({}));  // no tags: looked up with empty texts
    EXPECT_EQ(tracks[3], stale);            // never reached
    EXPECT_EQ(reported[0], tracks[0]);

    EXPECT_EQ(library.pathForTrackByPersistentID(id), folder / "Music/Band/Record/Song.mp3");
}

TEST_F(iTunesLibraryTest, LoadingListsThePlaylistsForThePage) {
    const std::string id = importTagged("Song", "Band", "Record");
    importTagged("Other", "Band", "Record");
    ASSERT_TRUE(library.createPlaylist("Empty"));
    ASSERT_TRUE(
        wrapper.addToITunesPlaylistTargetPlaylistStr(Value::dict({{"persistentID", id}}), "Road"));
    EXPECT_FALSE(library.isLoaded());
    library.loadTracks();
    EXPECT_TRUE(library.isLoaded());
    const Value summary = library.summary();
    EXPECT_EQ(summary["loaded"], Value(true));
    EXPECT_EQ(summary["trackCount"], Value(2));
    ASSERT_EQ(summary["playlists"].size(), 2u);
    EXPECT_EQ(summary["playlists"][0]["name"], Value("Empty"));
    EXPECT_EQ(summary["playlists"][1]["trackCount"], Value(1));
    EXPECT_EQ(library.itPlistlists().front().name, "Library");
    EXPECT_EQ(library.userPlaylists().size(), 2u);

    // The page is shown the library as it is now, not as it was listed.
    const std::string later = importTagged("Later", "Band", "Record");
    ASSERT_TRUE(
        wrapper.addToITunesPlaylistTargetPlaylistStr(Value::dict({{"persistentID", later}}), "New"));
    const Value now = library.summary();
    EXPECT_EQ(now["trackCount"], Value(3));
    ASSERT_EQ(now["playlists"].size(), 3u);
    EXPECT_EQ(now["playlists"][1]["name"], Value("New"));

    media::iTunesWrapper none(nullptr);
    media::iTunesLibrary unavailable(none);
    unavailable.loadTracks();
    EXPECT_EQ(unavailable.summary()["loaded"], Value(false));
    EXPECT_FALSE(unavailable.createPlaylist("x"));
}

// The accessors nothing in the program uses: the shared view's user playlists, the track
// dictionary that is never filled, and the store that puts the empty text for nil.
TEST_F(iTunesLibraryTest, SharedUserPlaylistsTrackDictionaryAndStore) {
    foundationtest::ScopedEnvironment environment;
    environment.set("XDG_MUSIC_DIR", folder / "shared/Music");
    environment.set("XDG_DATA_HOME", folder / "shared/data");
    media::iTunesLibrary& shared = media::iTunesLibrary::itLibrary();
    ASSERT_TRUE(shared.createPlaylist("Shared"));
    shared.loadTracks();
    const auto lists = media::iTunesLibrary::iTunesUserPlaylists();
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].name, "Shared");
    EXPECT_FALSE(lists[0].isLibrary);

    library.loadTracks();
    EXPECT_TRUE(library.allTracks().isNil());
    Value record;
    library.addToForKey(Value("Song"), record, "title");
    library.addToForKey(Value(), record, "artist");
    library.addToForKey(Value(3), record, "year");
    EXPECT_EQ(record, Value::dict({{"title", "Song"}, {"artist", ""}, {"year", 3}}));
}

// The local library stands in for the Music application; there is no iTunes application,
// so the choice falls on Music and its identifier is recorded, none before. The listing
// without a library says which application it could not read.
TEST_F(iTunesLibraryTest, TheMusicApplicationIsTheLocalLibraryAndTheChoiceIsRecorded) {
    foundationtest::ScopedEnvironment environment;
    environment.set("XDG_MUSIC_DIR", folder / "shared/Music");
    environment.set("XDG_DATA_HOME", folder / "shared/data");
    EXPECT_EQ(media::iTunesLibrary::iTunesIdentifier(), std::nullopt);
    EXPECT_EQ(media::iTunesLibrary::iTunesApp(), nullptr);
    const auto music = media::iTunesLibrary::MusicApp();
    ASSERT_NE(music, nullptr);
    EXPECT_EQ(media::iTunesLibrary::iTunes(), music);
    EXPECT_EQ(media::iTunesLibrary::iTunesIdentifier(), std::optional<std::string>("com.apple.Music"));

    const auto captured = std::make_shared<CapturingLogger>();
    const auto savedLevel = lgLogLevel.load();
    lgLogLevel.store(LgLogLevelAll);
    LgLog::sharedInstance().addLogger(captured);
    media::iTunesWrapper none(nullptr);
    media::iTunesLibrary unavailable(none);
    unavailable.loadMusicTracks();
    LgLog::sharedInstance().flushLog();
    LgLog::sharedInstance().removeLogger(captured);
    lgLogLevel.store(savedLevel);
    EXPECT_FALSE(unavailable.isLoaded());
    EXPECT_EQ(captured->texts(), std::vector<std::string>{"error loading Music library"});
}
