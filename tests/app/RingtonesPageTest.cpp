#include <gtest/gtest.h>

#include <filesystem>

#include "WebWindowFixture.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "media/AudioFixtures.h"
#include "shell/KolvexAppDelegate.h"

using apptest::WebWindowTest;

namespace {

// The start page's ringtone cutter, in the real page over the running application's native side.
TEST_F(WebWindowTest, RingtonesCutASpanOfAnAudioFile) {
    foundationtest::ScratchFolder home;
    foundationtest::ScopedEnvironment environment;
    environment.set("HOME", home.path());
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_MUSIC_DIR"}) environment.unset(name);
    // A home as a desktop makes it: the Music folder is there.
    std::filesystem::create_directories(home / "Music");
    ASSERT_TRUE(audiotest::makeTone(home / "song.mp3", 10, "-metadata title=Song"));

    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 1100, 720},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    KolvexAppDelegate delegate(window, AppServices{}, {"orvandel"});
    delegate.awakeFromNib();
    window->show();
    auto view = delegate.windowController()->webview();
    ASSERT_TRUE(waitForValue(*view, "!!document.querySelector('.rt-read')", "true"));

    auto text = [](const char* part) {
        return std::string("document.querySelector('.rt-") + part + "').textContent";
    };
    eval(*view,
         "document.querySelector('.rt-source').value = '/no/such.mp3';"
         "document.querySelector('.rt-read').click(); 0");
    EXPECT_TRUE(waitForValue(*view, text("status"), "\"The file cannot be read as audio.\""));

    eval(*view, "document.querySelector('.rt-source').value = '" + home / "song.mp3" +
                    "'; document.querySelector('.rt-read').click(); 0");
    ASSERT_TRUE(waitForValue(*view, text("info"), "\"“Song”, 10.0 s\""));
    const std::string destination = home / "Music/Song.m4r";
    ASSERT_TRUE(
        waitForValue(*view, "document.querySelector('.rt-dest').value", "\"" + destination + "\""));

    eval(*view,
         "document.querySelector('.rt-start').value = '2';"
         "document.querySelector('.rt-end').value = '5';"
         "document.querySelector('.rt-cut').click(); 0");
    ASSERT_TRUE(waitForValue(*view, text("status"), "\"Saved " + destination + "\""));
    eval(*view, "document.getElementById('section-ringtones').scrollIntoView(); 0");
    screenshot(*view, "ringtones");
    const auto probed = audiotest::probe(destination);
    EXPECT_NEAR(audiotest::probedDuration(probed), 3, 0.03);
    EXPECT_EQ(probed["format"]["tags"]["title"], foundation::Value("Song"));

    // The converter's failure is shown as it comes.
    eval(*view,
         "document.querySelector('.rt-start').value = '20';"
         "document.querySelector('.rt-end').value = '0';"
         "document.querySelector('.rt-cut').click(); 0");
    EXPECT_TRUE(waitForValue(*view, text("status"),
                             "\"The start at 20 seconds is not within the audio. (The audio lasts "
                             "10.0 seconds.)\""));
}

}  // namespace
