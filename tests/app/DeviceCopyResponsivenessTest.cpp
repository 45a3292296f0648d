// The application stays responsive while a phone copy runs: the copy reports to the page
// through the main thread at every piece, so anything the main thread waited for on the
// phone's behalf (its service, its summary) would hold both up for good.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "app/ApplicationTermination.h"
#include "app/DeviceDetection.h"
#include "content/ThreadPool.h"
#include "device/AMDevice.h"
#include "device/MobileDeviceHub.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "media/MediaLibraryFixtures.h"

using apptest::WebWindowTest;

namespace {

namespace fs = std::filesystem;

bool hasPartialIn(const std::string& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(".")) return true;
    }
    return false;
}

TEST_F(WebWindowTest, AReloadAndALibraryLoadDuringAPhoneCopyBothAnswer) {
    foundationtest::ScratchFolder scratch;
    foundationtest::ScopedEnvironment environment;
    environment.set("TMPDIR", scratch.path());
    environment.set("XDG_MUSIC_DIR", scratch / "Music");
    environment.set("XDG_DATA_HOME", scratch / "data");
    const std::string media = scratch / "media";
    mediatest::writePhoneMediaLibrary(media);
    constexpr std::size_t kSize = 8u << 20;  // 32 pieces
    std::ofstream(media + "/big.bin", std::ios::binary) << std::string(kSize, 'b');
    fs::create_directories(scratch / "pc");

    apptest::SimulatedPhoneApp app(scratch.path());
    app.withMusicLibrary = true;  // "Load library" loads the phone's
    ASSERT_TRUE(app.start());
    auto& view = app.view();
    auto phone = app.attachPhone(media);
    const std::string udid = phone->config().udid;
    ASSERT_TRUE(waitForValue(view, "document.querySelector('#device-media .media-load') !== null",
                             "true"));

    // A download slowed to a piece every 100 ms, which reports each piece to the page.
    const std::string target = scratch / "pc/big.bin";
    eval(view, "App.call('mdfs', {cmd: 'device-download', udid: '" + udid +
                   "', path: '/big.bin', to: '" + target +
                   "', cb: 'copyProgress', delay: 0.1})"
                   ".then(function (r) { window.copied = JSON.stringify(r); },"
                   " function (e) { window.copied = 'failed: ' + e.message; }); 0");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return hasPartialIn(scratch / "pc"); }));

    // "Load library" while the copy runs: the page's call returns, and the page goes on.
    eval(view, "document.querySelector('#device-media .media-load').click(); 0");
    EXPECT_TRUE(waitForValue(view, "1 + 1", "2"));
    // A reload: the page is built anew, with the phone's summary, while the copy runs.
    eval(view, "location.reload(); 0");
    EXPECT_TRUE(waitForValue(view, "document.querySelector('#device-media .media-load') !== null",
                             "true"));
    EXPECT_TRUE(hasPartialIn(scratch / "pc")) << "the copy ended before the test could look";

    // The copy finishes whole (the reloaded page no longer hears of it).
    ASSERT_TRUE(testsupport::runMainLoopUntil(
        [&] { return fs::exists(target) && !hasPartialIn(scratch / "pc"); },
        std::chrono::seconds(60)));
    EXPECT_EQ(fs::file_size(target), kSize);
    // The library load waited for the copy; it ends (through the main loop) before the
    // application goes.
    EXPECT_TRUE(testsupport::runMainLoopUntil(
        [] { return ThreadPool::async().operationCount() == 0; }));
}

// Asked to quit, the application tells every device to end its session and connection,
// and stops a copy in flight, which removes its partial file; then it may end.
TEST_F(WebWindowTest, QuittingEndsSessionsAndStopsACopyInFlight) {
    foundationtest::ScratchFolder scratch;
    const std::string media = scratch / "media";
    fs::create_directories(media);
    std::ofstream(media + "/big.bin", std::ios::binary) << std::string(8u << 20, 'q');
    fs::create_directories(scratch / "pc");
    apptest::SimulatedPhoneApp app(scratch.path());
    ASSERT_TRUE(app.start());
    auto& view = app.view();
    auto phone = app.attachPhone(media);
    std::shared_ptr<AMDevice> hubDevice;
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] {
        for (const auto& device : MobileDeviceHub::singleton().devices()) {
            if (device->udid() == phone->config().udid) hubDevice = device;
        }
        return hubDevice != nullptr;
    }));
    ASSERT_TRUE(waitForValue(view, "document.body.textContent.includes('Sim Phone')", "true"));
    ASSERT_TRUE(hubDevice->startNewSession());
    const int stopped = phone->sessionsStopped();

    eval(view, "App.call('mdfs', {cmd: 'device-download', udid: '" + phone->config().udid +
                   "', path: '/big.bin', to: '" + (scratch / "pc/big.bin") +
                   "', cb: 'copyProgress', delay: 0.1}); 0");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return hasPartialIn(scratch / "pc"); }));
    EXPECT_TRUE(finishBeforeExit());
    EXPECT_EQ(phone->sessionsStopped(), stopped + 1);
    EXPECT_TRUE(fs::is_empty(scratch / "pc"));
}

// Asked to quit while a download waits for a phone that has stopped answering, the
// application does not wait for the phone to give up: the partial file goes at once, the
// quit ends, and nothing the copy does once the phone answers again puts a file in place.
TEST_F(WebWindowTest, QuittingDuringADownloadFromAPhoneThatStopsAnsweringLeavesNoPartialFile) {
    foundationtest::ScratchFolder scratch;
    const std::string media = scratch / "media";
    fs::create_directories(media);
    std::ofstream(media + "/big.bin", std::ios::binary) << std::string(8u << 20, 's');
    fs::create_directories(scratch / "pc");
    apptest::SimulatedPhoneApp app(scratch.path());
    ASSERT_TRUE(app.start());
    auto& view = app.view();
    auto phone = app.attachPhone(
        media, "", [](simdevice::SimDeviceConfig& config) { config.silenceable = true; });
    ASSERT_TRUE(waitForValue(view, "document.body.textContent.includes('Sim Phone')", "true"));

    // The file service answers about a megabyte more, a few pieces of the file, then nothing.
    phone->silence().fallSilentAfter("com.apple.afc", 1u << 20);
    eval(view, "App.call('mdfs', {cmd: 'device-download', udid: '" + phone->config().udid +
                   "', path: '/big.bin', to: '" + (scratch / "pc/big.bin") +
                   "', cb: 'copyProgress'}); 0");
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] {
        return phone->silence().isSilent("com.apple.afc") && hasPartialIn(scratch / "pc");
    }));

    // As the application quits: the copy does not end in time, as its phone does not answer.
    EXPECT_FALSE(finishBeforeExit());
    stopDeviceDetection();
    EXPECT_TRUE(fs::is_empty(scratch / "pc"));

    phone->silence().answerAgain("com.apple.afc");
    ASSERT_TRUE(testsupport::runMainLoopUntil(
        [] { return ThreadPool::async().operationCount() == 0; }, std::chrono::seconds(60)));
    EXPECT_TRUE(fs::is_empty(scratch / "pc"));
}

// A phone that never answers its session's handshake is made off the main thread: the
// window goes on answering, and a phone that answers arrives meanwhile.
TEST_F(WebWindowTest, APhoneThatNeverAnswersItsHandshakeLeavesTheWindowResponsive) {
    foundationtest::ScratchFolder scratch;
    fs::create_directories(scratch / "media");
    apptest::SimulatedPhoneApp app(scratch.path());
    ASSERT_TRUE(app.start());
    auto& view = app.view();
    simdevice::SimDeviceConfig config;
    config.udid = "SILENT-HANDSHAKE-1";
    config.name = "Silent Phone";
    auto silent = app.server.attach(config);
    app.server.pairHost(silent);
    silent->setHandshakeAnswers(false);
    EXPECT_TRUE(waitForValue(view, "1 + 1", "2"));
    auto phone = app.attachPhone(scratch / "media");
    EXPECT_TRUE(waitForValue(view, "document.body.textContent.includes('Sim Phone')", "true"));
    app.server.detach(phone);
    app.server.detach(silent);
    EXPECT_TRUE(waitForValue(view, "1 + 1", "2"));
}

}  // namespace
