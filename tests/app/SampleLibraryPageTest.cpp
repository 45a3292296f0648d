#include <gtest/gtest.h>

#include <filesystem>

#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "content/ThreadPool.h"
#include "foundation/Json.h"
#include "foundation/OperationQueue.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "simdevice/SimSampleLibrary.h"

using apptest::WebWindowTest;
using foundation::Value;
namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string& text) { return foundation::json::write(Value(text)); }

// The simulated phone's sample library, as a new user tries the device media section: it
// loads with its three tones and its playlist, a tone is exported into the music library,
// and writing the sample again leaves the library on the phone as it is.
TEST_F(WebWindowTest, TheSimulatedPhonesSampleLibraryLoadsAndExports) {
    foundationtest::ScratchFolder scratch;
    foundationtest::ScopedEnvironment environment;
    environment.set("XDG_MUSIC_DIR", scratch / "Music");
    environment.set("XDG_DATA_HOME", scratch / "data");
    environment.set("TMPDIR", scratch / "tmp");
    fs::create_directories(scratch / "tmp");
    const std::string media = scratch / "media";
    fs::create_directories(media);
    ASSERT_EQ(simdevice::writeSampleMediaLibrary(media), "");
    const std::string database = media + "/iTunes_Control/iTunes/MediaLibrary.sqlitedb";
    const auto written = fs::last_write_time(database);
    ASSERT_EQ(simdevice::writeSampleMediaLibrary(media), "");
    EXPECT_EQ(fs::last_write_time(database), written);

    apptest::SimulatedPhoneApp app(scratch.path());
    app.withMusicLibrary = true;
    ASSERT_TRUE(app.start());
    auto& view = app.view();
    app.attachPhone(media);
    const auto click = [&](const std::string& selector) {
        eval(view, "document.querySelector(" + quoted(selector) + ").click(); true");
    };
    const auto text = [&](const std::string& selector) {
        return "(document.querySelector(" + quoted(selector) + ") || {}).textContent";
    };
    ASSERT_TRUE(waitForValue(view, text("#device-media h3"), "\"Sim Phone\""));
    click("#device-media .media-load");
    ASSERT_TRUE(waitForValue(view, text("#device-media .media-step"), "\"3 tracks, matched with the music library\""))
        << eval(view, text("#device-media .media-error"));
    const std::string titles = "Array.from(document.querySelectorAll('#device-media tbody tr'))"
                               ".map(r => r.children[1].textContent + ',' + r.children[4].textContent).join('|')";
    EXPECT_EQ(eval(view, titles), "\"Morning Tone,0:02|Evening Tone,0:02|Night Tone,0:02\"");
    EXPECT_TRUE(waitForValue(view, "!!document.querySelector(\"#device-media li[data-playlist='Evening Mix']\")", "true"));
    EXPECT_EQ(eval(view, text("#device-media li[data-playlist='Evening Mix']")), "\"Evening Mix (2) Export\"");

    click("#device-media tr[data-track='1001'] .media-send");
    ASSERT_TRUE(waitForValue(view, text("#device-media .media-export-text"), "\"Exported 1 of 1 track.\""))
        << eval(view, text("#device-media .media-export-text"));
    screenshot(view, "sample-library");
    EXPECT_TRUE(testsupport::runMainLoopUntil([] { return ThreadPool::async().operationCount() == 0; }));
}

}  // namespace
