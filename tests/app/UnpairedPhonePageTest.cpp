#include <gtest/gtest.h>

#include "LogCapture.h"
#include "SimulatedPhoneApp.h"
#include "content/ThreadPool.h"
#include "foundation/OperationQueue.h"
#include "WebWindowFixture.h"
#include "foundation/ScratchFolder.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/Json.h"
#include "media/MediaLibraryFixtures.h"

#include <filesystem>

using apptest::WebWindowTest;

namespace {

// A phone that has not trusted this computer when it arrives gives none of its values and
// shows without its name. Once it is paired (outside the application, or through the page's
// "device-pair") it is read again and shows with its name, without a restart.
TEST_F(WebWindowTest, APhoneUnpairedAtArrivalShowsItsNameOncePaired) {
    foundationtest::ScratchFolder scratch;
    apptest::SimulatedPhoneApp app(scratch.path());
    ASSERT_TRUE(app.start());
    auto* view = &app.view();
    const std::string names = "Array.from(document.querySelectorAll('#devices > li .device-name'))"
                              ".map(e => e.textContent).join('|')";

    simdevice::SimDeviceConfig first;
    first.name = "First Phone";
    auto phone = app.server.attach(first);
    EXPECT_TRUE(waitForValue(*view, names, "\"Unnamed device\""));
    // Paired from outside, as idevicepair does: found on the next fresh read.
    app.server.pairHost(phone);
    EXPECT_TRUE(waitForValue(*view, names, "\"First Phone\""));
    app.server.detach(phone);
    EXPECT_TRUE(waitForValue(*view, "document.querySelector('#devices .empty') !== null", "true"));

    simdevice::SimDeviceConfig second;
    second.name = "Second Phone";
    second.udid = "00008030-00AABBCCDDEEFF00";
    phone = app.server.attach(second);
    EXPECT_TRUE(waitForValue(*view, names, "\"Unnamed device\""));
    eval(*view, "App.call('mdfs', {cmd: 'device-pair', udid: '" + second.udid +
                    "'}).then(function (r) { window.pairAnswer = r; }); 0");
    EXPECT_TRUE(waitForValue(*view, "window.pairAnswer && window.pairAnswer.result", "true"));
    EXPECT_TRUE(app.server.hasPairRecord(second.udid));
    EXPECT_TRUE(waitForValue(*view, names, "\"Second Phone\""));
    screenshot(*view, "unpaired-phone-named");
    // The page's requests for the newly named phone end before the process does.
    EXPECT_TRUE(testsupport::runMainLoopUntil([] { return ThreadPool::async().operationCount() == 0; }));
}

}  // namespace

namespace {

std::string quoted(const std::string& text) { return foundation::json::write(foundation::Value(text)); }

// A phone that does not trust this computer is offered "Pair" although it tells nothing of
// itself, and loading its library fails in words, never as a match. Once paired from the
// page it shows its name without the pairing's old error, and its library loads: first none
// at all, then one of three tracks whose common playlists count the tracks of their kind.
TEST_F(WebWindowTest, AnUnpairedPhoneIsPairedFromThePageAndItsLibraryTellsWhatItHolds) {
    foundationtest::ScratchFolder scratch;
    foundationtest::ScopedEnvironment environment;
    environment.set("XDG_MUSIC_DIR", scratch / "Music");
    environment.set("XDG_DATA_HOME", scratch / "data");
    environment.set("TMPDIR", scratch / "tmp");
    std::filesystem::create_directories(scratch / "tmp");
    const std::string media = scratch / "media";
    std::filesystem::create_directories(media);
    foundationtest::writeText(media + "/hello.txt", "hello from the phone\n");
    apptest::LogCapture log;
    apptest::SimulatedPhoneApp app(scratch.path());
    app.withMusicLibrary = true;
    ASSERT_TRUE(app.start());
    auto& view = app.view();
    const auto click = [&](const std::string& selector) {
        eval(view, "document.querySelector(" + quoted(selector) + ").click(); true");
    };
    const auto text = [&](const std::string& selector) {
        return "(document.querySelector(" + quoted(selector) + ") || {}).textContent";
    };

    simdevice::SimDeviceConfig config;
    config.name = "Sim Phone";
    config.root = media;
    auto phone = app.server.attach(config);
    ASSERT_TRUE(waitForValue(view, text("#devices .device-name"), "\"Unnamed device\""));
    ASSERT_TRUE(waitForValue(view, text("#devices .device-pairing"), "\"Not paired with this computerPair\""));
    ASSERT_TRUE(waitForValue(view, "!!document.querySelector('#devices .device-error')", "true"));

    click("#device-media .media-load");
    ASSERT_TRUE(waitForValue(view, text("#device-media .media-error"),
                             quoted("The library could not be loaded: the phone is not paired with this computer. "
                                    "Pair it under Devices, then load its library again.")));
    EXPECT_TRUE(waitForValue(view, "document.querySelector('#device-media .media-device').hasAttribute('data-matched')",
                             "true"));
    EXPECT_EQ(eval(view, text("#device-media .media-step")), "\"\"");
    // The devices section does not call it a match either.
    EXPECT_TRUE(waitForValue(view, text("#devices .device-status"), "\"library not loaded\""));
    screenshot(view, "unpaired-phone-library");
    // Both failures are in the log at a level it keeps (errors and warnings).
    EXPECT_TRUE(log.has("[WARN] The phone " + config.udid + " tells none of its values: "));
    EXPECT_TRUE(log.has("[WARN] The library of " + config.udid + " cannot be loaded: the device's files could not be read"));

    click("#devices .pairing-change");
    ASSERT_TRUE(waitForValue(view, text("#devices .device-name"), "\"Sim Phone\""));
    EXPECT_TRUE(app.server.hasPairRecord(config.udid));
    ASSERT_TRUE(waitForValue(view, text("#devices .device-pairing"), "\"Paired with this computerUnpair\""));
    EXPECT_EQ(eval(view, "document.querySelectorAll('#devices .device-error').length"), "0");

    ASSERT_TRUE(waitForValue(view, text("#device-media h3"), "\"Sim Phone\""));
    click("#device-media .media-load");
    ASSERT_TRUE(waitForValue(view, text("#device-media .media-step"), "\"The phone has no media library.\""));
    EXPECT_EQ(eval(view, text("#device-media .media-error")), "\"\"");
    screenshot(view, "phone-without-library");

    mediatest::writePhoneMediaLibrary(media);
    // The load's end and the match's may come in either order: the count waits for both.
    click("#device-media .media-load");
    ASSERT_TRUE(waitForValue(view, text("#device-media .media-step"), "\"3 tracks, matched with the music library\""))
        << eval(view, text("#device-media .media-error"));
    const std::string playlists = "Array.from(document.querySelectorAll('#device-media .media-playlists li'))"
                                  ".map(e => e.firstChild.textContent.trim()).join('|')";
    EXPECT_TRUE(waitForValue(view, playlists,
                             "\"Library (3)|Music (1)|Movies (1)|Ringtones (0)|Podcasts (1)|Genius (0)|Smart (1)|Road (2)\""));
    EXPECT_EQ(eval(view, "document.querySelectorAll('#device-media tbody tr').length"), "3");
    EXPECT_TRUE(waitForValue(view, text("#devices .device-status"), "\"3 tracks, matched with the music library\""));
    screenshot(view, "phone-library-counts");

    // A library that cannot be read says so, and why, rather than that it matched.
    foundationtest::writeText(media + "/iTunes_Control/iTunes/MediaLibrary.sqlitedb", std::string(8192, 'Z'));
    click("#device-media .media-load");
    ASSERT_TRUE(waitForValue(view, text("#device-media .media-error"),
                             "\"The library could not be loaded: its database cannot be read (file is not a database).\""));
    EXPECT_EQ(eval(view, text("#device-media .media-step")), "\"\"");
    EXPECT_TRUE(waitForValue(view, text("#devices .device-status"), "\"library not loaded\""));
    EXPECT_TRUE(testsupport::runMainLoopUntil([] { return ThreadPool::async().operationCount() == 0; }));
}

}  // namespace
