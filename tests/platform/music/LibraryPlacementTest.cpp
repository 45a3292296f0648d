#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "MusicFixture.h"
#include "data/db/SqlDatabase.h"
#include "platform/music/PersistentID.h"
#include "platform/music/TrackFilePattern.h"

using musictest::MusicFixture;
namespace fs = std::filesystem;

TEST(TrackFilePattern, PlacesTracksSafelyBelowTheLibraryFolder) {
    const music::TrackTags tags{"Song", "Band", "Record", "Rock", 7, 2001};
    struct Case {
        const char* pattern;
        music::TrackTags tags;
        const char* extension;
        const char* path;
    };
    const Case cases[] = {
        {"/$a/$b/$t", tags, "m4a", "Band/Record/Song.m4a"},
        {"/$a/$b/$n $t", tags, "mp3", "Band/Record/07 Song.mp3"},
        {"/$g/$y - $b/$t", tags, "m4a", "Rock/2001 - Record/Song.m4a"},
        {"", tags, "m4a", "Band/Record/Song.m4a"},
        {"/$a/$b/$n $t", {}, "m4a", "Unknown Artist/Unknown Album/Unknown Title.m4a"},
        {"/../$a/./$t", {"..", "../..", "", "", 0, 0}, "", "Unknown/Unknown/Unknown/Unknown"},
        {"/$a/$t", {"a/b: c?", ".hidden", "", "", 0, 0}, "m4a", "hidden/ab c.m4a"},
        {"/$a/$x$t", {"T", "A", "", "", 0, 0}, "m4a", "A/$xT.m4a"},
        {"/$b", tags, "m4a", "Record.m4a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(music::TrackFilePattern(c.pattern).relativePathFor(c.tags, c.extension), c.path);
    }
    // Long names are cut at a character boundary.
    const std::string name = music::TrackFilePattern("/$t").relativePathFor(
        {std::string(150, 'x') + std::string(100, '\xC3'), "", "", "", 0, 0}, "m4a");
    EXPECT_LE(name.size(), 200u);

    for (const auto& [text, valid] :
         std::initializer_list<std::pair<std::string, bool>>{{"0123456789ABCDEF", true},
                                                             {"0123456789abcdef", true},
                                                             {"0123456789ABCDE", false},
                                                             {"0123456789ABCDEF0", false},
                                                             {"0123456789ABCDEG", false},
                                                             {"", false}}) {
        EXPECT_EQ(music::PersistentID::isValid(text), valid) << text;
    }
    EXPECT_TRUE(music::PersistentID::isValid(music::PersistentID::make()));
}

// An import whose index write fails leaves no file behind.
TEST_F(MusicFixture, AFailedIndexWriteLeavesNoFile) {
    {
        auto db = SqlDatabase::databaseWithPath(folder / "data/MusicLibrary.sqlite");
        ASSERT_TRUE(db->open());
        ASSERT_TRUE(
            db->executeStatements("CREATE TRIGGER refuse BEFORE INSERT ON tracks BEGIN SELECT "
                                  "RAISE(ABORT, 'disk full'); END;"));
    }
    EXPECT_EQ(importTrack("a.m4a"), "cannot add the track to the library index: disk full");
    // Neither the file nor the folders made for it, nor the staging folder.
    std::vector<fs::path> left;
    for (const auto& entry : fs::recursive_directory_iterator(folder / "Music"))
        left.push_back(entry.path());
    EXPECT_TRUE(left.empty()) << left.front();
}

// Imports and moves leave no temporary or emptied folder in the person's Music folder, and
// leave every folder that still holds something, or that the library did not empty.
TEST_F(MusicFixture, ImportsAndMovesLeaveNoEmptyOrTemporaryFolder) {
    fs::create_directories(folder / "Music/Mine");
    const std::string id = importTrack("raw.m4a");
    const std::string kept = importTrack("kept.m4a");
    EXPECT_FALSE(fs::exists(folder / "Music/.orvandel-staging"));
    music::TrackMetadata tags;
    tags.title = "Title";
    tags.artist = "Artist";
    tags.album = "Album";
    ASSERT_EQ(script->library()->updateMetadata(id, tags), "");
    EXPECT_EQ(script->library()->trackPath(id), folder / "Music/Artist/Album/Title.m4a");
    EXPECT_TRUE(fs::exists(folder / "Music/Unknown Artist/Unknown Album/kept.m4a"));

    ASSERT_EQ(script->library()->updateMetadata(kept, tags), "");
    EXPECT_EQ(script->library()->trackPath(kept), folder / "Music/Artist/Album/Title 2.m4a");
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(folder / "Music"))
        left.push_back(entry.path());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{folder / "Music/Artist", folder / "Music/Artist/Album",
                                              folder / "Music/Artist/Album/Title 2.m4a",
                                              folder / "Music/Artist/Album/Title.m4a",
                                              folder / "Music/Mine"}));
}

// A process killed in the middle of its imports leaves an index whose every track is there
// whole, and no whole file beside them under a visible name.
TEST_F(MusicFixture, AKilledImportLeavesTheIndexAndTheFolderInAgreement) {
    const std::string audio(4 << 20, 'a');
    std::vector<std::string> sources;
    for (int i = 0; i < 6; ++i)
        sources.push_back(sourceFile("t" + std::to_string(i) + ".m4a", audio));
    script.reset();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto library = music::MusicLibrary::open(location(), nullptr);
        for (std::size_t i = 0; library && i < sources.size(); ++i) {
            library->importFile(sources[i], nullptr);
            if (i == 0 && write(ready[1], "x", 1) != 1) _exit(2);
        }
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    close(ready[1]);

    auto library = music::MusicLibrary::open(location(), nullptr);
    ASSERT_TRUE(library);
    // The copy the kill cut short is gone with the next start, and its folder with it.
    EXPECT_FALSE(fs::exists(library->stagingFolder()));
    const auto count = library->trackCount();
    EXPECT_GE(count, 1);
    auto db = SqlDatabase::databaseWithPath(folder / "data/MusicLibrary.sqlite");
    ASSERT_TRUE(db->open());
    std::set<std::string> listed;
    for (auto rs = db->executeQuery("SELECT path FROM tracks"); rs && rs->next();) {
        listed.insert(*rs->stringForColumnIndex(0));
    }
    EXPECT_EQ(static_cast<std::int64_t>(listed.size()), count);
    for (const auto& path : listed) EXPECT_EQ(foundationtest::contentsOf(path), audio) << path;
    for (const auto& entry : fs::recursive_directory_iterator(folder / "Music")) {
        if (!entry.is_regular_file()) continue;
        // At most the file of the import that was cut between its placing and its listing.
        if (!listed.count(entry.path().string())) {
            EXPECT_EQ(foundationtest::contentsOf(entry.path().string()), audio);
        }
    }
}

// The Music folder is the person's: opening the library leaves it alone, and the first
// import makes it and places the track inside it.
TEST_F(MusicFixture, TheMusicFolderIsMadeByTheFirstImportOnly) {
    ASSERT_TRUE(script);
    EXPECT_FALSE(fs::exists(folder / "Music"));
    const std::string pid = importTrack("first.mp3");
    EXPECT_TRUE(music::PersistentID::isValid(pid)) << pid;
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder / "Music"))
        files += entry.is_regular_file() && entry.path().extension() == ".mp3";
    EXPECT_EQ(files, 1u);
}
