#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "Snapshot.h"
#include "WebWindowFixture.h"
#include "foundation/Json.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "media/iTunesLibrary.h"
#include "media/iTunesWrapper.h"
#include "shell/KolvexAppDelegate.h"
#include "shell/bridge/WKWebViewScriptBridge.h"
#include "shell/events/iTunesHandler.h"

using apptest::snapshotIfAsked;
using apptest::WebWindowTest;
using foundation::Value;

// The running application's library section, over a library in a scratch folder: the
// track count and playlists it asks "itunes" for after "iTunesLoaded" and after a reload, the device tracks the matching finds,
// and the "itunes" event through the page's bridge.
TEST_F(WebWindowTest, LibrarySectionShowsTheLibraryAndTheDeviceTracksInIt) {
    // The application's own library and "itunes" handler, over a scratch folder: this
    // process has not used the library yet.
    foundationtest::ScratchFolder folder;
    foundationtest::ScopedEnvironment environment;
    environment.set("XDG_MUSIC_DIR", folder / "Music");
    environment.set("XDG_DATA_HOME", folder / "data");
    media::iTunesWrapper& wrapper = media::iTunesWrapper::global();
    // The shared library, which "itunes" answers for.
    media::iTunesLibrary& library = media::iTunesLibrary::itLibrary();
    std::string ids[2];
    const char* titles[2] = {"Song", "Ballad"};
    for (int i = 0; i < 2; ++i) {
        std::ofstream(folder / (std::string(titles[i]) + ".m4a")) << "audio";
        Value track = Value::dict({{"macpath", folder / (std::string(titles[i]) + ".m4a")},
                                   {"title", titles[i]},
                                   {"artist", "Band"},
                                   {"album", "Record"}});
        ASSERT_TRUE(wrapper.importToItunesError(track, nullptr));
        ids[i] = track["persistentID"].stringOr();
    }
    ASSERT_TRUE(wrapper.addToITunesPlaylistTargetPlaylistStr(
        Value::dict({{"persistentID", ids[0]}}), "Road Trip"));
    ASSERT_TRUE(library.createPlaylist("Quiet"));

    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 1100, 720},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    std::atomic<bool> listening = false;
    AppServices services;
    services.loadMusicLibrary = [&] { library.loadTracks(); };
    services.startDeviceDetection = [&](std::uint32_t) { return listening = true; };
    KolvexAppDelegate delegate(window, services, {"orvandel"});
    delegate.awakeFromNib();
    auto& view = *delegate.windowController()->webview();
    apptest::recordPushes(view, {"iTunesLoaded"});
    window->show();
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return listening.load(); }));
    waitForValue(view, "document.querySelector('#library .library-count').textContent",
                 "\"2 tracks\"");
    waitForValue(view,
                 "Array.from(document.querySelectorAll('.library-playlists li'))"
                 ".map(function (e) { return e.textContent; }).join('|')",
                 "\"Quiet0 tracks|Road Trip1 track\"");

    // The matching of a device's tracks, as the media loader reports it.
    auto bridge = delegate.windowController()->wvbridge();
    bridge->callHandler("deviceAdded", Value::dict({{"deviceId", "D1"}, {"name", "Test Phone"}}));
    foundation::Array deviceTracks = {
        Value::dict({{"pid", 11}, {"title", "Song"}, {"artist", "Band"}, {"album", "Record"}}),
        Value::dict({{"pid", 12}, {"title", "Elsewhere"}, {"artist", "Band"}, {"album", "Record"}}),
        Value::dict({{"pid", 13}, {"title", "Ballad"}, {"artist", "Band"}, {"album", "Record"}})};
    library.isTracksInITunesCallback(deviceTracks, [&](const Value& track) {
        bridge->callHandler(
            "deviceMediaLoading",
            Value::dict({{"deviceId", "D1"}, {"step", "updateTrack"}, {"track", track}}));
        return true;
    });
    waitForValue(view,
                 "Array.from(document.querySelectorAll('.library-copied'))"
                 ".map(function (e) { return e.textContent; }).join('|')",
                 "\"Band - Song|Band - Ballad\"");

    // The "itunes" event from the page, answered by the library.
    eval(view, "App.event('itunes', 'get-track-path', {pid: '" + ids[0] +
                   "'}).then(function (r) { window.trackPath = r.data.path; }); "
                   "App.event('itunes', 'shuffle').catch(function (e) { window.refused = "
                   "e.message; }); 0");
    waitForValue(view, "window.trackPath",
                 foundation::json::write(Value(folder / "Music/Band/Record/Song.m4a")));
    waitForValue(view, "window.refused", "\"unhandled command: shuffle\"");
    snapshotIfAsked(view);

    // The load was told once, without data; a reloaded page hears nothing of it again and
    // asks "itunes" for the library.
    const std::string loadedEvents = "window.heardPushes.join('|')";
    EXPECT_EQ(eval(view, loadedEvents), "\"iTunesLoaded\"");
    eval(view, "window.beforeReload = true; location.reload(); 0");
    waitForValue(view,
                 "!window.beforeReload && document.querySelector('#library .library-count') && "
                 "document.querySelector('#library .library-count').textContent",
                 "\"2 tracks\"");
    EXPECT_EQ(eval(view, loadedEvents), "\"\"");
    screenshot(view, "library-after-reload");

    // An import the page makes (a device export tells "libraryChanged") shows at once: the
    // library as it now is, and the device track among those in it.
    std::ofstream(folder / "Elsewhere.m4a") << "audio";
    Value track = Value::dict({{"macpath", folder / "Elsewhere.m4a"},
                               {"title", "Elsewhere"},
                               {"artist", "Band"},
                               {"album", "Record"}});
    ASSERT_TRUE(wrapper.importToItunesError(track, nullptr));
    ASSERT_TRUE(wrapper.addToITunesPlaylistTargetPlaylistStr(track, "Quiet"));
    bridge = delegate.windowController()->wvbridge();
    bridge->callHandler("deviceAdded", Value::dict({{"deviceId", "D1"}, {"name", "Test Phone"}}));
    eval(view, "App.emit('libraryChanged', {deviceId: 'D1', pid: '12', title: 'Elsewhere', artist: 'Band'}); 0");
    EXPECT_TRUE(waitForValue(view,
                             "document.querySelector('#library .library-count').textContent + ' / ' + "
                             "Array.from(document.querySelectorAll('.library-playlists li, .library-copied'))"
                             ".map(function (e) { return e.textContent; }).join('|')",
                             "\"3 tracks / Quiet1 track|Road Trip1 track|Band - Elsewhere\""));
    screenshot(view, "library-after-import");
}
