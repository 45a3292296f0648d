#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "MusicFixture.h"
#include "data/db/SqlDatabase.h"
#include "foundation/Url.h"
#include "platform/music/PersistentID.h"

using musictest::MusicFixture;
namespace fs = std::filesystem;

namespace {

ino_t inodeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

std::string trackPath(MusicFixture& fixture, const std::string& id) {
    return fixture.script->library()->trackPath(id).value_or("<none>");
}

}  // namespace

// Names that differ only in what a file name cannot hold still get a file each, and keep it
// when the library is opened again.
TEST_F(MusicFixture, PlaylistsWhoseNamesShareAFileNameKeepFilesOfTheirOwn) {
    const std::string one = importTrack("one.mp3");
    const std::string two = importTrack("two.mp3");
    const std::pair<const char*, const char*> clashes[] = {{"Rock/Pop", "RockPop"},
                                                           {"???", "Unknown"}};
    for (const auto& [first, second] : clashes) {
        SCOPED_TRACE(first);
        ASSERT_EQ(text("add_to_playlist", {first, one}), "");
        ASSERT_EQ(text("add_to_playlist", {second, two}), "");
        const auto firstFile = script->library()->playlistFilePath(first);
        const auto secondFile = script->library()->playlistFilePath(second);
        ASSERT_TRUE(firstFile && secondFile);
        EXPECT_NE(*firstFile, *secondFile);
        EXPECT_EQ(m3uPaths(*firstFile), std::vector<std::string>{trackPath(*this, one)});
        EXPECT_EQ(m3uPaths(*secondFile), std::vector<std::string>{trackPath(*this, two)});
    }
    EXPECT_EQ(*script->library()->playlistFilePath("RockPop"), folder / "Music/Playlists/RockPop 2.m3u8");

    script = music::MusicScript::load(location(), nullptr);
    ASSERT_EQ(text("add_to_playlist", {"RockPop", one}), "");
    EXPECT_EQ(m3uPaths(folder / "Music/Playlists/RockPop 2.m3u8"),
              (std::vector<std::string>{trackPath(*this, two), trackPath(*this, one)}));
    EXPECT_EQ(m3uPaths(folder / "Music/Playlists/RockPop.m3u8"),
              std::vector<std::string>{trackPath(*this, one)});
    EXPECT_FALSE(script->library()->playlistFilePath("Nothing"));
}

// The index and the playlist files keep paths as UTF-8: a file whose name is not is refused
// with a reason rather than listed without its path.
TEST_F(MusicFixture, AFileNameThatIsNotUtf8IsRefusedWithAReason) {
    const std::string answer = importTrack("bad\xFF.mp3");
    EXPECT_EQ(answer.rfind("the file name is not UTF-8: ", 0), 0u) << answer;
    EXPECT_EQ(script->library()->trackCount(), 0);
    EXPECT_FALSE(fs::exists(folder / "Music/Unknown Artist"));
}

// A second track of the same tags lies under a numbered name; an update that changes nothing
// leaves it there and leaves its playlists alone.
TEST_F(MusicFixture, AnUnchangedUpdateKeepsANumberedNameAndItsPlaylists) {
    const std::string source = sourceFile("Intro.m4a");
    const std::string first = text("add_track_to_itunes", {source});
    const std::string second = text("add_track_to_itunes", {source});
    const std::string numbered = folder / "Music/Unknown Artist/Unknown Album/Intro 2.m4a";
    ASSERT_EQ(trackPath(*this, second), numbered);
    ASSERT_EQ(text("add_to_playlist", {"Road", second}), "");
    const std::string road = folder / "Music/Playlists/Road.m3u8";
    const ino_t written = inodeOf(road);

    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(text("update_track_metadata",
                       {second, "", "", "", 0, 0, 0, 0, 0, "", 0, 0, "", "", "", "", ""}),
                  "");
        EXPECT_EQ(trackPath(*this, second), numbered);
        EXPECT_EQ(inodeOf(road), written);
    }
    EXPECT_TRUE(fs::exists(numbered));
    EXPECT_EQ(trackPath(*this, first), folder / "Music/Unknown Artist/Unknown Album/Intro.m4a");

    // A real change still moves the file and rewrites the playlist.
    ASSERT_EQ(text("update_track_metadata",
                   {second, "Outro", "", "", 0, 0, 0, 0, 0, "", 0, 0, "", "", "", "", ""}),
              "");
    const std::string moved = folder / "Music/Unknown Artist/Unknown Album/Outro.m4a";
    EXPECT_EQ(trackPath(*this, second), moved);
    EXPECT_EQ(m3uPaths(road), std::vector<std::string>{moved});
}

// A playlist file the library did not write is never replaced: the library's playlist of
// that name takes a free name, as tracks do, and keeps it.
TEST_F(MusicFixture, APersonsOwnPlaylistFileIsNeverReplaced) {
    const std::string own = "#EXTM3U\n/home/me/favourite.mp3\n";
    fs::create_directories(folder / "Music/Playlists");
    foundationtest::writeText(folder / "Music/Playlists/Mix.m3u8", own);
    foundationtest::writeText(folder / "Music/Playlists/Road.m3u8", own);
    fs::create_symlink(folder / "nowhere.m3u8", folder / "Music/Playlists/Gone.m3u8");
    const std::string one = importTrack("one.mp3");

    ASSERT_TRUE(music::PersistentID::isValid(text("create_playlist", {"Mix"})));
    ASSERT_EQ(text("add_to_playlist", {"Mix", one}), "");
    // Made by adding to it, as a device export does.
    ASSERT_EQ(text("add_to_playlist", {"Road", one}), "");
    ASSERT_EQ(text("add_to_playlist", {"Gone", one}), "");
    EXPECT_EQ(script->library()->playlistFilePath("Mix"), folder / "Music/Playlists/Mix 2.m3u8");
    EXPECT_EQ(script->library()->playlistFilePath("Road"), folder / "Music/Playlists/Road 2.m3u8");
    EXPECT_EQ(script->library()->playlistFilePath("Gone"), folder / "Music/Playlists/Gone 2.m3u8");
    EXPECT_EQ(foundationtest::contentsOf(folder / "Music/Playlists/Mix.m3u8"), own);
    EXPECT_EQ(foundationtest::contentsOf(folder / "Music/Playlists/Road.m3u8"), own);
    EXPECT_TRUE(fs::is_symlink(folder / "Music/Playlists/Gone.m3u8"));
    EXPECT_FALSE(fs::exists(folder / "nowhere.m3u8"));
    EXPECT_EQ(m3uPaths(folder / "Music/Playlists/Mix 2.m3u8"), std::vector<std::string>{trackPath(*this, one)});

    // Opened again, the library keeps writing its own file.
    script = music::MusicScript::load(location(), nullptr);
    const std::string two = importTrack("two.mp3");
    ASSERT_EQ(text("add_to_playlist", {"Mix", two}), "");
    EXPECT_EQ(foundationtest::contentsOf(folder / "Music/Playlists/Mix.m3u8"), own);
    EXPECT_EQ(m3uPaths(folder / "Music/Playlists/Mix 2.m3u8"),
              (std::vector<std::string>{trackPath(*this, one), trackPath(*this, two)}));
}

// An index made before playlists kept their file names: the file such a library wrote for a
// playlist stays that playlist's own, and is rewritten rather than passed over.
TEST_F(MusicFixture, PlaylistFilesOfAnOlderIndexStayTheirPlaylists) {
    const std::string one = importTrack("one.mp3");
    script.reset();
    {
        auto db = SqlDatabase::databaseWithPath(folder / "data/MusicLibrary.sqlite");
        ASSERT_TRUE(db->open());
        ASSERT_TRUE(db->executeStatements(
            "DROP TABLE playlist_tracks; DROP TABLE playlists;"
            "CREATE TABLE playlists (id INTEGER PRIMARY KEY, pid TEXT NOT NULL UNIQUE,"
            " name TEXT NOT NULL UNIQUE COLLATE NOCASE);"
            "INSERT INTO playlists (pid, name) VALUES ('00000000000000A1', 'Rock/Pop'),"
            " ('00000000000000A2', 'RockPop');"));
    }
    fs::create_directories(folder / "Music/Playlists");
    foundationtest::writeText(folder / "Music/Playlists/RockPop.m3u8", "#EXTM3U\n");
    script = music::MusicScript::load(location(), nullptr);
    ASSERT_TRUE(script);
    ASSERT_EQ(text("add_to_playlist", {"Rock/Pop", one}), "");
    ASSERT_EQ(text("add_to_playlist", {"RockPop", one}), "");
    EXPECT_EQ(script->library()->playlistFilePath("Rock/Pop"), folder / "Music/Playlists/RockPop.m3u8");
    EXPECT_EQ(script->library()->playlistFilePath("RockPop"), folder / "Music/Playlists/RockPop 2.m3u8");
    EXPECT_EQ(m3uPaths(folder / "Music/Playlists/RockPop.m3u8"), std::vector<std::string>{trackPath(*this, one)});
}

// A track under a numbered name moves to the wanted name, or a lower number, once that is
// free: "Song 2.mp3" retitled "Song" becomes "Song.mp3", and its playlists follow.
TEST_F(MusicFixture, ARetaggedTrackTakesTheNameThatFreedUp) {
    const std::string source = sourceFile("Song.mp3");
    std::string ids[3];
    for (auto& id : ids) id = text("add_track_to_itunes", {source});
    const std::string album = folder / "Music/Unknown Artist/Unknown Album/";
    ASSERT_EQ(trackPath(*this, ids[2]), album + "Song 3.mp3");
    ASSERT_EQ(text("add_to_playlist", {"Road", ids[1]}), "");
    const auto retitle = [&](const std::string& id, const std::string& title) {
        return text("update_track_metadata", {id, title, "", "", 0, 0, 0, 0, 0, "", 0, 0, "", "", "", "", ""});
    };

    // While "Song.mp3" is taken the numbered names stay.
    ASSERT_EQ(retitle(ids[1], "Song"), "");
    EXPECT_EQ(trackPath(*this, ids[1]), album + "Song 2.mp3");

    ASSERT_EQ(retitle(ids[0], "Other"), "");
    ASSERT_EQ(retitle(ids[1], "Song"), "");
    EXPECT_EQ(trackPath(*this, ids[1]), album + "Song.mp3");
    EXPECT_EQ(m3uPaths(folder / "Music/Playlists/Road.m3u8"), std::vector<std::string>{album + "Song.mp3"});
    ASSERT_EQ(retitle(ids[2], ""), "");
    EXPECT_EQ(trackPath(*this, ids[2]), album + "Song 2.mp3");
    EXPECT_FALSE(fs::exists(album + "Song 3.mp3"));
    EXPECT_EQ(trackPath(*this, ids[0]), album + "Other.mp3");
}
