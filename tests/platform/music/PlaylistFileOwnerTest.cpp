#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "MusicFixture.h"
#include "data/db/SqlDatabase.h"
#include "platform/music/LibraryFiles.h"

using musictest::MusicFixture;
namespace fs = std::filesystem;

namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string trackPath(MusicFixture& fixture, const std::string& id) {
    return fixture.script->library()->trackPath(id).value_or("<none>");
}

}  // namespace

// A playlist file another program saved at the library's old name, after the library's own
// was removed, is left as it is: the playlist moves to a free name and stays there.
TEST_F(MusicFixture, AnotherProgramsFileAtThePlaylistsNameIsNeverReplaced) {
    const std::string one = importTrack("one.mp3");
    const std::string two = importTrack("two.mp3");
    const std::string mix = folder / "Music/Playlists/Mix.m3u8";
    ASSERT_EQ(text("add_to_playlist", {"Mix", one}), "");
    ASSERT_EQ(m3uPaths(mix), std::vector<std::string>{trackPath(*this, one)});

    fs::remove(mix);
    const std::string theirs = "#EXTM3U\n/home/me/their-song.mp3\n";
    foundationtest::writeText(mix, theirs);
    ASSERT_EQ(text("add_to_playlist", {"Mix", two}), "");

    EXPECT_EQ(foundationtest::contentsOf(mix), theirs);
    const std::string moved = folder / "Music/Playlists/Mix 2.m3u8";
    EXPECT_EQ(script->library()->playlistFilePath("Mix"), moved);
    EXPECT_EQ(m3uPaths(moved),
              (std::vector<std::string>{trackPath(*this, one), trackPath(*this, two)}));

    // Opened again, the library goes on writing its new file only.
    script = music::MusicScript::load(location(), nullptr);
    const std::string three = importTrack("three.mp3");
    ASSERT_EQ(text("add_to_playlist", {"Mix", three}), "");
    EXPECT_EQ(foundationtest::contentsOf(mix), theirs);
    EXPECT_EQ(m3uPaths(moved).size(), 3u);
}

// A file changed in place by another program (an editor saving into it) is no longer the
// library's either; a file the library wrote and no one touched is rewritten where it is.
TEST_F(MusicFixture, APlaylistFileChangedByAnotherProgramIsLeftToIt) {
    const std::string one = importTrack("one.mp3");
    const std::string two = importTrack("two.mp3");
    const std::string road = folder / "Music/Playlists/Road.m3u8";
    ASSERT_EQ(text("add_to_playlist", {"Road", one}), "");
    ASSERT_EQ(text("add_to_playlist", {"Road", two}), "");
    EXPECT_EQ(script->library()->playlistFilePath("Road"), road);
    EXPECT_EQ(m3uPaths(road).size(), 2u);

    std::ofstream(road, std::ios::app) << "/home/me/added-by-hand.mp3\n";
    const std::string edited = foundationtest::contentsOf(road);
    const std::string three = importTrack("three.mp3");
    ASSERT_EQ(text("add_to_playlist", {"Road", three}), "");
    EXPECT_EQ(foundationtest::contentsOf(road), edited);
    EXPECT_EQ(m3uPaths(folder / "Music/Playlists/Road 2.m3u8").size(), 3u);
}

// Asked where a playlist's file is, the library names a file that holds the playlist: where
// another program took the name since, the playlist is written at a free one first.
TEST_F(MusicFixture, ThePlaylistFilePathNamesTheLibrarysOwnFile) {
    const std::string one = importTrack("one.mp3");
    ASSERT_EQ(text("add_to_playlist", {"Mix", one}), "");
    const std::string mix = folder / "Music/Playlists/Mix.m3u8";
    foundationtest::writeText(mix, "#EXTM3U\n/elsewhere.mp3\n");

    const auto file = script->library()->playlistFilePath("Mix");
    ASSERT_TRUE(file);
    EXPECT_EQ(*file, folder / "Music/Playlists/Mix 2.m3u8");
    EXPECT_EQ(m3uPaths(*file), std::vector<std::string>{trackPath(*this, one)});
    EXPECT_EQ(foundationtest::contentsOf(mix), "#EXTM3U\n/elsewhere.mp3\n");

    // A file of the library's that went missing is written again where it was.
    fs::remove(*file);
    EXPECT_EQ(script->library()->playlistFilePath("Mix"), *file);
    EXPECT_EQ(m3uPaths(*file), std::vector<std::string>{trackPath(*this, one)});
}

// An index from before the library kept what it wrote: the file at a playlist's name stays
// the playlist's where it holds what the library would write, and is left alone otherwise.
TEST_F(MusicFixture, AnOlderIndexKeepsOnlyTheFilesItWrote) {
    const std::string one = importTrack("one.mp3");
    ASSERT_EQ(text("add_to_playlist", {"Mine", one}), "");
    ASSERT_EQ(text("add_to_playlist", {"Taken", one}), "");
    const std::string mine = folder / "Music/Playlists/Mine.m3u8";
    const std::string taken = folder / "Music/Playlists/Taken.m3u8";
    const std::string written = foundationtest::contentsOf(mine);
    script.reset();
    {
        auto db = SqlDatabase::databaseWithPath(folder / "data/MusicLibrary.sqlite");
        ASSERT_TRUE(db->open());
        ASSERT_TRUE(db->executeStatements(
            "CREATE TABLE old AS SELECT id, pid, name, file FROM playlists;"
            "PRAGMA foreign_keys = OFF; DROP TABLE playlists;"
            "CREATE TABLE playlists (id INTEGER PRIMARY KEY, pid TEXT NOT NULL UNIQUE,"
            " name TEXT NOT NULL UNIQUE COLLATE NOCASE, file TEXT UNIQUE);"
            "INSERT INTO playlists SELECT * FROM old; DROP TABLE old;"));
    }
    foundationtest::writeText(taken, "#EXTM3U\n/someone/else.mp3\n");
    script = music::MusicScript::load(location(), nullptr);
    ASSERT_TRUE(script);
    const std::string two = importTrack("two.mp3");
    ASSERT_EQ(text("add_to_playlist", {"Mine", two}), "");
    ASSERT_EQ(text("add_to_playlist", {"Taken", two}), "");
    EXPECT_EQ(script->library()->playlistFilePath("Mine"), mine);
    EXPECT_EQ(m3uPaths(mine).size(), 2u);
    EXPECT_EQ(foundationtest::contentsOf(taken), "#EXTM3U\n/someone/else.mp3\n");
    EXPECT_EQ(script->library()->playlistFilePath("Taken"),
              folder / "Music/Playlists/Taken 2.m3u8");
    EXPECT_NE(written, foundationtest::contentsOf(mine));
}

// The file writer itself: a name that is free or holds the bytes last written is written;
// anything else there (another file, a link) is left as it was.
TEST(LibraryFilesOwnFile, ReplacesOnlyWhatItLastWrote) {
    foundationtest::ScratchFolder folder;
    const std::string path = folder / "list.m3u8";
    using music::LibraryFiles::Written;
    std::string error;
    EXPECT_EQ(music::LibraryFiles::writeOwnFile(path, bytesOf("first"), std::nullopt, &error),
              Written::Yes);
    const std::string first = music::LibraryFiles::digestOf(bytesOf("first"));
    EXPECT_EQ(music::LibraryFiles::writeOwnFile(path, bytesOf("second"), std::nullopt, &error),
              Written::NameTaken);
    EXPECT_EQ(music::LibraryFiles::writeOwnFile(path, bytesOf("second"), first, &error),
              Written::Yes);
    EXPECT_EQ(foundationtest::contentsOf(path), "second");
    EXPECT_EQ(music::LibraryFiles::writeOwnFile(path, bytesOf("third"), first, &error),
              Written::NameTaken);
    EXPECT_EQ(foundationtest::contentsOf(path), "second");

    // A link to a file holding those very bytes is still not the library's file.
    const std::string link = folder / "link.m3u8";
    fs::create_symlink(path, link);
    const std::string second = music::LibraryFiles::digestOf(bytesOf("second"));
    EXPECT_EQ(music::LibraryFiles::writeOwnFile(link, bytesOf("fourth"), second, &error),
              Written::NameTaken);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(foundationtest::contentsOf(path), "second");
    // No temporary is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 2);
}
