#include <gtest/gtest.h>

#include "MusicLibraryFixture.h"
#include "data/db/SqlDatabase.h"
#include "platform/music/PersistentID.h"

using foundation::Value;
using mediatest::MusicLibraryFixture;

namespace {

Value deviceTrack(const std::string& macpath) {
    return Value::dict({{"macpath", macpath},
                        {"pidstr", "00000000000004D2"},
                        {"title", "Song"},
                        {"artist", "Band"},
                        {"album", "Record"},
                        {"genre", "Rock"},
                        {"playCount", 5},
                        {"stars", 60},
                        {"year", 2001},
                        {"trackNumber", 3},
                        {"totalTracks", 9},
                        {"disc_number", 1},
                        {"disc_count", 2},
                        {"album_artist", "Various"},
                        {"composer", "Writer"},
                        {"comment", "Note"},
                        {"description", "Short"},
                        {"description_long", "Long"}});
}

}  // namespace

class iTunesWrapperTest : public MusicLibraryFixture {
protected:
    // The library's tags of the track, in the order of the metadata handler's arguments.
    Value storedTags(const Value& track) {
        auto db = SqlDatabase::databaseWithPath(folder / "data/index.sqlite");
        EXPECT_TRUE(db->open());
        auto rs = db->executeQuery(
            "SELECT title, artist, genre, play_count, rating, year, track_number, track_count, "
            "album, disc_number, disc_count, album_artist, composer, comment, description, "
            "description_long FROM tracks WHERE pid = ?",
            track["persistentID"]);
        Value tags = foundation::Array{};
        if (rs && rs->next()) {
            for (int i = 0; i < rs->columnCount(); ++i) tags.append(rs->objectForColumnIndex(i));
        }
        return tags;
    }
};

TEST_F(iTunesWrapperTest, ImportCopiesTheTrackAndItsTags) {
    Value track = deviceTrack(sourceFile("copied.m4a"));
    foundation::Error error;
    ASSERT_TRUE(wrapper.importToItunesError(track, &error)) << error.message;
    const std::string id = track["persistentID"].stringOr();
    EXPECT_TRUE(music::PersistentID::isValid(id));
    EXPECT_EQ(storedTags(track), Value::list({"Song", "Band", "Rock", 5, 60, 2001, 3, 9, "Record",
                                              1, 2, "Various", "Writer", "Note", "Short", "Long"}));
    EXPECT_EQ(wrapper.pathForTrackByPID(id), folder / "Music/Band/Record/Song.m4a");
    // A "pidstr" names a library track; the device's own id finds nothing.
    EXPECT_FALSE(wrapper.findTrack(track));
    EXPECT_EQ((*wrapper.findTrack(Value::dict(
                  {{"title", "Song"}, {"artist", "Band"}, {"album", "Record"}})))["globalID"],
              Value(id));
    EXPECT_TRUE(wrapper.addToITunesPlaylistTargetPlaylistStr(track, "Road"));
    EXPECT_TRUE(wrapper.checkTrackInPlayList(id, "Road"));
    EXPECT_TRUE(wrapper.checkTrackTitleArtistAlbumInPlaylist("Song", "Band", "Record", "Road"));
    EXPECT_FALSE(wrapper.checkTrackTitleArtistAlbumInPlaylist("Song", "Band", "Other", "Road"));
    EXPECT_TRUE(wrapper.updateRatingForID(Value(100), id));
    EXPECT_EQ(storedTags(track)[4], Value(100));
}

TEST_F(iTunesWrapperTest, WithEveryMetadataPreferenceOffOnlyTheAlwaysFieldsGo) {
    Settings& settings = Settings::settings();
    settings.setCopyMeta(false);
    Value track = deviceTrack(sourceFile("plain.m4a"));
    ASSERT_TRUE(wrapper.importToItunesError(track, nullptr));
    EXPECT_EQ(storedTags(track)[0], Value("plain"));  // no tags copied at import
    for (auto set :
         {&Settings::setMetaTitle, &Settings::setMetaArtist, &Settings::setMetaAlbum,
          &Settings::setMetaRating, &Settings::setMetaPlaycount, &Settings::setMetaDiscNumber,
          &Settings::setMetaAlbumArtist, &Settings::setMetaComposer, &Settings::setMetaComment,
          &Settings::setMetaDescription, &Settings::setMetaLongDescription}) {
        (settings.*set)(false);
    }
    foundation::Error error;
    ASSERT_TRUE(wrapper.updateTrackMetadataInITunesError(track, &error)) << error.message;
    EXPECT_EQ(storedTags(track),
              Value::list({"plain", "", "Rock", 0, 0, 2001, 3, 9, "", 0, 0, "", "", "", "", ""}));
}

TEST_F(iTunesWrapperTest, FailuresCarryTheirCodes) {
    media::iTunesWrapper unavailable(nullptr);
    const Value known = Value::dict({{"persistentID", "00000000000000AB"}});
    struct Case {
        const char* name;
        media::iTunesWrapper& wrapper;
        Value track;
        bool import;  // else a metadata update
        std::int64_t code;
        std::string message;
    };
    const Case cases[] = {
        {"no macpath", wrapper, Value::dict({{"title", "x"}}), true, 10,
         "the track has not been transferred to computer."},
        {"missing file", wrapper, Value::dict({{"macpath", folder / "none.m4a"}}), true, 10,
         "Could not find track file on computer."},
        {"no persistentID", wrapper, Value::dict({{"title", "x"}}), false, -1001, ""},
        {"unknown track", wrapper, known, false, -1002,
         "no track with the persistent id \"00000000000000AB\""},
        {"no library: import", unavailable, Value::dict({{"macpath", sourceFile("a.m4a")}}), true,
         10, "the music library is not available"},
        {"no library: update", unavailable, known, false, -1002,
         "the music library is not available"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Value track = c.track;
        foundation::Error error;
        const bool done = c.import ? c.wrapper.importToItunesError(track, &error)
                                   : c.wrapper.updateTrackMetadataInITunesError(track, &error);
        EXPECT_FALSE(done);
        EXPECT_EQ(error.domain, media::iTunesWrapper::kErrorDomain);
        EXPECT_EQ(error.code, c.code);
        if (!c.message.empty()) {
            EXPECT_EQ(error.message, c.message);
        }
    }
    // Without a library nothing reports success.
    EXPECT_FALSE(unavailable.addToITunesPlaylistTargetPlaylistStr(known, "Road"));
    EXPECT_FALSE(wrapper.addToITunesPlaylistTargetPlaylistStr(known, "Road"));
    EXPECT_FALSE(unavailable.updateRatingForID(Value(20), "00000000000000AB"));
    EXPECT_FALSE(unavailable.checkTrackInPlayList("00000000000000AB", "Road"));
    EXPECT_FALSE(unavailable.checkTrackTitleArtistAlbumInPlaylist("a", "b", "c", "Road"));
    EXPECT_FALSE(unavailable.findTrack(known));
    EXPECT_FALSE(unavailable.pathForTrackByPID("00000000000000AB"));
    EXPECT_FALSE(wrapper.pathForTrackByPID(""));
}

// A wrapper whose script answers every handler with the given result, counting the calls.
struct AnsweringScript {
    std::optional<music::ScriptDescriptor> answer;
    std::vector<std::string> handlers;
    media::iTunesWrapper wrapper{media::iTunesWrapper::StandIn{
        [this](const std::string& handler, const foundation::Array&) {
            handlers.push_back(handler);
            return music::ScriptOutcome{answer, std::nullopt};
        }}};
};

TEST_F(iTunesWrapperTest, AnImportAnsweredByAnIdOfOtherThanSixteenCharactersFailsWithThatText) {
    for (const std::string answer : {"0123456789ABCDE", "0123456789ABCDEF0"}) {
        SCOPED_TRACE(answer);
        AnsweringScript script{music::ScriptDescriptor::ofText(answer)};
        Value track = deviceTrack(sourceFile("short.m4a"));
        foundation::Error error;
        EXPECT_FALSE(script.wrapper.importToItunesError(track, &error));
        EXPECT_EQ(error.domain, media::iTunesWrapper::kErrorDomain);
        EXPECT_EQ(error.code, 10);
        EXPECT_EQ(error.message, answer);
        EXPECT_TRUE(track["persistentID"].isNil());
        EXPECT_EQ(script.handlers, std::vector<std::string>{"add_track_to_itunes"});
    }
    // Sixteen characters are the id: stored, and (metadata copying off) nothing more is asked.
    Settings::settings().setCopyMeta(false);
    AnsweringScript script{music::ScriptDescriptor::ofText("0123456789ABCDEF")};
    Value track = deviceTrack(sourceFile("whole.m4a"));
    EXPECT_TRUE(script.wrapper.importToItunesError(track, nullptr));
    EXPECT_EQ(track["persistentID"], Value("0123456789ABCDEF"));
}

TEST_F(iTunesWrapperTest, AFindAnsweredByAnythingButAJsonDictionaryFindsNothing) {
    const Value track = Value::dict({{"title", "Song"}});
    for (const char* answer : {R"([{"globalID": "0123456789ABCDEF"}])", "[]", "\"text\"", "12",
                               "{not json", ""}) {
        SCOPED_TRACE(answer);
        AnsweringScript script{music::ScriptDescriptor::ofText(answer)};
        EXPECT_EQ(script.wrapper.findTrack(track), std::nullopt);
        EXPECT_EQ(script.handlers, std::vector<std::string>{"find_track"});
    }
    AnsweringScript none{std::nullopt};
    EXPECT_EQ(none.wrapper.findTrack(track), std::nullopt);
    AnsweringScript dictionary{
        music::ScriptDescriptor::ofText(R"({"globalID": "0123456789ABCDEF", "locationOnMac": "/m"})")};
    EXPECT_EQ(dictionary.wrapper.findTrack(track),
              Value::dict({{"globalID", "0123456789ABCDEF"}, {"locationOnMac", "/m"}}));
}
