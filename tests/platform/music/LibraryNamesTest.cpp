#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "MusicFixture.h"
#include "foundation/Url.h"

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
