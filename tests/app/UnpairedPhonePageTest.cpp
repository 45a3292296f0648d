#include <gtest/gtest.h>

#include "SimulatedPhoneApp.h"
#include "content/ThreadPool.h"
#include "foundation/OperationQueue.h"
#include "WebWindowFixture.h"
#include "foundation/ScratchFolder.h"

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
