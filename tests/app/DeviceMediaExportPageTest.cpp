#include <gtest/gtest.h>

#include <filesystem>

#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "content/ThreadPool.h"
#include "foundation/OperationQueue.h"
#include "foundation/Json.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "media/MediaLibraryFixtures.h"
#include "media/iTunesWrapper.h"
#include "platform/music/MusicLibrary.h"
#include "shell/Settings.h"

using apptest::WebWindowTest;
using foundation::Value;
namespace fs = std::filesystem;
using foundationtest::contentsOf;
using foundationtest::writeText;

namespace {

// The track files below the library folder that hold these bytes.
std::vector<std::string> filesHolding(const std::string& folder, const std::string& bytes) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && contentsOf(entry.path()) == bytes) found.push_back(entry.path());
    }
    return found;
}

// Every folder below `folder` that is empty, and the library's staging folder.
std::vector<std::string> emptyOrStagingFolders(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_directory() && (fs::is_empty(entry.path()) || entry.path().filename() == ".orvandel-staging"))
            found.push_back(entry.path());
    }
    return found;
}

// The device-media section of the running application exports a simulated phone's tracks
// into a music library of the test's own: one track into a chosen library playlist (the
// file arrives in the library folder, the index and the playlist's .m3u8 list it, and the
// track shows as copied), its tags written onto the library copy, then a whole device
// playlist one track after another into a library playlist of the device playlist's name.
// The library section and the export targets follow each import; a track already in the
// library is not copied again, a playlist file of the person's own is left alone, and the
// Music folder keeps no empty or staging folder.
TEST_F(WebWindowTest, DeviceMediaSectionExportsTracksIntoTheMusicLibrary) {
    foundationtest::ScratchFolder scratch;
    foundationtest::ScopedEnvironment environment;
    environment.set("XDG_MUSIC_DIR", scratch / "Music");
    environment.set("XDG_DATA_HOME", scratch / "data");
    environment.set("TMPDIR", scratch / "tmp");
    fs::create_directories(scratch / "tmp");
    const std::string media = scratch / "media";
    fs::create_directories(media + "/iTunes_Control/iTunes");
    fs::create_directories(media + "/iTunes_Control/Music/F01");
    fs::create_directories(media + "/abs");
    mediatest::writeDatabase(media + "/iTunes_Control/iTunes/MediaLibrary.sqlitedb",
                             mediatest::mediaLibrarySql({mediatest::LadderForm::Second}));
    const std::string alpha = "ID3 the song called Alpha";
    const std::string beta = "the podcast called Beta";
    writeText(media + "/iTunes_Control/Music/F01/a.mp3", alpha);
    writeText(media + "/abs/b.m4v", beta);
    {
        auto library = music::MusicLibrary::open(media::iTunesWrapper::defaultLocation(), nullptr);
        ASSERT_TRUE(library);
        ASSERT_TRUE(library->createPlaylist("Road Trip"));
    }
    const std::string ownPlaylist = "#EXTM3U\n/home/me/own.mp3\n";
    writeText(scratch / "Music/Playlists/Road.m3u8", ownPlaylist);
    Settings::settings().setCopyMeta(false);
    Settings::settings().setMetaTitle(true);

    apptest::SimulatedPhoneApp app(scratch.path());
    app.withMusicLibrary = true;
    ASSERT_TRUE(app.start());
    auto& view = app.view();
    app.attachPhone(media);

    const auto quoted = [](const std::string& text) { return foundation::json::write(Value(text)); };
    const auto click = [&](const std::string& selector) {
        eval(view, "document.querySelector(" + quoted(selector) + ").click(); true");
    };
    const auto text = [&](const std::string& selector) {
        return "(document.querySelector(" + quoted(selector) + ") || {}).textContent";
    };
    ASSERT_TRUE(waitForValue(view, text("#device-media h3"), "\"Sim Phone\""));
    const std::string targets = "Array.from(document.querySelectorAll('#device-media .media-target option'))"
                                ".map(o => o.textContent).join('|')";
    ASSERT_TRUE(waitForValue(view, targets,
                             "\"the library only|the library and the device's playlist|the library and Road Trip\""));
    const std::string libraryShown =
        "document.querySelector('#library .library-count').textContent + ' / ' + "
        "Array.from(document.querySelectorAll('#library .library-playlists li, #library .library-copied'))"
        ".map(e => e.textContent).join('|')";
    ASSERT_TRUE(waitForValue(view, libraryShown, "\"0 tracks / Road Trip0 tracks\""));
    // The other sections' first requests (the application list switches the phone's file
    // service) are over before the library is read.
    ASSERT_TRUE(waitForValue(view, "!!document.querySelector('#device-files tr[data-name]') && "
                                   "!document.querySelector('#devices .apps').textContent.includes('Loading')",
                             "true"));
    click("#device-media .media-load");
    ASSERT_TRUE(waitForValue(view, "!!document.querySelector('#device-media tr[data-track=\"101\"][data-location]')",
                             "true"))
        << eval(view, "document.querySelector('#device-media').innerHTML");

    eval(view, "document.querySelector('#device-media .media-target').value = 'Road Trip'; true");
    click("#device-media tr[data-track='101'] .media-send");
    ASSERT_TRUE(waitForValue(view, text("#device-media .media-export-text"), "\"Exported 1 of 1 track.\""));
    EXPECT_EQ(eval(view, text("#device-media tr[data-track='101'] .media-state")), "\"copied\"");
    // The library section shows the import without a restart.
    EXPECT_TRUE(waitForValue(view, libraryShown, "\"1 track / Road Trip1 track|Ann - Alpha\""));
    const auto placed = filesHolding(scratch / "Music", alpha);
    ASSERT_EQ(placed.size(), 1u);
    std::string persistentID;
    {
        auto library = music::MusicLibrary::open(media::iTunesWrapper::defaultLocation(), nullptr);
        ASSERT_TRUE(library);
        EXPECT_EQ(library->trackCount(), 1);
        const auto track = library->findTrack("", "a", "", "");
        ASSERT_TRUE(track);
        EXPECT_EQ(track->path, placed.front());
        persistentID = track->persistentID;
        EXPECT_TRUE(library->playlistHasTrack("Road Trip", track->persistentID));
        EXPECT_NE(contentsOf(library->playlistFilePath("Road Trip").value_or("")).find(placed.front()), std::string::npos);
    }
    // The temporary copy on the computer is gone.
    EXPECT_TRUE(fs::is_empty(scratch / "tmp") || filesHolding(scratch / "tmp", alpha).empty());
    screenshot(view, "device-media-export");

    // The device's title goes onto the library copy.
    click("#device-media tr[data-track='101'] .media-tags");
    ASSERT_TRUE(waitForValue(view, text("#device-media tr[data-track='101'] .media-state"), "\"tags written\""))
        << eval(view, text("#device-media .media-error"));
    {
        auto library = music::MusicLibrary::open(media::iTunesWrapper::defaultLocation(), nullptr);
        ASSERT_TRUE(library);
        const auto track = library->findTrack(persistentID, "", "", "");
        ASSERT_TRUE(track);
        EXPECT_EQ(track->title, "Alpha");
    }

    // A whole device playlist, one track after another, into the library playlist of its
    // name; Alpha is in the library already and is not copied again.
    eval(view, "document.querySelector('#device-media .media-target').selectedIndex = 1; true");
    // The playlist's members are known once the tracks are; until then it may list fewer.
    ASSERT_TRUE(waitForValue(view, "(document.querySelector(\"#device-media li[data-playlist='Road']\") || {})"
                                   ".textContent", "\"Road (2) Export\""));
    click("#device-media li[data-playlist='Road'] .media-send-playlist");
    ASSERT_TRUE(waitForValue(view, text("#device-media .media-export-text"),
                             "\"Exported 1 of 2 tracks. 1 was already in the library and not copied again.\""));
    EXPECT_EQ(eval(view, text("#device-media tr[data-track='102'] .media-state")), "\"copied\"");
    EXPECT_EQ(filesHolding(scratch / "Music", beta).size(), 1u);
    EXPECT_EQ(filesHolding(scratch / "Music", alpha).size(), 1u);
    EXPECT_TRUE(waitForValue(view, libraryShown, "\"2 tracks / Road2 tracks|Road Trip1 track|Ann - Alpha|Bob - Beta\""));
    EXPECT_TRUE(waitForValue(view, targets,
                             "\"the library only|the library and the device's playlist|the library and Road|"
                             "the library and Road Trip\""));
    EXPECT_EQ(eval(view, "document.querySelector('#device-media .media-target').selectedIndex"), "1");
    {
        auto library = music::MusicLibrary::open(media::iTunesWrapper::defaultLocation(), nullptr);
        ASSERT_TRUE(library);
        EXPECT_EQ(library->trackCount(), 2);
        EXPECT_EQ(library->playlistFilePath("Road"), scratch / "Music/Playlists/Road 2.m3u8");
        EXPECT_EQ(contentsOf(scratch / "Music/Playlists/Road.m3u8"), ownPlaylist);
    }
    EXPECT_EQ(emptyOrStagingFolders(scratch / "Music"), std::vector<std::string>{});
    screenshot(view, "device-media-playlist-export");

    // One track the library holds: it says so rather than that it was exported.
    click("#device-media tr[data-track='101'] .media-send");
    ASSERT_TRUE(waitForValue(view, text("#device-media .media-export-text"),
                             quoted("\xE2\x80\x9C" "Alpha\xE2\x80\x9D is already in the library: nothing was copied.")));
    EXPECT_EQ(filesHolding(scratch / "Music", alpha).size(), 1u);
    screenshot(view, "device-media-export-held");

    // A stop while the first track is on its way: nothing more reaches the library, and the
    // computer keeps no copy.
    eval(view, "document.querySelector(\"#device-media li[data-playlist='Road'] .media-send-playlist\").click();"
               "document.querySelector('#device-media .media-export-stop').click(); true");
    ASSERT_TRUE(waitForValue(view, text("#device-media .media-export-text"), "\"Stopped after 0 of 2 tracks.\""));
    EXPECT_EQ(filesHolding(scratch / "Music", beta).size(), 1u);
    EXPECT_EQ(filesHolding(scratch / "Music", alpha).size(), 1u);
    EXPECT_TRUE(filesHolding(scratch / "tmp", alpha).empty());
    EXPECT_EQ(emptyOrStagingFolders(scratch / "Music"), std::vector<std::string>{});
    EXPECT_TRUE(testsupport::runMainLoopUntil([] { return ThreadPool::async().operationCount() == 0; }));
}

}  // namespace
