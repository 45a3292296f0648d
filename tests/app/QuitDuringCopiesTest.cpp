// Quitting while the page keeps asking for copies and a phone's library loads: what the
// process leaves once the quit has waited is what it would leave when it ends there.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "app/ApplicationTermination.h"
#include "content/ThreadPool.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "media/MediaLibraryFixtures.h"

using apptest::WebWindowTest;

namespace {

namespace fs = std::filesystem;

// The names under `folder`, at any depth, that begin with `prefix`.
std::vector<std::string> namesUnder(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path());
    }
    return found;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(WebWindowTest, QuittingWhileThePageAsksForCopiesAndALibraryLoadsLeavesNothingHalfWritten) {
    foundationtest::ScratchFolder scratch;
    foundationtest::ScopedEnvironment environment;
    const std::string temporary = scratch / "tmp";
    fs::create_directories(temporary);
    environment.set("TMPDIR", temporary);
    environment.set("XDG_MUSIC_DIR", scratch / "Music");
    environment.set("XDG_DATA_HOME", scratch / "data");
    const std::string media = scratch / "media";
    mediatest::writePhoneMediaLibrary(media);
    std::ofstream(media + "/big.bin", std::ios::binary) << std::string(8u << 20, 'b');
    fs::create_directories(media + "/Uploads");
    const std::string pc = scratch / "pc";
    fs::create_directories(pc);
    std::ofstream(pc + "/up.bin", std::ios::binary) << std::string(2u << 20, 'u');

    apptest::SimulatedPhoneApp app(scratch.path());
    app.withMusicLibrary = true;  // "Load library" loads the phone's
    ASSERT_TRUE(app.start());
    auto& view = app.view();
    auto phone = app.attachPhone(media);
    const std::string udid = phone->config().udid;
    ASSERT_TRUE(waitForValue(view, "document.querySelector('#device-media .media-load') !== null",
                             "true"));

    // A download that the page slows to a piece every 100 ms holds the phone.
    eval(view, "App.call('mdfs', {cmd: 'device-download', udid: '" + udid +
                   "', path: '/big.bin', to: '" + pc + "/big.bin', cb: 'copyProgress', delay: 0.1}); 0");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return !namesUnder(pc, ".partial-").empty(); }));
    // The library load waits behind it, its folder made.
    eval(view, "document.querySelector('#device-media .media-load').click(); 0");
    ASSERT_TRUE(testsupport::runMainLoopUntil(
        [&] { return !namesUnder(temporary, "orvandel-media-").empty(); }));
    // The page asks for one more copy each way every 30 ms, also while the quit waits.
    eval(view, "window.asked = 0; window.asking = setInterval(function () {"
               " var n = ++window.asked;"
               " App.call('mdfs', {cmd: 'device-download', udid: '" + udid + "', path: '/big.bin',"
               "   to: '" + pc + "/more' + n + '.bin'});"
               " App.call('mdfs', {cmd: 'device-upload', udid: '" + udid + "', path: '" + pc + "/up.bin',"
               "   to: '/Uploads/up' + n + '.bin'});"
               "}, 30); 0");
    ASSERT_TRUE(waitForValue(view, "window.asked >= 3", "true"));

    EXPECT_TRUE(finishBeforeExit());
    // The process would end here.
    EXPECT_EQ(namesUnder(pc, ".partial-"), std::vector<std::string>{});
    EXPECT_EQ(namesUnder(media, ".partial-"), std::vector<std::string>{});
    EXPECT_EQ(namesUnder(temporary, "orvandel-media-"), std::vector<std::string>{});

    // Nothing the page asks for from now on makes a file.
    const int asked = std::stoi(eval(view, "window.asked"));
    ASSERT_TRUE(waitForValue(view, "window.asked >= " + std::to_string(asked + 5), "true"));
    eval(view, "clearInterval(window.asking); 0");
    ASSERT_TRUE(testsupport::runMainLoopUntil(
        [] { return ThreadPool::async().operationCount() == 0; }, std::chrono::seconds(60)));
    EXPECT_EQ(namesIn(pc), std::vector<std::string>{"up.bin"});
    EXPECT_EQ(namesIn(media + "/Uploads"), std::vector<std::string>{});
    EXPECT_EQ(namesUnder(temporary, "orvandel-media-"), std::vector<std::string>{});
}

}  // namespace
