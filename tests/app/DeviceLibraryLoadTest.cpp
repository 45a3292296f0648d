#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "app/MediaLoaderRelay.h"
#include "content/ThreadPool.h"
#include "foundation/OperationQueue.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "media/MediaLibraryFixtures.h"
#include "media/iTunesLibrary.h"
#include "media/iTunesWrapper.h"

using apptest::WebWindowTest;

namespace {

// The page browses an application's folder on the phone, which leaves the phone's current
// file service on that application's container; a library load asked for afterwards still
// reads the media area's database.
TEST_F(WebWindowTest, LibraryLoadAfterBrowsingAnApplicationReadsTheMediaArea) {
    foundationtest::ScratchFolder scratch;
    foundationtest::ScopedEnvironment environment;
    environment.set("TMPDIR", scratch.path());
    const std::string media = scratch / "media";
    mediatest::writePhoneMediaLibrary(media);
    std::filesystem::create_directories(scratch / "containers/com.example.reader/Documents");
    std::ofstream(scratch / "containers/com.example.reader/Documents/notes.txt") << "notes";

    static media::iTunesWrapper wrapper(music::MusicScript::load(
        {scratch / "Music", scratch / "index.sqlite", [] { return std::string("/$a/$b/$t"); }},
        nullptr));
    media::iTunesLibrary library(wrapper);
    apptest::SimulatedPhoneApp app(scratch.path());
    app.moreServices = [&](AppServices& services) {
        fillMediaLoading(services, app.appDelegate, &library);
    };
    ASSERT_TRUE(app.start());
    auto& view = app.view();
    auto phone = app.attachPhone(media, scratch / "containers");
    const std::string udid = phone->config().udid;
    waitForValue(view, "document.querySelector('#device-media h3') !== null", "true");

    eval(view, "App.call('mdfs', {cmd: 'device-ls', udid: '" + udid +
                   "', path: '/Documents', type: 'app', appid: 'com.example.reader'})"
                   ".then(function (r) { window.browsed = JSON.stringify(r.data); },"
                   " function (e) { window.browsed = 'failed: ' + e.message; }); 0");
    waitForValue(view, "typeof window.browsed === 'string' && window.browsed.includes('notes.txt')",
                 "true");

    eval(view, "document.querySelector('#device-media .media-load').click(); 0");
    const std::string titles =
        "Array.from(document.querySelectorAll('#device-media tbody tr'))"
        ".slice(0, 3).map(function (r) { return r.children[1].textContent; }).join('|')";
    EXPECT_TRUE(waitForValue(view, titles, "\"Alpha|Beta|Gamma\""));
    // Page requests answer through the main loop: it must run while the pool drains.
    EXPECT_TRUE(testsupport::runMainLoopUntil(
        [] { return ThreadPool::async().operationCount() == 0; }));
    app.server.detach(phone);
    waitForValue(view, "document.querySelector('#device-media .media-device') === null", "true");
}

}  // namespace
