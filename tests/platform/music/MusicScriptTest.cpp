#include <gtest/gtest.h>

#include <filesystem>

#include "MusicFixture.h"
#include "foundation/Json.h"
#include "foundation/Url.h"
#include "platform/music/PersistentID.h"

using foundation::Array;
using foundation::Value;
using musictest::MusicFixture;
namespace fs = std::filesystem;

namespace {

std::string pathOf(const music::ScriptOutcome& outcome) {
    if (!outcome.result || outcome.result->type != music::ScriptDescriptor::Type::FileURL)
        return "<no file URL>";
    return foundation::Url::parse(outcome.result->text)->filePath().value_or("<bad URL>");
}

// Every file below the folder, hidden ones included.
std::vector<std::string> filesBelow(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST_F(MusicFixture, ImportCopiesTheFileWholeToItsPlaceAndAnswersAnId) {
    ASSERT_TRUE(script);
    const std::string source = sourceFile("song.m4a", "tagged audio bytes");
    const std::string id = text("add_track_to_itunes", {source});
    ASSERT_TRUE(music::PersistentID::isValid(id)) << id;

    const std::string placed = pathOf(run("get_track_posix_path", {id}));
    EXPECT_EQ(placed, folder / "Music/Unknown Artist/Unknown Album/song.m4a");
    EXPECT_EQ(foundationtest::contentsOf(placed), "tagged audio bytes");
    EXPECT_EQ(filesBelow(folder / "Music"), std::vector<std::string>{placed});

    // A file already in the library folder is listed where it is, and only once.
    EXPECT_EQ(text("add_track_to_itunes", {placed}), id);
    const std::string kept = folder / "Music/kept.mp3";
    fs::copy_file(source, kept);
    const std::string keptID = text("add_track_to_itunes", {kept});
    EXPECT_EQ(pathOf(run("get_track_posix_path", {keptID})), kept);
    // The same source again is a second track beside the first.
    const std::string again = text("add_track_to_itunes", {source});
    EXPECT_NE(again, id);
    EXPECT_EQ(pathOf(run("get_track_posix_path", {again})),
              folder / "Music/Unknown Artist/Unknown Album/song 2.m4a");
    EXPECT_EQ(script->library()->trackCount(), 3);

    EXPECT_EQ(text("add_track_to_itunes", {folder / "missing.m4a"}),
              "no file at " + folder / "missing.m4a");
}

TEST_F(MusicFixture, MetadataUpdateKeepsWhatIsLeftEmptyAndMovesThePlacedFile) {
    const std::string id = importTrack("raw.m4a");
    ASSERT_EQ(text("add_to_playlist", {"Road", id}), "");
    const Array tags = {id,      "Title", "Artist", "Rock", 3,  80, 1999, 4, 10,
                        "Album", 1,       2,        "",     "", "", "",   ""};
    ASSERT_EQ(text("update_track_metadata", tags), "");

    const std::string moved = folder / "Music/Artist/Album/04 Title.m4a";
    EXPECT_EQ(pathOf(run("get_track_posix_path", {id})), moved);
    EXPECT_EQ(filesBelow(folder / "Music"),
              (std::vector<std::string>{moved, folder / "Music/Playlists/Road.m3u8"}));
    EXPECT_EQ(m3uPaths(folder / "Music/Playlists/Road.m3u8"), std::vector<std::string>{moved});
    EXPECT_NE(foundationtest::contentsOf(folder / "Music/Playlists/Road.m3u8")
                  .find("#EXTINF:-1,Artist - Title"),
              std::string::npos);

    // Empty texts and zeros change nothing; the tags are found whatever their letter case.
    ASSERT_EQ(text("update_track_metadata",
                   {id, "", "", "", 0, 0, 0, 0, 0, "", 0, 0, "", "", "", "", ""}),
              "");
    const auto found = foundation::json::read(text("find_track", {"", "title", "ARTIST", "album"}));
    ASSERT_TRUE(found);
    EXPECT_EQ((*found)["globalID"], Value(id));
    EXPECT_EQ((*found)["locationOnMac"], Value(moved));
    EXPECT_EQ((*found)["name"], Value("Title"));
    EXPECT_EQ(foundation::json::read(text("find_track", {id, "", "", ""}))->operator[]("globalID"),
              Value(id));

    EXPECT_NE(text("update_track_metadata",
                   {"00000000000000AB", "x", "", "", 0, 0, 0, 0, 0, "", 0, 0, "", "", "", "", ""}),
              "");
}

TEST_F(MusicFixture, PlaylistsAreM3u8FilesAndAnswerMembership) {
    const std::string one = importTrack("one.mp3");
    const std::string two = importTrack("two.mp3");
    for (const auto& id : {two, one, two}) ASSERT_EQ(text("add_to_playlist", {"Mix", id}), "");
    const std::string mix = folder / "Music/Playlists/Mix.m3u8";
    EXPECT_EQ(m3uPaths(mix),
              (std::vector<std::string>{pathOf(run("get_track_posix_path", {two})),
                                        pathOf(run("get_track_posix_path", {one}))}));

    struct Case {
        const char* handler;
        Array arguments;
        const char* answer;
    };
    const Case cases[] = {
        {"check_track_in_playlist", {"Mix", one}, "true"},
        {"check_track_in_playlist", {"mix", one}, "true"},
        {"check_track_in_playlist", {"Other", one}, "false"},
        {"check_track_in_playlist", {"Mix", "not an id"}, "false"},
        {"check_track_in_playlist_2", {"Mix", "two", "", "", 0, 0}, "true"},
        {"check_track_in_playlist_2", {"Mix", "two", "someone", "", 0, 0}, "false"},
        {"add_to_playlist",
         {"Mix", "00000000000000AB"},
         "no track with the persistent id \"00000000000000AB\""},
        {"add_to_playlist", {"", one}, "no playlist name"},
        {"transfer_ratings", {one, "60"}, ""},
        {"transfer_ratings", {one, "101"}, "a rating is from 0 to 100"},
        {"find_track", {"", "nothing", "", ""}, ""},
        {"get_track_posix_path", {"00000000000000AB"}, "<none>"},
        {"create_playlist", {""}, "<none>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.handler) + " " + foundation::json::write(c.arguments));
        EXPECT_EQ(text(c.handler, c.arguments), c.answer);
    }

    // A name that would leave the playlist folder stays inside it.
    const std::string made = text("create_playlist", {"../Evil/.."});
    EXPECT_TRUE(music::PersistentID::isValid(made));
    EXPECT_EQ(text("create_playlist", {"../Evil/.."}), made);
    EXPECT_EQ(m3uPaths(folder / "Music/Playlists/Evil.m3u8"), std::vector<std::string>{});
    const auto lists = script->library()->playlists();
    ASSERT_EQ(lists.size(), 2u);
    EXPECT_EQ(lists[1].name, "Mix");
    EXPECT_EQ(lists[1].trackCount, 2);
}

TEST_F(MusicFixture, WrongHandlersAndArgumentsRaiseErrors) {
    const std::pair<const char*, Array> cases[] = {
        {"no_such_handler", {}},
        {"find_track", {"", "", ""}},
        {"add_to_playlist", {"Mix", "1", "extra"}},
        {"update_track_metadata", {"id"}},
        {"transfer_ratings", {"0000000000000001", "high"}},
        {"check_track_in_playlist_2", {"Mix", "", "", "", "zero", 0}},
        {"add_track_to_itunes", {Value::list({})}},
    };
    for (const auto& [handler, arguments] : cases) {
        auto outcome = run(handler, arguments);
        EXPECT_TRUE(outcome.error) << handler;
        EXPECT_FALSE(outcome.result) << handler;
    }
}
